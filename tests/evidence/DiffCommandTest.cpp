// `orvella diff`: two images differing in known sectors are reported exactly, sizes
// and tables that differ come first, and inputs it cannot compare give status 2.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "evidence/EvidenceFixture.h"
#include "evidence/ImageDiff.h"
#include "evidence/ImageScan.h"
#include "image/RecordingPort.h"

namespace orvella::test {
namespace {

// 8 MiB chip, 32 blocks: BOOT 0-1, PIT 2, EFS 3-7, KERNEL 8-11, DATA 12-31.
const std::vector<PartitionSpec> kTable{
    {"BOOT", 2}, {"PIT", 1}, {"EFS", 5}, {"KERNEL", 4}, {"DATA", kRest}};
constexpr std::uint64_t kBlocks = 32;

class DiffCommand : public ::testing::Test {
 protected:
  void SetUp() override { a = MakeImage(dir, "a.bin", 8, kTable, ImageFill::Pattern); }

  std::string CopyOfA(const std::string& name) {
    const std::string b = dir.File(name);
    std::filesystem::copy_file(a, b);
    return b;
  }
  ToolResult Diff(const std::string& b, std::vector<std::string> more = {"--json"}) {
    std::vector<std::string> args{"diff", a, b};
    args.insert(args.end(), more.begin(), more.end());
    return RunTool(dir, args);
  }

  TempDir dir;
  std::string a;
};

struct Expected {
  std::uint64_t mainBlocks, mainSectors, spareSectors;
  std::vector<std::uint64_t> offsets;
};

TEST_F(DiffCommand, ReportsExactlyTheSectorsThatDifferInEachPartition) {
  const std::string b = CopyOfA("b.bin");
  const std::uint64_t dataSpare1 = SpareAt(kBlocks, 20, 3 * 16 + 5);
  const std::uint64_t dataSpare2 = SpareAt(kBlocks, 20, 4 * 16);
  // EFS: sectors 0 and 1 of block 4 (two bytes in sector 1) and sector 7 of block 6;
  // KERNEL: the last byte of block 10; DATA: two spare sectors of block 20 only.
  FlipBytes(b, {MainAt(4, 100), MainAt(4, 600), MainAt(4, 601), MainAt(6, 7 * 512 + 10),
                MainAt(10, kBS - 1), dataSpare1, dataSpare2});
  const ToolResult r = Diff(b);
  ASSERT_EQ(r.exitCode, 1) << r.err;
  const auto j = JsonOf(r);
  EXPECT_FALSE(j["identical"].get<bool>());
  EXPECT_EQ(j["size_a"], j["size_b"]);
  EXPECT_TRUE(j["tables_equal"].get<bool>());

  const Expected expected[] = {
      {0, 0, 0, {}},
      {0, 0, 0, {}},
      {2, 3, 0, {MainAt(4, 100), MainAt(4, 600), MainAt(4, 601), MainAt(6, 7 * 512 + 10)}},
      {1, 1, 0, {MainAt(10, kBS - 1)}},
      {0, 0, 2, {dataSpare1, dataSpare2}},
  };
  ASSERT_EQ(j["partitions"].size(), std::size(expected));
  for (std::size_t k = 0; k < std::size(expected); ++k) {
    const auto& p = j["partitions"][k];
    const Expected& e = expected[k];
    SCOPED_TRACE(p.dump());
    EXPECT_EQ(p["position"], k + 1);
    EXPECT_EQ(p["name"], kTable[k].Name);
    EXPECT_EQ(p["identical"], e.offsets.empty());
    EXPECT_EQ(p["main_blocks_differ"], e.mainBlocks);
    EXPECT_EQ(p["main_sectors_differ"], e.mainSectors);
    EXPECT_EQ(p["spare_sectors_differ"], e.spareSectors);
    EXPECT_EQ(p["first_offsets"].get<std::vector<std::uint64_t>>(), e.offsets);
  }
  EXPECT_TRUE(j["outside"]["identical"].get<bool>());

  const ToolResult text = Diff(b, {});
  EXPECT_EQ(text.exitCode, 1);
  EXPECT_TRUE(Has(text.out, "partition 3 \"EFS\": main data differs in 2 blocks (3 sectors); first at "
                            "0x00100064 0x00100258 0x00100259 0x00180E0A\n")) << text.out;
  EXPECT_TRUE(Has(text.out, "partition 5 \"DATA\": spare data differs in 1 block (2 sectors)")) << text.out;
  EXPECT_TRUE(Has(text.out, "partition 1 \"BOOT\": identical\n")) << text.out;
}

TEST_F(DiffCommand, TheFirstTwentyOffsetsOfARegionAreListed) {
  const std::string b = CopyOfA("b.bin");
  std::vector<std::uint64_t> flips;
  for (std::uint64_t i = 0; i < 30; ++i) flips.push_back(MainAt(14 + i % 3, 1000 * i));
  FlipBytes(b, flips);
  const auto j = JsonOf(Diff(b));
  const auto offsets = j["partitions"][4]["first_offsets"].get<std::vector<std::uint64_t>>();
  std::vector<std::uint64_t> inOrder = flips;
  std::sort(inOrder.begin(), inOrder.end());
  inOrder.resize(kFirstOffsets);
  EXPECT_EQ(offsets, inOrder);
  EXPECT_EQ(j["partitions"][4]["main_sectors_differ"], 30);
  EXPECT_EQ(j["partitions"][4]["main_blocks_differ"], 3);
}

TEST_F(DiffCommand, IdenticalImagesExitZeroAndMainOnlyLeavesTheSpareDataAside) {
  const std::string same = CopyOfA("same.bin");
  ToolResult r = Diff(same, {});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "the images are identical")) << r.out;
  EXPECT_TRUE(JsonOf(Diff(same))["identical"].get<bool>());

