// The device commands with everything they depend on failing in turn, through the fake
// host of tests/device:
//  - every host service call of every command failing (and a stop press during every
//    transfer): the command ends through its failure path with no message of its own
//    (the frame says "Stopped by User." after a stop), the later rows are not touched,
//    the session is ended, the button and gauge are restored, the user's image is
//    unchanged, and the working copy holds exactly the rows read before the failure;
//  - every file read and write of the working copy, the injection and the temporary-image
//    build failing in turn: one error box naming the failure, the user's image unchanged,
//    no half-made copy or temporary image left, and a working copy that differs from the
//    user's image only inside the rows the command was reading.

#include <gtest/gtest.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "hardening/SweepSupport.h"
#include "files/FileIO.h"
#include "image/ImageBuilder.h"

namespace devtest {
namespace {

// The fixture of the device suites as an object, so one test can set it up afresh for
// every failure point.
struct Rig : DeviceTest {
  void TestBody() override {}
  using DeviceTest::cmd_;
  using DeviceTest::host_;
  using DeviceTest::userDir_;
  using DeviceTest::userFile_;
  using DeviceTest::win_;
  using DeviceTest::workDir_;

  // Serves `table` at the start of device block 1; the rest of the chip is blank.
  void PlaceTable(std::vector<std::uint8_t> table) {
    tableBytes = std::move(table);
    const std::uint64_t at = host_.Info.EraseBlockSize;
    host_.MainByte = [this, at](std::uint64_t a) -> std::uint8_t {
      return a >= at && a - at < tableBytes.size() ? tableBytes[a - at] : 0xFF;
    };
  }
  std::vector<std::uint8_t> tableBytes;
};

enum class Command { ReadMarked, ReadCursor, ReadIntoCopy, FlashMarked, FlashCursor,
                     EraseMarked, EraseCursor, GetTable };

struct Scenario {
  const char* name;
  Command command;
};

const Scenario kScenarios[] = {
    {"ReadMarked", Command::ReadMarked},     {"ReadCursor", Command::ReadCursor},
    {"ReadIntoCopy", Command::ReadIntoCopy}, {"FlashMarked", Command::FlashMarked},
    {"FlashCursor", Command::FlashCursor},   {"EraseMarked", Command::EraseMarked},
    {"EraseCursor", Command::EraseCursor},   {"GetTable", Command::GetTable},
};

bool IsFlash(Command c) { return c == Command::FlashMarked || c == Command::FlashCursor; }

DeviceButton ButtonOf(Command c) {
  switch (c) {
    case Command::FlashMarked: case Command::FlashCursor: return FlashSelectedBtn;
    case Command::EraseMarked: case Command::EraseCursor: return EraseSelectedBtn;
    case Command::GetTable: return ReadPartitionBtn;
    default: return ReadSelectedBtn;
  }
}

void Press(Rig& r, DeviceButton b) {
  switch (b) {
    case FlashSelectedBtn: r.cmd_.FlashSelectedBtnClick(); break;
    case EraseSelectedBtn: r.cmd_.EraseSelectedBtnClick(); break;
    case ReadPartitionBtn: r.cmd_.ReadPartitionBtnClick(); break;
    default: r.cmd_.ReadSelectedBtnClick(); break;
  }
}

// A 2 MiB chip (8 blocks): BOOT 0, PIT 1, CSC 2-3, EFS 4, DATA 5-6, TAIL 7 (to the end).
// Small, so that a sweep step stays cheap even unoptimised under the sanitizers.
const std::vector<std::uint8_t>& UserImage() {
  static const std::vector<std::uint8_t> bytes = [] {
    TempFolder dir;
    const std::string path = dir.Path() + "image.bin";
    std::string error;
    const ImageSpec spec{2, {{"BOOT", 1}, {"PIT", 1}, {"CSC", 2}, {"EFS", 1}, {"DATA", 2},
                             {"TAIL", 0xFFFFFFFFu}},
                         ImageFill::Pattern};
    EXPECT_TRUE(WriteFullImage(path, spec, error)) << error;
    return orvella::test::ReadFile(path);
  }();
  return bytes;
}

// Rows read by the read scenarios, in order.
std::vector<std::size_t> RowsRead(Command c) {
  if (c == Command::ReadCursor) return {2};
  if (c == Command::ReadMarked || c == Command::ReadIntoCopy) return {1, 3, 4};
  return {};
}

// Loads the standard image and prepares the scenario on a fresh host; ReadIntoCopy first
// makes the working copy with a clean read of row 0.
void Prepare(Rig& r, Command c) {
  r.userFile_ = r.userDir_ + "user.bin";
  ASSERT_NO_FATAL_FAILURE(orvella::test::WriteFile(r.userFile_, UserImage()));
  ASSERT_TRUE(r.win_.LoadFile(r.userFile_));
  if (c == Command::ReadIntoCopy) {
    r.win_.Cursor = 0;
    r.cmd_.ReadSelectedBtnClick();
    ASSERT_EQ(r.win_.ModelData.CurrentImageFile, r.win_.TempImagePath());
  }
  const bool marked = c == Command::ReadMarked || c == Command::ReadIntoCopy ||
                      c == Command::FlashMarked || c == Command::EraseMarked;
  r.win_.Cursor = 2;
  if (marked)
    for (std::size_t k : {1, 3, 4}) r.win_.ModelData.SetMarked(k, true);
  r.win_.UpdateEnabledButtons();
  r.host_ = FakeHost();
  r.host_.WorkFolder = r.workDir_;
  // Only the get-table command needs a table on the chip; the others read its pattern.
  if (c == Command::GetTable)
    r.PlaceTable(BuildPitTable({{"BOOT", 2}, {"PIT", 1}, {"EFS", 3}, {"DATA", 0xFFFFFFFFu}}));
  g_trace.clear();
  r.win_.Rec.ErrorBoxes.clear();
}

// What the image file at `path` must hold: the user's image with the given rows read
// from the chip (main and spare data).
std::vector<std::uint8_t> WithRowsRead(const Rig& r, const std::vector<std::uint8_t>& user,
                                       const std::vector<std::size_t>& rows) {
  std::vector<std::uint8_t> out = user;
  for (std::size_t k : rows) {
    const PartitionRange p = r.win_.ModelData.RangeOf(k);
    for (std::uint64_t i = 0; i < p.MainLength; ++i) out[p.MainOffset + i] = ChipMainByte(p.MainOffset + i);
    for (std::uint64_t i = 0; i < p.SpareLength; ++i)
      out[p.SpareOffset + i] = ChipSpareByte(p.MainOffset / 32 + i);
  }
  return out;
}

// True when every byte of `v` equals the byte of `a` or of `b` at its place; whole runs
// are compared at once, so the check stays cheap.
bool EachByteOneOf(const std::vector<std::uint8_t>& v, const std::vector<std::uint8_t>& a,
                   const std::vector<std::uint8_t>& b) {
  if (v.size() != a.size() || v.size() != b.size()) return false;
  constexpr std::size_t kRun = 4096;
  for (std::size_t at = 0; at < v.size(); at += kRun) {
    const std::size_t n = std::min(kRun, v.size() - at);
    if (std::memcmp(&v[at], &a[at], n) == 0 || std::memcmp(&v[at], &b[at], n) == 0) continue;
    for (std::size_t i = at; i < at + n; ++i)
      if (v[i] != a[i] && v[i] != b[i]) return false;
  }
  return true;
}

void ExpectFrameEnded(const Rig& r, Command c) {
  const DeviceButton b = ButtonOf(c);
  EXPECT_FALSE(r.cmd_.CommandRunning());
  EXPECT_EQ(r.win_.Captions[b], r.win_.Idles[b].Caption);
  EXPECT_EQ(r.win_.Images[b], r.win_.Idles[b].ImageIndex);
  EXPECT_EQ(r.win_.Rec.Pos, 0);
  EXPECT_EQ(r.host_.StopFlag, 0);
  ASSERT_GE(r.host_.EndSessions, 1);
  std::string lastHostCall;
  for (const auto& t : g_trace)
    if (t == "Connect" || t == "EndSession" || t.rfind("Identify", 0) == 0 ||
        t.rfind("Read(", 0) == 0 || t.rfind("Write(", 0) == 0 || t.rfind("Erase(", 0) == 0)
      lastHostCall = t;
  EXPECT_EQ(lastHostCall, "EndSession") << "the session is ended after the last transfer";
  for (const char* name : {kHostMainFileName, kHostSpareFileName, kHostReadFileName})
    EXPECT_FALSE(orvella::FileExists(r.workDir_ + name)) << name << " left behind";
}

// ---- host services ------------------------------------------------------------------

enum class HostFault { Connect, Identify, Transfer, StopDuringTransfer };

struct HostCase {
  Scenario scenario;
  HostFault fault;
};

class HostFaultSweep : public ::testing::TestWithParam<HostCase> {};

TEST_P(HostFaultSweep, EveryCallFailingEndsTheCommandThroughItsFailurePath) {
  const Command c = GetParam().scenario.command;
  const HostFault fault = GetParam().fault;
  const bool reads = !RowsRead(c).empty();

  // Clean run: how many transfers there are, and the user's image.
  std::size_t transfers = 0;
  std::vector<std::uint8_t> user;
  {
    Rig r;
    ASSERT_NO_FATAL_FAILURE(Prepare(r, c));
    user = orvella::test::ReadFile(r.userFile_);
    Press(r, ButtonOf(c));
    ASSERT_TRUE(r.win_.Rec.ErrorBoxes.empty());
    transfers = r.host_.Reads.size() + r.host_.Writes.size() + r.host_.Erases.size();
    EXPECT_EQ(r.host_.Connects, IsFlash(c) ? 0 : 1);
  }
  ASSERT_GT(transfers, 0u);
  const std::size_t points =
      fault == HostFault::Connect || fault == HostFault::Identify ? 1 : transfers;

  for (std::size_t j = 0; j < points; ++j) {
    SCOPED_TRACE("failing call " + std::to_string(j + 1) + " of " + std::to_string(points));
    Rig r;
    ASSERT_NO_FATAL_FAILURE(Prepare(r, c));
    const std::string imageBefore = r.win_.ModelData.CurrentImageFile;
    const std::size_t rowsBefore = r.win_.ModelData.PartitionRows.size();
    const std::vector<std::uint8_t> copyBefore =
        c == Command::ReadIntoCopy ? orvella::test::ReadFile(r.win_.TempImagePath()) : user;
    std::size_t calls = 0;
    switch (fault) {
      case HostFault::Connect: r.host_.ConnectResult = 0; break;
      case HostFault::Identify: r.host_.Info.PageSize = 0; break;
      case HostFault::Transfer: {
        std::deque<std::uint32_t> results(j, 1);
        results.push_back(0x100);  // only the low byte counts: this is a failure
        r.host_.ReadResults = r.host_.WriteResults = r.host_.EraseResults = results;
        // The get-table command reads twice: probe and table; both queues run together.
        break;
      }
      case HostFault::StopDuringTransfer:
        r.host_.DuringCall = [&] {
          if (calls++ == j) Press(r, ButtonOf(c));
        };
        break;
    }
    Press(r, ButtonOf(c));

    ASSERT_NO_FATAL_FAILURE(ExpectFrameEnded(r, c));
    EXPECT_TRUE(r.win_.Rec.ErrorBoxes.empty()) << r.win_.Rec.ErrorBoxes.front();
    EXPECT_EQ(orvella::test::ReadFile(r.userFile_), user) << "the user's image was changed";
    const std::size_t made = r.host_.Reads.size() + r.host_.Writes.size() + r.host_.Erases.size();
    if (fault == HostFault::Connect) {
      EXPECT_TRUE(r.win_.Rec.Log.empty());
      EXPECT_EQ(made, 0u);
    } else if (fault == HostFault::Identify) {
      ASSERT_FALSE(r.win_.Rec.Log.empty());
      EXPECT_EQ(r.win_.Rec.Log.back(),
                "ERROR: Default FLASH1 Chip was not Recognized by the DCC Loader. Terminating.");
      EXPECT_EQ(made, 0u);
    } else {
      EXPECT_EQ(made, j + 1) << "nothing is asked of the host after the failing call";
      for (const auto& line : r.win_.Rec.Log)
        EXPECT_NE(line.rfind("ERROR", 0), 0u) << "the plug-in adds no message: " << line;
      if (fault == HostFault::StopDuringTransfer) {
        EXPECT_EQ(r.win_.Rec.Status[0], "Stopped by User.");
      }
    }

    if (reads) {
      // Rows read before the failing call are in the working copy, the others are not.
      std::vector<std::size_t> done = RowsRead(c);
      const std::size_t got = fault == HostFault::Transfer || fault == HostFault::StopDuringTransfer ? j : 0;
      done.resize(got);
      if (got == 0) {
        EXPECT_EQ(r.win_.ModelData.CurrentImageFile, imageBefore);
        if (c != Command::ReadIntoCopy) {
          EXPECT_FALSE(orvella::FileExists(r.win_.TempImagePath())) << "a copy with nothing read in it";
        }
      } else {
        ASSERT_EQ(r.win_.ModelData.CurrentImageFile, r.win_.TempImagePath());
        EXPECT_TRUE(orvella::test::ReadFile(r.win_.TempImagePath()) == WithRowsRead(r, copyBefore, done));
        EXPECT_TRUE(r.cmd_.HoldsUnsavedDeviceData());
      }
    }
    if (c == Command::GetTable) {
      EXPECT_FALSE(orvella::FileExists(r.win_.TempImagePath())) << "no image without a table";
      EXPECT_EQ(r.win_.ModelData.CurrentImageFile, imageBefore);
      EXPECT_EQ(r.win_.ModelData.PartitionRows.size(), rowsBefore);
    }
  }
}

std::vector<HostCase> HostCases() {
  std::vector<HostCase> cases;
  for (const Scenario& s : kScenarios)
    for (HostFault f : {HostFault::Connect, HostFault::Identify, HostFault::Transfer,
                        HostFault::StopDuringTransfer})
      // The flash command calls neither HostConnect nor HostIdentifyFlash.
      if (!IsFlash(s.command) || f == HostFault::Transfer || f == HostFault::StopDuringTransfer)
        cases.push_back({s, f});
  return cases;
}

std::string HostCaseName(const ::testing::TestParamInfo<HostCase>& info) {
  static const char* const kFaults[] = {"ConnectFails", "ChipUnrecognised", "TransferFails",
                                        "StopDuringTransfer"};
  return std::string(info.param.scenario.name) + kFaults[static_cast<int>(info.param.fault)];
}

INSTANTIATE_TEST_SUITE_P(Commands, HostFaultSweep, ::testing::ValuesIn(HostCases()), HostCaseName);

// ---- files ----------------------------------------------------------------------------

enum class FileFault { Read, Write };

struct FileCase {
  Scenario scenario;
  FileFault fault;
};

class DeviceFileFaultSweep : public ::testing::TestWithParam<FileCase> {};

TEST_P(DeviceFileFaultSweep, EveryChunkFailingIsReportedAndLeavesNoHalfMadeImage) {
  const Command c = GetParam().scenario.command;
  const FileFault fault = GetParam().fault;

  long points = 0;
  std::vector<std::uint8_t> user, complete;
  {
    Rig r;
    ASSERT_NO_FATAL_FAILURE(Prepare(r, c));
    user = orvella::test::ReadFile(r.userFile_);
    orvella::FileFaults::Disarm();
    Press(r, ButtonOf(c));
    points = fault == FileFault::Read ? orvella::FileFaults::Reads() : orvella::FileFaults::Writes();
    ASSERT_TRUE(r.win_.Rec.ErrorBoxes.empty());
    complete = orvella::test::ReadFile(r.win_.TempImagePath());
  }
  ASSERT_GT(points, 1) << "the scenario must give the sweep several chunks";
  const std::string systemText = std::strerror(fault == FileFault::Read ? EIO : ENOSPC);

  for (long n = 1; n <= points; ++n) {
    SCOPED_TRACE(std::string("failing ") + (fault == FileFault::Read ? "read " : "write ") +
                 std::to_string(n) + " of " + std::to_string(points));
    Rig r;
    ASSERT_NO_FATAL_FAILURE(Prepare(r, c));
    const std::string imageBefore = r.win_.ModelData.CurrentImageFile;
    const std::size_t rowsBefore = r.win_.ModelData.PartitionRows.size();
    const std::vector<std::uint8_t> copyBefore =
        c == Command::ReadIntoCopy ? orvella::test::ReadFile(r.win_.TempImagePath()) : user;
    if (fault == FileFault::Read) orvella::FileFaults::ArmRead(n); else orvella::FileFaults::ArmWrite(n);
    Press(r, ButtonOf(c));
    orvella::FileFaults::Disarm();

    ASSERT_NO_FATAL_FAILURE(ExpectFrameEnded(r, c));
    ASSERT_EQ(r.win_.Rec.ErrorBoxes.size(), 1u);
    const std::string& box = r.win_.Rec.ErrorBoxes[0];
    EXPECT_NE(box.find(systemText), std::string::npos) << box;
    const bool namesAFile = box.find("\"" + r.userFile_ + "\"") != std::string::npos ||
                            box.find("\"" + r.win_.TempImagePath() + "\"") != std::string::npos ||
                            box.find(kHostMainFileName) != std::string::npos ||
                            box.find(kHostSpareFileName) != std::string::npos;
    EXPECT_TRUE(namesAFile) << box;
    EXPECT_EQ(orvella::test::ReadFile(r.userFile_), user) << "the user's image was changed";

    const std::string temp = r.win_.TempImagePath();
    if (c == Command::GetTable) {
      // A failed write leaves no temporary image; a failed read can only be the load of
      // the finished one, which then is complete.
      if (orvella::FileExists(temp)) {
        EXPECT_EQ(fault, FileFault::Read);
        EXPECT_TRUE(orvella::test::ReadFile(temp) == complete) << "a temporary image left half-made";
      } else {
        EXPECT_EQ(r.win_.ModelData.CurrentImageFile, imageBefore);
        EXPECT_EQ(r.win_.ModelData.PartitionRows.size(), rowsBefore);
      }
      continue;
    }
    // The read command: no half-made copy; a copy that exists is the user's image with
    // at most the rows of this command changed, and says it holds device data when it
    // differs.
    if (r.win_.ModelData.CurrentImageFile != temp) {
      EXPECT_EQ(r.win_.ModelData.CurrentImageFile, imageBefore);
      EXPECT_FALSE(orvella::FileExists(temp)) << "a half-made working copy was left";
      continue;
    }
    const std::vector<std::uint8_t> copy = orvella::test::ReadFile(temp);
    ASSERT_EQ(copy.size(), user.size()) << "the working copy is not whole";
    const std::vector<std::uint8_t> allRead = WithRowsRead(r, copyBefore, RowsRead(c));
    EXPECT_TRUE(EachByteOneOf(copy, copyBefore, allRead)) << "the working copy is neither old nor read";
    if (copy != copyBefore) {
      EXPECT_TRUE(r.cmd_.HoldsUnsavedDeviceData());
    }
  }
}

std::vector<FileCase> FileCases() {
  std::vector<FileCase> cases;
  for (const Scenario& s : kScenarios)
    if (s.command == Command::ReadMarked || s.command == Command::ReadIntoCopy ||
        s.command == Command::GetTable)
      for (FileFault f : {FileFault::Read, FileFault::Write}) cases.push_back({s, f});
  return cases;
}

std::string FileCaseName(const ::testing::TestParamInfo<FileCase>& info) {
  return std::string(info.param.scenario.name) +
         (info.param.fault == FileFault::Read ? "ReadFails" : "WriteFails");
}

INSTANTIATE_TEST_SUITE_P(Commands, DeviceFileFaultSweep, ::testing::ValuesIn(FileCases()),
                         FileCaseName);

}  // namespace
}  // namespace devtest
