// The bad-block layer on chips the writer made in memory: the remaps found are exactly
// those made, every partition reads back exactly what was written into it, a chip
// without the structure gets nothing invented, and each inconsistency a dump can carry
// is listed as its finding.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "phone/Bml.h"
#include "phone/BmlView.h"
#include "phone/BmlWriter.h"
#include "phone/ImagePages.h"
#include "phone/PhoneDump.h"
#include "phone/SpareBuffer.h"

namespace orvella::phone {
namespace {

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// EFS (2-41) twice, one its last block; KERNEL (72-101) at both ends; MODEM's last block,
// the last before the reservoir.
const std::vector<std::uint32_t> kRemaps = {5, 41, 72, 101, 2003};
constexpr std::size_t kEfs = 2, kKernel = 6, kModem = 11;

struct Made {
  BmlDumpPlan Plan;
  std::unique_ptr<MemoryChip> Chip;
};

Made MakeChip(ImageFill fill, const std::vector<std::uint32_t>& remaps = kRemaps) {
  Made m;
  BmlDumpSpec spec;
  spec.Table = SampleBmlTable();
  spec.Fill = fill;
  spec.Remaps = remaps;
  std::string error;
  EXPECT_TRUE(PlanBmlDump(spec, m.Plan, error)) << error;
  m.Chip = std::make_unique<MemoryChip>(kBmlChipBlocks);
  EXPECT_TRUE(WriteBmlDump(*m.Chip, m.Plan, error)) << error;
  return m;
}

std::uint8_t EfsByte(std::uint32_t unit, std::uint32_t page, std::uint32_t i) {
  return static_cast<std::uint8_t>((unit * 64 + page) * 7 + i * 13 + (i >> 9));
}

// Writes a volume into EFS as the volume writer would, through the writer's own pairs.
void WriteEfs(Made& m) {
  const std::uint32_t first = m.Plan.First[kEfs], units = m.Plan.Spec.Table[kEfs].Blocks;
  std::vector<std::uint32_t> physical;
  for (std::uint32_t u = 0; u < units; ++u) {
    std::uint32_t b = first + u;
    for (const auto& [original, replacement] : m.Plan.Pairs)
      if (original == b) b = replacement;
    physical.push_back(b);
  }
  BmlPartitionSink sink(*m.Chip, physical);
  std::vector<std::uint8_t> main(kPageMainBytes), spare(kPageSpareBytes, 0xFF);
  for (std::uint32_t u = 0; u < units; ++u)
    for (std::uint32_t p = 0; p < kPagesPerBlock; ++p) {
      for (std::uint32_t i = 0; i < kPageMainBytes; ++i) main[i] = EfsByte(u, p, i);
      SpareBuffer sb;
      sb.SetU32(kBufSData1, u << 16 | p);
      if (u == 0 && p == 0) {
        std::memcpy(main.data(), "FSR_STL\0", 8);
        sb.SetU32(kBufSData3, 0x0140FEBF);
      }
      sb.ToPageSpare(spare.data());
      std::string error;
      ASSERT_TRUE(sink.WritePage(u, p, main.data(), spare.data(), error)) << error;
    }
}

std::string Kinds(const BmlResult& r) {
  std::string kinds;
  for (const BmlFinding& f : r.Findings) kinds += std::string(FindingWord(f.Kind)) + ": " + f.Text + "\n";
  return kinds;
}

TEST(Bml, RemapsFoundAreExactlyThoseMadeAndEveryPartitionReadsWhatWasWritten) {
  Made m = MakeChip(ImageFill::Pattern);
  WriteEfs(m);
  const PhoneDump d = ReadPhoneDump(*m.Chip);
  const BmlResult& bml = d.Bml;
  ASSERT_TRUE(d.TableFound) << d.TableProblem;
  EXPECT_EQ(bml.Structure, BmlStructure::Complete);
  EXPECT_TRUE(bml.Mountable());
  EXPECT_TRUE(bml.Findings.empty()) << Kinds(bml);
  EXPECT_EQ(std::tie(bml.Lpcb, bml.Upcb, bml.Tpcb, bml.Ref), std::tie(kWriterLpcb, kWriterUpcb, kWriterTpcb, kWriterRef));
  EXPECT_EQ(std::tie(bml.ReservoirFirst, bml.ReservoirLast), std::make_tuple(2004u, 2047u));

  std::vector<std::tuple<std::uint32_t, std::uint32_t, std::string>> found, made;
  for (const BmlRemap& r : bml.Remaps) {
    EXPECT_TRUE(r.Applied);
    EXPECT_EQ(r.Reason(), "UPCB block map 1, info 0x0000");
    found.emplace_back(r.Block, r.Replacement, r.Partition);
  }
  const char* names[] = {"EFS", "EFS", "KERNEL", "KERNEL", "MODEM"};
  for (std::size_t i = 0; i < kRemaps.size(); ++i) made.emplace_back(kRemaps[i], 2004 + i, names[i]);
  EXPECT_EQ(found, made);
  EXPECT_EQ(bml.Allocated, std::vector<std::uint32_t>({2004, 2005, 2006, 2007, 2008}));

  ASSERT_TRUE(bml.Info.Read);
  EXPECT_EQ(bml.Info.Signature, "FSRPART");
  ASSERT_EQ(bml.Info.Rows.size(), d.Table.Entries.size());
  std::vector<std::uint8_t> expect(kBlockMainBytes), got(kBlockMainBytes), physical(kBlockMainBytes);
  for (std::size_t k = 0; k < d.Table.Entries.size(); ++k) {
    const PitEntry& e = d.Table.Entries[k];
    SCOPED_TRACE(e.Name);
    ASSERT_TRUE(e.InDump);
    EXPECT_EQ(e.From, FirstBlockFrom::PartitionInfo);
    EXPECT_EQ(e.FirstBlock, m.Plan.First[k]);
    EXPECT_EQ(e.BmlNumber, k + 1);
    BmlView view(*m.Chip, EntryBlocks(d, k));
    ASSERT_EQ(view.Blocks(), e.BlockCount);
    for (std::uint32_t u = 0; u < view.Blocks(); ++u) {
      std::string error;
      ASSERT_TRUE(view.ReadMainBlocks(u, 1, got.data(), error)) << error;
      if (k == kEfs) {
        for (std::uint32_t i = 0; i < kBlockMainBytes; ++i) expect[i] = EfsByte(u, i / kPageMainBytes, i % kPageMainBytes);
        if (u == 0) std::memcpy(expect.data(), "FSR_STL\0", 8);
      } else {
        ComposeLogicalMain(m.Plan, e.FirstBlock + u, expect.data());
      }
      ASSERT_EQ(got, expect) << "block " << u;
      // Where the block lies remapped, the chip's own block holds something else.
      const bool remapped = std::count(kRemaps.begin(), kRemaps.end(), e.FirstBlock + u) > 0;
      ASSERT_TRUE(m.Chip->ReadMainBlocks(e.FirstBlock + u, 1, physical.data(), error)) << error;
      EXPECT_EQ(remapped, physical != expect) << "block " << u;
    }
  }
  // Spare data come through the remap too: the driver's words the volume writer stored.
  BmlView efs(*m.Chip, EntryBlocks(d, kEfs));
  std::uint8_t spare[kPageSpareBytes];
  std::string error;
  ASSERT_TRUE(efs.ReadPage(39, 17, nullptr, spare, error)) << error;
  EXPECT_EQ(SpareBuffer::FromPageSpare(spare).SData1(), 39u << 16 | 17);
  EXPECT_EQ(SpareBuffer::FromPageSpare(spare).BadMark(), 0xFFFF);

  // A run of the kernel read at once, and bytes across the remapped last block's edge.
  BmlView kernel(*m.Chip, EntryBlocks(d, kKernel));
  std::vector<std::uint8_t> all(30 * std::size_t{kBlockMainBytes});
  ASSERT_TRUE(kernel.ReadMainBlocks(0, 30, all.data(), error)) << error;
  ComposeLogicalMain(m.Plan, 101, expect.data());
  EXPECT_TRUE(std::equal(expect.begin(), expect.end(), all.end() - kBlockMainBytes));
  ViewBytes bytes(kernel);
  std::vector<std::uint8_t> across(kBlockMainBytes + 100);
  ASSERT_TRUE(bytes.Read(28 * std::uint64_t{kBlockMainBytes} + 5000, across.data(), across.size(), error)) << error;
  EXPECT_TRUE(std::equal(across.begin(), across.end(), all.begin() + 28 * kBlockMainBytes + 5000));
  EXPECT_FALSE(bytes.Read(bytes.Size() - 10, across.data(), 11, error));

  const auto holds = [&](std::size_t k) { return std::string(HoldsWord(d.Table.Entries[k].Content.Kind)); };
  EXPECT_EQ(holds(kEfs), "stl");
  EXPECT_EQ(holds(1), "pit");
  EXPECT_EQ(holds(kKernel), "unknown");
  EXPECT_EQ(holds(8), "erased");
}

struct NoStructureCase {
  const char* Name;
  std::uint32_t Blocks;
  std::function<void(MemoryChip&)> Make;
  const char* Says;
};

class NoStructure : public ::testing::TestWithParam<NoStructureCase> {};

// Every block is read where it lies: no remap, no finding, the identity view.
TEST_P(NoStructure, InventsNothing) {
  const NoStructureCase& c = GetParam();
  MemoryChip chip(c.Blocks);
  BmlDumpPlan plan;
  BmlDumpSpec spec;
  spec.Table = SampleBmlTable();
  std::string error;
  ASSERT_TRUE(PlanBmlDump(spec, plan, error)) << error;
  std::memcpy(chip.Main(1, 0), plan.Pit.data(), plan.Pit.size());
  for (std::uint32_t b = 0; b < c.Blocks; b += 7) chip.Main(b, 3)[0] = static_cast<std::uint8_t>(b);
  c.Make(chip);

  const PhoneDump d = ReadPhoneDump(chip, false);
  EXPECT_EQ(d.Bml.Structure, BmlStructure::None);
  EXPECT_NE(d.Bml.NoStructure.find(c.Says), std::string::npos) << d.Bml.NoStructure;
  EXPECT_TRUE(d.Bml.Remaps.empty());
  EXPECT_TRUE(d.Bml.PoolBlocks.empty());
  EXPECT_TRUE(d.Bml.Findings.empty()) << Kinds(d.Bml);
  EXPECT_FALSE(d.Bml.Info.Read);
  ASSERT_TRUE(d.TableFound) << d.TableProblem;
  for (std::size_t k = 0; k < d.Table.Entries.size(); ++k) {
    const PitEntry& e = d.Table.Entries[k];
    if (!e.InDump) {
      EXPECT_NE(e.NotInDump.find("run past block 1023"), std::string::npos) << e.NotInDump;
      continue;
    }
    EXPECT_EQ(e.From, FirstBlockFrom::RunningSum);
    const std::vector<std::uint32_t> blocks = EntryBlocks(d, k);
    for (std::uint32_t u = 0; u < blocks.size(); ++u) ASSERT_EQ(blocks[u], e.FirstBlock + u);
  }
}

const NoStructureCase kNoStructureCases[] = {
    {"ChipWithoutPoolBlocks", kBmlChipBlocks, [](MemoryChip&) {}, "no block of 2004 to 2047"},
    {"PoolHeaderWithoutTheMetaMark", kBmlChipBlocks,
     [](MemoryChip& c) {
       std::memcpy(c.Main(2046, 0), "LPCH", 4);
       Put32(c.Main(2046, 0) + kPchAge, 1);
     },
     "no block of 2004 to 2047"},
    {"PoolHeaderInABadBlock", kBmlChipBlocks,
     [](MemoryChip& c) {
       std::memcpy(c.Main(2046, 0), "LPCH", 4);
       Put32(c.Main(2046, 0) + kPchAge, 1);
       SpareBuffer sb;
       sb.SetU16(kBufBadMark, 0xFFFE);
       sb.SetU16(kBufMetaMark, kMetaMark);
       sb.ToPageSpare(c.Spare(2046, 0));
     },
     "no block of 2004 to 2047"},
    {"ChipOfAnotherSize", 1024, [](MemoryChip&) {}, "this one has 1024"},
};

INSTANTIATE_TEST_SUITE_P(Chips, NoStructure, ::testing::ValuesIn(kNoStructureCases),
                         [](const auto& p) { return std::string(p.param.Name); });

// ---- Findings -----------------------------------------------------------------------

std::uint8_t* SetSector(MemoryChip& c, std::uint32_t block, std::uint32_t setPage, std::uint32_t sector) {
  return c.Main(block, setPage + sector / kSectorsPerPage) + (sector % kSectorsPerPage) * kSectorBytes;
}
void SetPair(MemoryChip& c, std::uint32_t index, std::uint32_t original, std::uint32_t replacement) {
  std::uint8_t* s = SetSector(c, kWriterUpcb, 0, kSetSectorFirstBms);
  Put16(s + kBmsPairsAt + 4 * index, original);
  Put16(s + kBmsPairsAt + 4 * index + 2, replacement);
}
void SetDriverMark(MemoryChip& c, std::uint32_t block, std::uint16_t word) {
  for (std::uint32_t p = 0; p < 2; ++p) Put16(c.Spare(block, p), word);
}
std::uint8_t* PartitionRow(MemoryChip& c, std::size_t k) {
  return SetSector(c, kWriterLpcb, 0, kSetSectorPartInfo) + kPiEntries + k * kPiEntryBytes;
}
void PlaceSet(MemoryChip& c, std::uint32_t block, std::uint32_t page, const std::vector<std::uint8_t>& set,
              std::uint32_t pages = kMetaSetPages) {
  for (std::uint32_t p = 0; p < pages; ++p) {
    const std::uint8_t* at = set.data() + std::size_t{p} * (kPageMainBytes + kPageSpareBytes);
    std::memcpy(c.Main(block, page + p), at, kPageMainBytes);
    std::memcpy(c.Spare(block, page + p), at + kPageMainBytes, kPageSpareBytes);
  }
}

struct FindingCase {
  const char* Name;
  std::function<void(Made&)> Spoil;
  FindingKind Kind;
  std::optional<std::uint32_t> Block;
  bool Refuses;       // the finding says the phone would not mount
  bool Mountable;     // what the whole result says
};

class Findings : public ::testing::TestWithParam<FindingCase> {};

TEST_P(Findings, AreListedNeverFatal) {
  const FindingCase& c = GetParam();
  Made m = MakeChip(ImageFill::Erased);
  c.Spoil(m);
  const PhoneDump d = ReadPhoneDump(*m.Chip, false);
  const auto it = std::find_if(d.Bml.Findings.begin(), d.Bml.Findings.end(),
                               [&](const BmlFinding& f) { return f.Kind == c.Kind; });
  ASSERT_NE(it, d.Bml.Findings.end()) << FindingWord(c.Kind) << " not among:\n" << Kinds(d.Bml);
  EXPECT_EQ(it->Block, c.Block);
  EXPECT_EQ(it->RefusesMount, c.Refuses);
  EXPECT_FALSE(it->Text.empty());
  EXPECT_EQ(d.Bml.Mountable(), c.Mountable) << Kinds(d.Bml);
  // Whatever the layer says, the table is still read and every view stays within the chip
  // or fails with a message.
  ASSERT_TRUE(d.TableFound) << d.TableProblem;
  for (std::size_t k = 0; k < d.Table.Entries.size(); ++k) {
    BmlView view(*m.Chip, EntryBlocks(d, k));
    std::vector<std::uint8_t> main(kPageMainBytes);
    std::string error;
    for (std::uint32_t u = 0; u < view.Blocks(); ++u)
      if (!view.ReadPage(u, 0, main.data(), nullptr, error)) {
        EXPECT_FALSE(error.empty());
      }
  }
}

const FindingCase kFindingCases[] = {
    {"ReplacementOutsideTheReservoir", [](Made& m) { SetPair(*m.Chip, 5, 300, 1500); },
     FindingKind::ReplacementOutsideReservoir, 1500, false, true},
    {"ReplacementPastTheChip", [](Made& m) { SetPair(*m.Chip, 5, 300, 3000); },
     FindingKind::ReplacementOutsideReservoir, 3000, false, true},
    {"ReplacementIsTheTemporaryBlock", [](Made& m) { SetPair(*m.Chip, 5, 300, kWriterTpcb); },
     FindingKind::ReplacementIsMetaBlock, kWriterTpcb, false, true},
    {"ReplacementIsTheUpcb", [](Made& m) { SetPair(*m.Chip, 5, 300, kWriterUpcb); },
     FindingKind::ReplacementIsMetaBlock, kWriterUpcb, false, true},
    {"ReplacementMarkedBad", [](Made& m) { SetDriverMark(*m.Chip, 2004, 0x4444); }, FindingKind::ReplacementBad, 2004,
     false, true},
    {"OneReplacementForTwoBlocks", [](Made& m) { SetPair(*m.Chip, 1, 41, 2004); }, FindingKind::ReplacementShared, 2004,
     false, true},
    {"TwoPairsForOneBlock", [](Made& m) { SetPair(*m.Chip, 5, 5, 2030); }, FindingKind::DuplicateOriginal, 5, false,
     true},
    {"RemappedBlockWithoutBadMark", [](Made& m) { SetDriverMark(*m.Chip, 41, 0xFFFF); },
     FindingKind::OriginalNotMarkedBad, 41, false, true},
    {"RemappedBlockInTheReservoir", [](Made& m) { SetPair(*m.Chip, 5, 2010, 2031); },
     FindingKind::OriginalOutsidePartitions, 2010, false, true},
    {"FortyOnePairs",
     [](Made& m) {
       for (std::uint32_t i = 5; i < 41; ++i) SetPair(*m.Chip, i, 300 + i, 2009 + i % 30);
     },
     FindingKind::TooManyRemaps, std::nullopt, false, true},
    {"FortyTwoPairs",
     [](Made& m) {
       for (std::uint32_t i = 5; i < 42; ++i) SetPair(*m.Chip, i, 300 + i, 2009 + i % 30);
     },
     FindingKind::TooManyRemaps, std::nullopt, true, false},
    {"PartitionInfoDisagreesWithTheTable", [](Made& m) { Put16(PartitionRow(*m.Chip, kModem) + kPiEntUnits, 49); },
     FindingKind::PartitionInfoMismatch, 1954, false, true},
    {"PartitionInfoWithoutTheTablesIdentifier", [](Made& m) { Put16(PartitionRow(*m.Chip, kKernel) + kPiEntId, 99); },
     FindingKind::PartitionInfoMismatch, 72, false, true},
    {"PartitionInfoRowIntoTheReservoir", [](Made& m) { Put16(PartitionRow(*m.Chip, kModem) + kPiEntUnits, 51); },
     FindingKind::PartitionInfoRange, 1954, false, true},
    {"PartitionInfoRowsOverlapping", [](Made& m) { Put16(PartitionRow(*m.Chip, kKernel) + kPiEntUnits, 31); },
     FindingKind::PartitionInfoRange, 102, false, true},
    {"PartitionInfoOfThirtyOneRows",
     [](Made& m) { Put32(SetSector(*m.Chip, kWriterLpcb, 0, kSetSectorPartInfo) + kPiCount, 31); },
     FindingKind::PartitionInfoUnreadable, kWriterLpcb, false, true},
    {"AgeOfAllOnes", [](Made& m) { Put32(m.Chip->Main(kWriterUpcb, 0) + kPchAge, kAgeInvalid); },
     FindingKind::AgeInvalid, kWriterUpcb, true, false},
    {"AgeZero", [](Made& m) { Put32(m.Chip->Main(kWriterUpcb, 0) + kPchAge, 0); }, FindingKind::AgeZero, kWriterUpcb,
     false, false},
    {"NoUpcb", [](Made& m) { m.Chip->EraseBlock(kWriterUpcb); }, FindingKind::PoolBlockMissing, std::nullopt, true,
     false},
    {"UnconfirmedSetAndNoTemporaryCopy", [](Made& m) { m.Chip->Main(kWriterLpcb, 3)[100] = 1; },
     FindingKind::MetaSetMissing, kWriterLpcb, true, false},
    {"ConfirmedSetOfTheOtherKind",
     [](Made& m) { PlaceSet(*m.Chip, kWriterLpcb, 4, PoolSetPages(m.Plan, true, 2, {})); },
     FindingKind::MetaSetSignature, kWriterLpcb, false, false},
    {"HeaderOfAnotherChip", [](Made& m) { Put32(m.Chip->Main(kWriterLpcb, 0) + kPchBlocksPerDevice, 4096); },
     FindingKind::DeviceInfo, kWriterLpcb, false, true},
    {"TemporaryBlockOutsideTheReservoir", [](Made& m) { Put16(m.Chip->Main(kWriterLpcb, 0) + kPchTpcbBlock, 100); },
     FindingKind::MetaBlockOutsideReservoir, 100, false, true},
};

INSTANTIATE_TEST_SUITE_P(Dumps, Findings, ::testing::ValuesIn(kFindingCases),
                         [](const auto& p) { return std::string(p.param.Name); });

// Pool blocks rewritten on the phone: newer sets further into the block, and the
// temporary copy standing in for a pool block whose set was never confirmed.
TEST(Bml, NewerSetsAndTheTemporaryCopyAreReadAsThePhoneReadsThem) {
  struct Case {
    const char* Name;
    std::function<void(Made&)> Rewrite;
    std::uint32_t Lpcb, UpcbSetPage, Remaps;
    std::vector<FindingKind> Kinds;
  };
  std::vector<std::pair<std::uint32_t, std::uint32_t>> more;
  const Case cases[] = {
      {"NewerConfirmedSet",
       [&](Made& m) {
         more = m.Plan.Pairs;
         more.emplace_back(300, 2009);
         PlaceSet(*m.Chip, kWriterUpcb, 4, PoolSetPages(m.Plan, true, 2, more));
         PlaceSet(*m.Chip, kWriterUpcb, 8, PoolSetPages(m.Plan, true, 3, {}), 2);  // cut off before its confirm page
         SetDriverMark(*m.Chip, 300, 0x2222);
       },
       kWriterLpcb, 4, 6, {}},
      {"NewerSetNeverConfirmed",
       [&](Made& m) { PlaceSet(*m.Chip, kWriterUpcb, 4, PoolSetPages(m.Plan, true, 2, {}), 3); }, kWriterLpcb, 0, 5, {}},
      {"TemporaryCopyStandsIn",
       [&](Made& m) {
         m.Chip->Main(kWriterLpcb, 3)[0] = 1;
         PlaceSet(*m.Chip, kWriterTpcb, 4, PoolSetPages(m.Plan, false, 2, {}));
       },
       kWriterTpcb, 0, 5, {FindingKind::TpcbUsed}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Made m = MakeChip(ImageFill::Erased);
    c.Rewrite(m);
    const PhoneDump d = ReadPhoneDump(*m.Chip, false);
    EXPECT_EQ(d.Bml.Structure, BmlStructure::Complete);
    EXPECT_TRUE(d.Bml.Mountable()) << Kinds(d.Bml);
    EXPECT_EQ(d.Bml.Lpcb, c.Lpcb);
    EXPECT_TRUE(d.Bml.Info.Read);
    std::vector<FindingKind> kinds;
    for (const BmlFinding& f : d.Bml.Findings) kinds.push_back(f.Kind);
    EXPECT_EQ(kinds, c.Kinds) << Kinds(d.Bml);
    EXPECT_EQ(d.Bml.Remaps.size(), c.Remaps);
    for (const PoolBlock& p : d.Bml.PoolBlocks)
      if (p.Block == kWriterUpcb) {
        EXPECT_EQ(p.MetaSetPage, c.UpcbSetPage);
      }
    for (const PitEntry& e : d.Table.Entries) EXPECT_EQ(e.From, FirstBlockFrom::PartitionInfo) << e.Name;
  }
}

TEST(Bml, DuplicatePairsLetTheLaterOneWin) {
  Made m = MakeChip(ImageFill::Pattern, {5});
  SetPair(*m.Chip, 1, 5, 2030);
  const BmlResult r = ReadBml(*m.Chip);
  ASSERT_EQ(r.Remaps.size(), 2u);
  EXPECT_FALSE(r.Remaps[0].Applied);
  EXPECT_TRUE(r.Remaps[1].Applied);
  EXPECT_EQ(r.Map(5), 2030u);
  EXPECT_EQ(r.Map(2030), 2030u);  // one level only
  EXPECT_EQ(r.Map(6), 6u);
}

TEST(Bml, TheDriversBadBlockRuleCountsBitsOnBothPages) {
  struct Case {
    std::uint16_t Page0, Page1;
    bool Bad;
  };
  const Case cases[] = {
      {0xFFFF, 0xFFFF, false}, {0x2222, 0x2222, true}, {0x4444, 0x8888, true},
      {0x00FF, 0x0000, false},  // eight ones against eight zeros is good
      {0x007F, 0x0000, true},   {0xFFFF, 0x0000, false},  // page 0 good: the block is good
      {0x0000, 0xFFFE, false},
  };
  for (const Case& c : cases) {
    MemoryChip chip(4);
    Put16(chip.Spare(2, 0), c.Page0);
    Put16(chip.Spare(2, 1), c.Page1);
    chip.Spare(2, 0)[16] = 0;  // sector 1's words do not count
    bool bad = !c.Bad;
    std::string error;
    ASSERT_TRUE(ReadDriverBadBlock(chip, 2, bad, error)) << error;
    EXPECT_EQ(bad, c.Bad) << std::hex << c.Page0 << " " << c.Page1;
  }
  MemoryChip chip(4);
  bool bad = false;
  std::string error;
  EXPECT_FALSE(ReadDriverBadBlock(chip, 4, bad, error));
  EXPECT_NE(error.find("not on a chip of 4 blocks"), std::string::npos) << error;
}

}  // namespace
}  // namespace orvella::phone
