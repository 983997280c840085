// Loading a full image file: geometry, table, rows, and every reported failure.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/FileIO.h"
#include "image/FullImage.h"
#include "image/ImageBuilder.h"
#include "image/RecordingPort.h"
#include "support/TestFiles.h"

namespace orvella {
namespace {

using test::MakeImage;
using test::ResizeFile;
using test::TempDir;
using test::WriteBytesAt;
using test::WriteLE32At;

const std::vector<std::string> kDetectionLines = {
    "Detected NAND Page = 0x1000 bytes",
    "Detected NAND Block = 0x00040000 bytes",
    "",
    "Partition Table is found in block: 0x0001",
};

constexpr std::uint64_t kTableAt = 0x40000;
constexpr std::uint64_t kEntriesAt = 0x40030;
// A 4 MiB chip: 16 blocks of main data, then 128 KiB of spare data.
constexpr std::uint64_t kChip4Bytes = 4u * 1024 * 1024 * 33 / 32;

void ExpectNoImage(const ImageModel& model) {
  EXPECT_EQ(model.CurrentImageFile, "");
  EXPECT_EQ(model.PartitionItems.Count, 0);
  EXPECT_TRUE(model.PartitionRows.empty());
  EXPECT_TRUE(model.PartitionItems.Items.empty());
  EXPECT_TRUE(model.GalaxyPartitions.Entries.empty());
}

class LoadTest : public ::testing::Test {
 protected:
  bool Load(const std::string& path) { return model.LoadImageFileAndProcessIt(path, port); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& row : model.PartitionRows) names.push_back(row.PartitionName);
    return names;
  }

