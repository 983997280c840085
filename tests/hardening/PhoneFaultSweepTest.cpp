// The device commands against the stand-in host's real services and its virtual phone,
// with the phone's own fault injection: HostConnect failing, the chip not recognised,
// every read, write and erase failing half-way in turn, a stop press during every
// transfer, and reads that leave their data files missing or short. After each: the
// frame restored the button and the gauge, the session is ended, the user's image is
// unchanged, no host data file is left behind, and the phone and the working copy hold
// exactly what the transfers before the failure moved.

#include <gtest/gtest.h>

#include <QApplication>
#include <QProgressBar>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "hardening/SweepSupport.h"
#include "host/HostServicesImpl.h"
#include "host/VirtualPhone.h"
#include "files/FileIO.h"
#include "image/ImageBuilder.h"

namespace devtest {

QProgressBar* g_gauge = nullptr;

namespace {

using orvella::test::ReadFile;
using orvella::test::WriteFile;

// 2 MiB chip (8 blocks): BOOT 0, PIT 1, CSC 2-3, EFS 4, DATA 5-6, TAIL 7.
const ImageSpec kSpec{2,
                      {{"BOOT", 1}, {"PIT", 1}, {"CSC", 2}, {"EFS", 1}, {"DATA", 2},
                       {"TAIL", 0xFFFFFFFFu}},
                      ImageFill::Pattern};
const std::vector<std::size_t> kMarked = {1, 3, 4};
constexpr std::size_t kCursorRow = 2;

const std::vector<std::uint8_t>& UserImage() {
  static const std::vector<std::uint8_t> bytes = [] {
    TempFolder dir;
    std::string error;
    EXPECT_TRUE(WriteFullImage(dir.Path() + "i.bin", kSpec, error)) << error;
    return ReadFile(dir.Path() + "i.bin");
  }();
  return bytes;
}

// The phone: the user's image with every byte flipped, except the table at block 1, so
// that data read from it differ from the image and the get-table command finds a table.
const std::vector<std::uint8_t>& PhoneImage() {
  static const std::vector<std::uint8_t> bytes = [] {
    std::vector<std::uint8_t> b = UserImage();
    const std::size_t tableBytes = BuildPitTable(kSpec.Table).size();
    for (std::size_t i = 0; i < b.size(); ++i)
      if (i < kBlockSize || i >= kBlockSize + tableBytes) b[i] ^= 0x5A;
    return b;
  }();
  return bytes;
}

// Transfers go through these, so a test can act just before the host does its work. They
// also hand the host a real progress bar where the fake window passes a stand-in.
std::function<void()> g_beforeTransfer;

std::uint32_t ORVELLA_STDCALL ReadThrough(std::uint32_t a, std::uint32_t b, std::uint32_t c,
                                          std::uint32_t d, std::uint32_t e, const char* f,
                                          std::uint8_t* g, std::int32_t h, void* i, std::uint32_t j,
                                          StatusTextCallback k, std::int32_t l, std::int32_t m,
                                          std::int32_t n, std::int32_t o) {
  if (g_beforeTransfer) g_beforeTransfer();
  const auto real = reinterpret_cast<HostReadRangeFn>(HostFunctionFor(HostReadRangeId));
  return real(a, b, c, d, e, f, g, h, i ? g_gauge : nullptr, j, k, l, m, n, o);
}

std::uint32_t ORVELLA_STDCALL WriteThrough(TWriteRequestBlock block) {
  if (g_beforeTransfer) g_beforeTransfer();
  if (block.Gauge) block.Gauge = g_gauge;
  return reinterpret_cast<HostWriteRangeFn>(HostFunctionFor(HostWriteRangeId))(block);
}

std::uint32_t ORVELLA_STDCALL EraseThrough(std::uint32_t a, std::uint32_t b, std::uint32_t c,
                                           std::uint32_t d, std::uint32_t e, std::uint32_t f,
                                           StatusTextCallback g, std::int32_t h, std::int32_t i,
                                           std::int32_t j, std::int32_t k) {
  if (g_beforeTransfer) g_beforeTransfer();
  const auto real = reinterpret_cast<HostEraseRangeFn>(HostFunctionFor(HostEraseRangeId));
  return real(a, b, c, d, e, f, g, h, i, j, k);
}

enum class Command { ReadMarked, ReadCursor, FlashMarked, FlashCursor, EraseMarked,
                     EraseCursor, GetTable };

struct PhoneRig : DeviceTest {
  void TestBody() override {}
  using DeviceTest::cmd_;
  using DeviceTest::userFile_;
  using DeviceTest::win_;
  using DeviceTest::workDir_;

