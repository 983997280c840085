#include "phone/BmlWriter.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "files/FileIO.h"
#include "phone/Bml.h"
#include "phone/BmlView.h"
#include "phone/ImagePages.h"
#include "phone/PitTable.h"
#include "phone/SpareBuffer.h"

namespace orvella::phone {

namespace {

constexpr std::uint32_t kPitBlockSizeField = 256;  // KiB per block, as every OneNAND row holds
constexpr std::uint32_t kPiVersionWritten = 0x00010000;
constexpr char kPiSignatureWritten[8] = {'F', 'S', 'R', 'P', 'A', 'R', 'T', '\0'};
constexpr std::uint16_t kPiAttrRaw = 0x1002;  // read-only, SLC
constexpr std::uint16_t kPiAttrStlRw = 0x1101;  // read-write, STL, SLC
constexpr std::uint32_t kWrittenAge = 1;  // the scan never picks age 0
constexpr std::uint32_t kFirstStlIdentifier = 20;
// Garbage in replaced blocks comes from the noise stream far past the chip's own data.
constexpr std::uint64_t kGarbageStream = std::uint64_t{1} << 40;
constexpr std::uint32_t kSetPageBytes = kPageMainBytes + kPageSpareBytes;

std::string Num(std::uint64_t v) { return std::to_string(v); }

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool Contains(const std::vector<std::uint32_t>& v, std::uint32_t b) { return std::find(v.begin(), v.end(), b) != v.end(); }

bool IsMetaBlockWritten(std::uint32_t b) { return b >= kWriterRef && b <= kWriterUpcb; }

// The partition that holds block b, or -1.
int PartitionOf(const BmlDumpPlan& plan, std::uint32_t b) {
  for (std::size_t k = 0; k < plan.First.size(); ++k)
    if (b >= plan.First[k] && b - plan.First[k] < plan.Spec.Table[k].Blocks) return static_cast<int>(k);
  return -1;
}

// The original a reservoir block replaces, or kNoBlock.
std::uint32_t OriginalOf(const BmlDumpPlan& plan, std::uint32_t b) {
  for (const auto& [original, replacement] : plan.Pairs)
    if (replacement == b) return original;
  return kNoBlock;
}

bool LogicalErased(const BmlDumpPlan& plan, std::uint32_t b) {
  if (b == kPitTableBlock) return false;
  const int k = PartitionOf(plan, b);
  return k < 0 || plan.Spec.Table[k].Stl || plan.Spec.Fill == ImageFill::Erased;
}

void MarkBad(std::uint8_t* blockSpare) {
  for (std::uint32_t p = 0; p < 2; ++p) Put16(blockSpare + p * kPageSpareBytes, kDriverMarkEraseError);
}

void WriteCodes(const BmlDumpPlan& plan, const std::uint8_t* main, std::uint8_t* spare, std::uint32_t pages) {
  if (!plan.Layout) return;
  for (std::uint32_t s = 0; s < pages * kSectorsPerPage; ++s)
    nand::WriteSectorCodes(*plan.Layout, main + std::size_t{s} * nand::kSectorBytes, spare + std::size_t{s} * nand::kSpareBytes);
}

std::vector<std::uint8_t> BuildPit(const std::vector<BmlPartitionSpec>& table) {
  std::vector<std::uint8_t> pit(kPitPhoneHeaderBytes + table.size() * kPitPhoneEntryBytes, 0);
  Put32(pit.data() + kPitHdrMagic, kPitMagicWord);
  Put32(pit.data() + kPitHdrCount, static_cast<std::uint32_t>(table.size()));
  for (std::size_t k = 0; k < table.size(); ++k) {
    std::uint8_t* e = pit.data() + kPitPhoneHeaderBytes + k * kPitPhoneEntryBytes;
    const BmlPartitionSpec& p = table[k];
    Put32(e + kPitEntIdentifier, p.Identifier);
    Put32(e + kPitEntAttributes, p.Stl ? kPitAttrStl : 0);
    Put32(e + kPitEntBlockSizeOrOffset, kPitBlockSizeField);
    Put32(e + kPitEntBlockCount, p.Blocks);
    std::memcpy(e + kPitEntName, p.Name.data(), std::min<std::size_t>(p.Name.size(), kPitTextBytes));
    std::memcpy(e + kPitEntFlashFile, p.FlashFile.data(), std::min<std::size_t>(p.FlashFile.size(), kPitTextBytes));
  }
  return pit;
}

}  // namespace

bool PlanBmlDump(const BmlDumpSpec& spec, BmlDumpPlan& plan, std::string& error) {
  plan = BmlDumpPlan{};
  const auto& table = spec.Table;
  if (table.empty() || table.size() > kPiMaxEntries) {
    error = "a dump with the bad-block layer takes 1 to " + Num(kPiMaxEntries) + " partitions, not " + Num(table.size());
    return false;
  }
  std::uint64_t sum = 0;
  std::set<std::uint32_t> ids;
  for (const BmlPartitionSpec& p : table) {
    if (p.Name.size() > kPitTextBytes || p.FlashFile.size() > kPitTextBytes) {
      error = "partition \"" + p.Name + "\": names and flash file names hold at most 32 bytes";
      return false;
    }
    if (p.Blocks == 0) {
      error = "partition \"" + p.Name + "\" has no blocks";
      return false;
    }
    if (p.Identifier > 0xFFFF || !ids.insert(p.Identifier).second) {
      error = "partition \"" + p.Name + "\": identifier " + Num(p.Identifier) + " is " +
              (p.Identifier > 0xFFFF ? "larger than 65535" : "given twice");
      return false;
    }
    sum += p.Blocks;
  }
  if (sum != kBmlReservoirFirst) {
    error = "the partitions hold " + Num(sum) + " blocks; on this chip they end where the reservoir starts, at block " +
            Num(kBmlReservoirFirst) + " (give one partition the size rest)";
    return false;
  }
  if (!spec.EccLayout.empty()) {
    plan.Layout = nand::FindLayout(spec.EccLayout);
    if (!plan.Layout) {
      error = "unknown spare layout \"" + spec.EccLayout + "\"";
      return false;
    }
    if (!CodesClearOfDriverBytes(*plan.Layout)) {
      error = "the spare layout " + spec.EccLayout +
              " keeps codes in spare bytes 0-5, where the phone's driver keeps its marks";
      return false;
    }
  }
  for (const std::uint32_t b : spec.BadBlocks) {
    if (b >= kBmlChipBlocks) {
      error = "bad block " + Num(b) + " is not on a chip of " + Num(kBmlChipBlocks) + " blocks";
      return false;
    }
    if (IsMetaBlockWritten(b)) {
      error = "block " + Num(b) + " holds the bad-block layer's own data and cannot be marked bad";
      return false;
    }
    if (Contains(spec.Remaps, b)) {
      error = "block " + Num(b) + " is given both as a bad block and as one to replace";
      return false;
    }
  }
  std::vector<std::uint32_t> free;
  for (std::uint32_t r = kBmlReservoirFirst; r < kWriterRef; ++r)
    if (!Contains(spec.BadBlocks, r)) free.push_back(r);
  for (std::size_t i = 0; i < spec.Remaps.size(); ++i) {
    const std::uint32_t b = spec.Remaps[i];
    if (b <= kPitTableBlock || b >= kBmlReservoirFirst) {
      error = "block " + Num(b) + " cannot be replaced: " +
              (b <= kPitTableBlock ? std::string("blocks 0 and 1 hold the boot loader and the table, which are read where they lie")
                                   : "only blocks below the reservoir (0 to " + Num(kBmlReservoirFirst - 1) + ") are");
      return false;
    }
    if (std::count(spec.Remaps.begin(), spec.Remaps.end(), b) > 1) {
      error = "block " + Num(b) + " is given twice to be replaced";
      return false;
    }
    if (i >= free.size()) {
      error = Num(spec.Remaps.size()) + " blocks to replace, but the reservoir has " + Num(free.size()) +
              " good replacement blocks";
      return false;
    }
    plan.Pairs.emplace_back(b, free[i]);
  }
  plan.Spec = spec;
  std::uint32_t first = 0;
  for (const BmlPartitionSpec& p : table) {
    plan.First.push_back(first);
    first += p.Blocks;
  }
  plan.Pit = BuildPit(table);
  return true;
}

void ComposeLogicalMain(const BmlDumpPlan& plan, std::uint32_t block, std::uint8_t* main) {
  const int k = PartitionOf(plan, block);
  if (k < 0 || plan.Spec.Table[k].Stl)
    std::memset(main, 0xFF, kBlockMainBytes);
  else
    FillMainData(plan.Spec.Fill, plan.Spec.ErasedPercent, std::uint64_t{block} * kBlockMainBytes, main, kBlockMainBytes);
  if (block == kPitTableBlock) std::memcpy(main, plan.Pit.data(), plan.Pit.size());
}

std::vector<std::uint8_t> PoolSetPages(const BmlDumpPlan& plan, bool upper, std::uint32_t age,
                                       const std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs) {
  std::vector<std::uint8_t> pages(std::size_t{kMetaSetPages} * kSetPageBytes, 0xFF);
  const auto mainOf = [&](std::uint32_t p) { return pages.data() + std::size_t{p} * kSetPageBytes; };
  const auto sector = [&](std::uint32_t s) { return mainOf(s / kSectorsPerPage) + (s % kSectorsPerPage) * kSectorBytes; };

  std::uint8_t* pch = sector(kSetSectorPch);
  std::memcpy(pch + kPchSignature, upper ? "UPCH" : "LPCH", 4);
  Put16(pch + kPchRefBlock, kWriterRef);
  Put16(pch + kPchTpcbBlock, kWriterTpcb);
  Put16(pch + kPchMlcBlocks, 0);
  Put16(pch + kPchReserved, 0);
  Put32(pch + kPchAge, age);
  Put32(pch + kPchGlobalAge, age);
  Put32(pch + kPchPlanes, 1);
  Put32(pch + kPchDies, 1);
  Put32(pch + kPchBlocksPerDie, kBmlChipBlocks);
  Put32(pch + kPchBlocksPerDevice, kBmlChipBlocks);

  std::uint8_t* info = sector(kSetSectorPartInfo);
  if (upper) {
    // The partition info's extension: id 0, no data.
    Put32(info, 0);
    Put32(info + 4, 0);
  } else {
    std::memcpy(info + kPiSignature, kPiSignatureWritten, sizeof kPiSignatureWritten);
    Put32(info + kPiVersion, kPiVersionWritten);
    Put32(info + kPiCount, static_cast<std::uint32_t>(plan.Spec.Table.size()));
    for (std::size_t k = 0; k < plan.Spec.Table.size(); ++k) {
      std::uint8_t* e = info + kPiEntries + k * kPiEntryBytes;
      const BmlPartitionSpec& p = plan.Spec.Table[k];
      Put16(e + kPiEntId, p.Identifier);
      Put16(e + kPiEntAttributes, p.Stl ? kPiAttrStlRw : kPiAttrRaw);
      Put16(e + kPiEntFirstUnit, plan.First[k]);
      Put16(e + kPiEntUnits, p.Blocks);
      Put32(e + kPiEntLoadAddress, 0);
      Put32(e + kPiEntLoadAddress + 4, 0);
    }
  }
  Put16(sector(kSetSectorErl), 0);
  std::uint8_t* bab = sector(kSetSectorBab);
  std::memset(bab, 0x00, kBabBytes);
  if (upper)
    for (const auto& pair : pairs)
      if (pair.second >= kBmlReservoirFirst && pair.second <= kBmlReservoirLast) {
        const std::uint32_t i = pair.second - kBmlReservoirFirst;
        bab[i / 8] = static_cast<std::uint8_t>(bab[i / 8] | 0x80 >> (i % 8));
      }
  for (std::uint32_t m = 0; m < kBmsPerSet; ++m) {
    std::uint8_t* s = sector(kSetSectorFirstBms + m);
    Put16(s + kBmsInfo, 0x0000);
    Put16(s + kBmsReserved, 0xFFFF);
    if (m != 0) continue;
    for (std::size_t i = 0; i < pairs.size() && i < kBmsPairs; ++i) {
      Put16(s + kBmsPairsAt + 4 * i, pairs[i].first);
      Put16(s + kBmsPairsAt + 4 * i + 2, pairs[i].second);
    }
  }
  std::memset(mainOf(kMetaSetPages - 1), 0x00, kPageMainBytes);

  SpareBuffer marks;
  marks.SetU16(kBufMetaMark, kMetaMark);
  for (std::uint32_t p = 0; p < kMetaSetPages; ++p) {
    std::uint8_t* spare = mainOf(p) + kPageMainBytes;
    marks.ToPageSpare(spare);
    WriteCodes(plan, mainOf(p), spare, 1);
  }
  return pages;
}

bool BlockLeftErased(const BmlDumpPlan& plan, std::uint32_t b) {
  if (Contains(plan.Spec.BadBlocks, b) || b == kWriterLpcb || b == kWriterUpcb) return false;
  for (const auto& [original, replacement] : plan.Pairs) {
    if (original == b) return false;
    if (replacement == b) return LogicalErased(plan, original);
  }
  return b >= kBmlReservoirFirst || LogicalErased(plan, b);
}

void ComposeBlock(const BmlDumpPlan& plan, std::uint32_t b, std::uint8_t* main, std::uint8_t* spare) {
  std::memset(spare, 0xFF, kBlockSpareBytes);
  if (b == kWriterLpcb || b == kWriterUpcb) {
    const bool upper = b == kWriterUpcb;
    const std::vector<std::uint8_t> set =
        PoolSetPages(plan, upper, kWrittenAge, upper ? plan.Pairs : std::vector<std::pair<std::uint32_t, std::uint32_t>>{});
    std::memset(main, 0xFF, kBlockMainBytes);
    for (std::uint32_t p = 0; p < kMetaSetPages; ++p) {
      std::memcpy(main + std::size_t{p} * kPageMainBytes, set.data() + std::size_t{p} * kSetPageBytes, kPageMainBytes);
      std::memcpy(spare + std::size_t{p} * kPageSpareBytes, set.data() + std::size_t{p} * kSetPageBytes + kPageMainBytes,
                  kPageSpareBytes);
    }
    return;
  }
  const bool original = std::any_of(plan.Pairs.begin(), plan.Pairs.end(), [b](const auto& p) { return p.first == b; });
  const std::uint32_t replaces = OriginalOf(plan, b);
  if (original) {
    FillMainData(ImageFill::Noise, 0, kGarbageStream + std::uint64_t{b} * kBlockMainBytes, main, kBlockMainBytes);
  } else if (replaces != kNoBlock) {
    ComposeLogicalMain(plan, replaces, main);
  } else if (b >= kBmlReservoirFirst) {
    std::memset(main, 0xFF, kBlockMainBytes);
  } else {
    ComposeLogicalMain(plan, b, main);
  }
  if (!BlockLeftErased(plan, b)) WriteCodes(plan, main, spare, kPagesPerBlock);
  if (original || Contains(plan.Spec.BadBlocks, b)) MarkBad(spare);
}

bool WriteBmlDump(const std::string& path, const BmlDumpPlan& plan, std::string& error,
                  const std::function<void(std::uint64_t, std::uint64_t)>& progress) {
  File out;
  return out.Create(path, error) && WriteBmlDump(out, plan, error, progress) && out.Close(error);
}

bool WriteBmlDump(File& out, const BmlDumpPlan& plan, std::string& error,
                  const std::function<void(std::uint64_t, std::uint64_t)>& progress) {
  constexpr std::uint32_t kChunkBlocks = 4;
  const std::uint64_t mainBytes = std::uint64_t{kBmlChipBlocks} * kBlockMainBytes;
  const std::uint64_t total = std::uint64_t{kBmlChipBlocks} * kBlockFileBytes;
  std::vector<std::uint8_t> main(std::size_t{kChunkBlocks} * kBlockMainBytes);
  std::vector<std::uint8_t> spare(std::size_t{kChunkBlocks} * kBlockSpareBytes);
  for (std::uint32_t b = 0; b < kBmlChipBlocks; b += kChunkBlocks) {
    for (std::uint32_t i = 0; i < kChunkBlocks; ++i)
      ComposeBlock(plan, b + i, main.data() + std::size_t{i} * kBlockMainBytes, spare.data() + std::size_t{i} * kBlockSpareBytes);
    // A new file reads 0x00 where nothing was written.
    const bool zero = main[0] == 0 && std::memcmp(main.data(), main.data() + 1, main.size() - 1) == 0;
    if ((!zero && (!out.Seek(std::uint64_t{b} * kBlockMainBytes, error) || !out.WriteAll(main.data(), main.size(), error))) ||
        !out.Seek(mainBytes + std::uint64_t{b} * kBlockSpareBytes, error) ||
        !out.WriteAll(spare.data(), spare.size(), error))
      return false;
    if (progress) progress(std::uint64_t{b + kChunkBlocks} * kBlockFileBytes, total);
  }
  return out.Resize(total, error);
}

bool WriteBmlDump(PageSink& chip, const BmlDumpPlan& plan, std::string& error) {
  if (chip.Blocks() != kBmlChipBlocks) {
    error = "the chip has " + Num(chip.Blocks()) + " blocks, not " + Num(kBmlChipBlocks);
    return false;
  }
  std::vector<std::uint8_t> main(kBlockMainBytes), spare(kBlockSpareBytes);
  for (std::uint32_t b = 0; b < kBmlChipBlocks; ++b) {
    if (BlockLeftErased(plan, b)) continue;
    ComposeBlock(plan, b, main.data(), spare.data());
    for (std::uint32_t p = 0; p < kPagesPerBlock; ++p)
      if (!chip.WritePage(b, p, main.data() + std::size_t{p} * kPageMainBytes,
                          spare.data() + std::size_t{p} * kPageSpareBytes, error))
        return false;
  }
  return true;
}

bool BmlSpecFromImageSpec(const ImageSpec& image, const NandSpec& nand, const std::vector<std::uint32_t>& remaps,
                          BmlDumpSpec& spec, std::string& error, const std::vector<std::string>& stl) {
  spec = BmlDumpSpec{};
  if (image.ChipMiB != kBmlChipMiB) {
    error = "the bad-block layer is written on a chip of " + Num(kBmlChipMiB) + " MiB (" + Num(kBmlChipBlocks) +
            " blocks), the only one whose reservoir is known, not on one of " + Num(image.ChipMiB) + " MiB";
    return false;
  }
  std::uint64_t fixed = 0;
  int rest = -1;
  for (std::size_t k = 0; k < image.Table.size(); ++k) {
    const std::uint32_t size = image.Table[k].SizeInBlocks;
    if (size == 0 || size == 0xFFFFFFFFu) {
      if (rest >= 0) {
        error = "only one partition can take the rest of the blocks";
        return false;
      }
      rest = static_cast<int>(k);
    } else {
      fixed += size;
    }
  }
  if (fixed > kBmlReservoirFirst || (rest >= 0 && fixed == kBmlReservoirFirst)) {
    error = "the partitions hold " + Num(fixed) + " blocks" + (rest >= 0 ? " before the rest" : "") +
            "; on this chip they must end at block " + Num(kBmlReservoirFirst) + ", where the reservoir starts";
    return false;
  }
  for (const std::string& name : stl) {
    const auto named = std::count_if(image.Table.begin(), image.Table.end(),
                                     [&](const PartitionSpec& p) { return p.Name == name; });
    if (named != 1) {
      error = named == 0 ? "no partition of the table is named \"" + name + "\""
                         : "more than one partition is named \"" + name + "\"";
      return false;
    }
  }
  std::set<std::uint32_t> used;
  for (std::size_t k = 0; k < image.Table.size(); ++k) {
    BmlPartitionSpec p;
    p.Name = image.Table[k].Name;
    p.Blocks = static_cast<int>(k) == rest ? static_cast<std::uint32_t>(kBmlReservoirFirst - fixed) : image.Table[k].SizeInBlocks;
    p.Stl = std::find(stl.begin(), stl.end(), p.Name) != stl.end();
    p.Identifier = static_cast<std::uint32_t>(k);
    if (!p.Stl) used.insert(p.Identifier);
    spec.Table.push_back(p);
  }
  // The phone's volumes take identifiers from 20 up; raw partitions keep small ones.
  std::uint32_t next = kFirstStlIdentifier;
  for (BmlPartitionSpec& p : spec.Table) {
    if (!p.Stl) continue;
    while (used.count(next)) ++next;
    p.Identifier = next++;
  }
  spec.Fill = image.Fill;
  spec.ErasedPercent = nand.ErasedPercent;
  spec.EccLayout = nand.EccLayout;
  spec.BadBlocks = nand.BadBlocks;
  spec.Remaps = remaps;
  return true;
}

std::vector<BmlPartitionSpec> SampleBmlTable() {
  return {
      {"IBL+PBL", 1, false, 0, "boot.bin"},     {"PIT", 1, false, 1, ""},
      {"EFS", 40, true, 20, "efs.rfs"},         {"SBL", 5, false, 3, "sbl.bin"},
      {"SBL2", 5, false, 4, "sbl.bin"},         {"PARAM", 20, true, 21, "param.lfs"},
      {"KERNEL", 30, false, 6, "zImage"},       {"RECOVERY", 30, false, 7, "zImage"},
      {"FACTORYFS", 1146, true, 22, "factoryfs.rfs"}, {"DBDATAFS", 536, true, 23, "dbdata.rfs"},
      {"CACHE", 140, true, 24, "cache.rfs"},    {"MODEM", 50, false, 11, "modem.bin"},
  };
}

}  // namespace orvella::phone
