// Image files that lie about their table: the load refuses them before it allocates
// what the file asks for, and says why.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "files/FileIO.h"
#include "image/FullImage.h"
#include "image/RecordingPort.h"
#include "support/TestFiles.h"

namespace orvella {
namespace {

using test::MakeImage;
using test::ResizeFile;
using test::TempDir;
using test::WriteLE32At;

constexpr std::uint64_t kTableAt = 0x40000;
constexpr std::uint32_t kMostEntries = (kBlockSize - kPitHeaderSize) / kPitEntrySize;  // 1985

struct CountCase {
  const char* name;
  std::uint32_t count;
  std::uint64_t fileSize;  // sparse: only the table's first entries are real
  bool loads;
  const char* boxSays;     // part of the error box when refused
};

class TableCountTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(TableCountTest, CountIsCheckedAgainstBlockOneAndTheFile) {
  const CountCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.File("image.bin");
  ASSERT_NO_FATAL_FAILURE(MakeImage(path, {{"BOOT", 1}, {"PIT", 1}, {"DATA", 0}}));
  ASSERT_NO_FATAL_FAILURE(ResizeFile(path, c.fileSize));
  ASSERT_NO_FATAL_FAILURE(WriteLE32At(path, kTableAt + 4, c.count));

  ImageModel model;
  RecordingPort port;
  FileFaults::Disarm();
  EXPECT_EQ(model.LoadImageFileAndProcessIt(path, port), c.loads);
  // Whatever the count, only the header and at most one block of entries are read.
  EXPECT_LE(FileFaults::Reads(), 2);
  if (c.loads) {
    EXPECT_EQ(model.PartitionRows.size(), c.count);
    EXPECT_TRUE(port.ErrorBoxes.empty());
  } else {
    EXPECT_TRUE(model.PartitionRows.empty());
    EXPECT_TRUE(model.GalaxyPartitions.RawEntries.empty());
    EXPECT_EQ(model.CurrentImageFile, "");
    ASSERT_EQ(port.ErrorBoxes.size(), 1u);
    EXPECT_NE(port.ErrorBoxes[0].find(c.boxSays), std::string::npos) << port.ErrorBoxes[0];
    EXPECT_NE(port.ErrorBoxes[0].find(std::to_string(c.count) + " entries"), std::string::npos)
        << port.ErrorBoxes[0];
  }
}

constexpr std::uint64_t kNearlyFourGiB = 0xFFFFFFFFull;

INSTANTIATE_TEST_SUITE_P(
    Counts, TableCountTest,
    ::testing::Values(
        CountCase{"FillsBlockOne", kMostEntries, 8u << 20, true, ""},
        CountCase{"OneIntoBlockTwo", kMostEntries + 1, 8u << 20, false, "block 1 holds at most 1985"},
        // A file large enough for the entries the count claims: 16 Mi entries would be
        // 2 GiB of table and several more of rows.
        CountCase{"GigabytesOfEntries", 0x01000000u, kNearlyFourGiB, false, "block 1 holds at most"},
        CountCase{"LargestCount", 0xFFFFFFFFu, kNearlyFourGiB, false, "read beyond end of file"},
        CountCase{"PastTheFileEnd", 4, kTableAt + kPitHeaderSize + 3 * kPitEntrySize, false,
                  "read beyond end of file"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace orvella