  explicit PhoneRig(Command c) : command(c) {
    userFile_ = userDir_ + "user.bin";
    phonePath = dir_.Path() + "phone.nand";
    WriteFile(userFile_, UserImage());
    WriteFile(phonePath, PhoneImage());
    std::string error;
    EXPECT_TRUE(phone.Open(phonePath, error)) << error;
    phone.SetWorkFolder(workDir_);
    SetHostPhone(&phone);
    table_.connect = reinterpret_cast<HostConnectFn>(HostFunctionFor(HostConnectId));
    table_.identify = reinterpret_cast<HostIdentifyFlashFn>(HostFunctionFor(HostIdentifyFlashId));
    table_.readRange = ReadThrough;
    table_.writeRange = WriteThrough;
    table_.eraseRange = EraseThrough;
    table_.endSession = reinterpret_cast<HostEndSessionFn>(HostFunctionFor(HostEndSessionId));
    table_.stopFlag = HostStopFlag();
    EXPECT_TRUE(win_.LoadFile(userFile_));
    win_.Cursor = static_cast<int>(kCursorRow);
    if (c == Command::ReadMarked || c == Command::FlashMarked || c == Command::EraseMarked)
      for (std::size_t k : kMarked) win_.ModelData.SetMarked(k, true);
    win_.UpdateEnabledButtons();
    win_.Rec.Log.clear();
    g_trace.clear();
  }
  ~PhoneRig() override {
    g_beforeTransfer = nullptr;
    ResetHostServices();
  }

  DeviceButton Button() const {
    switch (command) {
      case Command::FlashMarked: case Command::FlashCursor: return FlashSelectedBtn;
      case Command::EraseMarked: case Command::EraseCursor: return EraseSelectedBtn;
      case Command::GetTable: return ReadPartitionBtn;
      default: return ReadSelectedBtn;
    }
  }
  void Press() {
    switch (Button()) {
      case FlashSelectedBtn: cmd_.FlashSelectedBtnClick(); break;
      case EraseSelectedBtn: cmd_.EraseSelectedBtnClick(); break;
      case ReadPartitionBtn: cmd_.ReadPartitionBtnClick(); break;
      default: cmd_.ReadSelectedBtnClick(); break;
    }
  }
  std::vector<std::size_t> Rows() const {
    if (command == Command::GetTable) return {};
    if (command == Command::ReadCursor || command == Command::FlashCursor ||
        command == Command::EraseCursor)
      return {kCursorRow};
    return kMarked;
  }
  long Transfers() const { return phone.Reads() + phone.Writes() + phone.Erases(); }