  FlipBytes(same, {SpareAt(kBlocks, 0, 0), kBlocks * kBS * 33 / 32 - 1});
  EXPECT_EQ(Diff(same, {}).exitCode, 1);
  r = Diff(same, {"--main-only", "--json"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(JsonOf(r)["main_only"].get<bool>());
}

TEST_F(DiffCommand, SizesThatDifferComeFirstAndTheExtraBlocksLieOutside) {
  // Erased chips of 8 and 16 MiB with one table: the same bytes where both have blocks.
  const std::string small = MakeImage(dir, "small.bin", 8, kTable, ImageFill::Erased);
  const std::string large = MakeImage(dir, "large.bin", 16, kTable, ImageFill::Erased);
  const ToolResult r = RunTool(dir, {"diff", small, large, "--json"});
  ASSERT_EQ(r.exitCode, 1) << r.err;
  const auto j = JsonOf(r);
  EXPECT_EQ(j["size_a"], 8ull * 1024 * 1024 * 33 / 32);
  EXPECT_EQ(j["size_b"], 16ull * 1024 * 1024 * 33 / 32);
  EXPECT_TRUE(j["tables_equal"].get<bool>());
  for (const auto& p : j["partitions"]) EXPECT_TRUE(p["identical"].get<bool>()) << p;
  EXPECT_EQ(j["outside"]["blocks_in_one_image_only"], 32);
  EXPECT_EQ(j["outside"]["first_offsets"][0], 32 * kBS);

  const ToolResult text = RunTool(dir, {"diff", small, large});
  const auto lines = Lines(text.out);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[2], "sizes differ: A has 8650752 bytes, B 17301504");
}

// B is A cut after 20 blocks' worth: B's spare area then holds what A keeps as main data
// of block 20 on, so the spare data of every block differs as well; the offsets of the
// blocks only A holds still come first, smallest first.
TEST_F(DiffCommand, ACutCopyCountsTheMissingBlocksAndKeepsTheSmallestOffsets) {
  const std::string b = CopyOfA("cut.bin");
  std::filesystem::resize_file(b, 20 * kBS * 33 / 32);
  const auto j = JsonOf(Diff(b));
  const auto& data = j["partitions"][4];
  EXPECT_EQ(data["main_blocks_differ"], 12) << data;
  EXPECT_EQ(data["spare_blocks_differ"], 20) << data;
  EXPECT_EQ(data["blocks_in_one_image_only"], 12) << data;
  std::vector<std::uint64_t> offsets;
  for (std::uint64_t block = 20; block < kBlocks; ++block) offsets.push_back(block * kBS);
  const auto got = data["first_offsets"].get<std::vector<std::uint64_t>>();
  ASSERT_EQ(got.size(), kFirstOffsets);
  EXPECT_TRUE(std::equal(offsets.begin(), offsets.end(), got.begin())) << data;
  EXPECT_EQ(got[12], SpareAt(kBlocks, 12, 0)) << "then the spare data A and B both hold";
  for (std::size_t k = 0; k < 4; ++k) {
    const auto& p = j["partitions"][k];
    EXPECT_EQ(p["main_blocks_differ"], 0) << p;
    EXPECT_EQ(p["spare_blocks_differ"], kTable[k].SizeInBlocks) << p;
  }
}

TEST_F(DiffCommand, TablesThatDifferAreNamedRowByRow) {
  std::vector<PartitionSpec> other = kTable;
  other[2].SizeInBlocks = 6;
  other[3].SizeInBlocks = 3;
  const std::string b = MakeImage(dir, "b.bin", 8, other, ImageFill::Pattern);
  const ToolResult r = Diff(b, {});
  ASSERT_EQ(r.exitCode, 1) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[2], "partition tables differ:");
  EXPECT_EQ(lines[3], "  row 3 (\"EFS\"): stored size 5 blocks in A, 6 in B");
  EXPECT_EQ(lines[4], "  row 4 (\"KERNEL\"): stored size 4 blocks in A, 3 in B");
  EXPECT_FALSE(JsonOf(Diff(b))["tables_equal"].get<bool>());
}

