// "&Get Partitions from Device" end to end: what the plug-in asks the phone for, the
// temporary image it builds from the answer, and a stop press while that image is filled.

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "PluginOnPhone.h"
#include "host/HostServicesImpl.h"

namespace orvella::e2e {
namespace {

constexpr std::uint64_t kBlock = 0x40000;
constexpr std::uint64_t kPage = 0x1000;
constexpr int kRunningImage = 20;  // the glyph of a button that reads "&Stop"
const QString kFillText = QStringLiteral("Please wait, creating empty temporary file  (");

std::uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

// The percentage of a fill text, or -1 when the text is not one.
int FillPercent(const QString& text) {
  if (!text.startsWith(kFillText) || !text.endsWith(QStringLiteral("%)..."))) return -1;
  bool ok = false;
  const int percent = text.mid(kFillText.size(), text.size() - kFillText.size() - 5).toInt(&ok);
  return ok ? percent : -1;
}

// `count` partitions: one block each, the last one to the end of the chip.
std::vector<PartitionSpec> TableOf(std::uint32_t count) {
  std::vector<PartitionSpec> table;
  for (std::uint32_t k = 1; k <= count; ++k)
    table.push_back({"PART" + std::to_string(k), k == count ? 0xFFFFFFFFu : 1u});
  return table;
}

using TableFromPhone = PluginOnPhone;

struct TableCase {
  const char* name;
  std::uint32_t entries;
  std::uint32_t chipMiB;
  std::uint32_t tableLength;  // what the plug-in must ask for: the table in whole pages
};
void PrintTo(const TableCase& c, std::ostream* out) { *out << c.name; }

class TableLength : public PluginOnPhone, public ::testing::WithParamInterface<TableCase> {};

// The table read asks for the table rounded up to whole pages; the temporary image is
// as large as the chip's full image and blank except for those pages and their spare
// bytes; the fill reports its share after each chunk, 100 only with the last.
TEST_P(TableLength, ReadsTheTableInWholePagesIntoABlankImageOfTheChipsSize) {
  const TableCase& c = GetParam();
  MakePhone(ImageSpec{c.chipMiB, TableOf(c.entries), ImageFill::Erased});
  const std::uint64_t M = std::uint64_t{c.chipMiB} << 20;
  const std::uint64_t T = M + M / 32;
  const std::uint64_t L = c.tableLength;
  // Block 1 holds data after the table and in its spare bytes, so a read of other than
  // L bytes would show in the image.
  std::vector<std::uint8_t> phone = FileBytes(phonePath_);
  ASSERT_EQ(phone.size(), T);
  const std::size_t tableBytes = 48 + 132 * std::size_t{c.entries};
  std::fill(phone.begin() + static_cast<std::ptrdiff_t>(kBlock + tableBytes),
            phone.begin() + static_cast<std::ptrdiff_t>(2 * kBlock), 0xA5);
  std::fill(phone.begin() + static_cast<std::ptrdiff_t>(M + kBlock / 32),
            phone.begin() + static_cast<std::ptrdiff_t>(M + 2 * kBlock / 32), 0x5A);
  std::ofstream(phonePath_, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(phone.data()), static_cast<std::streamsize>(phone.size()));

  std::vector<int> percents;
  std::vector<std::uint64_t> sizes;  // of the temporary image when each text was shown
  StatusWatch watch([&](const QString& text) {
    if (const int p = FillPercent(text); p >= 0) {
      percents.push_back(p);
      sizes.push_back(FileSize(TempImage()));
    }
  });
  Lines("click ReadPartitionBtn\nwait");
  Step("what the phone was asked for", [&] {
    EXPECT_EQ(Services(), (std::vector<PhoneService>{
                              PhoneService::Connect, PhoneService::Identify,
                              PhoneService::ReadToMemory, PhoneService::ReadToMemory,
                              PhoneService::EndSession, PhoneService::EndSession}));
    const std::vector<PhoneRequest>& r = phone_.Requests();
    ASSERT_EQ(r.size(), 6u);
    EXPECT_EQ(r[2].Address, kBlock);
    EXPECT_EQ(r[2].Length, kPage) << "the probe reads one page";
    EXPECT_EQ(r[3].Address, kBlock);
    EXPECT_EQ(r[3].Length, L);
    EXPECT_EQ(r[3].GaugeMax, 0x7FFFFFFF);
  });
  Step("the temporary image", [&] {
    const std::vector<std::uint8_t> image = FileBytes(TempImage());
    ASSERT_EQ(image.size(), T);
    EXPECT_EQ(image.size(), M * 33 / 32);
    EXPECT_TRUE(AllFF(image, 0, kBlock));
    EXPECT_TRUE(SameBytes(image, phone, kBlock, L));
    EXPECT_TRUE(AllFF(image, kBlock + L, M + kBlock / 32));
    EXPECT_TRUE(SameBytes(image, phone, M + kBlock / 32, L / 32));
    EXPECT_TRUE(AllFF(image, M + (kBlock + L) / 32, T));
  });
  Step("the fill's progress", [&] {
    watch.Stop();
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.front(), static_cast<int>(kBlock * 100 / T)) << "the share after the first chunk";
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(percents.back(), 100);
    EXPECT_EQ(std::count(percents.begin(), percents.end(), 100), 1);
    // 100 was shown before the last chunk was written, and only then.
    EXPECT_LT(sizes.back(), T);
    EXPECT_GE(sizes.back() + kBlock, T);
  });
  Step("the list", [&] {
    EXPECT_EQ(RowCount(), static_cast<int>(c.entries));
    EXPECT_EQ(StatusText(0), "");
    const QStringList log = LogLines();
    if (c.entries == 0)
      EXPECT_TRUE(log.contains("ERROR: Access Violation when setting Length for Dinamic Array."))
          << log.join('\n').toStdString();
    else
      EXPECT_TRUE(log.contains(QString::asprintf("Total quantity of listed partitions: 0x%04X", c.entries)))
          << log.join('\n').toStdString();
  });
  Lines("close");
  RunWindow();
}

INSTANTIATE_TEST_SUITE_P(Entries, TableLength,
                         ::testing::Values(TableCase{"None", 0, 2, 0x1000},
                                           TableCase{"Twenty", 20, 8, 0x1000},
                                           TableCase{"ThirtyOne", 31, 16, 0x2000}),
                         [](const auto& p) { return std::string(p.param.name); });

// The fill lets window messages run after each chunk, so a stop press arrives while the
// image is being written; the file is still completed and loaded, and then the frame
// reports the stop. The fill is the plug-in's own work, so the phone's speed limit
// cannot slow it: the press is made the moment the first fill text shows.
TEST_F(TableFromPhone, StopPressDuringTheFillStillCompletesAndLoadsTheImage) {
  constexpr std::uint32_t kChipMiB = 128;  // 528 chunks of one erase block
  MakePhone(ImageSpec{kChipMiB, PhoneTable(), ImageFill::Erased});
  const std::uint64_t M = std::uint64_t{kChipMiB} << 20;
  const std::uint64_t T = M + M / 32;

  struct Press {
    bool done = false;
    QString statusText;
    std::uint64_t imageSize = 0;
    std::uint8_t stopFlag = 0;
    QString caption;
    int imageIndex = -1;
    int fillTextsBefore = 0;
  } press;
  int fillTexts = 0;
  StatusWatch watch([&](const QString& text) {
    if (FillPercent(text) >= 0) ++fillTexts;
    if (press.done || FillPercent(text) < 0) return;
    press.done = true;
    press.statusText = text;
    press.imageSize = FileSize(TempImage());
    press.fillTextsBefore = fillTexts;
    auto* button = Control<QPushButton>("ReadPartitionBtn");
    ASSERT_NE(button, nullptr);
    button->click();
    press.stopFlag = *HostStopFlag();
    press.caption = button->text();
    press.imageIndex = ImageIndex("ReadPartitionBtn");
  });
  int idleImage = -1;
  Step("the idle button", [&] {
    idleImage = ImageIndex("ReadPartitionBtn");
    EXPECT_NE(idleImage, kRunningImage);
  });
  Lines("click ReadPartitionBtn\nwait");
  Step("the press came during the fill and only raised the flag", [&] {
    watch.Stop();
    ASSERT_TRUE(press.done) << "no fill text was seen";
    EXPECT_GE(FillPercent(press.statusText), 0);
    EXPECT_LT(FillPercent(press.statusText), 100);
    EXPECT_LT(press.imageSize, T);
    EXPECT_EQ(press.stopFlag, 1);
    EXPECT_EQ(press.caption, "&Stop");
    EXPECT_EQ(press.imageIndex, kRunningImage);
    EXPECT_GT(fillTexts, press.fillTextsBefore) << "the fill went on after the press";
  });
  Step("the file is complete and loaded, and the stop is reported", [&] {
    EXPECT_EQ(FileSize(TempImage()), T);
    EXPECT_EQ(RowCount(), 7);
    EXPECT_EQ(StatusText(0), "Stopped by User.");
    EXPECT_EQ(Control<QProgressBar>("MyGauge")->value(), 0);
    EXPECT_EQ(Caption("ReadPartitionBtn"), "&Get Partitions from Device");
    EXPECT_EQ(ImageIndex("ReadPartitionBtn"), idleImage);
    EXPECT_EQ(*HostStopFlag(), 0);
  });
  Lines("close");
  RunWindow();
}

struct FailedRead {
  const char* name;
  long failNthRead;
  std::vector<PhoneService> services;
};
void PrintTo(const FailedRead& c, std::ostream* out) { *out << c.name; }

class TableReadFails : public PluginOnPhone, public ::testing::WithParamInterface<FailedRead> {};

// A failed probe or table read ends the session and the command with no line of the
// plug-in's own and no file.
TEST_P(TableReadFails, EndsTheSessionAndWritesNoFile) {
  phone_.Faults.FailNthRead = GetParam().failNthRead;
  Lines("click ReadPartitionBtn\nwait");
  Step("the requests, the log and the window", [&] {
    EXPECT_EQ(Services(), GetParam().services);
    EXPECT_FALSE(std::filesystem::exists(TempImage()));
    EXPECT_EQ(RowCount(), 0);
    EXPECT_EQ(StatusText(0), "");
    for (const QString& line : LogLines())
      EXPECT_TRUE(!line.startsWith("ERROR: ") || line.startsWith("ERROR: Reading failed. "))
          << line.toStdString();
  });
  Lines("close");
  RunWindow();
}

INSTANTIATE_TEST_SUITE_P(
    Reads, TableReadFails,
    ::testing::Values(
        FailedRead{"Probe", 1,
                   {PhoneService::Connect, PhoneService::Identify, PhoneService::ReadToMemory,
                    PhoneService::EndSession, PhoneService::EndSession}},
        FailedRead{"Table", 2,
                   {PhoneService::Connect, PhoneService::Identify, PhoneService::ReadToMemory,
                    PhoneService::ReadToMemory, PhoneService::EndSession,
                    PhoneService::EndSession}}),
    [](const auto& p) { return std::string(p.param.name); });

// Values from the phone that the command cannot lay out end it with an error line and
// no file, before the table is read.
TEST_F(TableFromPhone, TableLongerThanAnEraseBlockIsRefused) {
  {
    std::vector<std::uint8_t> phone = FileBytes(phonePath_);
    // 2000 entries: 48 + 132 * 2000 bytes, 65 pages, more than the block's 64.
    const std::uint32_t count = 2000;
    for (int i = 0; i < 4; ++i) phone[kBlock + 4 + i] = static_cast<std::uint8_t>(count >> (8 * i));
    std::ofstream(phonePath_, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(phone.data()), static_cast<std::streamsize>(phone.size()));
  }
  Lines(R"(
    click ReadPartitionBtn
    wait
    expect-log ERROR: The partition table read from the device (266240 bytes) does not fit in one erase block of 0x00040000 bytes. Terminating.
  )");
  Step("only the probe was read, and nothing written", [&] {
    EXPECT_EQ(Services(), (std::vector<PhoneService>{PhoneService::Connect, PhoneService::Identify,
                                                     PhoneService::ReadToMemory,
                                                     PhoneService::EndSession}));
    EXPECT_FALSE(std::filesystem::exists(TempImage()));
    EXPECT_EQ(RowCount(), 0);
  });
  Lines("close");
  RunWindow();
}

TEST_F(TableFromPhone, ChipTooSmallForTheTablesBlockIsRefused) {
  MakePhone(ImageSpec{1, {{"BOOT", 1}, {"PIT", 1}, {"DATA", 0xFFFFFFFFu}}, ImageFill::Erased});
  MovePhoneTable(3);  // the last of the chip's four blocks
  Lines(R"(
    click ReadPartitionBtn
    wait
    expect-log ERROR: The chip of 1 MiB is too small for a partition table in block 0x00000003 with erase blocks of 0x00040000 bytes. Terminating.
  )");
  Step("three probes, no table read, nothing written", [&] {
    EXPECT_EQ(Services(), (std::vector<PhoneService>{
                              PhoneService::Connect, PhoneService::Identify,
                              PhoneService::ReadToMemory, PhoneService::ReadToMemory,
                              PhoneService::ReadToMemory, PhoneService::EndSession}));
    EXPECT_FALSE(std::filesystem::exists(TempImage()));
  });
  Lines("close");
  RunWindow();
}

}  // namespace
}  // namespace orvella::e2e
