#include <gtest/gtest.h>

#include "Fixture.h"
#include "image/BlankCheck.h"

namespace orvella::test {
namespace {

// Every length class around the word, group and stride sizes of the fast tests.
const std::size_t kLengths[] = {1, 7, 8, 9, 14, 15, 16, 17, 31, 511, 512, 513, 1040, 4095, 4096, 4097, 4110, 8192};

TEST(ErasedBytes, EveryPositionCountsInMainDataAndOnlyBytes0To13InSpareGroups) {
  for (std::size_t n : kLengths) {
    std::vector<std::uint8_t> data(n + 1, 0xFF);
    data[n] = 0x00;  // just past the range: must never be looked at
    EXPECT_TRUE(IsErased(data.data(), n)) << n;
    EXPECT_TRUE(IsSpareErased(data.data(), n)) << n;
    for (std::size_t at = 0; at < n; ++at) {
      data[at] = 0xFE;
      EXPECT_FALSE(IsErased(data.data(), n)) << n << " at " << at;
      EXPECT_EQ(IsSpareErased(data.data(), n), at % 16 >= 14) << n << " at " << at;
      data[at] = 0xFF;
    }
  }
  EXPECT_TRUE(IsErased(nullptr, 0));
  EXPECT_TRUE(IsSpareErased(nullptr, 0));
}

TEST(ErasedBytes, SpareGroupWithOnlyBytes14And15SetDiffersIsStillErased) {
  std::vector<std::uint8_t> data(8192, 0xFF);
  for (std::size_t g = 0; g < data.size(); g += 16) data[g + 14] = data[g + 15] = 0x00;
  EXPECT_TRUE(IsSpareErased(data.data(), data.size()));
  EXPECT_FALSE(IsErased(data.data(), data.size()));
}

// A port that notes the progress line and the gauge each time the memo is redrawn.
class ProgressPort : public FdWatchingPort {
 public:
  std::vector<std::string> lines;
  std::vector<std::int64_t> gaugeAtLine;
  void LogRedraw() override {
    lines.push_back(Log.back());
    gaugeAtLine.push_back(Pos);
  }
};

class BlankCheck : public ImageTest {
 protected:
  // BOOT, A and D are blank; PIT holds the table; B has a non-0xFF spare byte 13 in
  // its second block; C a non-0xFF last main byte. A differs only in spare bytes 14/15.
  void MakeMixed() {
    Make({{"BOOT", 1}, {"PIT", 1}, {"A", 2}, {"B", 2}, {"C", 2}, {"D", kRest}}, ImageFill::Erased);
    const std::uint64_t spare = 16ull * kBS;
    WriteAt(image, spare + 2 * kBS / 32 + 14, {0x00, 0x12});
    WriteAt(image, spare + 3 * kBS / 32 + 16 * 7 + 14, {0x00, 0x00});
    WriteAt(image, spare + 5 * kBS / 32 + 13, {0x7F});
    WriteAt(image, 8ull * kBS - 1, {0xFE});
  }
  ProgressPort progress;
};

TEST_F(BlankCheck, DecidesEachPartitionAndReportsTheBlankOnes) {
  MakeMixed();
  FileFaults::Disarm();
  ASSERT_TRUE(CheckBlanks(model, progress));

  std::vector<bool> blank;
  for (const auto& row : model.PartitionRows) blank.push_back(row.IsBlank);
  EXPECT_EQ(blank, (std::vector<bool>{true, false, true, false, false, true}));
  EXPECT_EQ(progress.Log, (std::vector<std::string>{
      "", "Checking which Partition is blank...COMPLETE!",
      "Following partitions are found to be completely blank:",
      "  Partition: BOOT at 0000000000000000000000000003FFFF00000000000000000000000000000000",
      "  Partition: A at 000000000008000000000000000FFFFF00000000000000020000000000000003",
      "  Partition: D at 000000000020000000000000003FFFFF0000000000000008000000000000000F"}));
  // Reads (main, then spare only when main is blank): BOOT 2, PIT 1, A 4, B 4, C 3, D 16.
  EXPECT_EQ(FileFaults::Reads(), 30);
  EXPECT_TRUE(progress.ErrorBoxes.empty());
}

TEST_F(BlankCheck, ProgressLineIsReplacedInPlaceAndGaugeFollowsThePartitions) {
  MakeMixed();
  ASSERT_TRUE(CheckBlanks(model, progress));
  std::vector<std::string> expected;
  for (int k = 1; k <= 6; ++k)
    expected.push_back("Checking which Partition is blank..." + std::to_string(k) + "/6");
  EXPECT_EQ(progress.lines, expected);
  EXPECT_EQ(progress.gaugeAtLine, (std::vector<std::int64_t>{0, 1, 2, 4, 6, 8}));
  EXPECT_EQ(progress.SleptMs, 6 * 30);
  EXPECT_EQ(progress.Max, 16);
  EXPECT_EQ(progress.HighestPos, 16);
  EXPECT_EQ(progress.Pos, 0);
}

TEST_F(BlankCheck, NonBlankFirstBlockIsDecidedAfterOneReadOfMainData) {
  Make({{"ALL", kRest}}, ImageFill::Pattern);
  FileFaults::Disarm();
  ASSERT_TRUE(CheckBlanks(model, port));
  EXPECT_EQ(FileFaults::Reads(), 1);
  EXPECT_FALSE(model.PartitionRows[0].IsBlank);
  EXPECT_EQ(port.Log, (std::vector<std::string>{
      "", "Checking which Partition is blank...COMPLETE!", "There are no blank partitions found."}));
  EXPECT_EQ(port.Pos, 0);
}

TEST_F(BlankCheck, EmptyPartitionIsBlankAndARerunRecomputesEveryRow) {
  Make({{"A", 1}, {"PIT", 15}, {"Z", 0}}, ImageFill::Erased);
  ASSERT_TRUE(CheckBlanks(model, port));
  EXPECT_TRUE(model.PartitionRows[0].IsBlank);
  EXPECT_FALSE(model.PartitionRows[1].IsBlank);
  EXPECT_TRUE(model.PartitionRows[2].IsBlank);
  WriteAt(image, 100, {0x00});
  ASSERT_TRUE(CheckBlanks(model, port));
  EXPECT_FALSE(model.PartitionRows[0].IsBlank);
  const std::vector<std::string> tail(port.Log.end() - 2, port.Log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
      "Following partitions are found to be completely blank:",
      "  Partition: Z at 000000000040000000000000003FFFFF0000000000000010000000000000000F"}));
}

