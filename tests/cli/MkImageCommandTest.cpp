// `orvella mkimage`: the image's size, table and fill, and what it refuses.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "RunTool.h"
#include "image/FullImage.h"
#include "image/ImageBuilder.h"
#include "image/RecordingPort.h"

namespace orvella {
namespace {

using test::RunTool;

std::string TableOf(std::size_t entries) {
  std::string text;
  for (std::size_t k = 0; k < entries; ++k) text += (k ? ",P" : "P") + std::to_string(k) + ":1";
  return text;
}

class MkImageCommandTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string out = dir.File("made.bin");
};

// The table a user gives is listed back as it was meant: no partition ends before it begins.
TEST_F(MkImageCommandTest, ATableThatFillsTheChipExactlyIsWrittenAndOnePastItIsNamed) {
  auto r = RunTool(dir, {"mkimage", out, "--chip-mib", "1", "--table", "A:1,EMPTY:0,B:3"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::filesystem::remove(out);
  r = RunTool(dir, {"mkimage", out, "--chip-mib", "8", "--table", "BOOT:2,EFS:4000,DATA:rest"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "orvella: mkimage: partition EFS would end at block 4001 (0x0FA1), past the chip, "
                   "whose blocks are 0x0000..0x001F; see \"orvella mkimage --help\"\n");
}

TEST_F(MkImageCommandTest, WritesAChipOfNMiBWithSpareAndALoadableTable) {
  const auto r = RunTool(dir, {"mkimage", out, "--chip-mib", "2", "--table",
                               "BOOT:2,EMPTY:0,CSC:3,DATA:rest"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(std::filesystem::file_size(out), 2u * 1024 * 1024 + 2u * 1024 * 1024 / 32);

  ImageModel model;
  RecordingPort port;
  ASSERT_TRUE(model.LoadImageFileAndProcessIt(out, port));
  EXPECT_EQ(model.TotalBlocks, 8u);
  const auto& raw = model.GalaxyPartitions.RawEntries;
  ASSERT_EQ(raw.size(), 4u);
  EXPECT_EQ(raw[0].SizeInBlocks, 2u);
  EXPECT_EQ(raw[1].SizeInBlocks, 0u);
  EXPECT_EQ(raw[2].SizeInBlocks, 3u);
  EXPECT_EQ(raw[3].SizeInBlocks, 0xFFFFFFFFu);
  EXPECT_EQ(model.PartitionRows[3].PartitionName, "DATA");
  EXPECT_EQ(model.PartitionRows[3].BegBlock, 5u);
  EXPECT_EQ(model.PartitionRows[3].Blocks, 3u);
}

struct FillCase {
  const char* fill;
  int byteAt;  // expected byte at a probe offset; -1: the pattern
};

class MkImageFillTest : public MkImageCommandTest, public ::testing::WithParamInterface<FillCase> {};

TEST_P(MkImageFillTest, FillsMainAndSpareDataAndWritesTheTableOverBlockOne) {
  const auto r = RunTool(dir, {"mkimage", out, "--chip-mib", "1", "--table", "BOOT:2,DATA:rest",
                               "--fill", GetParam().fill});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<std::uint8_t> table = BuildPitTable({{"BOOT", 2}, {"DATA", 0xFFFFFFFFu}});
  EXPECT_EQ(test::ReadBytesAt(out, 0x40000, table.size()), table);
  // Probes in block 0, right after the table, and in the spare area.
  for (std::uint64_t at : {std::uint64_t{0}, std::uint64_t{0x40000 + table.size()},
                           std::uint64_t{0x80123}, std::uint64_t{0x100000 + 0x7FFF}}) {
    const auto got = test::ReadBytesAt(out, at, 1);
    ASSERT_EQ(got.size(), 1u) << at;
    const int expected = GetParam().byteAt >= 0 ? GetParam().byteAt : PatternByte(at);
    EXPECT_EQ(got[0], expected) << at;
  }
}

INSTANTIATE_TEST_SUITE_P(Fills, MkImageFillTest,
                         ::testing::Values(FillCase{"ff", 0xFF}, FillCase{"zero", 0},
                                           FillCase{"pattern", -1}));

TEST_F(MkImageCommandTest, ErasedFillIsTheDefault) {
  const auto r = RunTool(dir, {"mkimage", "--table", "A:rest", out, "--chip-mib", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(test::ReadBytesAt(out, 0x10, 2), (std::vector<std::uint8_t>{0xFF, 0xFF}));
}

TEST_F(MkImageCommandTest, LargestTableThatFitsInBlockOneIsWritten) {
  // (0x40000 - 48) / 132 = 1985 entries, of one block each on a chip of 2000 blocks.
  const auto r =
      RunTool(dir, {"mkimage", out, "--chip-mib", "500", "--fill", "zero", "--table", TableOf(1985)});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ImageModel model;
  RecordingPort port;
  ASSERT_TRUE(model.LoadImageFileAndProcessIt(out, port));
  EXPECT_EQ(model.PartitionItems.Count, 1985);
  EXPECT_EQ(model.PartitionRows.back().PartitionName, "P1984");
}

TEST_F(MkImageCommandTest, RefusesATableThatDoesNotFitInBlockOne) {
  const auto r = RunTool(dir, {"mkimage", out, "--chip-mib", "1", "--table", TableOf(1986)});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("does not fit in block 1"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(MkImageCommandTest, WrongUsageExitsWithTwoAndWritesNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {"mkimage"},
      {"mkimage", out, "--table", "A:1"},
      {"mkimage", out, "--chip-mib", "1"},
      {"mkimage", "--chip-mib", "1", "--table", "A:1"},
      {"mkimage", out, "--chip-mib", "0", "--table", "A:1"},
      {"mkimage", out, "--chip-mib", "3972", "--table", "A:1"},
      {"mkimage", out, "--chip-mib", "-4", "--table", "A:1"},
      {"mkimage", out, "--chip-mib", "1x", "--table", "A:1"},
      {"mkimage", out, "--chip-mib", "1", "--table", "A"},
      {"mkimage", out, "--chip-mib", "1", "--table", "A:1,,B:2"},
      {"mkimage", out, "--chip-mib", "1", "--table", "A:many"},
      {"mkimage", out, "--chip-mib", "1", "--table", "A:4294967296"},
      {"mkimage", out, "--chip-mib", "1", "--table", std::string(33, 'N') + ":1"},
      {"mkimage", out, "--chip-mib", "1", "--table", "A:1", "--fill", "ones"},
      {"mkimage", out, "--chip-mib", "1", "--table", "A:1", "--fill"},
      {"mkimage", out, "--chip-mib", "1", "--table", "A:1", "--sparse"},
      {"mkimage", out, out, "--chip-mib", "1", "--table", "A:1"},
      {"mkimage", out, "--chip-mib", "1", "--table", "A:1", "--ecc", "onenand"},
      {"mkimage", out, "--chip-mib", "1", "--table", "A:1", "--erased-percent", "101"},
      {"mkimage", out, "--chip-mib", "1", "--table", "A:1", "--bad-blocks", "1,,2"},
      {"mkimage", out, "--chip-mib", "1", "--table", "A:1", "--bad-blocks", "-1"},
      // Tables that run past the chip (4 blocks), at their end or at their start.
      {"mkimage", out, "--chip-mib", "1", "--table", "A:5"},
      {"mkimage", out, "--chip-mib", "1", "--table", "A:3,B:2"},
      {"mkimage", out, "--chip-mib", "1", "--table", "A:4,B:rest"},
      {"mkimage", out, "--chip-mib", "1", "--table", "A:rest,B:1"},
      {"mkimage", out, "--chip-mib", "8", "--table", "EFS:4000,DATA:rest"},
  };
  for (const auto& args : cases) {
    const auto r = RunTool(dir, args);
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    EXPECT_EQ(r.exitCode, 2) << shown;
    EXPECT_NE(r.err.find("; see \"orvella mkimage --help\"\n"), std::string::npos) << shown << r.err;
    EXPECT_EQ(test::Lines(r.err).size(), 1u) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out)) << shown;
  }
}

// The table holds Latin-1 names: what the command line gives as UTF-8 is stored as
// Latin-1 and lists back unchanged; a name that Latin-1 cannot hold is refused.
TEST_F(MkImageCommandTest, NamesAreStoredAsLatin1AndNamesOutsideItAreRefused) {
  std::string fullName;
  for (int i = 0; i < 32; ++i) fullName += "\xC3\xA9";  // 32 characters, 64 UTF-8 bytes
  const std::string umlaut = "\xC3\x84rger";
  const auto r = RunTool(dir, {"mkimage", out, "--chip-mib", "1", "--table",
                               umlaut + ":1," + fullName + ":rest"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ImageModel model;
  RecordingPort port;
  ASSERT_TRUE(model.LoadImageFileAndProcessIt(out, port));
  const auto& raw = model.GalaxyPartitions.RawEntries;
  ASSERT_EQ(raw.size(), 2u);
  EXPECT_EQ(std::string(raw[0].EntryName.begin(), raw[0].EntryName.begin() + 6),
            std::string("\xC4rger\0", 6));
  EXPECT_EQ(std::count(raw[1].EntryName.begin(), raw[1].EntryName.end(), 0xE9), 32);
  EXPECT_EQ(model.PartitionRows[0].PartitionName, umlaut);
  EXPECT_EQ(model.PartitionRows[1].PartitionName, fullName);
  std::filesystem::remove(out);

  const std::vector<std::pair<std::string, std::string>> refusedNames = {
      {"\xD0\x96", "holds a character outside Latin-1 (U+0416)"},
      {"CSC\xE2\x82\xAC", "holds a character outside Latin-1 (U+20AC)"},
      {"\xE9t\xE9", "is not UTF-8 text"},
      {"A\xC3", "is not UTF-8 text"},
      {fullName + "\xC3\xA9", "is longer than 32 characters"}};
  for (const auto& [bad, why] : refusedNames) {
    // A Windows command line is UTF-16 text: bytes that are not UTF-8 cannot reach the tool.
    if (test::kWindows && why == std::string("is not UTF-8 text")) continue;
    const auto refused = RunTool(dir, {"mkimage", out, "--chip-mib", "1", "--table", "A:1," + bad + ":2"});
    EXPECT_EQ(refused.exitCode, 2) << bad;
    EXPECT_NE(refused.err.find("orvella: mkimage: partition name \"" + bad + "\" " + why), std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(out)) << bad;
  }
}

// A bad block must be on the chip; what was begun is removed.
TEST_F(MkImageCommandTest, BadBlockBeyondTheChipFailsAndLeavesNoFile) {
  const auto r = RunTool(dir, {"mkimage", out, "--chip-mib", "1", "--table", "A:1", "--bad-blocks", "2,4"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("bad block 4 is not on a chip of 4 blocks"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(MkImageCommandTest, LeavesAnExistingFileAloneUnlessForced) {
  ASSERT_NO_FATAL_FAILURE(test::MakeImage(out, {{"KEEP", 1}}, 1, ImageFill::Pattern));
  const auto before = test::ReadBytesAt(out, 0, 0x1000);

  const auto refused = RunTool(dir, {"mkimage", out, "--chip-mib", "2", "--table", "NEW:1"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("already exists"), std::string::npos) << refused.err;
  EXPECT_EQ(test::ReadBytesAt(out, 0, 0x1000), before);
  EXPECT_EQ(std::filesystem::file_size(out), 1u * 1024 * 1024 * 33 / 32);

  const auto forced =
      RunTool(dir, {"mkimage", out, "--chip-mib", "2", "--table", "NEW:1", "--force"});
  EXPECT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_EQ(std::filesystem::file_size(out), 2u * 1024 * 1024 * 33 / 32);
}

TEST_F(MkImageCommandTest, UnwritablePlaceFailsWithOneAndNamesTheFile) {
  const std::string inFolder = dir.File("no-such-folder/made.bin");
  const auto r = RunTool(dir, {"mkimage", inFolder, "--chip-mib", "1", "--table", "A:1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find(inFolder), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace orvella