struct Trouble {
  const char* name;
  std::function<std::string(const TempDir&)> b;
  std::string says;
};

class DiffTrouble : public DiffCommand, public ::testing::WithParamInterface<Trouble> {};

TEST_P(DiffTrouble, EndsWithStatusTwoAndSaysWhy) {
  const ToolResult r = Diff(GetParam().b(dir));
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Has(r.err, GetParam().says)) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiffTrouble,
    ::testing::Values(
        Trouble{"Missing", [](const TempDir& d) { return d.File("none.bin"); }, NoSuchFileText()},
        Trouble{"Folder", [](const TempDir& d) { return d.Path().string(); }, "it is a folder"},
        Trouble{"LessThanABlock",
                [](const TempDir& d) {
                  std::ofstream(d.File("tiny.bin")) << std::string(100, 'x');
                  return d.File("tiny.bin");
                },
                "is not a full image: its 100 bytes do not hold one erase block"},
        Trouble{"FourGiB",
                [](const TempDir& d) {
                  std::ofstream(d.File("huge.bin"));
                  std::filesystem::resize_file(d.File("huge.bin"), 1ull << 32);
                  return d.File("huge.bin");
                },
                "4 GiB or larger"}),
    [](const auto& c) { return std::string(c.param.name); });

TEST_F(DiffCommand, WrongUsageIsStatusTwo) {
  EXPECT_EQ(RunTool(dir, {"diff", a}).exitCode, 2);
  EXPECT_EQ(RunTool(dir, {"diff", a, a, a}).exitCode, 2);
  EXPECT_EQ(RunTool(dir, {"diff", a, a, "--fast"}).exitCode, 2);
}

// An image that shrinks after it was opened ends the pass with the read's failure,
// never with a comparison of what happened to be there.
TEST_F(DiffCommand, AnImageThatShrinksDuringThePassFailsIt) {
  const std::string b = CopyOfA("b.bin");
  EvidenceImage ea, eb;
  std::string error;
  ASSERT_TRUE(OpenEvidenceImage(a, ea, error)) << error;
  ASSERT_TRUE(OpenEvidenceImage(b, eb, error)) << error;
  std::filesystem::resize_file(b, 20 * kBS);
  ImageDiffer differ(ea, eb, false);
  ScanPlan plan;
  plan.A = &ea;
  plan.B = &eb;
  plan.Lane1 = {&differ};
  LaneRunner inTurn;
  RecordingPort port;
  EXPECT_FALSE(ScanImages(plan, inTurn, port, error));
  EXPECT_TRUE(Has(error, "read beyond end of file \"" + b + "\"")) << error;
}

}  // namespace
}  // namespace orvella::test