  Command command;
  std::string phonePath;
  VirtualPhone phone;
};

// `image` with the main and spare data of `rows` taken from `from`.
std::vector<std::uint8_t> WithRows(const ImageModel& m, std::vector<std::uint8_t> image,
                                   const std::vector<std::uint8_t>& from,
                                   const std::vector<std::size_t>& rows, bool main = true,
                                   bool spare = true) {
  for (std::size_t k : rows) {
    const PartitionRange r = m.RangeOf(k);
    if (main) std::copy_n(from.begin() + r.MainOffset, r.MainLength, image.begin() + r.MainOffset);
    if (spare) std::copy_n(from.begin() + r.SpareOffset, r.SpareLength, image.begin() + r.SpareOffset);
  }
  return image;
}

// True when `v` equals `a` outside row k's main and spare ranges.
bool SameOutsideRow(const ImageModel& m, const std::vector<std::uint8_t>& v,
                    const std::vector<std::uint8_t>& a, std::size_t k) {
  const PartitionRange r = m.RangeOf(k);
  std::vector<std::uint8_t> masked = v;
  std::copy_n(a.begin() + r.MainOffset, r.MainLength, masked.begin() + r.MainOffset);
  std::copy_n(a.begin() + r.SpareOffset, r.SpareLength, masked.begin() + r.SpareOffset);
  return masked == a;
}

enum class Fault { Connect, Unrecognised, TransferHalfWay, StopDuringTransfer, MainMissing,
                   MainShort, SpareMissing, SpareShort };

struct Case {
  const char* name;
  Command command;
  Fault fault;
};

class PhoneFaultSweep : public ::testing::TestWithParam<Case> {};

TEST_P(PhoneFaultSweep, CommandEndsCleanlyAndMovesOnlyWhatWasTransferredBeforeTheFault) {
  const Case& c = GetParam();
  const bool perTransfer = c.fault == Fault::TransferHalfWay || c.fault == Fault::StopDuringTransfer;
  long points = 1;
  if (perTransfer) {
    PhoneRig clean(c.command);
    clean.Press();
    ASSERT_TRUE(clean.win_.Rec.ErrorBoxes.empty());
    points = clean.Transfers();
    ASSERT_GT(points, 0);
  }

  for (long n = 1; n <= points; ++n) {
    SCOPED_TRACE("fault at transfer " + std::to_string(n) + " of " + std::to_string(points));
    PhoneRig r(c.command);
    const ImageModel& m = r.win_.ModelData;
    long transfers = 0;
    switch (c.fault) {
      case Fault::Connect: r.phone.Faults.FailConnect = true; break;
      case Fault::Unrecognised: r.phone.Faults.UnrecognisedChip = true; break;
      case Fault::TransferHalfWay:
        // Each command uses one kind of transfer, so the n-th of its kind is the n-th.
        r.phone.Faults.FailNthRead = r.phone.Faults.FailNthWrite = r.phone.Faults.FailNthErase = n;
        break;
      case Fault::StopDuringTransfer:
        g_beforeTransfer = [&] {
          if (++transfers == n) r.Press();  // the nested press raises the stop flag
        };
        break;
      case Fault::MainMissing: r.phone.Faults.ReadFiles = DataFileFault::MainMissing; break;
      case Fault::MainShort: r.phone.Faults.ReadFiles = DataFileFault::MainShort; break;
      case Fault::SpareMissing: r.phone.Faults.ReadFiles = DataFileFault::SpareMissing; break;
      case Fault::SpareShort: r.phone.Faults.ReadFiles = DataFileFault::SpareShort; break;
    }
    r.Press();

    // The frame's end steps, whatever happened.
    const DeviceButton b = r.Button();
    EXPECT_FALSE(r.cmd_.CommandRunning());
    EXPECT_EQ(r.win_.Captions[b], r.win_.Idles[b].Caption);
    EXPECT_EQ(r.win_.Images[b], r.win_.Idles[b].ImageIndex);
    EXPECT_EQ(r.win_.Rec.Pos, 0);
    EXPECT_EQ(*HostStopFlag(), 0);
    EXPECT_FALSE(r.phone.SessionOpen());
    EXPECT_TRUE(r.win_.Rec.ErrorBoxes.empty()) << r.win_.Rec.ErrorBoxes.front();
    EXPECT_TRUE(ReadFile(r.userFile_) == UserImage()) << "the user's image was changed";
    for (const char* name : {kHostMainFileName, kHostSpareFileName, kHostReadFileName})
      EXPECT_FALSE(orvella::FileExists(r.workDir_ + name)) << name << " left in the work folder";
    if (c.fault == Fault::StopDuringTransfer) {
      EXPECT_EQ(r.win_.Rec.Status[0], "Stopped by User.");
    }
    if (c.fault == Fault::Connect) {
      EXPECT_TRUE(r.win_.Rec.Log.empty());
    }
    if (c.fault == Fault::Unrecognised) {
      ASSERT_FALSE(r.win_.Rec.Log.empty());
      EXPECT_EQ(r.win_.Rec.Log.back(),
                "ERROR: Default FLASH1 Chip was not Recognized by the DCC Loader. Terminating.");
    }

    // The rows finished before the fault; the one it struck may be partly moved.
    const std::vector<std::size_t> rows = r.Rows();
    const std::size_t finished = perTransfer ? static_cast<std::size_t>(n - 1)
                                 : c.fault == Fault::Connect || c.fault == Fault::Unrecognised ? 0
                                                                                               : rows.size();
    const std::vector<std::size_t> done(rows.begin(), rows.begin() + static_cast<long>(std::min(finished, rows.size())));
    const std::vector<std::uint8_t> phoneNow = ReadFile(r.phonePath);
    const bool flash = c.command == Command::FlashMarked || c.command == Command::FlashCursor;
    const bool erase = c.command == Command::EraseMarked || c.command == Command::EraseCursor;
    const bool read = c.command == Command::ReadMarked || c.command == Command::ReadCursor;
    if (flash || erase) {
      const std::vector<std::uint8_t> source =
          flash ? UserImage() : std::vector<std::uint8_t>(PhoneImage().size(), 0xFF);
      const std::vector<std::uint8_t> expected = WithRows(m, PhoneImage(), source, done);
      if (finished < rows.size() && perTransfer) {
        EXPECT_TRUE(SameOutsideRow(m, phoneNow, expected, rows[finished])) << "phone beyond the failing row";
      } else {
        EXPECT_TRUE(phoneNow == expected) << "phone";
      }
    } else {
      EXPECT_TRUE(phoneNow == PhoneImage()) << "a read or the table command changed the phone";
    }
    if (read) {
      const std::string copyPath = r.win_.TempImagePath();
      if (done.empty() && c.fault != Fault::MainShort && c.fault != Fault::MainMissing &&
          c.fault != Fault::SpareShort && c.fault != Fault::SpareMissing) {
        EXPECT_EQ(m.CurrentImageFile, r.userFile_);
        EXPECT_FALSE(orvella::FileExists(copyPath));
      } else {
        ASSERT_EQ(m.CurrentImageFile, copyPath);
        const bool mainOk = c.fault != Fault::MainMissing && c.fault != Fault::MainShort;
        const bool spareOk = c.fault != Fault::SpareMissing && c.fault != Fault::SpareShort;
        EXPECT_TRUE(ReadFile(copyPath) == WithRows(m, UserImage(), PhoneImage(), done, mainOk, spareOk));
        if (!mainOk || !spareOk) {
          std::size_t lines = 0;
          for (const auto& line : r.win_.Rec.Log) lines += line.find("not injected") != std::string::npos;
          EXPECT_EQ(lines, rows.size()) << "one line for every half left out";
        }
      }
    }
    if (c.command == Command::GetTable) {
      EXPECT_FALSE(orvella::FileExists(r.win_.TempImagePath()));
      EXPECT_EQ(m.CurrentImageFile, r.userFile_);
      EXPECT_EQ(m.PartitionRows.size(), kSpec.Table.size());
    }
  }
}

std::vector<Case> Cases() {
  struct Named { const char* name; Command c; };
  const Named commands[] = {{"ReadMarked", Command::ReadMarked}, {"ReadCursor", Command::ReadCursor},
                            {"FlashMarked", Command::FlashMarked}, {"FlashCursor", Command::FlashCursor},
                            {"EraseMarked", Command::EraseMarked}, {"EraseCursor", Command::EraseCursor},
                            {"GetTable", Command::GetTable}};
  std::vector<Case> cases;
  for (const Named& n : commands) {
    const bool flash = n.c == Command::FlashMarked || n.c == Command::FlashCursor;
    const bool read = n.c == Command::ReadMarked || n.c == Command::ReadCursor;
    if (!flash) {
      cases.push_back({n.name, n.c, Fault::Connect});
      cases.push_back({n.name, n.c, Fault::Unrecognised});
    }
    cases.push_back({n.name, n.c, Fault::TransferHalfWay});
    cases.push_back({n.name, n.c, Fault::StopDuringTransfer});
    if (read)
      for (Fault f : {Fault::MainMissing, Fault::MainShort, Fault::SpareMissing, Fault::SpareShort})
        cases.push_back({n.name, n.c, f});
  }
  return cases;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  static const char* const kFaults[] = {"ConnectFails", "ChipUnrecognised", "TransferFailsHalfWay",
                                        "StopDuringTransfer", "MainFileMissing", "MainFileShort",
                                        "SpareFileMissing", "SpareFileShort"};
  return std::string(info.param.name) + kFaults[static_cast<int>(info.param.fault)];
}

INSTANTIATE_TEST_SUITE_P(Commands, PhoneFaultSweep, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
}  // namespace devtest

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QProgressBar gauge;
  devtest::g_gauge = &gauge;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
