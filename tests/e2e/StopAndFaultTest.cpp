// The stop press and the phone's failures, through the real window and host.

#include <algorithm>

#include "PluginOnPhone.h"
#include "host/HostServicesImpl.h"

namespace orvella::e2e {
namespace {

using StopAndFaults = PluginOnPhone;

constexpr int kRunningImage = 20;

// DATA (row 7): 14 blocks, 0x380000 bytes; at 2 MiB/s its read takes almost 2 s.
TEST_F(StopAndFaults, StopPressMidReadEndsTheCommandAsStoppedByUser) {
  const RowRange data = PhoneRow(7);
  const std::int64_t maxValue = static_cast<std::int64_t>(data.Length + data.Length / 32);
  int idleImage = -1;
  Lines("click ReadPartitionBtn\nwait\ncursor 7");
  Step("the phone slows down", [&] {
    phone_.Faults.BytesPerSecond = 2u << 20;
    idleImage = ImageIndex("ReadSelectedBtn");
    EXPECT_NE(idleImage, kRunningImage);
  });
  Lines("click ReadSelectedBtn\nsleep 400");
  Step("mid-read: the button reads &Stop and the gauge moves in bytes of MaxValue", [&] {
    EXPECT_EQ(Caption("ReadSelectedBtn"), "&Stop");
    auto* gauge = Control<QProgressBar>("MyGauge");
    ASSERT_NE(gauge, nullptr);
    EXPECT_EQ(gauge->maximum(), maxValue);
    EXPECT_GT(gauge->value(), 0);
    EXPECT_LT(gauge->value(), maxValue);
    EXPECT_EQ(*HostStopFlag(), 0);
  });
  Step("the stop press only raises the flag", [&] {
    Control<QPushButton>("ReadSelectedBtn")->click();
    EXPECT_EQ(*HostStopFlag(), 1);
    EXPECT_EQ(Caption("ReadSelectedBtn"), "&Stop");
    EXPECT_EQ(ImageIndex("ReadSelectedBtn"), kRunningImage);
  });
  Lines(R"(
    wait
    expect-status 0 Stopped by User.
    expect-gauge 0
    expect-text ReadSelectedBtn Read Partition7
  )");
  Step("after the command", [&] {
    EXPECT_EQ(*HostStopFlag(), 0);
    EXPECT_EQ(ImageIndex("ReadSelectedBtn"), idleImage);
    const QStringList log = LogLines();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const QString& l) {
      return l.startsWith("ERROR: Reading failed. Stopped by user at ");
    })) << log.join('\n').toStdString();
    EXPECT_FALSE(std::filesystem::exists(WorkFile("$tGL0Main$.$$$")));
  });
  Lines("close");
  RunWindow();
}

struct ConnectCase {
  const char* name;
  const char* button;
  const char* idleCaption;
};
void PrintTo(const ConnectCase& c, std::ostream* out) { *out << c.name; }

class ConnectFails : public PluginOnPhone, public ::testing::WithParamInterface<ConnectCase> {};

// HostConnect failing ends the command silently: an empty log, no transfer, and the
// session ended twice, by the command and by the frame.
TEST_P(ConnectFails, EndsTheCommandSilentlyWithAnEmptyLog) {
  const ConnectCase& c = GetParam();
  phone_.Faults.FailConnect = true;
  Step("the host's greeting is in the log", [&] { EXPECT_FALSE(LogLines().isEmpty()); });
  if (std::string(c.button) != "ReadPartitionBtn")
    Lines("type ImageName " + MakeImageFile("user.bin", ImageFill::Zero) + "\nclick CreateList\ncursor 3");
  Lines(std::string("click ") + c.button + "\nwait");
  Step("nothing happened but the connect and the two session ends", [&] {
    EXPECT_TRUE(LogLines().isEmpty()) << LogLines().join('\n').toStdString();
    EXPECT_EQ(Services(), (std::vector<PhoneService>{PhoneService::Connect, PhoneService::EndSession,
                                                     PhoneService::EndSession}));
    EXPECT_EQ(StatusText(0), "");
    EXPECT_EQ(Caption(c.button), c.idleCaption);
    EXPECT_FALSE(std::filesystem::exists(TempImage()));
  });
  Lines("close");
  RunWindow();
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, ConnectFails,
    ::testing::Values(ConnectCase{"GetTable", "ReadPartitionBtn", "&Get Partitions from Device"},
                      ConnectCase{"Read", "ReadSelectedBtn", "Read Partition3"},
                      ConnectCase{"Erase", "EraseSelectedBtn", "Erase Partition3"}),
    [](const auto& p) { return std::string(p.param.name); });

