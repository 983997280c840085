// Getting the partition table from the device: the probe of blocks 1 to 3, the table
// length, the temporary image byte for byte, its progress texts, a stop during the
// fill, and the limits and failures of the values and files involved.

#include <filesystem>
#include <functional>

#include "FakeDevice.h"
#include "files/FileIO.h"

namespace devtest {
namespace {

class PartitionTable : public DeviceTest {
 protected:
  // Puts `table` (main data) at the start of device block `block`; its spare data follow
  // the chip's pattern, every other byte of the chip is blank.
  void PlaceTable(std::uint32_t block, std::vector<std::uint8_t> table) {
    table_bytes_ = std::move(table);
    const std::uint64_t at = std::uint64_t{block} * host_.Info.EraseBlockSize;
    const std::uint64_t spareFrom = at / 32;
    const std::uint64_t spareTo = (at + host_.Info.EraseBlockSize) / 32;
    host_.MainByte = [this, at](std::uint64_t a) -> std::uint8_t {
      return a >= at && a - at < table_bytes_.size() ? table_bytes_[a - at] : 0xFF;
    };
    host_.SpareByte = [spareFrom, spareTo](std::uint64_t s) -> std::uint8_t {
      return s >= spareFrom && s < spareTo ? ChipSpareByte(s) : 0xFF;
    };
  }

  std::uint64_t M() const { return std::uint64_t{host_.Info.ChipSizeMiB} << 20; }
  std::uint64_t T() const { return M() + M() / 32; }

  // The image the command must write, built directly from the layout.
  std::vector<std::uint8_t> Expected(std::uint32_t block, std::uint64_t L) const {
    std::vector<std::uint8_t> v(T(), 0xFF);
    const std::uint64_t at = std::uint64_t{block} * host_.Info.EraseBlockSize;
    for (std::uint64_t k = 0; k < L; ++k) v[at + k] = host_.MainByte(at + k);
    for (std::uint64_t k = 0; k < L / 32; ++k) v[M() + at / 32 + k] = host_.SpareByte(at / 32 + k);
    return v;
  }

  static std::vector<PartitionSpec> DeviceTable(std::size_t n) {
    std::vector<PartitionSpec> t;
    for (std::size_t k = 0; k < n; ++k) t.push_back({"P" + std::to_string(k), 1});
    if (!t.empty()) t.back().SizeInBlocks = 0xFFFFFFFFu;
    return t;
  }

  std::vector<std::string> HostCalls() const {
    std::vector<std::string> out;
    for (const auto& t : g_trace)
      if (t == "Connect" || t == "EndSession" || t.rfind("Identify", 0) == 0 ||
          t.rfind("Read", 0) == 0 || t.rfind("CreateListClick", 0) == 0)
        out.push_back(t);
    return out;
  }

