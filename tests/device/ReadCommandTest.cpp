// Reading partitions from the device into the working copy: the host calls, the gauge,
// the copy and its progress texts, the injection of both halves, and every failure.

#include <filesystem>

#include "FakeDevice.h"
#include "files/FileIO.h"

namespace devtest {
namespace {

class ReadCommand : public DeviceTest {
 protected:
  void SetUp() override {
    LoadImage(StandardImage());
    original_ = ReadWholeFile(userFile_);
  }

  std::string TempImage() const { return win_.TempImagePath(); }

  // The user's image with row k's main and spare data replaced by the chip's.
  void Inject(std::vector<std::uint8_t>& image, std::size_t k, bool main = true,
              bool spare = true) const {
    const PartitionRange r = win_.ModelData.RangeOf(k);
    if (main)
      for (std::uint64_t i = 0; i < r.MainLength; ++i) image[r.MainOffset + i] = ChipMainByte(r.MainOffset + i);
    if (spare)
      for (std::uint64_t i = 0; i < r.SpareLength; ++i)
        image[r.SpareOffset + i] = ChipSpareByte(r.MainOffset / 32 + i);
  }

  void ExpectHostFilesGone() const {
    for (const char* name : {kHostMainFileName, kHostSpareFileName, kHostReadFileName})
      EXPECT_FALSE(FileExists(workDir_ + name)) << name;
  }

