#include "phone/Bml.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "phone/SpareBuffer.h"

namespace orvella::phone {

namespace {

std::uint16_t LE16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t LE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::string Hex4(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", v);
  return buf;
}

std::string Num(std::uint64_t v) { return std::to_string(v); }

// Every byte equals the first when the bytes equal themselves one place on.
bool AllBytes(const std::uint8_t* p, std::size_t n, std::uint8_t value) {
  return n == 0 || (p[0] == value && std::memcmp(p, p + 1, n - 1) == 0);
}

enum Kind { kLower = 0, kUpper = 1 };
constexpr const char* kSignatures[2] = {"LPCH", "UPCH"};
constexpr const char* kPoolNames[2] = {"LPCB", "UPCB"};

struct Pch {
  std::string Signature;
  std::uint32_t Ref = 0, Tpcb = 0, Age = 0, GlobalAge = 0;
  std::uint32_t Planes = 0, Dies = 0, BlocksPerDie = 0, BlocksPerDevice = 0;
};

Pch ParsePch(const std::uint8_t* s) {
  Pch h;
  h.Signature.assign(reinterpret_cast<const char*>(s + kPchSignature), 4);
  h.Ref = LE16(s + kPchRefBlock);
  h.Tpcb = LE16(s + kPchTpcbBlock);
  h.Age = LE32(s + kPchAge);
  h.GlobalAge = LE32(s + kPchGlobalAge);
  h.Planes = LE32(s + kPchPlanes);
  h.Dies = LE32(s + kPchDies);
  h.BlocksPerDie = LE32(s + kPchBlocksPerDie);
  h.BlocksPerDevice = LE32(s + kPchBlocksPerDevice);
  return h;
}

int KindOf(const std::uint8_t* main) {
  for (int k : {kLower, kUpper})
    if (std::memcmp(main, kSignatures[k], 4) == 0) return k;
  return -1;
}

class Reader {
 public:
  Reader(PageSource& chip, BmlResult& r) : chip_(chip), r_(r), main_(kPageMainBytes), spare_(kPageSpareBytes) {}

  void Run();

 private:
  void Find(FindingKind kind, std::optional<std::uint32_t> block, std::string text, bool refuses = false) {
    r_.Findings.push_back(BmlFinding{kind, block, std::move(text), refuses});
  }
  // Reads a page into main_ (and spare_ when asked); a failure is a finding once per block.
  bool Read(std::uint32_t block, std::uint32_t page, bool spare);
  void Scan();
  std::optional<std::uint32_t> FindValidSet(std::uint32_t block);
  std::optional<std::uint32_t> LoadSet(std::uint32_t block, int kind);
  PoolBlock& PoolEntry(std::uint32_t block);
  void ReadPartitionInfo(std::uint32_t block, std::uint32_t setPage);
  void ReadBab(std::uint32_t block, std::uint32_t setPage);
  void ReadMaps(std::uint32_t block, std::uint32_t setPage, int kind);
  void CheckPairs();
  bool DriverBad(std::uint32_t block, bool& bad);