// A stop press left over from an earlier command never stops the next one: the frame
// clears the flag when it starts a command.
TEST_F(StopAndFaults, StopFlagRaisedBeforeThePressDoesNotStopTheCommand) {
  Step("a stray stop request", [&] { *HostStopFlag() = 1; });
  Lines("click ReadPartitionBtn\nwait\nexpect-status 0 ");
  Step("the table was read to its end", [&] {
    EXPECT_EQ(RowCount(), 7);
    EXPECT_EQ(*HostStopFlag(), 0);
  });
  Lines("close");
  RunWindow();
}

TEST_F(StopAndFaults, UnrecognisedChipIsReportedInTheLog) {
  phone_.Faults.UnrecognisedChip = true;
  Lines(R"(
    click ReadPartitionBtn
    wait
    expect-log ERROR: Default FLASH1 Chip was not Recognized by the DCC Loader. Terminating.
  )");
  Step("an empty line stands before the error", [&] {
    EXPECT_EQ(LogLines(), QStringList({"",
        "ERROR: Default FLASH1 Chip was not Recognized by the DCC Loader. Terminating."}));
  });
  Lines("close");
  RunWindow();
}

// Rows 3, 4 and 5 marked and the second read failing: row 3 is in the working copy, row
// 4 and 5 are not, and row 5 is never asked for.
TEST_F(StopAndFaults, ReadFailingOnTheSecondOfThreeRowsKeepsTheFirst) {
  const std::string image = MakeImageFile("user.bin", ImageFill::Zero);
  phone_.Faults.FailNthRead = 2;
  const std::vector<std::uint8_t> phone = FileBytes(phonePath_);
  Lines("type ImageName " + image + R"(
    click CreateList
    mark 3
    mark 4
    mark 5
    click ReadSelectedBtn
    wait
    expect-gauge 0
  )");
  Step("the working copy", [&] {
    EXPECT_EQ(phone_.Reads(), 2);
    const std::vector<std::uint8_t> copy = FileBytes(TempImage());
    ASSERT_EQ(copy.size(), phone.size());
    const RowRange efs = PhoneRow(3), sbl = PhoneRow(4), param = PhoneRow(5);
    const auto offset = [](std::uint64_t v) { return static_cast<std::ptrdiff_t>(v); };
    EXPECT_TRUE(std::equal(copy.begin() + offset(efs.Address),
                           copy.begin() + offset(efs.Address + efs.Length),
                           phone.begin() + offset(efs.Address)));
    EXPECT_TRUE(std::all_of(copy.begin() + offset(sbl.Address),
                            copy.begin() + offset(param.Address + param.Length),
                            [](std::uint8_t b) { return b == 0; }));
  });
  Lines("answer-close discard\nclose");
  RunWindow();
}