  std::vector<std::uint8_t> table_bytes_;
};

TEST_F(PartitionTable, TableInBlockOneIsListedFromABlankTemporaryImage) {
  PlaceTable(1, BuildPitTable({{"BOOT", 2}, {"PIT", 1}, {"EFS", 3}, {"DATA", 0xFFFFFFFFu}}));
  cmd_.ReadPartitionBtnClick();

  const std::vector<std::string> calls = {
      "Connect", "Identify(1)", "Read(0x40000,0x1000)", "Read(0x40000,0x1000)", "EndSession",
      "CreateListClick(3)", "EndSession"};
  EXPECT_EQ(HostCalls(), calls);
  for (const ReadCall& c : host_.Reads) {
    EXPECT_EQ(c.One, 1u);
    EXPECT_EQ(c.Zero1 | c.Zero2, 0u);
    EXPECT_TRUE(c.TagNull);
    EXPECT_FALSE(c.BufferNull);
    EXPECT_EQ(c.Marker, 0);
    EXPECT_EQ(c.Gauge, &win_.GaugeObject);
    EXPECT_EQ(c.ToFile, 0u);
    EXPECT_EQ(c.Status, &FakeStatusText);
    EXPECT_EQ(c.Geometry.Width, 1031);
  }
  EXPECT_NE(std::find(g_trace.begin(), g_trace.end(), "GaugeMax=0x7FFFFFFF"), g_trace.end());

  const std::string temp = win_.TempImagePath();
  EXPECT_EQ(std::filesystem::file_size(temp), 4u * 1024 * 1024 * 33 / 32);
  EXPECT_TRUE(ReadWholeFile(temp) == Expected(1, 0x1000));
  EXPECT_EQ(win_.ModelData.CurrentImageFile, temp);
  ASSERT_EQ(win_.ModelData.PartitionRows.size(), 4u);
  EXPECT_EQ(win_.ModelData.PartitionRows[2].PartitionName, "EFS");
  ASSERT_GE(win_.Rec.Log.size(), 2u);
  EXPECT_EQ(win_.Rec.Log[0], "");
  EXPECT_EQ(win_.Rec.Log[1], "Detected NAND Page = 0x1000 bytes");
  EXPECT_EQ(win_.Rec.Status[0], "");
  EXPECT_EQ(win_.Captions[ReadPartitionBtn], "&Get Partitions from Device");
  EXPECT_EQ(win_.Images[ReadPartitionBtn], 42);
  EXPECT_TRUE(win_.Enabled[ReadPartitionBtn]);
  EXPECT_EQ(win_.Rec.Pos, 0);
}

TEST_F(PartitionTable, TableInBlockTwoIsWrittenThereAndTheLoadRejectsIt) {
  PlaceTable(2, BuildPitTable(DeviceTable(3)));
  cmd_.ReadPartitionBtnClick();
  ASSERT_EQ(host_.Reads.size(), 3u);
  EXPECT_EQ(host_.Reads[0].Address, 0x40000u);
  EXPECT_EQ(host_.Reads[1].Address, 0x80000u);
  EXPECT_EQ(host_.Reads[2].Address, 0x80000u);
  EXPECT_TRUE(ReadWholeFile(win_.TempImagePath()) == Expected(2, 0x1000));
  const std::vector<std::string> boxes = {"ERROR: Cannot find PIT Partition Table."};
  EXPECT_EQ(win_.Rec.ErrorBoxes, boxes);
  EXPECT_EQ(win_.ModelData.CurrentImageFile, "");
  EXPECT_FALSE(win_.Enabled[ReadPartitionBtn]);
}

TEST_F(PartitionTable, NoTableInBlocksOneToThreeWritesNoFileAndKeepsTheRows) {
  LoadImage(StandardImage());
  std::vector<std::uint8_t> block3(48, 0);
  block3[0] = 0x11, block3[1] = 0x11, block3[2] = 0x11, block3[3] = 0x11;
  block3[4] = 7;
  block3[47] = 0xEE;
  PlaceTable(3, block3);
  cmd_.ReadPartitionBtnClick();

  ASSERT_EQ(host_.Reads.size(), 3u);
  EXPECT_EQ(host_.Reads[2].Address, 0xC0000u);
  const std::vector<std::string> log = {
      "ERROR: Couldn't find partition table location in the device memory."};
  EXPECT_EQ(win_.Rec.Log, log);
  EXPECT_FALSE(FileExists(win_.TempImagePath()));
  const TGalaxyPartitions& h = win_.ModelData.GalaxyPartitions;
  EXPECT_EQ(h.MagicWord, 0x11111111u);
  EXPECT_EQ(h.EntriesCount, 7u);
  EXPECT_EQ(h.SomeReserved[39], 0xEE);
  EXPECT_EQ(win_.ModelData.PartitionRows.size(), 6u);
  EXPECT_EQ(win_.ModelData.CurrentImageFile, userFile_);
  EXPECT_EQ(host_.EndSessions, 1);
}

struct LengthCase {
  std::uint32_t entries;
  std::uint32_t pageSize;
  std::uint32_t expectedLength;
};

class TableLength : public PartitionTable, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(TableLength, IsRoundedUpToWholePages) {
  const LengthCase c = GetParam();
  host_.Info.PageSize = c.pageSize;
  PlaceTable(1, BuildPitTable(DeviceTable(c.entries)));
  cmd_.ReadPartitionBtnClick();
  ASSERT_EQ(host_.Reads.size(), 2u);
  EXPECT_EQ(host_.Reads[0].Length, c.pageSize) << "the probe reads one page";
  EXPECT_EQ(host_.Reads[1].Length, c.expectedLength);
  EXPECT_TRUE(ReadWholeFile(win_.TempImagePath()) == Expected(1, c.expectedLength));
}

INSTANTIATE_TEST_SUITE_P(Entries, TableLength,
                         ::testing::Values(LengthCase{0, 0x1000, 0x1000}, LengthCase{20, 0x1000, 0x1000},
                                           LengthCase{31, 0x1000, 0x2000}, LengthCase{0, 0x800, 0x800},
                                           LengthCase{31, 0x200, 0x1200}));

TEST_F(PartitionTable, FillTextsRiseToOneHundredOnlyWithTheLastChunk) {
  PlaceTable(1, BuildPitTable(DeviceTable(4)));
  std::vector<std::string> texts;
  win_.Rec.OnPump = [&] { texts.push_back(win_.Rec.Status[0]); };
  cmd_.ReadPartitionBtnClick();

  // Blank stretches of 4 MiB + 128 KiB with 256 KiB blocks: 1 + 14 + 1 + 1 chunks.
  ASSERT_EQ(texts.size(), 17u);
  EXPECT_EQ(texts.front(), "Please wait, creating empty temporary file  (6%)...");
  EXPECT_EQ(texts.back(), "Please wait, creating empty temporary file  (100%)...");
  int last = 0;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    ASSERT_EQ(texts[i].rfind("Please wait, creating empty temporary file  (", 0), 0u);
    const int percent = std::stoi(texts[i].substr(texts[i].find('(') + 1));
    EXPECT_GE(percent, last);
    EXPECT_TRUE(percent < 100 || i + 1 == texts.size());
    last = percent;
  }
}

TEST_F(PartitionTable, StopDuringTheFillStillCompletesAndLoadsTheImage) {
  PlaceTable(1, BuildPitTable(DeviceTable(4)));
  std::string captionAtStop;
  win_.Rec.OnPump = [&] {
    if (captionAtStop.empty()) {
      cmd_.ReadPartitionBtnClick();
      captionAtStop = win_.Captions[ReadPartitionBtn];
    }
  };
  cmd_.ReadPartitionBtnClick();
  EXPECT_EQ(captionAtStop, "&Stop");
  EXPECT_EQ(std::filesystem::file_size(win_.TempImagePath()), T());
  EXPECT_EQ(win_.ModelData.PartitionRows.size(), 4u);
  EXPECT_EQ(win_.Rec.Status[0], "Stopped by User.");
  EXPECT_EQ(host_.StopFlag, 0);
  EXPECT_EQ(win_.Captions[ReadPartitionBtn], "&Get Partitions from Device");
}

TEST_F(PartitionTable, FailedProbeEndsSilentlyKeepingTheLastProbedHeader) {
  PlaceTable(2, BuildPitTable(DeviceTable(2)));
  host_.ReadResults = {1, 0};
  cmd_.ReadPartitionBtnClick();
  EXPECT_EQ(host_.Reads.size(), 2u);
  EXPECT_TRUE(win_.Rec.Log.empty());
  EXPECT_EQ(win_.ModelData.GalaxyPartitions.MagicWord, 0xFFFFFFFFu) << "block 1's bytes";
  EXPECT_FALSE(FileExists(win_.TempImagePath()));
  EXPECT_EQ(host_.EndSessions, 2);
}

TEST_F(PartitionTable, FailedTableReadEndsSilently) {
  PlaceTable(1, BuildPitTable(DeviceTable(2)));
  host_.ReadResults = {1, 0};
  cmd_.ReadPartitionBtnClick();
  EXPECT_EQ(host_.Reads.size(), 2u);
  EXPECT_TRUE(win_.Rec.Log.empty());
  EXPECT_FALSE(FileExists(win_.TempImagePath()));
  const std::vector<std::string> calls = {"Connect", "Identify(1)", "Read(0x40000,0x1000)",
                                          "Read(0x40000,0x1000)", "EndSession", "EndSession"};
  EXPECT_EQ(HostCalls(), calls);
}

struct LimitCase {
  const char* name;
  TFlashInfo info;
  std::uint32_t entries;
  std::size_t reads;
  const char* error;
};

class Limits : public PartitionTable, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(Limits, ValuesOutsideTheLimitsEndWithAnErrorLineAndNoFile) {
  const LimitCase c = GetParam();
  host_.Info = c.info;
  std::vector<std::uint8_t> header = BuildPitTable({});
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<std::uint8_t>(c.entries >> (8 * i));
  PlaceTable(1, header);
  cmd_.ReadPartitionBtnClick();
  ASSERT_EQ(win_.Rec.Log.size(), 1u);
  EXPECT_EQ(win_.Rec.Log[0], c.error);
  EXPECT_EQ(host_.Reads.size(), c.reads);
  EXPECT_FALSE(FileExists(win_.TempImagePath()));
  EXPECT_EQ(host_.EndSessions, 1);
  EXPECT_TRUE(win_.Rec.ErrorBoxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Device, Limits,
    ::testing::Values(
        LimitCase{"ChipZero", {0, 0, 0, 0x40000, 0x1000, 0}, 1, 0,
                  "ERROR: The device reports a chip size of 0 MiB; only 1 to 4095 MiB can be "
                  "processed. Terminating."},
        LimitCase{"Chip4GiB", {0, 0, 4096, 0x40000, 0x1000, 0}, 1, 0,
                  "ERROR: The device reports a chip size of 4096 MiB; only 1 to 4095 MiB can be "
                  "processed. Terminating."},
        LimitCase{"OddPage", {0, 0, 4, 0x40000, 0x300, 0}, 1, 0,
                  "ERROR: The device reports a page size of 0x00000300 bytes; it must be a "
                  "non-zero multiple of 0x00000200 bytes. Terminating."},
        LimitCase{"BlockZero", {0, 0, 4, 0, 0x1000, 0}, 1, 0,
                  "ERROR: The device reports an erase block of 0x00000000 bytes; it must be a "
                  "non-zero multiple of the page size (0x00001000 bytes) and at most 0x04000000 "
                  "bytes. Terminating."},
        LimitCase{"BlockNotPages", {0, 0, 4, 0x40800, 0x1000, 0}, 1, 0,
                  "ERROR: The device reports an erase block of 0x00040800 bytes; it must be a "
                  "non-zero multiple of the page size (0x00001000 bytes) and at most 0x04000000 "
                  "bytes. Terminating."},
        LimitCase{"BlockHuge", {0, 0, 4095, 0x8000000, 0x1000, 0}, 1, 0,
                  "ERROR: The device reports an erase block of 0x08000000 bytes; it must be a "
                  "non-zero multiple of the page size (0x00001000 bytes) and at most 0x04000000 "
                  "bytes. Terminating."},
        LimitCase{"TableLongerThanABlock", {0, 0, 4, 0x40000, 0x1000, 0}, 2000, 1,
                  "ERROR: The partition table read from the device (266240 bytes) does not fit "
                  "in one erase block of 0x00040000 bytes. Terminating."},
        LimitCase{"CountThatWouldWrap", {0, 0, 4, 0x40000, 0x1000, 0}, 0xFFFFFFFFu, 1,
                  "ERROR: The partition table read from the device (566935683072 bytes) does not "
                  "fit in one erase block of 0x00040000 bytes. Terminating."},
        LimitCase{"ChipTooSmall", {0, 0, 1, 0x80000, 0x1000, 0}, 1, 1,
                  "ERROR: The chip of 1 MiB is too small for a partition table in block "
                  "0x00000001 with erase blocks of 0x00080000 bytes. Terminating."}),
    [](const ::testing::TestParamInfo<LimitCase>& p) { return std::string(p.param.name); });

class TableFaults : public PartitionTable {
 protected:
  void ExpectFrameEnded() {
    EXPECT_EQ(win_.Rec.Pos, 0);
    EXPECT_EQ(win_.Captions[ReadPartitionBtn], "&Get Partitions from Device");
    EXPECT_EQ(win_.Images[ReadPartitionBtn], 42);
    EXPECT_EQ(host_.EndSessions, 2);
    EXPECT_EQ(std::count(g_trace.begin(), g_trace.end(), "CreateListClick(3)"), 0);
  }
};

TEST_F(TableFaults, WriteFailureInTheTemporaryImageIsReportedAndLeavesNoFile) {
  PlaceTable(1, BuildPitTable(DeviceTable(3)));
  FileFaults::ArmWrite(3);
  cmd_.ReadPartitionBtnClick();
  ASSERT_EQ(win_.Rec.ErrorBoxes.size(), 1u);
  EXPECT_EQ(win_.Rec.ErrorBoxes[0].rfind("I/O error while writing \"" + win_.TempImagePath() + "\"", 0), 0u);
  EXPECT_FALSE(FileExists(win_.TempImagePath()));
  ExpectFrameEnded();
}

TEST_F(TableFaults, TemporaryImageThatCannotBeCreatedIsReported) {
  PlaceTable(1, BuildPitTable(DeviceTable(3)));
  std::filesystem::remove_all(workDir_);
  cmd_.ReadPartitionBtnClick();
  ASSERT_EQ(win_.Rec.ErrorBoxes.size(), 1u);
  EXPECT_EQ(win_.Rec.ErrorBoxes[0].rfind("I/O error: cannot create \"" + win_.TempImagePath() + "\"", 0), 0u);
  ExpectFrameEnded();
}

TEST_F(PartitionTable, ReplacingAWorkingCopyDropsItsUnsavedMarkAndLaterReadsGoIntoTheNewImage) {
  LoadImage(StandardImage());
  cmd_.ReadSelectedBtnClick();
  ASSERT_TRUE(cmd_.HoldsUnsavedDeviceData());
  PlaceTable(1, BuildPitTable({{"BOOT", 2}, {"PIT", 1}, {"EFS", 3}, {"DATA", 0xFFFFFFFFu}}));
  win_.CloseAnswers = {CloseAnswer::Discard};
  cmd_.ReadPartitionBtnClick();
  EXPECT_EQ(win_.Questions, std::vector<std::string>{kUnsavedBeforeTableQuestion});
  EXPECT_FALSE(cmd_.HoldsUnsavedDeviceData());

  host_.MainByte = ChipMainByte;
  host_.SpareByte = ChipSpareByte;
  std::vector<std::string> texts;
  win_.Rec.OnPump = [&] { texts.push_back(win_.Rec.Status[0]); };
  win_.Cursor = 2;
  cmd_.ReadSelectedBtnClick();
  EXPECT_EQ(texts, std::vector<std::string>({"Please wait, processing data...", ""}));
  const std::vector<std::uint8_t> image = ReadWholeFile(win_.TempImagePath());
  ASSERT_EQ(image.size(), T());
  EXPECT_EQ(image[3 * 0x40000], ChipMainByte(3 * 0x40000));
  EXPECT_EQ(image[M() + 3 * 0x40000 / 32], ChipSpareByte(3 * 0x40000 / 32));
  EXPECT_TRUE(cmd_.HoldsUnsavedDeviceData());
}

// "Discard" only lets the command go on; until the working copy is really replaced it
// keeps its device data and its mark, whichever early failure ends the command.
struct EarlyEnd {
  const char* name;
  std::function<void(FakeHost&)> arrange;
};
void PrintTo(const EarlyEnd& e, std::ostream* os) { *os << e.name; }

class DiscardThenEarlyEnd : public PartitionTable, public ::testing::WithParamInterface<EarlyEnd> {};

TEST_P(DiscardThenEarlyEnd, KeepsTheWorkingCopyAndItsMark) {
  LoadImage(StandardImage());
  cmd_.ReadSelectedBtnClick();
  ASSERT_TRUE(cmd_.HoldsUnsavedDeviceData());
  const std::vector<std::uint8_t> copy = ReadWholeFile(win_.TempImagePath());
  PlaceTable(1, BuildPitTable(DeviceTable(3)));
  GetParam().arrange(host_);
  win_.CloseAnswers = {CloseAnswer::Discard, CloseAnswer::KeepOpen};
  cmd_.ReadPartitionBtnClick();

  EXPECT_EQ(win_.Questions.size(), 1u);
  EXPECT_TRUE(cmd_.HoldsUnsavedDeviceData());
  EXPECT_EQ(win_.ModelData.CurrentImageFile, win_.TempImagePath());
  EXPECT_EQ(win_.ModelData.PartitionRows.size(), 6u);
  EXPECT_TRUE(ReadWholeFile(win_.TempImagePath()) == copy);
  EXPECT_FALSE(cmd_.CanCloseWindow()) << "the close still asks";
  EXPECT_EQ(win_.Questions.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, DiscardThenEarlyEnd,
    ::testing::Values(EarlyEnd{"connect", [](FakeHost& h) { h.ConnectResult = 0; }},
                      EarlyEnd{"chip", [](FakeHost& h) { h.Info.PageSize = 0; }},
                      EarlyEnd{"probe", [](FakeHost& h) { h.ReadResults = {0}; }},
                      EarlyEnd{"no_table", [](FakeHost& h) { h.MainByte = [](std::uint64_t) -> std::uint8_t { return 0xFF; }; }},
                      EarlyEnd{"table_read", [](FakeHost& h) { h.ReadResults = {1, 0}; }},
                      EarlyEnd{"limits", [](FakeHost& h) { h.Info.ChipSizeMiB = 0; }}),
    [](const ::testing::TestParamInfo<EarlyEnd>& p) { return std::string(p.param.name); });

// A write failure after the temporary image was truncated: when that file was the
// current image, the list goes (a file that is gone is never named); otherwise the
// user's image and its rows stay.
TEST_F(TableFaults, WriteFailureOverTheCurrentWorkingCopyLeavesNoImageNamingIt) {
  for (const bool workingCopyCurrent : {true, false}) {
    SCOPED_TRACE(workingCopyCurrent);
    LoadImage(StandardImage());
    if (workingCopyCurrent) {
      cmd_.ReadSelectedBtnClick();
      ASSERT_EQ(win_.ModelData.CurrentImageFile, win_.TempImagePath());
    } else {
      WriteWholeFile(win_.TempImagePath(), {1, 2, 3});  // left over from an earlier run
    }
    PlaceTable(1, BuildPitTable(DeviceTable(3)));
    win_.CloseAnswers = {CloseAnswer::Discard};
    win_.Rec.ErrorBoxes.clear();
    FileFaults::ArmWrite(3);
    cmd_.ReadPartitionBtnClick();
    FileFaults::Disarm();

    ASSERT_EQ(win_.Rec.ErrorBoxes.size(), 1u);
    EXPECT_FALSE(FileExists(win_.TempImagePath()));
    EXPECT_FALSE(cmd_.HoldsUnsavedDeviceData());
    if (workingCopyCurrent) {
      EXPECT_EQ(win_.ModelData.CurrentImageFile, "");
      EXPECT_TRUE(win_.ModelData.PartitionRows.empty());
      EXPECT_EQ(win_.Cursor, -1);
      EXPECT_EQ(win_.Rec.Log.back(), "ERROR: Specified file does not exist!!!");
    } else {
      EXPECT_EQ(win_.ModelData.CurrentImageFile, userFile_);
      EXPECT_EQ(win_.ModelData.PartitionRows.size(), 6u);
    }
  }
}

}  // namespace
}  // namespace devtest
