#include <QApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>
#include <chrono>

#include "host/HostServicesImpl.h"
#include "tests/host/PhoneFixture.h"

namespace {

using namespace orvella;
using namespace orvella::testing;

std::vector<std::pair<int, std::u16string>> g_status;

void ORVELLA_STDCALL RecordStatus(std::uint32_t, std::int32_t panel, const char16_t* text) {
  g_status.emplace_back(panel, text ? std::u16string(text) : std::u16string());
}

class HostServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_status.clear();
    phonePath_ = dir_.Path() + "phone.nand";
    MakeImage(phonePath_, 4, ImageFill::Pattern);
    std::string error;
    ASSERT_TRUE(phone_.Open(phonePath_, error)) << error;
    phone_.SetWorkFolder(dir_.Path());
    SetHostPhone(&phone_);
    for (std::uint32_t id : kServiceIds) ASSERT_NE(HostFunctionFor(id), nullptr) << id;
    for (std::uint32_t i = 0; i < kServiceCount; ++i) cells_[i] = HostFunctionFor(kServiceIds[i]);
    services_ = HostServiceTable::FromCells(cells_);
    services_.AttachLog(&memo_);
    services_.AttachGauge(&gauge_);
  }
  void TearDown() override { ResetHostServices(); }

  std::uint32_t ReadToFiles(std::uint32_t addr, std::uint32_t len) {
    return services_.ReadRange(1, addr, len, 0, 0, "tGL0", nullptr, -1, &gauge_, 1, &RecordStatus,
                               0, 0, 0, 0);
  }

  TempFolder dir_;
  std::string phonePath_;
  VirtualPhone phone_;
  HostFunction cells_[kServiceCount] = {};
  HostServiceTable services_;
  QPlainTextEdit memo_;
  QProgressBar gauge_;
};

TEST_F(HostServicesTest, UnknownIdsHaveNoFunction) {
  EXPECT_EQ(HostFunctionFor(4), nullptr);
  EXPECT_EQ(HostFunctionFor(99), nullptr);
  EXPECT_EQ(HostMemo(), &memo_);
  EXPECT_EQ(HostGauge(), &gauge_);
  EXPECT_TRUE(memo_.toPlainText().startsWith("Host: virtual phone "));
}

TEST_F(HostServicesTest, WorkAreaIsTheScreen) {
  std::int32_t w = -1, h = -1, l = -1, t = -1;
  EXPECT_TRUE(HostSucceeded(services_.GetWorkArea(&w, &h, &l, &t)));
  EXPECT_GT(w, 0);
  EXPECT_GT(h, 0);
}

TEST_F(HostServicesTest, ReadDrivesMemoGaugeAndStatus) {
  memo_.clear();
  TFlashInfo info;
  ASSERT_TRUE(HostSucceeded(services_.Connect(nullptr)));
  ASSERT_TRUE(HostSucceeded(services_.IdentifyFlash(1, &info)));
  EXPECT_EQ(info.PageSize, 0x1000u);
  gauge_.setRange(0, 0x42000);
  gauge_.setValue(0);
  ASSERT_TRUE(HostSucceeded(ReadToFiles(0x80000, 0x40000)));
  EXPECT_EQ(memo_.toPlainText(), "Reading 0x00040000 bytes at 0x00080000: done.");
  EXPECT_EQ(gauge_.value(), 0x42000);
  ASSERT_FALSE(g_status.empty());
  EXPECT_EQ(g_status.front(), std::make_pair(0, std::u16string(u"Reading: 25%")));
  EXPECT_EQ(g_status.back(), std::make_pair(0, std::u16string(u"Reading: done.")));
  EXPECT_EQ(AllBytes(dir_.Path() + "$tGL0Main$.$$$"), PatternBytes(0x80000, 0x40000));
  EXPECT_TRUE(HostSucceeded(services_.EndSession()));
  EXPECT_FALSE(HostSucceeded(ReadToFiles(0, 0x1000)));  // session over
}