  std::vector<std::uint8_t> original_;
};

TEST_F(ReadCommand, MarkedRowsTwoAndFourAreReadInRowOrderAndInjected) {
  win_.ModelData.SetMarked(1, true);
  win_.ModelData.SetMarked(3, true);
  win_.Cursor = 4;
  host_.DuringCall = [&] { win_.Geo.Left += 1000; };  // moves after the prologue are not seen
  cmd_.ReadSelectedBtnClick();

  ASSERT_EQ(host_.Reads.size(), 2u);
  const WindowGeometry g{120, 1031, 590, 45};
  const std::uint32_t addr[] = {2 * 0x40000u, 9 * 0x40000u};
  const std::uint32_t len[] = {0x40000u, 3 * 0x40000u};
  for (int i = 0; i < 2; ++i) {
    const ReadCall& c = host_.Reads[i];
    EXPECT_EQ(c.One, 1u);
    EXPECT_EQ(c.Address, addr[i]);
    EXPECT_EQ(c.Length, len[i]);
    EXPECT_EQ(c.Zero1, 0u);
    EXPECT_EQ(c.Zero2, 0u);
    EXPECT_FALSE(c.TagNull);
    EXPECT_EQ(c.Tag, "tGL0");
    EXPECT_TRUE(c.BufferNull);
    EXPECT_EQ(c.Marker, -1);
    EXPECT_EQ(c.Gauge, &win_.GaugeObject);
    EXPECT_EQ(c.ToFile, 1u);
    EXPECT_EQ(c.Status, &FakeStatusText);
    EXPECT_EQ(c.Geometry.Left, g.Left);
    EXPECT_EQ(c.Geometry.Width, g.Width);
    EXPECT_EQ(c.Geometry.Height, g.Height);
    EXPECT_EQ(c.Geometry.Top, g.Top);
  }
  EXPECT_EQ(win_.Rec.Max, 0x40000 + 3 * 0x40000) << "main data only";
  EXPECT_EQ(win_.Rec.Pos, 0);

  std::vector<std::uint8_t> expected = original_;
  Inject(expected, 1);
  Inject(expected, 3);
  EXPECT_EQ(win_.ModelData.CurrentImageFile, TempImage());
  EXPECT_TRUE(ReadWholeFile(TempImage()) == expected);
  EXPECT_TRUE(ReadWholeFile(userFile_) == original_) << "the user's file is never written";
  ExpectHostFilesGone();
  EXPECT_TRUE(win_.Rec.Log.empty());
  EXPECT_EQ(win_.Rec.Status[0], "");
  EXPECT_EQ(std::count(g_trace.begin(), g_trace.end(), "OnSelectionChange(4,0,0,0)"), 1);
  EXPECT_EQ(host_.EndSessions, 2);
}

TEST_F(ReadCommand, CursorRowOfSixBlocksCountsItsSpareShareInTheGauge) {
  win_.Cursor = 2;
  cmd_.ReadSelectedBtnClick();
  ASSERT_EQ(host_.Reads.size(), 1u);
  EXPECT_EQ(host_.Reads[0].Address, 3 * 0x40000u);
  EXPECT_EQ(host_.Reads[0].Length, 0x180000u);
  EXPECT_EQ(win_.Rec.Max, 0x18C000);
  std::vector<std::uint8_t> expected = original_;
  Inject(expected, 2);
  EXPECT_TRUE(ReadWholeFile(TempImage()) == expected);
}

TEST_F(ReadCommand, MarkedRowOfEffectiveSizeZeroIsRequestedWithLengthZero) {
  win_.ModelData.SetMarked(5, true);
  cmd_.ReadSelectedBtnClick();
  ASSERT_EQ(host_.Reads.size(), 1u);
  EXPECT_EQ(host_.Reads[0].Address, 16 * 0x40000u);
  EXPECT_EQ(host_.Reads[0].Length, 0u);
  EXPECT_TRUE(ReadWholeFile(TempImage()) == original_);
  EXPECT_TRUE(win_.Rec.Log.empty());
}

TEST_F(ReadCommand, FailureOnTheSecondOfThreeRowsKeepsTheFirstAndNeverAsksForTheThird) {
  for (std::size_t k : {0u, 2u, 4u}) win_.ModelData.SetMarked(k, true);
  win_.Cursor = 2;
  host_.ReadResults = {1, 0};
  cmd_.ReadSelectedBtnClick();
  ASSERT_EQ(host_.Reads.size(), 2u);
  EXPECT_EQ(host_.Reads[1].Address, 3 * 0x40000u);
  std::vector<std::uint8_t> expected = original_;
  Inject(expected, 0);
  EXPECT_TRUE(ReadWholeFile(TempImage()) == expected);
  EXPECT_EQ(win_.Rec.Pos, 0);
  EXPECT_EQ(win_.ModelData.CurrentImageFile, TempImage());
  EXPECT_EQ(std::count(g_trace.begin(), g_trace.end(), "OnSelectionChange(2,0,0,0)"), 1);
  EXPECT_TRUE(win_.Rec.Log.empty()) << "no message of the plug-in's own";
}

TEST_F(ReadCommand, ShortMainFileInjectsOnlyTheSpareDataAndSaysSo) {
  win_.Cursor = 3;
  host_.MainFileDelta = -1;
  cmd_.ReadSelectedBtnClick();
  std::vector<std::uint8_t> expected = original_;
  Inject(expected, 3, /*main=*/false, /*spare=*/true);
  EXPECT_TRUE(ReadWholeFile(TempImage()) == expected);
  const std::vector<std::string> log = {
      "ERROR: Partition \"EFS\": main data not injected (the host's file $tGL0Main$.$$$ holds "
      "786431 bytes instead of 786432)."};
  EXPECT_EQ(win_.Rec.Log, log);
  ExpectHostFilesGone();
  EXPECT_TRUE(cmd_.HoldsUnsavedDeviceData());
}

TEST_F(ReadCommand, MissingSpareFileInjectsOnlyTheMainDataAndSaysSo) {
  win_.Cursor = 0;
  host_.LeaveSpareFile = false;
  cmd_.ReadSelectedBtnClick();
  std::vector<std::uint8_t> expected = original_;
  Inject(expected, 0, /*main=*/true, /*spare=*/false);
  EXPECT_TRUE(ReadWholeFile(TempImage()) == expected);
  const std::vector<std::string> log = {
      "ERROR: Partition \"BOOT\": spare data not injected (the host left no file $tGL0Redu$.$$$)."};
  EXPECT_EQ(win_.Rec.Log, log);
  ExpectHostFilesGone();
}

TEST_F(ReadCommand, NeitherFileLeavesTheCopyAsItWas) {
  host_.LeaveMainFile = false;
  host_.SpareFileDelta = 5;
  cmd_.ReadSelectedBtnClick();
  EXPECT_TRUE(ReadWholeFile(TempImage()) == original_);
  EXPECT_EQ(win_.Rec.Log.size(), 2u);
  EXPECT_FALSE(cmd_.HoldsUnsavedDeviceData());
}

TEST_F(ReadCommand, AFlashAfterAReadNamesTheWorkingCopy) {
  cmd_.ReadSelectedBtnClick();
  cmd_.FlashSelectedBtnClick();
  ASSERT_EQ(host_.Writes.size(), 1u);
  const std::string temp = TempImage();
  EXPECT_EQ(host_.Writes[0].ImagePath, std::u16string(temp.begin(), temp.end()));
}

TEST_F(ReadCommand, SecondReadWritesStraightIntoTheCopy) {
  win_.Cursor = 0;
  cmd_.ReadSelectedBtnClick();
  win_.Cursor = 4;
  win_.Rec.OnPump = [&] {
    EXPECT_EQ(win_.Rec.Status[0].rfind("Please wait, creating temporary file copy", 0),
              std::string::npos);
  };
  cmd_.ReadSelectedBtnClick();
  std::vector<std::uint8_t> expected = original_;
  Inject(expected, 0);
  Inject(expected, 4);
  EXPECT_TRUE(ReadWholeFile(TempImage()) == expected);
}

TEST_F(ReadCommand, ARangeBeyondTheImageIsNotWrittenOverOtherData) {
  ImageSpec spec = StandardImage();
  spec.Table = {{"BOOT", 2}, {"HUGE", 40}};
  LoadImage(spec, "huge.bin");
  original_ = ReadWholeFile(userFile_);
  win_.Cursor = 1;
  cmd_.ReadSelectedBtnClick();
  EXPECT_TRUE(ReadWholeFile(TempImage()) == original_);
  ASSERT_EQ(win_.Rec.Log.size(), 2u);
  EXPECT_EQ(win_.Rec.Log[0],
            "ERROR: Partition \"HUGE\": main data not injected (its range lies outside the image).");
  EXPECT_EQ(win_.Rec.Log[1],
            "ERROR: Partition \"HUGE\": spare data not injected (its range lies outside the image).");
}

TEST_F(ReadCommand, WorkingCopyOfTheUsersFileUnderAnotherSpellingIsRefused) {
  const std::string inWork = workDir_ + kTempImageName;
  std::filesystem::copy_file(userFile_, inWork);
  ASSERT_TRUE(win_.LoadFile(workDir_ + "./" + kTempImageName));
  cmd_.ReadSelectedBtnClick();
  ASSERT_EQ(win_.Rec.ErrorBoxes.size(), 1u);
  EXPECT_NE(win_.Rec.ErrorBoxes[0].find("cannot make the working copy"), std::string::npos);
  EXPECT_TRUE(ReadWholeFile(inWork) == original_);
  ExpectHostFilesGone();
}

// Input/output failures: an error box that names the failure, then the frame's end steps.
class ReadFaults : public ReadCommand {
 protected:
  void ExpectFrameEnded() {
    EXPECT_EQ(win_.Rec.Pos, 0);
    EXPECT_EQ(win_.Captions[ReadSelectedBtn], win_.Idles[ReadSelectedBtn].Caption);
    EXPECT_EQ(win_.Images[ReadSelectedBtn], 3);
    EXPECT_EQ(host_.EndSessions, 2);
    ExpectHostFilesGone();
  }
};

TEST_F(ReadFaults, WriteFailureWhileMakingTheCopy) {
  FileFaults::ArmWrite(3);
  cmd_.ReadSelectedBtnClick();
  ASSERT_EQ(win_.Rec.ErrorBoxes.size(), 1u);
  EXPECT_NE(win_.Rec.ErrorBoxes[0].find("I/O error while writing \"" + TempImage() + "\""),
            std::string::npos);
  EXPECT_EQ(win_.ModelData.CurrentImageFile, userFile_);
  EXPECT_FALSE(FileExists(TempImage())) << "no half-made copy is left";
  EXPECT_FALSE(cmd_.HoldsUnsavedDeviceData());
  ExpectFrameEnded();
}

TEST_F(ReadFaults, ReadFailureWhileMakingTheCopy) {
  FileFaults::ArmRead(2);
  cmd_.ReadSelectedBtnClick();
  ASSERT_EQ(win_.Rec.ErrorBoxes.size(), 1u);
  EXPECT_NE(win_.Rec.ErrorBoxes[0].find("I/O error while reading \"" + userFile_ + "\""),
            std::string::npos);
  EXPECT_EQ(win_.ModelData.CurrentImageFile, userFile_);
  ExpectFrameEnded();
}

TEST_F(ReadFaults, WriteFailureWhileInjectingStopsTheLaterRows) {
  win_.Cursor = 0;
  cmd_.ReadSelectedBtnClick();  // makes the copy
  host_.Reads.clear();
  host_.EndSessions = 0;
  win_.ModelData.SetMarked(1, true);
  win_.ModelData.SetMarked(2, true);
  FileFaults::ArmWrite(1);
  cmd_.ReadSelectedBtnClick();
  ASSERT_EQ(win_.Rec.ErrorBoxes.size(), 1u);
  EXPECT_NE(win_.Rec.ErrorBoxes[0].find("I/O error while writing \"" + TempImage() + "\""),
            std::string::npos);
  EXPECT_EQ(host_.Reads.size(), 1u) << "the row after the failure is not read";
  ExpectFrameEnded();
}

TEST_F(ReadFaults, WorkingCopyThatCannotBeCreated) {
  std::filesystem::create_directory(TempImage());  // a folder where the copy should go
  cmd_.ReadSelectedBtnClick();
  EXPECT_EQ(win_.Rec.ErrorBoxes,
            std::vector<std::string>{"I/O error: cannot create \"" + TempImage() + "\": Is a directory"});
  EXPECT_EQ(win_.ModelData.CurrentImageFile, userFile_);
  EXPECT_TRUE(ReadWholeFile(userFile_) == original_);
  EXPECT_FALSE(cmd_.HoldsUnsavedDeviceData());
  ExpectFrameEnded();
}

TEST_F(ReadFaults, MissingSourceImage) {
  std::filesystem::remove(userFile_);
  cmd_.ReadSelectedBtnClick();
  ASSERT_EQ(win_.Rec.ErrorBoxes.size(), 1u);
  EXPECT_NE(win_.Rec.ErrorBoxes[0].find(userFile_), std::string::npos);
  ExpectFrameEnded();
}

// A large image: 48 MiB of main data, so done x 100 passes 32 bits during the copy.
class ReadCommandLarge : public DeviceTest {};

TEST_F(ReadCommandLarge, CopyProgressGoesFromZeroToOneHundredPercentOnTheFirstReadOnly) {
  ImageSpec spec;
  spec.ChipMiB = 48;
  spec.Table = {{"BOOT", 2}, {"PIT", 1}, {"EFS", 2}, {"DATA", 0xFFFFFFFFu}};
  spec.Fill = ImageFill::Zero;
  LoadImage(spec);
  if (HasFatalFailure()) return;
  const std::uint64_t size = 48ull * 1024 * 1024 * 33 / 32;

  std::vector<std::string> texts;
  win_.Rec.OnPump = [&] {
    const std::string& s = win_.Rec.Status[0];
    if (s.rfind("Please wait, creating temporary file copy (", 0) == 0) texts.push_back(s);
  };
  win_.Cursor = 2;
  cmd_.ReadSelectedBtnClick();

  ASSERT_EQ(texts.size(), (size + 0xFFFF) / 0x10000);
  EXPECT_EQ(texts.front(), "Please wait, creating temporary file copy (0%)...");
  EXPECT_EQ(texts.back(), "Please wait, creating temporary file copy (100%)...");
  int last = 0;
  for (const std::string& s : texts) {
    const int percent = std::stoi(s.substr(s.find('(') + 1));
    EXPECT_GE(percent, last);
    EXPECT_LE(percent, 100);
    last = percent;
  }
  EXPECT_EQ(std::count(texts.begin(), texts.end() - 1,
                       "Please wait, creating temporary file copy (100%)..."), 0);

  texts.clear();
  cmd_.ReadSelectedBtnClick();
  EXPECT_TRUE(texts.empty()) << "the second read needs no copy";
  EXPECT_EQ(std::filesystem::file_size(win_.TempImagePath()), size);
}

}  // namespace
}  // namespace devtest