  PageSource& chip_;
  BmlResult& r_;
  std::vector<std::uint8_t> main_, spare_;
  std::vector<std::uint32_t> unreadable_;  // blocks already reported
};

bool Reader::Read(std::uint32_t block, std::uint32_t page, bool spare) {
  std::string error;
  if (chip_.ReadPage(block, page, main_.data(), spare ? spare_.data() : nullptr, error)) return true;
  if (std::find(unreadable_.begin(), unreadable_.end(), block) == unreadable_.end()) {
    unreadable_.push_back(block);
    Find(FindingKind::UnreadablePage, block, "block " + Num(block) + " cannot be read: " + error);
  }
  return false;
}

PoolBlock& Reader::PoolEntry(std::uint32_t block) {
  for (PoolBlock& p : r_.PoolBlocks)
    if (p.Block == block) return p;
  PoolBlock p;
  p.Block = block;
  r_.PoolBlocks.push_back(p);
  return r_.PoolBlocks.back();
}

void Reader::Scan() {
  std::array<std::uint32_t, 2> bestAge{0, 0};
  std::array<std::uint32_t, 2> best{kNoBlock, kNoBlock};
  std::array<Pch, 2> bestPch{};
  for (std::uint32_t b = r_.ReservoirFirst; b <= r_.ReservoirLast; ++b) {
    if (!Read(b, 0, true)) continue;
    const SpareBuffer sb = SpareBuffer::FromPageSpare(spare_.data());
    // Exact compares: the scan is stricter than the bad-block rule of normal blocks.
    if (sb.BadMark() != 0xFFFF || sb.MetaMark() != kMetaMark) continue;
    const int kind = KindOf(main_.data());
    if (kind < 0) continue;
    const Pch h = ParsePch(main_.data());
    PoolBlock& p = PoolEntry(b);
    p.Signature = h.Signature;
    p.Age = h.Age;
    p.GlobalAge = h.GlobalAge;
    p.RefBlock = h.Ref;
    p.TpcbBlock = h.Tpcb;
    if (h.Age == kAgeInvalid) {
      p.Role = "invalid age";
      Find(FindingKind::AgeInvalid, b,
           std::string(kSignatures[kind]) + " header of block " + Num(b) +
               " has age 0xFFFFFFFF; the phone stops mounting the chip there",
           true);
      continue;
    }
    if (h.Age == 0) {
      p.Role = "never picked";
      Find(FindingKind::AgeZero, b,
           std::string(kSignatures[kind]) + " header of block " + Num(b) + " has age 0, which the phone never picks");
      continue;
    }
    if (h.Age > bestAge[kind]) {
      bestAge[kind] = h.Age;
      best[kind] = b;
      bestPch[kind] = h;
    }
  }
  r_.Lpcb = best[kLower];
  r_.Upcb = best[kUpper];
  for (PoolBlock& p : r_.PoolBlocks)
    if (p.Role.empty()) p.Role = p.Block == r_.Lpcb ? "LPCB" : p.Block == r_.Upcb ? "UPCB" : "older";

  // The newer assignment of the temporary block wins.
  int namer = -1;
  for (int k : {kLower, kUpper})
    if (best[k] != kNoBlock && (namer < 0 || bestPch[k].GlobalAge > bestPch[namer].GlobalAge)) namer = k;
  if (namer < 0) return;
  const auto inReservoir = [&](std::uint32_t b) { return b >= r_.ReservoirFirst && b <= r_.ReservoirLast; };
  const Pch& h = bestPch[namer];
  if (inReservoir(h.Tpcb)) r_.Tpcb = h.Tpcb;
  else
    Find(FindingKind::MetaBlockOutsideReservoir, h.Tpcb,
         std::string(kPoolNames[namer]) + " names block " + Num(h.Tpcb) + " as its TPCB, outside the reservoir; it is not used");
  if (inReservoir(h.Ref)) r_.Ref = h.Ref;
  else
    Find(FindingKind::MetaBlockOutsideReservoir, h.Ref,
         std::string(kPoolNames[namer]) + " names block " + Num(h.Ref) + " as its REF block, outside the reservoir");
}

std::optional<std::uint32_t> Reader::FindValidSet(std::uint32_t block) {
  // The last page in use: looked for at the last page of each set, from the end.
  std::optional<std::uint32_t> last;
  for (std::uint32_t p = kPagesPerBlock - 1; p >= kMetaSetPages - 1; p -= kMetaSetPages) {
    if (!Read(block, p, true)) return std::nullopt;
    if (!AllBytes(main_.data(), kPageMainBytes, 0xFF) || !SpareBuffer::FromPageSpare(spare_.data()).AllErased()) {
      last = p;
      break;
    }
    if (p < kMetaSetPages) break;
  }
  if (!last) return std::nullopt;
  // Back from there to a confirm page (main data all zero) with three readable pages before it.
  for (std::uint32_t p = *last; p >= kMetaSetPages - 1; --p) {
    if (!Read(block, p, false)) return std::nullopt;
    if (AllBytes(main_.data(), kPageMainBytes, 0x00)) {
      bool readable = true;
      for (std::uint32_t q = p - (kMetaSetPages - 1); q < p && readable; ++q) readable = Read(block, q, false);
      if (readable) return p - (kMetaSetPages - 1);
    }
    if (p == kMetaSetPages - 1) break;
  }
  return std::nullopt;
}

std::optional<std::uint32_t> Reader::LoadSet(std::uint32_t block, int kind) {
  const std::optional<std::uint32_t> page = FindValidSet(block);
  if (!page) return std::nullopt;
  if (!Read(block, *page, false)) return std::nullopt;
  if (KindOf(main_.data()) != kind) {
    Find(FindingKind::MetaSetSignature, block,
         "the confirmed meta set at page " + Num(*page) + " of block " + Num(block) + " does not start with " +
             kSignatures[kind] + "; it is not used");
    return std::nullopt;
  }
  const Pch h = ParsePch(main_.data());
  PoolBlock& p = PoolEntry(block);
  if (p.Signature.empty()) p.Signature = h.Signature;
  p.MetaSetPage = *page;
  p.MetaSetAge = h.Age;
  if (h.Planes != 1 || h.Dies != 1 || h.BlocksPerDie != r_.ChipBlocks || h.BlocksPerDevice != r_.ChipBlocks)
    Find(FindingKind::DeviceInfo, block,
         std::string(kPoolNames[kind]) + " header describes " + Num(h.Planes) + " plane(s), " + Num(h.Dies) +
             " die(s), " + Num(h.BlocksPerDie) + " blocks per die and " + Num(h.BlocksPerDevice) +
             " per device; this chip has 1, 1, " + Num(r_.ChipBlocks) + " and " + Num(r_.ChipBlocks));
  return page;
}

void Reader::ReadPartitionInfo(std::uint32_t block, std::uint32_t setPage) {
  if (!Read(block, setPage, false)) return;
  const std::uint8_t* s = main_.data() + kSetSectorPartInfo * kSectorBytes;
  PartitionInfo& info = r_.Info;
  for (std::uint32_t i = 0; i < 8 && s[kPiSignature + i] != 0; ++i) {
    const char c = static_cast<char>(s[kPiSignature + i]);
    info.Signature.push_back(c >= 0x20 && c < 0x7F ? c : '?');
  }
  info.Version = LE32(s + kPiVersion);
  info.Count = LE32(s + kPiCount);
  if (info.Count > kPiMaxEntries) {
    Find(FindingKind::PartitionInfoUnreadable, block,
         "the partition info lists " + Num(info.Count) + " partitions; it holds at most " + Num(kPiMaxEntries) +
             ", so it is not used");
    return;
  }
  for (std::uint32_t i = 0; i < info.Count; ++i) {
    const std::uint8_t* e = s + kPiEntries + i * kPiEntryBytes;
    PartitionInfoRow row;
    row.Index = i;
    row.Identifier = LE16(e + kPiEntId);
    row.Attributes = LE16(e + kPiEntAttributes);
    row.FirstBlock = LE16(e + kPiEntFirstUnit);
    row.Blocks = LE16(e + kPiEntUnits);
    row.LoadAddress = LE32(e + kPiEntLoadAddress);
    const std::uint64_t end = std::uint64_t{row.FirstBlock} + row.Blocks;
    row.Usable = row.Blocks > 0 && end <= r_.ReservoirFirst;
    const std::string what = "partition info row " + Num(i + 1) + " (identifier " + Num(row.Identifier) +
                             ", blocks " + Num(row.FirstBlock) + " to " + Num(end - 1) + ")";
    if (!row.Usable) {
      Find(FindingKind::PartitionInfoRange, row.FirstBlock,
           what + (row.Blocks == 0 ? " has no blocks" : " runs past block " + Num(r_.ReservoirFirst - 1)) +
               "; it is not used");
    } else {
      for (const PartitionInfoRow& o : info.Rows)
        if (o.Usable && row.FirstBlock < o.FirstBlock + o.Blocks && o.FirstBlock < end) {
          Find(FindingKind::PartitionInfoRange, row.FirstBlock,
               what + " overlaps row " + Num(o.Index + 1) + "; it is not used");
          row.Usable = false;
          break;
        }
    }
    info.Rows.push_back(row);
  }
  info.Read = true;
}

void Reader::ReadBab(std::uint32_t block, std::uint32_t setPage) {
  if (!Read(block, setPage, false)) return;
  const std::uint8_t* s = main_.data() + kSetSectorBab * kSectorBytes;
  const std::uint32_t span = r_.ReservoirLast - r_.ReservoirFirst + 1;
  for (std::uint32_t i = 0; i < span && i / 8 < kBabBytes; ++i)
    if (s[i / 8] & (0x80 >> (i % 8))) r_.Allocated.push_back(r_.ReservoirFirst + i);
}

void Reader::ReadMaps(std::uint32_t block, std::uint32_t setPage, int kind) {
  // Sectors 8-17 of the set: all of its second page and the first two of its third.
  std::vector<std::uint8_t> maps(std::size_t{kBmsPerSet} * kSectorBytes);
  if (!Read(block, setPage + 1, false)) return;
  std::memcpy(maps.data(), main_.data(), kPageMainBytes);
  if (!Read(block, setPage + 2, false)) return;
  std::memcpy(maps.data() + kPageMainBytes, main_.data(), maps.size() - kPageMainBytes);
  for (std::uint32_t m = 0; m < kBmsPerSet; ++m) {
    const std::uint8_t* s = maps.data() + std::size_t{m} * kSectorBytes;
    const std::uint16_t info = LE16(s + kBmsInfo), reserved = LE16(s + kBmsReserved);
    // Each sector is read on its own, up to its end mark.
    for (std::uint32_t i = 0; i < kBmsPairs; ++i) {
      const std::uint16_t original = LE16(s + kBmsPairsAt + 4 * i);
      const std::uint16_t replacement = LE16(s + kBmsPairsAt + 4 * i + 2);
      if (original == 0xFFFF && replacement == 0xFFFF) break;
      BmlRemap remap;
      remap.Block = original;
      remap.Replacement = replacement;
      remap.Pool = kPoolNames[kind];
      remap.MapSector = m + 1;
      remap.Info = info;
      remap.Reserved = reserved;
      r_.Remaps.push_back(remap);
    }
  }
}

bool Reader::DriverBad(std::uint32_t block, bool& bad) {
  std::string error;
  if (ReadDriverBadBlock(chip_, block, bad, error)) return true;
  if (std::find(unreadable_.begin(), unreadable_.end(), block) == unreadable_.end()) {
    unreadable_.push_back(block);
    Find(FindingKind::UnreadablePage, block, "the bad-block mark of block " + Num(block) + " cannot be read: " + error);
  }
  return false;
}

void Reader::CheckPairs() {
  const std::size_t n = r_.Remaps.size();
  if (n > kBmlReplacementBlocks)
    Find(FindingKind::TooManyRemaps, std::nullopt,
         Num(n) + " blocks are remapped; the reservoir has " + Num(kBmlReplacementBlocks) + " replacement blocks" +
             (n > kBmlMountablePairs ? " and the phone refuses to mount more than " + Num(kBmlMountablePairs) + " pairs"
                                     : ""),
         n > kBmlMountablePairs);
  // Later pairs win over earlier ones, so the UPCB's win over the LPCB's.
  std::map<std::uint32_t, std::size_t> byOriginal;
  std::map<std::uint32_t, std::size_t> byReplacement;
  for (std::size_t i = 0; i < n; ++i) {
    BmlRemap& m = r_.Remaps[i];
    const std::string pair = "block " + Num(m.Block) + " -> " + Num(m.Replacement);
    if (auto it = byOriginal.find(m.Block); it != byOriginal.end()) {
      BmlRemap& earlier = r_.Remaps[it->second];
      earlier.Applied = false;
      Find(FindingKind::DuplicateOriginal, m.Block,
           "block " + Num(m.Block) + " is remapped twice (to " + Num(earlier.Replacement) + " in the " + earlier.Pool +
               ", to " + Num(m.Replacement) + " in the " + m.Pool + "); the later pair is used");
      it->second = i;
    } else {
      byOriginal.emplace(m.Block, i);
    }
    if (auto it = byReplacement.find(m.Replacement); it != byReplacement.end())
      Find(FindingKind::ReplacementShared, m.Replacement,
           "block " + Num(m.Replacement) + " replaces both block " + Num(r_.Remaps[it->second].Block) + " and block " +
               Num(m.Block));
    else
      byReplacement.emplace(m.Replacement, i);

    if (m.Block >= r_.ReservoirFirst)
      Find(FindingKind::OriginalOutsidePartitions, m.Block,
           pair + ": the remapped block is not one partitions can use (below " + Num(r_.ReservoirFirst) + ")");
    if (m.Replacement < r_.ReservoirFirst || m.Replacement > r_.ReservoirLast)
      Find(FindingKind::ReplacementOutsideReservoir, m.Replacement,
           pair + ": the replacement lies outside the reservoir (" + Num(r_.ReservoirFirst) + " to " +
               Num(r_.ReservoirLast) + ")" +
               (m.Replacement >= r_.ChipBlocks ? "; the chip has no such block, so the block cannot be read" : ""));
    else if (r_.IsMetaBlock(m.Replacement))
      Find(FindingKind::ReplacementIsMetaBlock, m.Replacement,
           pair + ": the replacement is the " +
               std::string(m.Replacement == r_.Lpcb ? "LPCB" : m.Replacement == r_.Upcb ? "UPCB"
                           : m.Replacement == r_.Tpcb ? "TPCB" : "REF block"));
    bool bad = false;
    if (m.Replacement < r_.ChipBlocks && DriverBad(m.Replacement, bad) && bad)
      Find(FindingKind::ReplacementBad, m.Replacement, pair + ": the replacement carries a bad-block mark");
    if (m.Block < r_.ChipBlocks && DriverBad(m.Block, bad) && !bad)
      Find(FindingKind::OriginalNotMarkedBad, m.Block, pair + ": the remapped block carries no bad-block mark");
  }
}

void Reader::Run() {
  r_.ChipBlocks = chip_.Blocks();
  if (r_.ChipBlocks != kBmlChipBlocks) {
    r_.NoStructure = "no reservoir structure: the bad-block layer's reservoir is known for chips of " +
                     Num(kBmlChipBlocks) + " blocks, and this one has " + Num(r_.ChipBlocks) +
                     "; every block is read where it lies";
    return;
  }
  r_.ReservoirKnown = true;
  r_.ReservoirFirst = kBmlReservoirFirst;
  r_.ReservoirLast = kBmlReservoirLast;
  Scan();
  if (r_.PoolBlocks.empty()) {
    r_.NoStructure = unreadable_.empty()
                         ? "no reservoir structure: no block of " + Num(r_.ReservoirFirst) + " to " +
                               Num(r_.ReservoirLast) + " starts with a pool control header"
                         : "no reservoir structure could be read: " + Num(unreadable_.size()) + " of blocks " +
                               Num(r_.ReservoirFirst) + " to " + Num(r_.ReservoirLast) + " cannot be read from this dump";
    r_.NoStructure += "; every block is read where it lies";
    return;
  }

  std::array<std::optional<std::uint32_t>, 2> sets;
  std::array<std::uint32_t*, 2> roles{&r_.Lpcb, &r_.Upcb};
  for (int k : {kLower, kUpper}) {
    std::uint32_t& block = *roles[k];
    if (block == kNoBlock) {
      Find(FindingKind::PoolBlockMissing, std::nullopt,
           std::string("no ") + kPoolNames[k] + ": no block of the reservoir starts with a usable " + kSignatures[k] +
               " header; the phone takes the chip for unformatted and does not mount it",
           true);
      continue;
    }
    sets[k] = LoadSet(block, k);
    if (!sets[k] && r_.Tpcb != kNoBlock && r_.Tpcb != block) {
      if ((sets[k] = LoadSet(r_.Tpcb, k))) {
        Find(FindingKind::TpcbUsed, r_.Tpcb,
             std::string(kPoolNames[k]) + " block " + Num(block) + " holds no confirmed meta set; the TPCB " +
                 Num(r_.Tpcb) + " holds one and takes its place, as on the phone");
        for (PoolBlock& p : r_.PoolBlocks) {
          if (p.Block == r_.Tpcb) p.Role = kPoolNames[k];
          else if (p.Block == block) p.Role = "TPCB";
        }
        std::swap(block, r_.Tpcb);
      }
    }
    if (!sets[k])
      Find(FindingKind::MetaSetMissing, block,
           std::string(kPoolNames[k]) + " block " + Num(block) +
               " holds no meta set confirmed by a confirm page; the phone does not mount the chip",
           true);
  }
  for (PoolBlock& p : r_.PoolBlocks)
    if (p.Block == r_.Tpcb && p.Role == "older") p.Role = "TPCB";

  if (sets[kLower]) ReadPartitionInfo(r_.Lpcb, *sets[kLower]);
  if (sets[kUpper]) ReadBab(r_.Upcb, *sets[kUpper]);
  for (int k : {kLower, kUpper})
    if (sets[k]) ReadMaps(*roles[k], *sets[k], k);
  r_.Structure = sets[kLower] && sets[kUpper] ? BmlStructure::Complete : BmlStructure::Partial;
  CheckPairs();
}

}  // namespace

const char* FindingWord(FindingKind kind) {
  switch (kind) {
    case FindingKind::UnreadablePage: return "unreadable_page";
    case FindingKind::AgeInvalid: return "age_invalid";
    case FindingKind::AgeZero: return "age_zero";
    case FindingKind::PoolBlockMissing: return "pool_block_missing";
    case FindingKind::MetaBlockOutsideReservoir: return "meta_block_outside_reservoir";
    case FindingKind::MetaSetMissing: return "meta_set_missing";
    case FindingKind::MetaSetSignature: return "meta_set_signature";
    case FindingKind::TpcbUsed: return "tpcb_used";
    case FindingKind::DeviceInfo: return "device_info";
    case FindingKind::PartitionInfoUnreadable: return "partition_info_unreadable";
    case FindingKind::PartitionInfoRange: return "partition_info_range";
    case FindingKind::PartitionInfoMismatch: return "partition_info_mismatch";
    case FindingKind::TooManyRemaps: return "too_many_remaps";
    case FindingKind::OriginalOutsidePartitions: return "original_outside_partitions";
    case FindingKind::ReplacementOutsideReservoir: return "replacement_outside_reservoir";
    case FindingKind::ReplacementIsMetaBlock: return "replacement_is_meta_block";
    case FindingKind::ReplacementBad: return "replacement_bad";
    case FindingKind::ReplacementShared: return "replacement_shared";
    case FindingKind::DuplicateOriginal: return "duplicate_original";
    case FindingKind::OriginalNotMarkedBad: return "original_not_marked_bad";
  }
  return "unknown";
}

std::string BmlRemap::Reason() const {
  return Pool + " block map " + std::to_string(MapSector) + ", info " + Hex4(Info);
}

bool BmlResult::Mountable() const {
  if (Structure != BmlStructure::Complete) return false;
  return std::none_of(Findings.begin(), Findings.end(), [](const BmlFinding& f) { return f.RefusesMount; });
}

std::uint32_t BmlResult::Map(std::uint32_t block) const {
  // One level only, as the phone maps: a replacement is never looked up again.
  for (auto it = Remaps.rbegin(); it != Remaps.rend(); ++it)
    if (it->Applied && it->Block == block) return it->Replacement;
  return block;
}

bool BmlResult::IsMetaBlock(std::uint32_t block) const {
  return block != kNoBlock && (block == Lpcb || block == Upcb || block == Tpcb || block == Ref);
}

BmlResult ReadBml(PageSource& chip) {
  BmlResult r;
  Reader(chip, r).Run();
  return r;
}

bool ReadDriverBadBlock(PageSource& chip, std::uint32_t block, bool& bad, std::string& error) {
  std::uint8_t spare[kPageSpareBytes];
  std::uint16_t words[2] = {0, 0};
  for (std::uint32_t p = 0; p < 2; ++p) {
    if (!chip.ReadPage(block, p, nullptr, spare, error)) return false;
    words[p] = static_cast<std::uint16_t>(spare[0] | spare[1] << 8);
  }
  bad = DriverBlockBad(words[0], words[1]);
  return true;
}

}  // namespace orvella::phone