TEST_F(HostServicesTest, StopPressedDuringASlowReadFailsIt) {
  // The stop arrives as a window message, so it only gets through while the host lets
  // messages run during the transfer.
  phone_.Faults.BytesPerSecond = 1 << 20;
  ASSERT_TRUE(HostSucceeded(services_.Connect(nullptr)));
  *HostStopFlag() = 0;
  QTimer::singleShot(100, [] { *HostStopFlag() = 1; });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(HostSucceeded(ReadToFiles(0, 0x400000)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(memo_.toPlainText().contains("ERROR: Reading failed. Stopped by user at 0x"));
  *HostStopFlag() = 0;
}

TEST_F(HostServicesTest, WriteTakesTheImageNamedInTheBlock) {
  const std::string source = dir_.Path() + "source with spaces é.bin";
  MakeImage(source, 4, ImageFill::Erased);
  const std::u16string path16 = QString::fromStdString(source).toStdU16String();
  TWriteRequestBlock block{};
  block.One0 = 1;
  block.Addr = 0x80000;
  block.Leng = 0x40000;
  block.ImagePath = path16.c_str();
  block.EmptyText = u"";
  block.Tag = u"tGL0";
  block.EnableEcc = 1;
  block.Gauge = &gauge_;
  block.StatusText = &RecordStatus;
  ASSERT_TRUE(HostSucceeded(services_.WriteRange(block)));
  EXPECT_EQ(ReadBytes(phonePath_, 0x80000, 0x40000), std::vector<std::uint8_t>(0x40000, 0xFF));
  // An erased sector's code is FF FF FF, so the whole spare range reads erased.
  EXPECT_EQ(ReadBytes(phonePath_, (4u << 20) + 0x80000 / 32, 0x2000),
            std::vector<std::uint8_t>(0x2000, 0xFF));
  block.ImagePath = nullptr;
  EXPECT_FALSE(HostSucceeded(services_.WriteRange(block)));
}

TEST_F(HostServicesTest, EraseNeedsTheSession) {
  EXPECT_FALSE(HostSucceeded(services_.EraseRange(1, 0, 0x40000, 0, 0, 1, &RecordStatus, 0, 0, 0, 0)));
  ASSERT_TRUE(HostSucceeded(services_.Connect(nullptr)));
  EXPECT_TRUE(HostSucceeded(services_.EraseRange(1, 0, 0x40000, 0, 0, 1, &RecordStatus, 0, 0, 0, 0)));
  EXPECT_EQ(ReadBytes(phonePath_, 0, 0x40000), std::vector<std::uint8_t>(0x40000, 0xFF));
}

TEST(HostServiceTable, MissingServicesAreFailedCalls) {
  const HostFunction empty[kServiceCount] = {};
  const HostServiceTable t = HostServiceTable::FromCells(empty);
  std::int32_t w = 5, h = 6, l = 7, top = 8;
  EXPECT_EQ(t.GetWorkArea(&w, &h, &l, &top), 0u);
  EXPECT_EQ(w, 5);
  TFlashInfo info{};
  EXPECT_EQ(t.Connect(nullptr), 0u);
  EXPECT_EQ(t.IdentifyFlash(1, &info), 0u);
  EXPECT_EQ(t.ReadRange(1, 0, 0, 0, 0, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0, 0), 0u);
  EXPECT_EQ(t.WriteRange(TWriteRequestBlock{}), 0u);
  EXPECT_EQ(t.EraseRange(1, 0, 0, 0, 0, 1, nullptr, 0, 0, 0, 0), 0u);
  EXPECT_EQ(t.EndSession(), 0u);
  EXPECT_EQ(t.AttachLog(nullptr), 0u);
  EXPECT_EQ(t.AttachGauge(nullptr), 0u);
  EXPECT_FALSE(HostSucceeded(0x100));  // only the low byte counts
  EXPECT_TRUE(HostSucceeded(0xFFFFFF01));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