TEST_F(BlankCheck, ReadFailureEndsTheCheckWithoutReportKeepingOldFlagsFromTheFailedRowOn) {
  MakeMixed();
  for (auto& row : model.PartitionRows) row.IsBlank = true;
  // BOOT 2, PIT 1 and A 4 reads; the 8th is B's first main chunk.
  FileFaults::ArmRead(8);
  progress.watched = {image};
  EXPECT_FALSE(CheckBlanks(model, progress));
  EXPECT_TRUE(progress.openAtErrorBox.empty());
  ASSERT_EQ(progress.ErrorBoxes.size(), 1u);
  EXPECT_NE(progress.ErrorBoxes[0].find("I/O error while reading"), std::string::npos);
  std::vector<bool> blank;
  for (const auto& row : model.PartitionRows) blank.push_back(row.IsBlank);
  EXPECT_EQ(blank, (std::vector<bool>{true, false, true, true, true, true}));
  EXPECT_EQ(progress.Log, (std::vector<std::string>{"", "Checking which Partition is blank...4/6"}));
  EXPECT_EQ(progress.Pos, 1 + 1 + 2 + 1);
}

TEST_F(BlankCheck, PartitionPastTheImageEndsWithAnErrorBox) {
  Make({{"A", 2}, {"B", 20}}, ImageFill::Erased);
  EXPECT_FALSE(CheckBlanks(model, port));
  ASSERT_EQ(port.ErrorBoxes.size(), 1u);
  EXPECT_NE(port.ErrorBoxes[0].find("read beyond end of image"), std::string::npos) << port.ErrorBoxes[0];
  EXPECT_EQ(port.Log.back(), "Checking which Partition is blank...2/2");
  EXPECT_FALSE(model.PartitionRows[1].IsBlank);
}

TEST_F(BlankCheck, SizesThatWrapAt4GiBAreNotTakenForBlankPartitions) {
  // W is 0x4000 blocks: 4 GiB, a 32-bit length of 0, which would count as blank. It is
  // examined from its first block on and ends the check where it leaves the image.
  Make({{"A", 2}, {"W", 0x4000}, {"V", 1}}, ImageFill::Erased);
  EXPECT_FALSE(CheckBlanks(model, port));
  EXPECT_EQ(port.ErrorBoxes,
            std::vector<std::string>{"I/O error: read beyond end of image \"" + image +
                                     "\": partition \"W\" covers blocks 0x0002..0x4001, "
                                     "the image holds blocks 0x0000..0x000F"});
  EXPECT_EQ(port.Log, (std::vector<std::string>{"", "Checking which Partition is blank...2/3"}));
  EXPECT_FALSE(model.PartitionRows[1].IsBlank);
  EXPECT_EQ(port.Pos, 2 + 15) << "the gauge stays at the block past the end";
}

TEST_F(BlankCheck, RangeTestsReadThroughTheirOwnChunksAndNameFailures) {
  Make({{"A", 2}, {"REST", kRest}}, ImageFill::Erased);
  ChunkBuffer buffer;
  std::string error;
  EXPECT_EQ(CheckMainImageRangeToBeBlank(image, 2 * kBS, 3 * kBS + 100, buffer, error), RangeVerdict::Blank);
  EXPECT_EQ(buffer.size(), kBS);
  WriteAt(image, 5 * kBS + 99, {0x00});
  EXPECT_EQ(CheckMainImageRangeToBeBlank(image, 2 * kBS, 3 * kBS + 100, buffer, error), RangeVerdict::NotBlank);
  EXPECT_EQ(CheckMainImageRangeToBeBlank(image, 2 * kBS, 3 * kBS + 99, buffer, error), RangeVerdict::Blank);
  EXPECT_EQ(CheckReduImageRangeToBeBlank(image, 0, 0, buffer, error), RangeVerdict::Blank);
  const std::uint32_t size = static_cast<std::uint32_t>(ReadAll(image).size());
  EXPECT_EQ(CheckReduImageRangeToBeBlank(image, size - 10, 20, buffer, error), RangeVerdict::Failed);
  EXPECT_NE(error.find("read beyond end of file"), std::string::npos) << error;
  EXPECT_EQ(CheckMainImageRangeToBeBlank(Path("missing.bin"), 0, 1, buffer, error), RangeVerdict::Failed);
  EXPECT_NE(error.find("missing.bin"), std::string::npos);
}

}  // namespace
}  // namespace orvella::test