// A host that reports success but leaves the main-data file short: the spare half goes
// in, the main half does not, and the log says so.
TEST_F(StopAndFaults, ShortMainDataFileInjectsOnlyTheSpareData) {
  const std::string image = MakeImageFile("user.bin", ImageFill::Zero);
  phone_.Faults.ReadFiles = DataFileFault::MainShort;
  const std::vector<std::uint8_t> phone = FileBytes(phonePath_);
  const RowRange efs = PhoneRow(3);
  Lines("type ImageName " + image + R"(
    click CreateList
    cursor 3
    click ReadSelectedBtn
    wait
    expect-log ERROR: Partition "EFS": main data not injected (the host's file $tGL0Main$.$$$ holds 524288 bytes instead of 1048576).
  )");
  Step("main data untouched, spare data injected, data files gone", [&] {
    const std::vector<std::uint8_t> copy = FileBytes(TempImage());
    ASSERT_EQ(copy.size(), phone.size());
    const auto at = [](std::uint64_t v) { return static_cast<std::ptrdiff_t>(v); };
    EXPECT_TRUE(std::all_of(copy.begin() + at(efs.Address),
                            copy.begin() + at(efs.Address + efs.Length),
                            [](std::uint8_t b) { return b == 0; }));
    const std::uint64_t spare = kPhoneMain + efs.Address / 32;
    EXPECT_TRUE(std::equal(copy.begin() + at(spare), copy.begin() + at(spare + efs.Length / 32),
                           phone.begin() + at(spare)));
    EXPECT_FALSE(std::filesystem::exists(WorkFile("$tGL0Main$.$$$")));
    EXPECT_FALSE(std::filesystem::exists(WorkFile("$tGL0Redu$.$$$")));
  });
  Lines("answer-close discard\nclose");
  RunWindow();
}

struct SecondFails {
  const char* name;
  const char* button;
  long PhoneFaults::*fault;
  PhoneService service;
  std::uint8_t written;  // what the first row holds on the phone afterwards
  const char* idleCaption;
};
void PrintTo(const SecondFails& c, std::ostream* out) { *out << c.name; }

class SecondOfThreeRowsFails : public PluginOnPhone,
                               public ::testing::WithParamInterface<SecondFails> {};

// Rows 3, 4 and 5 marked and the second flash or erase failing: row 3 is done, row 5 is
// never asked for, and the frame's end steps run.
TEST_P(SecondOfThreeRowsFails, LeavesTheThirdRowAlone) {
  const SecondFails& c = GetParam();
  const std::string image = MakeImageFile("user.bin", ImageFill::Zero);
  const std::vector<std::uint8_t> phone = FileBytes(phonePath_);
  phone_.Faults.*c.fault = 2;
  Lines("type ImageName " + image + "\nclick CreateList\nmark 3\nmark 4\nmark 5\nclick " +
        c.button + "\nwait\nexpect-gauge 0\nexpect-status 0 ");
  Step("two requests, then the session ends", [&] {
    std::vector<PhoneService> expected;
    if (c.service == PhoneService::Erase) expected = {PhoneService::Connect, PhoneService::Identify};
    expected.insert(expected.end(), {c.service, c.service, PhoneService::EndSession,
                                     PhoneService::EndSession});
    ASSERT_EQ(Services(), expected);
    const std::vector<PhoneRequest>& r = phone_.Requests();
    EXPECT_EQ(r[expected.size() - 4].Address, PhoneRow(3).Address);
    EXPECT_EQ(r[expected.size() - 3].Address, PhoneRow(4).Address);
  });
  Step("row 3 done, row 5 untouched", [&] {
    const std::vector<std::uint8_t> after = FileBytes(phonePath_);
    ASSERT_EQ(after.size(), phone.size());
    const RowRange done = PhoneRow(3), untouched = PhoneRow(5);
    const auto at = [](std::uint64_t v) { return static_cast<std::ptrdiff_t>(v); };
    EXPECT_TRUE(std::all_of(after.begin() + at(done.Address),
                            after.begin() + at(done.Address + done.Length),
                            [&](std::uint8_t b) { return b == c.written; }));
    EXPECT_TRUE(std::equal(after.begin() + at(untouched.Address),
                           after.begin() + at(untouched.Address + untouched.Length),
                           phone.begin() + at(untouched.Address)));
    EXPECT_EQ(Caption(c.button), c.idleCaption);
  });
  Lines("close");
  RunWindow();
}

INSTANTIATE_TEST_SUITE_P(
    Commands, SecondOfThreeRowsFails,
    ::testing::Values(SecondFails{"Flash", "FlashSelectedBtn", &PhoneFaults::FailNthWrite,
                                  PhoneService::Write, 0x00, "Flash Selected"},
                      SecondFails{"Erase", "EraseSelectedBtn", &PhoneFaults::FailNthErase,
                                  PhoneService::Erase, 0xFF, "Erase Selected"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace orvella::e2e
