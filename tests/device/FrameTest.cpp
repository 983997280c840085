// The run/stop frame: start and stop presses, the end steps and their order, the session
// prologue's failures, rows the device cannot address, and the question before closing
// over unsaved device data.

#include <algorithm>

#include "FakeDevice.h"
#include "files/FileIO.h"

namespace devtest {
namespace {

class Frame : public DeviceTest {
 protected:
  void SetUp() override { LoadImage(StandardImage()); }

  void Press(DeviceButton b) {
    switch (b) {
      case FlashSelectedBtn: cmd_.FlashSelectedBtnClick(); break;
      case ReadSelectedBtn: cmd_.ReadSelectedBtnClick(); break;
      case EraseSelectedBtn: cmd_.EraseSelectedBtnClick(); break;
      case ReadPartitionBtn: cmd_.ReadPartitionBtnClick(); break;
    }
  }
};

TEST_F(Frame, StopPressLeavesStopUntilTheCommandReturnsThenRestoresEverything) {
  win_.Cursor = 2;
  win_.UpdateEnabledButtons();
  ASSERT_EQ(win_.Captions[ReadSelectedBtn], "Read Partition3");

  struct Seen {
    std::string caption;
    int image;
    std::uint8_t flag;
    std::size_t traceBefore, traceAfter;
  } seen{};
  host_.DuringCall = [&] {
    seen.traceBefore = g_trace.size();
    cmd_.ReadSelectedBtnClick();  // the nested second press
    seen.traceAfter = g_trace.size();
    seen.caption = win_.Captions[ReadSelectedBtn];
    seen.image = win_.Images[ReadSelectedBtn];
    seen.flag = host_.StopFlag;
  };
  cmd_.ReadSelectedBtnClick();

  EXPECT_EQ(seen.caption, "&Stop");
  EXPECT_EQ(seen.image, kRunningImageIndex);
  EXPECT_EQ(seen.flag, 1);
  EXPECT_EQ(seen.traceAfter, seen.traceBefore) << "a stop press only raises the flag";

  EXPECT_EQ(host_.Reads.size(), 1u);
  EXPECT_EQ(win_.Rec.Status[0], "Stopped by User.");
  EXPECT_EQ(win_.Rec.Pos, 0);
  EXPECT_EQ(win_.Captions[ReadSelectedBtn], "Read Partition3");
  EXPECT_EQ(win_.Idles[ReadSelectedBtn].Caption, "Read Partition3");
  EXPECT_EQ(win_.Images[ReadSelectedBtn], 3);
  EXPECT_EQ(host_.StopFlag, 0);
  EXPECT_FALSE(cmd_.CommandRunning());
}

TEST_F(Frame, NormalEndClearsTheHostStatusAndRunsTheEndStepsInOrder) {
  host_.DuringCall = [&] { win_.SetStatusText(0, "host: 100% written"); };
  cmd_.FlashSelectedBtnClick();

  EXPECT_EQ(win_.Rec.Status[0], "");
  const std::vector<std::string> expected = {
      "Image[0]=20", "Caption[0]=&Stop", "GaugePos=0", "GaugeMax=0x0", "GaugeMax=0x84000",
      "Write(0x0,0x80000,0)", "Status0=host: 100% written",
      // the command's normal end
      "OnSelectionChange(0,0,0,0)", "UpdateEnabledButtons", "Status0=", "EndSession",
      "GaugePos=0",
      // the frame
      "Status0=", "GaugePos=0", "Image[0]=12", "Caption[0]=Flash Partition1", "EndSession",
      "UpdateEnabledButtons"};
  EXPECT_EQ(g_trace, expected);
}

TEST_F(Frame, StopFlagLeftOverFromEarlierNeverStopsTheNextCommand) {
  host_.StopFlag = 1;
  cmd_.EraseSelectedBtnClick();
  EXPECT_EQ(host_.Erases.size(), 1u);
  EXPECT_EQ(win_.Rec.Status[0], "");
  EXPECT_EQ(host_.StopFlag, 0);
}

TEST_F(Frame, MissingStopFlagIsHarmless) {
  table_.stopFlag = nullptr;
  host_.DuringCall = [&] { cmd_.ReadSelectedBtnClick(); };
  cmd_.ReadSelectedBtnClick();
  EXPECT_EQ(host_.Reads.size(), 1u);
  EXPECT_EQ(win_.Rec.Status[0], "");
  EXPECT_EQ(win_.Captions[ReadSelectedBtn], "Read Partition1");
}

TEST_F(Frame, StartPressOnAnotherDeviceButtonDuringACommandIsIgnored) {
  host_.DuringCall = [&] {
    cmd_.EraseSelectedBtnClick();
    cmd_.ReadPartitionBtnClick();
  };
  cmd_.ReadSelectedBtnClick();
  EXPECT_TRUE(host_.Erases.empty());
  EXPECT_EQ(host_.Reads.size(), 1u);
  EXPECT_EQ(host_.Connects, 1);
  EXPECT_EQ(host_.EndSessions, 2);
  EXPECT_EQ(win_.Captions[EraseSelectedBtn], "Erase Partition1");
  EXPECT_EQ(win_.Captions[ReadPartitionBtn], "&Get Partitions from Device");
}

TEST_F(Frame, UnknownCommandIndexRunsOnlyTheEndSteps) {
  std::string idle = "Some Button";
  win_.Captions[ReadPartitionBtn] = idle;
  cmd_.AtLastCommonButtonFunctions(ReadPartitionBtn, idle, 7, 9);
  EXPECT_EQ(host_.Connects, 0);
  EXPECT_EQ(host_.EndSessions, 1);
  EXPECT_EQ(win_.Captions[ReadPartitionBtn], "Some Button");
  EXPECT_EQ(win_.Images[ReadPartitionBtn], 7);
}

// Commands with the session prologue, by button.
class Prologue : public Frame, public ::testing::WithParamInterface<DeviceButton> {};

TEST_P(Prologue, ConnectFailureEndsSilentlyWithTwoEndSessions) {
  for (const std::uint32_t result : {0u, 0x100u}) {
    g_trace.clear();
    host_.EndSessions = 0;
    host_.ConnectResult = result;
    win_.Rec.Log = {"earlier line"};
    Press(GetParam());
    EXPECT_TRUE(win_.Rec.Log.empty()) << "result " << result;
    EXPECT_EQ(host_.EndSessions, 2);
    EXPECT_EQ(host_.Identifies, 0);
    EXPECT_TRUE(host_.Reads.empty() && host_.Erases.empty());
    EXPECT_EQ(host_.ConnectDescriptor, &host_.Descriptor);
  }
}

TEST_P(Prologue, EmptyConnectCellCountsAsAFailedCall) {
  table_.connect = nullptr;
  Press(GetParam());
  EXPECT_TRUE(win_.Rec.Log.empty());
  EXPECT_EQ(host_.EndSessions, 2);
  EXPECT_EQ(host_.Identifies, 0);
}

TEST_P(Prologue, UnrecognisedChipEndsWithTheErrorLine) {
  host_.Info.PageSize = 0;
  Press(GetParam());
  const std::vector<std::string> log = {
      "", "ERROR: Default FLASH1 Chip was not Recognized by the DCC Loader. Terminating."};
  EXPECT_EQ(win_.Rec.Log, log);
  EXPECT_EQ(host_.Identifies, 1);
  EXPECT_EQ(host_.EndSessions, 1) << "only the frame ends the session";
  EXPECT_TRUE(host_.Reads.empty() && host_.Erases.empty());
}

TEST_P(Prologue, EmptyIdentifyCellLeavesNoStaleChipBehind) {
  cmd_.EraseSelectedBtnClick();  // a session that filled the flash-info block
  ASSERT_EQ(cmd_.FlashInfo().PageSize, 0x1000u);
  table_.identify = nullptr;
  Press(GetParam());
  EXPECT_EQ(win_.Rec.Log.back(),
            "ERROR: Default FLASH1 Chip was not Recognized by the DCC Loader. Terminating.");
}

INSTANTIATE_TEST_SUITE_P(Commands, Prologue,
                         ::testing::Values(ReadSelectedBtn, EraseSelectedBtn, ReadPartitionBtn));

TEST_F(Frame, EveryEmptyCellEndsEveryCommandWithoutACall) {
  table_ = DeviceServiceTable{};
  for (DeviceButton b : {FlashSelectedBtn, ReadSelectedBtn, EraseSelectedBtn, ReadPartitionBtn}) {
    Press(b);
    EXPECT_EQ(win_.Captions[b], win_.Idles[b].Caption);
    EXPECT_EQ(win_.Rec.Pos, 0);
  }
  EXPECT_TRUE(g_trace.end() == std::find(g_trace.begin(), g_trace.end(), "EndSession"));
  EXPECT_TRUE(win_.Rec.ErrorBoxes.empty());
}

// A second press on the running command's button during its first host transfer: that
// transfer fails, the host is asked for nothing more, and the frame reports the stop.
class StopPress : public Frame, public ::testing::WithParamInterface<DeviceButton> {};

TEST_P(StopPress, EndsTheCommandAtItsFirstTransferWithStoppedByUser) {
  win_.ModelData.SetMarked(0, true);
  win_.ModelData.SetMarked(2, true);
  const std::vector<std::uint8_t> before = ReadWholeFile(userFile_);
  std::string captionAtStop;
  host_.DuringCall = [&] {
    Press(GetParam());
    captionAtStop = win_.Captions[GetParam()];
  };
  Press(GetParam());

  EXPECT_EQ(captionAtStop, "&Stop");
  EXPECT_EQ(host_.Reads.size() + host_.Writes.size() + host_.Erases.size(), 1u);
  EXPECT_EQ(win_.Rec.Status[0], "Stopped by User.");
  EXPECT_EQ(win_.Rec.Pos, 0);
  EXPECT_EQ(win_.Captions[GetParam()], win_.Idles[GetParam()].Caption);
  EXPECT_EQ(host_.StopFlag, 0);
  EXPECT_FALSE(cmd_.CommandRunning());
  EXPECT_FALSE(FileExists(win_.TempImagePath())) << "no working copy, no temporary image";
  EXPECT_EQ(win_.ModelData.CurrentImageFile, userFile_);
  EXPECT_TRUE(ReadWholeFile(userFile_) == before);
}

INSTANTIATE_TEST_SUITE_P(Commands, StopPress,
                         ::testing::Values(FlashSelectedBtn, ReadSelectedBtn, EraseSelectedBtn,
                                           ReadPartitionBtn));

// Rows whose data end past 4 GiB, where the host services' 32-bit addresses would wrap
// onto other blocks of the chip: the command asks the host for nothing and says why.
class FarRow : public Frame, public ::testing::WithParamInterface<DeviceButton> {};

TEST_P(FarRow, IsRefusedBeforeAnyHostCall) {
  ImageSpec spec = StandardImage();
  spec.Table = {{"BOOT", 2}, {"W", 0x4000}, {"V", 1}};  // V starts at block 0x4002
  LoadImage(spec, "far.bin");
  const std::vector<std::uint8_t> before = ReadWholeFile(userFile_);
  const struct {
    std::vector<std::size_t> marks;
    int cursor;
    const char* line;
  } kCases[] = {
      {{}, 2,
       "ERROR: Partition \"V\" (block 0x00004002, 0x00000001 blocks) lies beyond the 4 GiB a "
       "device address can reach. Terminating."},
      {{0, 1, 2}, 0,
       "ERROR: Partition \"W\" (block 0x00000002, 0x00004000 blocks) lies beyond the 4 GiB a "
       "device address can reach. Terminating."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.line);
    for (std::size_t k = 0; k < 3; ++k) win_.ModelData.SetMarked(k, false);
    for (std::size_t k : c.marks) win_.ModelData.SetMarked(k, true);
    win_.Cursor = c.cursor;
    win_.UpdateEnabledButtons();
    Press(GetParam());

    EXPECT_EQ(win_.Rec.Log, std::vector<std::string>{c.line});
    EXPECT_EQ(host_.Connects, 0);
    EXPECT_TRUE(host_.Reads.empty() && host_.Writes.empty() && host_.Erases.empty());
    EXPECT_EQ(win_.Rec.Pos, 0);
    EXPECT_EQ(win_.Captions[GetParam()], win_.Idles[GetParam()].Caption);
    EXPECT_FALSE(FileExists(win_.TempImagePath()));
  }
  EXPECT_TRUE(ReadWholeFile(userFile_) == before);
}

INSTANTIATE_TEST_SUITE_P(Commands, FarRow,
                         ::testing::Values(FlashSelectedBtn, ReadSelectedBtn, EraseSelectedBtn));

// Closing over a working copy that holds data read from the device.
class CloseQuestion : public Frame {
 protected:
  void ReadOnce() {
    cmd_.ReadSelectedBtnClick();
    ASSERT_TRUE(cmd_.HoldsUnsavedDeviceData());
  }
};

TEST_F(CloseQuestion, NoQuestionWithoutDeviceData) {
  EXPECT_TRUE(cmd_.CanCloseWindow());
  host_.ReadResults = {0};
  cmd_.ReadSelectedBtnClick();  // a failed read injects nothing
  EXPECT_TRUE(cmd_.CanCloseWindow());
  EXPECT_TRUE(win_.Questions.empty());
}

TEST_F(CloseQuestion, KeepOpenKeepsTheWindowAndTheData) {
  ReadOnce();
  win_.CloseAnswers = {CloseAnswer::KeepOpen};
  EXPECT_FALSE(cmd_.CanCloseWindow());
  ASSERT_EQ(win_.Questions.size(), 1u);
  EXPECT_EQ(win_.Questions[0], kUnsavedDeviceDataQuestion);
  EXPECT_TRUE(cmd_.HoldsUnsavedDeviceData());
}

TEST_F(CloseQuestion, DiscardCloses) {
  ReadOnce();
  win_.CloseAnswers = {CloseAnswer::Discard};
  EXPECT_TRUE(cmd_.CanCloseWindow());
  EXPECT_EQ(win_.Saves, 0);
  EXPECT_TRUE(cmd_.CanCloseWindow()) << "asked once only";
  EXPECT_EQ(win_.Questions.size(), 1u);
}

TEST_F(CloseQuestion, SaveClosesOnlyWhenTheImageWasWritten) {
  ReadOnce();
  win_.SaveSucceeds = false;  // the user cancelled the save dialog
  win_.CloseAnswers = {CloseAnswer::SaveImage, CloseAnswer::SaveImage};
  EXPECT_FALSE(cmd_.CanCloseWindow());
  EXPECT_TRUE(cmd_.HoldsUnsavedDeviceData());
  win_.SaveSucceeds = true;
  EXPECT_TRUE(cmd_.CanCloseWindow());
  EXPECT_EQ(win_.Saves, 2);
  EXPECT_FALSE(cmd_.HoldsUnsavedDeviceData());
}

TEST_F(CloseQuestion, SavingOrReloadingClearsTheMark) {
  ReadOnce();
  cmd_.NoteImageSaved();
  EXPECT_TRUE(cmd_.CanCloseWindow());
  ReadOnce();
  cmd_.NoteImageReloaded();  // a load of the working copy itself keeps its data marked
  EXPECT_TRUE(cmd_.HoldsUnsavedDeviceData());
  win_.ModelData.CurrentImageFile = userFile_;  // the window names the file it loads first
  cmd_.NoteImageReloaded();
  EXPECT_TRUE(cmd_.CanCloseWindow());
  EXPECT_TRUE(win_.Questions.empty());
}

// Getting the table from the device replaces the working copy: the same question first.
TEST_F(CloseQuestion, GetTableAsksBeforeReplacingUnsavedDeviceData) {
  ReadOnce();
  const auto copy = ReadWholeFile(win_.TempImagePath());
  win_.CloseAnswers = {CloseAnswer::KeepOpen};
  cmd_.ReadPartitionBtnClick();
  ASSERT_EQ(win_.Questions, std::vector<std::string>{kUnsavedBeforeTableQuestion});
  EXPECT_EQ(host_.Connects, 1) << "only the read's session; the table command never connected";
  EXPECT_TRUE(ReadWholeFile(win_.TempImagePath()) == copy);
  EXPECT_TRUE(cmd_.HoldsUnsavedDeviceData());
  EXPECT_EQ(win_.Captions[ReadPartitionBtn], win_.Idles[ReadPartitionBtn].Caption);

  win_.CloseAnswers = {CloseAnswer::Discard};
  cmd_.ReadPartitionBtnClick();
  EXPECT_EQ(win_.Questions.size(), 2u);
  EXPECT_EQ(host_.Connects, 2) << "discarding lets the command go on";
}

}  // namespace
}  // namespace devtest
