// Dumps as files: pages of whole and cut-off images, what the writer refuses, and a
// 512 MiB dump with the bad-block layer written, filled through the remap, checked and
// read back partition by partition.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "image/ChunkBuffer.h"
#include "files/FileIO.h"
#include "image/FullImage.h"
#include "image/ImageBuilder.h"
#include "image/NandHealth.h"
#include "image/RecordingPort.h"
#include "phone/BmlView.h"
#include "phone/BmlWriter.h"
#include "phone/ImagePages.h"
#include "phone/PhoneDump.h"
#include "phone/SpareBuffer.h"
#include "support/TestFiles.h"

namespace orvella::phone {
namespace {

constexpr std::uint64_t kSmallMain = 2u << 20;  // 8 blocks
constexpr std::uint64_t kSmallWhole = kSmallMain + kSmallMain / 32;

struct PagesCase {
  const char* Name;
  std::uint64_t Size;
  std::uint32_t Blocks;
  std::uint64_t MainPages, SparePages;
  const char* Missing;  // what Missing() names first; empty for a whole image
};

class Pages : public ::testing::TestWithParam<PagesCase> {};

TEST_P(Pages, ComeFromWhereTheImageKeepsThemAndMissingOnesAreNamed) {
  const PagesCase& c = GetParam();
  test::TempDir dir;
  const std::string path = dir.File("pages.bin");
  std::string error;
  ASSERT_TRUE(WriteFullImage(path, ImageSpec{2, {{"A", 0}}, ImageFill::Pattern}, error)) << error;
  test::ResizeFile(path, c.Size);
  ImagePageSource chip;
  ASSERT_TRUE(chip.Open(path, error)) << error;
  EXPECT_EQ(chip.Blocks(), c.Blocks);
  EXPECT_EQ(chip.PagesWithMain(), c.MainPages);
  EXPECT_EQ(chip.PagesWithSpare(), c.SparePages);
  EXPECT_EQ(chip.Complete(), std::string(c.Missing).empty());
  EXPECT_EQ(chip.Missing().rfind(c.Missing, 0), 0u) << chip.Missing();

  std::vector<std::uint8_t> main(kPageMainBytes), spare(kPageSpareBytes);
  const std::uint64_t mainBytes = std::uint64_t{c.Blocks} * kBlockMainBytes;
  for (std::uint64_t g = 0; g < std::uint64_t{c.Blocks} * kPagesPerBlock; g += 37) {
    const auto b = static_cast<std::uint32_t>(g / kPagesPerBlock), p = static_cast<std::uint32_t>(g % kPagesPerBlock);
    const bool hasMain = g < c.MainPages, hasSpare = g < c.SparePages;
    EXPECT_EQ(chip.ReadPage(b, p, main.data(), nullptr, error), hasMain) << g;
    EXPECT_EQ(chip.ReadPage(b, p, nullptr, spare.data(), error), hasSpare) << g;
    if (!hasMain || !hasSpare) {
      EXPECT_NE(error.find("the file ends at byte " + std::to_string(c.Size)), std::string::npos) << error;
    }
    // Bytes of a whole image stand where the builder put them; a cut one's spare area
    // is where its chip would keep it, so the builder's bytes there are main data.
    for (std::uint32_t i = 0; hasMain && i < kPageMainBytes; i += 511)
      ASSERT_EQ(main[i], PatternByte(g * kPageMainBytes + i));
    for (std::uint32_t i = 0; hasSpare && i < kPageSpareBytes; i += 7)
      ASSERT_EQ(spare[i], PatternByte(mainBytes + g * kPageSpareBytes + i));
  }
  std::vector<std::uint8_t> all(std::size_t{c.Blocks} * kBlockMainBytes);
  EXPECT_EQ(chip.ReadMainBlocks(0, c.Blocks, all.data(), error), c.MainPages == std::uint64_t{c.Blocks} * 64) << error;
  EXPECT_FALSE(chip.ReadPage(c.Blocks, 0, main.data(), nullptr, error));
  EXPECT_FALSE(chip.ReadPage(0, kPagesPerBlock, main.data(), nullptr, error));
  EXPECT_FALSE(chip.ReadMainBlocks(c.Blocks - 1, 2, all.data(), error));
}

const PagesCase kPagesCases[] = {
    {"Whole", kSmallWhole, 8, 512, 512, ""},
    {"CutInTheSpareData", kSmallMain + 3 * 8192 + 100, 8, 512, 192, "spare data from block 3 page 0 to block 7 page 63"},
    {"CutInTheMainData", 1000000, 4, 244, 0, "main data from block 3 page 52 to block 3 page 63, spare data from block 0"},
    {"LongerThanAWholeImage", kSmallWhole + 5000, 16, 529, 0, "main data from block 8 page 17"},
};

INSTANTIATE_TEST_SUITE_P(Files, Pages, ::testing::ValuesIn(kPagesCases),
                         [](const auto& p) { return std::string(p.param.Name); });

TEST(DumpFile, RefusesFilesThatAreNoImage) {
  test::TempDir dir;
  const std::string empty = dir.File("empty.bin"), huge = dir.File("huge.bin");
  for (const std::string& path : {empty, huge}) std::ofstream(path, std::ios::binary).put('\0');
  test::ResizeFile(empty, 0);
  test::ResizeFile(huge, 4ull << 30);
  struct Case {
    std::string Path;
    const char* Says;
  };
  for (const Case& c : {Case{empty, "the file is empty"}, Case{huge, "4 GiB or larger (4294967296 bytes)"},
                        Case{dir.File("missing.bin"), "missing.bin"}}) {
    ImagePageSource chip;
    std::string error;
    EXPECT_FALSE(chip.Open(c.Path, error));
    EXPECT_NE(error.find(c.Says), std::string::npos) << error;
    EXPECT_EQ(chip.Blocks(), 0u);
  }
}

TEST(DumpFile, TheWriterRefusesWhatThePhoneWouldNotHave) {
  const auto table = [](std::vector<PartitionSpec> t) { return t; };
  const std::vector<PartitionSpec> good = {{"BOOT", 1}, {"PIT", 1}, {"DATA", 0xFFFFFFFF}};
  std::vector<PartitionSpec> many;
  for (int i = 0; i < 31; ++i) many.push_back({"P" + std::to_string(i), i == 0 ? 0xFFFFFFFFu : 1u});
  std::vector<std::uint32_t> forty, fortyOne;
  for (std::uint32_t b = 0; b < 41; ++b) {
    fortyOne.push_back(100 + b);
    if (b < 40) forty.push_back(100 + b);
  }
  const std::vector<std::uint32_t> thirtyNine(forty.begin(), forty.end() - 1);
  struct Case {
    const char* Name;
    std::uint32_t ChipMiB;
    std::vector<PartitionSpec> Table;
    std::string Ecc;
    std::vector<std::uint32_t> Bad, Remaps;
    const char* Says;  // empty: accepted
  };
  const Case cases[] = {
      {"Accepted", 512, good, "onenand-h256-smc", {7, 2010}, thirtyNine, ""},
      {"ChipOfAnotherSize", 256, good, "", {}, {}, "not on one of 256 MiB"},
      {"TableShortOfTheReservoir", 512, table({{"A", 1000}, {"B", 1000}}), "", {}, {}, "hold 2000 blocks"},
      {"TableIntoTheReservoir", 512, table({{"A", 2000}, {"B", 5}}), "", {}, {}, "hold 2005 blocks"},
      {"TwoRests", 512, table({{"A", 0}, {"B", 0xFFFFFFFF}}), "", {}, {}, "only one partition"},
      {"RestWithNothingLeft", 512, table({{"A", 2004}, {"B", 0}}), "", {}, {}, "before the rest"},
      {"ThirtyOnePartitions", 512, many, "", {}, {}, "1 to 30 partitions"},
      {"LayoutOverTheDriversBytes", 512, good, "smallpage-normal", {}, {}, "spare bytes 0-5"},
      {"BlockZero", 512, good, "", {}, {0}, "read where they lie"},
      {"TheTablesBlock", 512, good, "", {}, {1}, "read where they lie"},
      {"ReservoirBlock", 512, good, "", {}, {2004}, "only blocks below the reservoir"},
      {"SameBlockTwice", 512, good, "", {}, {9, 9}, "given twice"},
      {"MoreThanTheReservoirHolds", 512, good, "", {}, fortyOne, "41 blocks to replace, but the reservoir has 40"},
      {"FewerWhereReservoirBlocksAreBad", 512, good, "", {2004}, forty, "the reservoir has 39"},
      {"BadPoolBlock", 512, good, "", {2046}, {}, "bad-block layer's own data"},
      {"BadAndReplaced", 512, good, "", {9}, {9}, "both as a bad block and as one to replace"},
      {"BadBlockPastTheChip", 512, good, "", {2048}, {}, "not on a chip of 2048"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    NandSpec nand;
    nand.EccLayout = c.Ecc;
    nand.BadBlocks = c.Bad;
    BmlDumpSpec spec;
    BmlDumpPlan plan;
    std::string error;
    const bool ok = BmlSpecFromImageSpec(ImageSpec{c.ChipMiB, c.Table, ImageFill::Noise}, nand, c.Remaps, spec, error) &&
                    PlanBmlDump(spec, plan, error);
    EXPECT_EQ(ok, std::string(c.Says).empty()) << error;
    if (!ok) {
      EXPECT_NE(error.find(c.Says), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(plan.Spec.Table.back().Blocks, 2002u);
    ASSERT_EQ(plan.Pairs.size(), 39u);
    EXPECT_EQ(plan.Pairs[6], std::make_pair(106u, 2011u)) << "2010 is bad and is skipped";
  }
}

std::uint8_t VolumeByte(std::uint32_t unit, std::uint32_t page, std::uint32_t i) {
  return static_cast<std::uint8_t>((unit * 64 + page) * 5 + i * 11 + (i >> 10));
}

std::vector<std::uint8_t> FileBytes(const std::string& path, std::uint64_t at, std::size_t n) {
  return test::ReadBytesAt(path, at, n);
}

// The dump a technician gets from mkimage --bml: several remaps in different partitions
// (one in the last block of a partition), a volume written into EFS through the remap,
// codes in the spare data. Each partition reads back exactly what was written; the list,
// the layer and the check all see the dump as it was made.
TEST(DumpFile, AWrittenDumpReadsBackExactlyThroughItsRemaps) {
  test::TempDir dir;
  const std::string path = dir.File("phone.bin");
  BmlDumpSpec spec;
  spec.Table = SampleBmlTable();
  spec.Fill = ImageFill::Noise;
  spec.EccLayout = "onenand-h512-normal";
  spec.Remaps = {5, 41, 72, 101, 2003};
  spec.BadBlocks = {300, 2006};
  BmlDumpPlan plan;
  std::string error;
  ASSERT_TRUE(PlanBmlDump(spec, plan, error)) << error;
  ASSERT_TRUE(WriteBmlDump(path, plan, error)) << error;

  constexpr std::size_t kEfs = 2, kKernel = 6, kModem = 11;
  {
    ImagePageSink chip;
    ASSERT_TRUE(chip.Open(path, error)) << error;
    std::vector<std::uint32_t> physical;
    for (std::uint32_t u = 0; u < 40; ++u) {
      std::uint32_t b = plan.First[kEfs] + u;
      for (const auto& [original, replacement] : plan.Pairs)
        if (original == b) b = replacement;
      physical.push_back(b);
    }
    BmlPartitionSink sink(chip, physical, nand::FindLayout(spec.EccLayout));
    std::vector<std::uint8_t> main(kPageMainBytes), spare(kPageSpareBytes, 0xFF);
    for (std::uint32_t u = 0; u < 40; ++u)
      for (std::uint32_t p = 0; p < kPagesPerBlock; ++p) {
        for (std::uint32_t i = 0; i < kPageMainBytes; ++i) main[i] = VolumeByte(u, p, i);
        ASSERT_TRUE(sink.WritePage(u, p, main.data(), spare.data(), error)) << error;
      }
    ASSERT_TRUE(chip.Close(error)) << error;
  }
  EXPECT_EQ(plan.Pairs, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                            {5, 2004}, {41, 2005}, {72, 2007}, {101, 2008}, {2003, 2009}}));

  ImagePageSource chip;
  ASSERT_TRUE(chip.Open(path, error)) << error;
  ASSERT_TRUE(chip.Complete());
  const PhoneDump d = ReadPhoneDump(chip, false);
  ASSERT_TRUE(d.TableFound) << d.TableProblem;
  EXPECT_TRUE(d.Bml.Mountable());
  EXPECT_TRUE(d.Bml.Findings.empty()) << d.Bml.Findings.front().Text;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> remaps;
  for (const BmlRemap& r : d.Bml.Remaps) remaps.emplace_back(r.Block, r.Replacement);
  EXPECT_EQ(remaps, plan.Pairs);
  EXPECT_EQ(d.Bml.Remaps.back().Partition, "MODEM");

  ChunkBuffer buffer;
  ASSERT_TRUE(buffer.Resize(1u << 20));
  std::vector<std::uint8_t> expect(kBlockMainBytes);
  for (const std::size_t k : {kEfs, kKernel, kModem}) {
    const PitEntry& e = d.Table.Entries[k];
    SCOPED_TRACE(e.Name);
    const std::string out = dir.File(e.Name + ".bml");
    BmlView view(chip, EntryBlocks(d, k));
    File file;
    ASSERT_TRUE(file.Create(out, error)) << error;
    std::uint64_t reported = 0;
    ASSERT_TRUE(CopyViewMain(chip, view, file, buffer, error, [&](std::uint64_t done, std::uint64_t) { reported = done; }))
        << error;
    ASSERT_TRUE(file.Close(error)) << error;
    EXPECT_EQ(reported, std::uint64_t{e.Blocks} * kBlockMainBytes);
    for (std::uint32_t u = 0; u < e.Blocks; ++u) {
      if (k == kEfs)
        for (std::uint32_t i = 0; i < kBlockMainBytes; ++i) expect[i] = VolumeByte(u, i / kPageMainBytes, i % kPageMainBytes);
      else
        ComposeLogicalMain(plan, e.FirstBlock + u, expect.data());
      ASSERT_EQ(FileBytes(out, std::uint64_t{u} * kBlockMainBytes, kBlockMainBytes), expect) << "block " << u;
    }
    EXPECT_EQ(test::ReadBytesAt(out, std::uint64_t{e.Blocks} * kBlockMainBytes, 1).size(), 0u);
  }

  // The list reads the table as it always has; the check finds the codes sound and the
  // bad blocks exactly where the driver's marks are.
  ImageModel model;
  RecordingPort port;
  ASSERT_TRUE(model.LoadImageFileAndProcessIt(path, port));
  ASSERT_EQ(model.EntryCount(), 12u);
  EXPECT_EQ(model.PartitionRows[kModem].BegBlock, 1954u);
  NandHealthReport health;
  ASSERT_TRUE(CheckNandHealth(path, NandCheckOptions{}, health, error)) << error;
  EXPECT_EQ(health.Layout, "onenand-h512-normal");
  EXPECT_EQ(health.Total.Corrected + health.Total.Uncorrectable + health.Total.CodeErrors, 0u);
  EXPECT_EQ(health.BadBlocks, (std::vector<std::uint32_t>{5, 41, 72, 101, 300, 2003, 2006}));

  // Cut off in the reservoir's spare data: nothing of the layer is trusted or made up.
  chip = ImagePageSource{};
  test::ResizeFile(path, std::uint64_t{kBmlChipBlocks} * kBlockMainBytes + 2004 * std::uint64_t{kBlockSpareBytes} + 100);
  ImagePageSource cut;
  ASSERT_TRUE(cut.Open(path, error)) << error;
  const PhoneDump c = ReadPhoneDump(cut, false);
  EXPECT_TRUE(c.TableFound) << c.TableProblem;
  EXPECT_EQ(c.Bml.Structure, BmlStructure::None);
  EXPECT_NE(c.Bml.NoStructure.find("44 of blocks 2004 to 2047 cannot be read"), std::string::npos) << c.Bml.NoStructure;
  ASSERT_EQ(c.Bml.Findings.size(), 44u);
  EXPECT_EQ(c.Bml.Findings[0].Kind, FindingKind::UnreadablePage);
  EXPECT_EQ(c.Bml.Findings[0].Block, 2004u);
  EXPECT_NE(c.Bml.Findings[0].Text.find("the file ends at byte"), std::string::npos) << c.Bml.Findings[0].Text;
  EXPECT_TRUE(c.Bml.Remaps.empty());
}

}  // namespace
}  // namespace orvella::phone