  TempDir dir;
  ImageModel model;
  RecordingPort port;
};

TEST_F(LoadTest, WellFormedImageGivesLogGeometryGaugeAndRows) {
  const std::string path = dir.File("a.bin");
  ASSERT_NO_FATAL_FAILURE(MakeImage(path, {{"BOOT", 2}, {"CSC", 6}, {"DATA", 0xFFFFFFFFu}}));

  ASSERT_TRUE(Load(path));

  auto expected = kDetectionLines;
  expected.push_back("Total quantity of listed partitions: 0x0003");
  EXPECT_EQ(port.Log, expected);
  EXPECT_TRUE(port.ErrorBoxes.empty());
  EXPECT_EQ(model.CurrentImageFile, path);
  EXPECT_EQ(model.ImageFileSize, kChip4Bytes);
  EXPECT_EQ(model.MainDataSize, 4u * 1024 * 1024);
  EXPECT_EQ(model.TotalBlocks, 16u);
  EXPECT_EQ(model.SpareAreaStart(), 0x400000u);
  EXPECT_EQ(port.GaugePos(), 0);
  EXPECT_EQ(port.GaugeMax(), static_cast<std::int64_t>(kChip4Bytes / 0x40000 - 1));
  EXPECT_EQ(Names(), (std::vector<std::string>{"BOOT", "CSC", "DATA"}));
  ASSERT_EQ(model.PartitionRows.size(), 3u);
  EXPECT_EQ(model.PartitionRows[1].Position, 2u);
  EXPECT_EQ(model.PartitionRows[1].BegBlock, 2u);
  EXPECT_EQ(model.PartitionRows[1].Blocks, 6u);
  EXPECT_EQ(model.PartitionRows[2].BegBlock, 8u);
  EXPECT_EQ(model.PartitionRows[2].Blocks, 8u);
}

// 528 × n + r bytes reads exactly as 528 × n bytes.
class RemainderTest : public LoadTest, public ::testing::WithParamInterface<std::uint64_t> {};

TEST_P(RemainderTest, TrailingPartialUnitIsNotCounted) {
  const std::string base = dir.File("base.bin");
  const std::string longer = dir.File("longer.bin");
  const std::vector<PartitionSpec> table = {{"BOOT", 3}, {"DATA", 0}};
  ASSERT_NO_FATAL_FAILURE(MakeImage(base, table));
  ASSERT_NO_FATAL_FAILURE(MakeImage(longer, table));
  ASSERT_NO_FATAL_FAILURE(ResizeFile(longer, kChip4Bytes + GetParam()));

  ASSERT_TRUE(Load(base));
  const auto mainData = model.MainDataSize;
  const auto blocks = model.TotalBlocks;
  const auto rows = model.PartitionRows;
  ASSERT_TRUE(Load(longer));

  EXPECT_EQ(model.ImageFileSize, kChip4Bytes + GetParam());
  EXPECT_EQ(model.MainDataSize, mainData);
  EXPECT_EQ(model.TotalBlocks, blocks);
  ASSERT_EQ(model.PartitionRows.size(), rows.size());
  for (std::size_t k = 0; k < rows.size(); ++k) {
    EXPECT_EQ(model.PartitionRows[k].AddressRange, rows[k].AddressRange);
    EXPECT_EQ(model.PartitionRows[k].PartitionSize, rows[k].PartitionSize);
  }
}

INSTANTIATE_TEST_SUITE_P(Remainders, RemainderTest, ::testing::Values(1u, 16u, 512u, 527u));

TEST_F(LoadTest, MainDataShortOfAWholeBlockRoundsTotalBlocksDown) {
  // One 528-byte unit short: 15.998 blocks of main data count as 15, and the spare
  // area is taken to start after block 15, not at the end of the main data.
  const std::string path = dir.File("short.bin");
  ASSERT_NO_FATAL_FAILURE(MakeImage(path, {{"BOOT", 3}, {"DATA", 0xFFFFFFFFu}}));
  ASSERT_NO_FATAL_FAILURE(ResizeFile(path, kChip4Bytes - 528));

  ASSERT_TRUE(Load(path));
  EXPECT_EQ(model.MainDataSize, 4u * 1024 * 1024 - 512);
  EXPECT_EQ(model.TotalBlocks, 15u);
  EXPECT_EQ(model.SpareAreaStart(), 15u * 0x40000);
  EXPECT_EQ(model.PartitionRows[1].Blocks, 12u);
  EXPECT_EQ(model.RangeOf(1).SpareOffset, 15u * 0x40000 + 3u * 0x40000 / 32);
}

// A table anywhere but at 0x40000, or a magic stored in the wrong byte order.
struct MisplacedTable {
  const char* name;
  std::uint64_t tableAt;
  std::uint32_t magic;
};

class MagicTest : public LoadTest, public ::testing::WithParamInterface<MisplacedTable> {};

TEST_P(MagicTest, OnlyTheMagicAtBlockOneIsAccepted) {
  const std::string path = dir.File("m.bin");
  ASSERT_NO_FATAL_FAILURE(MakeImage(path, {{"BOOT", 2}, {"DATA", 0}}));
  std::vector<std::uint8_t> table = BuildPitTable({{"BOOT", 2}, {"DATA", 0}});
  table[0] = static_cast<std::uint8_t>(GetParam().magic);
  table[1] = static_cast<std::uint8_t>(GetParam().magic >> 8);
  table[2] = static_cast<std::uint8_t>(GetParam().magic >> 16);
  table[3] = static_cast<std::uint8_t>(GetParam().magic >> 24);
  ASSERT_NO_FATAL_FAILURE(WriteBytesAt(path, kTableAt, std::vector<std::uint8_t>(table.size(), 0)));
  ASSERT_NO_FATAL_FAILURE(WriteBytesAt(path, GetParam().tableAt, table));

  EXPECT_FALSE(Load(path));
  EXPECT_EQ(port.ErrorBoxes, std::vector<std::string>{"ERROR: Cannot find PIT Partition Table."});
  EXPECT_TRUE(port.Log.empty());
  ExpectNoImage(model);
}

INSTANTIATE_TEST_SUITE_P(
    Places, MagicTest,
    ::testing::Values(MisplacedTable{"BlockZero", 0, kPitMagic},
                      MisplacedTable{"BlockTwo", 0x80000, kPitMagic},
                      MisplacedTable{"SecondPageOfBlockOne", 0x41000, kPitMagic},
                      MisplacedTable{"FourBytesIn", 0x40004, kPitMagic},
                      MisplacedTable{"BigEndianMagic", kTableAt, 0x76983412u}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(LoadTest, StoredSizesZeroAndAllOnesRunToTheEndOfTheDevice) {
  const std::string path = dir.File("sizes.bin");
  ASSERT_NO_FATAL_FAILURE(MakeImage(
      path, {{"A", 3}, {"ZERO", 0}, {"B", 2}, {"ONES", 0xFFFFFFFFu}, {"AFTER", 2}}));
  ASSERT_TRUE(Load(path));
  const auto& entries = model.GalaxyPartitions.Entries;
  const auto& rows = model.PartitionRows;
  ASSERT_EQ(entries.size(), 5u);

  // A stored 0 becomes the rest of the device in the entry too; the running base
  // still adds the stored 0.
  EXPECT_EQ(entries[1].EntryBase, 3u);
  EXPECT_EQ(entries[1].EntrySize, 13u);
  EXPECT_EQ(rows[1].Blocks, 13u);
  EXPECT_EQ(model.GalaxyPartitions.RawEntries[1].SizeInBlocks, 0u);
  EXPECT_EQ(entries[2].EntryBase, 3u);

  // A stored 0xFFFFFFFF stays in the entry; the row and the effective size use the rest.
  EXPECT_EQ(entries[3].EntryBase, 5u);
  EXPECT_EQ(entries[3].EntrySize, 0xFFFFFFFFu);
  EXPECT_EQ(rows[3].Blocks, 11u);
  EXPECT_EQ(model.EffectiveSize(3), 11u);
  EXPECT_EQ(model.EffectiveSize(1), 13u);

  // The running base wraps modulo 2^32 past the 0xFFFFFFFF entry.
  EXPECT_EQ(entries[4].EntryBase, 4u);

  const PartitionRange r = model.RangeOf(3);
  EXPECT_EQ(r.MainOffset, 5u * 0x40000);
  EXPECT_EQ(r.MainLength, 11u * 0x40000);
  EXPECT_EQ(r.SpareOffset, 0x400000u + 5u * 0x40000 / 32);
  EXPECT_EQ(r.SpareLength, 11u * 0x40000 / 32);
}

TEST_F(LoadTest, NamesStopAtZeroOrAfterThirtyTwoBytes) {
  const std::string full = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
  ASSERT_EQ(full.size(), 32u);
  const std::string path = dir.File("names.bin");
  ASSERT_NO_FATAL_FAILURE(MakeImage(path, {{full, 1}, {"", 1}, {"caf\xE9", 1}, {"AB", 1}}));
  // Non-zero bytes right after the full name (its FileName) and after a zero byte
  // inside the fourth name must not become part of any name.
  ASSERT_NO_FATAL_FAILURE(WriteBytesAt(path, kEntriesAt + 48, {'X', 'Y'}));
  ASSERT_NO_FATAL_FAILURE(WriteBytesAt(path, kEntriesAt + 3 * 132 + 16 + 3, {'Q'}));

  ASSERT_TRUE(Load(path));
  EXPECT_EQ(Names(), (std::vector<std::string>{full, "", "caf\xC3\xA9", "AB"}));
  EXPECT_EQ(model.GalaxyPartitions.Entries[0].EntryName, full);
  EXPECT_EQ(model.GalaxyPartitions.RawEntries[0].FileName[0], 'X');
}

TEST_F(LoadTest, ZeroEntriesLogsTheAllocationErrorAfterTheDetectionLines) {
  const std::string path = dir.File("empty.bin");
  ASSERT_NO_FATAL_FAILURE(MakeImage(path, {}));

  EXPECT_FALSE(Load(path));
  auto expected = kDetectionLines;
  expected.push_back("ERROR: Access Violation when setting Length for Dinamic Array.");
  EXPECT_EQ(port.Log, expected);
  EXPECT_TRUE(port.ErrorBoxes.empty());
  ExpectNoImage(model);
}

TEST_F(LoadTest, MissingFileEmptyPathAndFolderAreReportedAsMissing) {
  for (const std::string& path : {dir.File("absent.bin"), std::string(), dir.Path().string()}) {
    port.Log.clear();
    EXPECT_FALSE(Load(path)) << path;
    EXPECT_EQ(port.Log, std::vector<std::string>{"ERROR: Specified file does not exist!!!"}) << path;
    EXPECT_TRUE(port.ErrorBoxes.empty()) << path;
    ExpectNoImage(model);
  }
}

// Files that end inside the header or inside the entries: an error box naming the
// failure, no image.
struct Truncation {
  const char* name;
  std::uint64_t size;
  bool detected;  // the header was read, so the detection lines are logged
};

class TruncatedTest : public LoadTest, public ::testing::WithParamInterface<Truncation> {};

TEST_P(TruncatedTest, ShortFileEndsTheLoadWithAnErrorBox) {
  const std::string path = dir.File("t.bin");
  ASSERT_NO_FATAL_FAILURE(MakeImage(path, {{"BOOT", 2}, {"CSC", 6}, {"DATA", 0}}));
  ASSERT_NO_FATAL_FAILURE(ResizeFile(path, GetParam().size));

  EXPECT_FALSE(Load(path));
  ASSERT_EQ(port.ErrorBoxes.size(), 1u);
  EXPECT_NE(port.ErrorBoxes[0].find("read beyond end of file"), std::string::npos)
      << port.ErrorBoxes[0];
  EXPECT_NE(port.ErrorBoxes[0].find(path), std::string::npos) << port.ErrorBoxes[0];
  EXPECT_EQ(port.Log, GetParam().detected ? kDetectionLines : std::vector<std::string>{});
  ExpectNoImage(model);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, TruncatedTest,
    ::testing::Values(Truncation{"Empty", 0, false}, Truncation{"BeforeBlockOne", 1000, false},
                      Truncation{"InsideHeader", kTableAt + 47, false},
                      Truncation{"AfterHeader", kEntriesAt, true},
                      Truncation{"InsideThirdEntry", kEntriesAt + 2 * 132 + 60, true},
                      Truncation{"OneByteShort", kEntriesAt + 3 * 132 - 1, true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(LoadTest, FileEndingRightAfterTheLastEntryLoads) {
  const std::string path = dir.File("exact.bin");
  ASSERT_NO_FATAL_FAILURE(MakeImage(path, {{"BOOT", 2}, {"CSC", 6}, {"DATA", 0}}));
  ASSERT_NO_FATAL_FAILURE(ResizeFile(path, kEntriesAt + 3 * 132));

  ASSERT_TRUE(Load(path));
  EXPECT_EQ(model.PartitionItems.Count, 3);
  // Less than one block of main data: nothing is left for the "rest" entry.
  EXPECT_EQ(model.TotalBlocks, 0u);
  EXPECT_EQ(model.PartitionRows[2].Blocks, 0u - 8u);
}

TEST_F(LoadTest, HugeEntriesCountIsRefusedBeforeAnythingIsAllocated) {
  // Under the address sanitizer an attempt to allocate 0xFFFFFFFF × 132 bytes aborts.
  for (std::uint32_t count : {0xFFFFFFFFu, 0x01000000u, 4u}) {
    const std::string path = dir.File("huge.bin");
    ASSERT_NO_FATAL_FAILURE(MakeImage(path, {{"BOOT", 2}, {"CSC", 6}, {"DATA", 0}}));
    ASSERT_NO_FATAL_FAILURE(ResizeFile(path, kEntriesAt + 3 * 132 + 100));
    ASSERT_NO_FATAL_FAILURE(WriteLE32At(path, kTableAt + 4, count));
    port.ErrorBoxes.clear();
    port.Log.clear();

    EXPECT_FALSE(Load(path)) << count;
    ASSERT_EQ(port.ErrorBoxes.size(), 1u) << count;
    EXPECT_NE(port.ErrorBoxes[0].find("read beyond end of file"), std::string::npos);
    EXPECT_NE(port.ErrorBoxes[0].find(std::to_string(count) + " entries"), std::string::npos)
        << port.ErrorBoxes[0];
    EXPECT_EQ(port.Log, kDetectionLines);
    ExpectNoImage(model);
    EXPECT_TRUE(model.GalaxyPartitions.RawEntries.empty());
  }
}

TEST_F(LoadTest, FailedEntryReadEndsWithTheInputOutputErrorBox) {
  const std::string path = dir.File("io.bin");
  ASSERT_NO_FATAL_FAILURE(MakeImage(path, {{"BOOT", 2}, {"DATA", 0}}));
  FileFaults::ArmRead(2);  // the header is read 1st, the entries 2nd
  const bool loaded = Load(path);
  FileFaults::Disarm();

  EXPECT_FALSE(loaded);
  ASSERT_EQ(port.ErrorBoxes.size(), 1u);
  EXPECT_NE(port.ErrorBoxes[0].find("I/O error while reading"), std::string::npos);
  ExpectNoImage(model);
}

TEST_F(LoadTest, ImagesOfFourGiBOrMoreAreRefusedWithAnErrorLine) {
  // Sparse: a valid table at block 1, then nothing until the 4 GiB mark.
  const std::string path = dir.File("big.bin");
  ASSERT_NO_FATAL_FAILURE(MakeImage(path, {{"BOOT", 2}, {"DATA", 0}}, 1));
  for (std::uint64_t size : {0x100000000ull, 0x100000000ull + 528 * 7, 0x180000000ull}) {
    ASSERT_NO_FATAL_FAILURE(ResizeFile(path, size));
    port.Log.clear();

    EXPECT_FALSE(Load(path)) << size;
    ASSERT_EQ(port.Log.size(), 1u) << size;
    EXPECT_EQ(port.Log[0].rfind("ERROR: ", 0), 0u) << port.Log[0];
    EXPECT_NE(port.Log[0].find(std::to_string(size)), std::string::npos) << port.Log[0];
    EXPECT_TRUE(port.ErrorBoxes.empty());
    ExpectNoImage(model);
  }
}

TEST_F(LoadTest, LargestImageBelowFourGiBLoadsWithItsTrueGeometry) {
  const std::string path = dir.File("edge.bin");
  ASSERT_NO_FATAL_FAILURE(MakeImage(path, {{"BOOT", 2}, {"DATA", 0xFFFFFFFFu}}, 1));
  ASSERT_NO_FATAL_FAILURE(ResizeFile(path, 0xFFFFFFFFull));

  ASSERT_TRUE(Load(path));
  // 0xFFFFFFFF div 528 = 8134407 units, × 512 = 4164816384 bytes = 15887.5 blocks.
  EXPECT_EQ(model.MainDataSize, 4164816384u);
  EXPECT_EQ(model.TotalBlocks, 15887u);
  EXPECT_EQ(model.PartitionRows[1].Blocks, 15885u);
  EXPECT_EQ(port.GaugeMax(), 16382);
}

TEST_F(LoadTest, SecondLoadReplacesRowsAndFailedLoadLeavesNone) {
  const std::string first = dir.File("first.bin");
  const std::string second = dir.File("second.bin");
  const std::string broken = dir.File("broken.bin");
  ASSERT_NO_FATAL_FAILURE(MakeImage(first, {{"BOOT", 2}, {"CSC", 6}, {"DATA", 0}}));
  ASSERT_NO_FATAL_FAILURE(MakeImage(second, {{"EFS", 4}, {"USER", 0xFFFFFFFFu}}, 8));
  ASSERT_NO_FATAL_FAILURE(MakeImage(broken, {{"X", 1}}));
  ASSERT_NO_FATAL_FAILURE(WriteLE32At(broken, kTableAt, 0));

  ASSERT_TRUE(Load(first));
  model.SetMarked(1, true);
  ASSERT_TRUE(Load(second));
  EXPECT_EQ(model.CurrentImageFile, second);
  EXPECT_EQ(Names(), (std::vector<std::string>{"EFS", "USER"}));
  EXPECT_EQ(model.PartitionItems.Count, 2);
  EXPECT_EQ(model.PartitionItems.Items.size(), 2u);
  EXPECT_EQ(model.GalaxyPartitions.Entries.size(), 2u);
  EXPECT_EQ(model.PartitionRows[1].Blocks, 28u);
  EXPECT_FALSE(model.AnyMarked());
  EXPECT_EQ(model.PartitionRows[1].CheckedType, "");

  EXPECT_FALSE(Load(broken));
  ExpectNoImage(model);
  EXPECT_FALSE(Load(dir.File("gone.bin")));
  ExpectNoImage(model);
}

// The window loads by handing the model its own CurrentImageFile.
TEST_F(LoadTest, LoadingTheModelsOwnCurrentImageFileWorks) {
  const std::string path = dir.File("own.bin");
  ASSERT_NO_FATAL_FAILURE(MakeImage(path, {{"BOOT", 2}, {"DATA", 0}}));
  model.CurrentImageFile = path;
  ASSERT_TRUE(model.LoadImageFileAndProcessIt(model.CurrentImageFile, port));
  EXPECT_EQ(model.CurrentImageFile, path);
  EXPECT_EQ(Names(), (std::vector<std::string>{"BOOT", "DATA"}));
}

}  // namespace
}  // namespace orvella
