// The device commands end to end: what the buttons do to the phone and to the image.

#include <algorithm>

#include "PluginOnPhone.h"
#include "host/HostServicesImpl.h"
#include "nand/SpareLayout.h"

namespace orvella::e2e {
namespace {

constexpr std::uint64_t kBlock = 0x40000;

using DeviceChain = PluginOnPhone;

// The whole chain: table from the phone, every partition read, the image saved.
TEST_F(DeviceChain, ReadingEveryPartitionAndSavingGivesThePhonesChipByteForByte) {
  const std::string saved = dir_.File("saved.bin");
  Lines(R"(
    click ReadPartitionBtn
    wait
    click InvertSelectedBtn
    click ReadSelectedBtn
    wait
    expect-text ReadSelectedBtn Read Selected
  )");
  Step("every row was listed and read", [&] {
    EXPECT_EQ(RowCount(), 7);
    EXPECT_EQ(phone_.Reads(), 1 + 1 + 7);  // probe of block 1, table, one per partition
  });
  Lines("answer-save " + saved + R"(
    click SaveAsImageFileIem
    expect-log Saving to File...OK
    close
  )");
  RunWindow();
  EXPECT_EQ(CompareFiles(saved, phonePath_), "");
  EXPECT_FALSE(std::filesystem::exists(TempImage())) << "the window's close deletes the copy";
}

TEST_F(DeviceChain, TableInBlockOneGivesABlankImageHoldingOnlyTheTable) {
  const std::vector<std::uint8_t> phone = FileBytes(phonePath_);
  Lines("click ReadPartitionBtn\nwait");
  Step("the list and the temporary image", [&] {
    EXPECT_EQ(RowCount(), 7);
    EXPECT_EQ(StatusText(0), "");
    const std::vector<std::uint8_t> image = FileBytes(TempImage());
    ASSERT_EQ(image.size(), kPhoneMain / 32 * 33);
    // 48 + 7 * 132 bytes round up to one page of 0x1000.
    constexpr std::uint64_t kTable = 0x1000;
    EXPECT_TRUE(AllFF(image, 0, kBlock));
    EXPECT_TRUE(SameBytes(image, phone, kBlock, kTable));
    EXPECT_TRUE(AllFF(image, kBlock + kTable, kPhoneMain + kBlock / 32));
    EXPECT_TRUE(SameBytes(image, phone, kPhoneMain + kBlock / 32, kTable / 32));
    EXPECT_TRUE(AllFF(image, kPhoneMain + (kBlock + kTable) / 32, image.size()));
  });
  Lines("close");
  RunWindow();
}

// The table in block 2: the temporary image holds it there, and the load, which looks
// only in block 1, refuses it; the command leaves no list and a disabled button.
TEST_F(DeviceChain, TableInBlockTwoIsWrittenThereAndRefusedByTheLoad) {
  MakePhone(ImageFill::Erased);
  MovePhoneTable(2);
  const std::vector<std::uint8_t> phone = FileBytes(phonePath_);
  Lines("click ReadPartitionBtn\nwait");
  Step("the temporary image and the window", [&] {
    EXPECT_EQ(RowCount(), 0);
    EXPECT_FALSE(Control<QPushButton>("ReadPartitionBtn")->isEnabled());
    EXPECT_TRUE(Control<QPushButton>("CreateList")->isEnabled());
    EXPECT_EQ(FileBytes(TempImage()), phone) << "an erased phone reads back as itself";
  });
  Lines("close");
  std::vector<std::string> boxes;
  RunWindow(&boxes);
  EXPECT_EQ(boxes, std::vector<std::string>{"ERROR: Cannot find PIT Partition Table."});
}

TEST_F(DeviceChain, NoTableInTheFirstBlocksIsReportedAndWritesNoFile) {
  MovePhoneTable(0);
  Lines(R"(
    click ReadPartitionBtn
    wait
    expect-log ERROR: Couldn't find partition table location in the device memory.
  )");
  Step("no file and no list", [&] {
    // The host's line for each of the three probes, then the error, with no empty line.
    const QStringList log = LogLines();
    ASSERT_EQ(log.size(), 4) << log.join('\n').toStdString();
    EXPECT_TRUE(log[2].startsWith("Reading 0x00001000 bytes at 0x000C0000")) << log[2].toStdString();
    EXPECT_EQ(log[3], "ERROR: Couldn't find partition table location in the device memory.");
    EXPECT_FALSE(std::filesystem::exists(TempImage()));
    EXPECT_EQ(RowCount(), 0);
    EXPECT_EQ(phone_.Reads(), 3);
  });
  Lines("close");
  RunWindow();
}

struct FlashCase {
  const char* name;
  bool ecc;
};
void PrintTo(const FlashCase& c, std::ostream* out) { *out << c.name; }

class FlashMarkedRows : public PluginOnPhone, public ::testing::WithParamInterface<FlashCase> {};

// Rows 1, 3 and 4 marked: three writes, the first opening the session and the others
// riding on it; the phone then holds the image's data of those rows.
TEST_P(FlashMarkedRows, WritesTheRowsFromTheImageFile) {
  MakePhone(ImageFill::Erased);
  const std::string image = MakeImageFile("user.bin", ImageFill::Pattern);
  const std::vector<std::uint8_t> before = FileBytes(phonePath_);
  const std::vector<std::uint8_t> source = FileBytes(image);
  Lines("type ImageName " + image + R"(
    click CreateList
    mark 1
    mark 3
    mark 4
    expect-text FlashSelectedBtn Flash Selected
  )");
  if (GetParam().ecc) Lines("click EnableECCBtn");
  Lines("click FlashSelectedBtn\nwait\nexpect-status 0 \nexpect-gauge 0\nclose");
  RunWindow();

  EXPECT_EQ(phone_.Writes(), 3);
  EXPECT_EQ(phone_.Connects(), 1);
  EXPECT_EQ(FileBytes(image), source) << "the user's image file is never written";
  // No HostConnect or HostIdentifyFlash: the first write opens the session and the
  // others ride on it; the gauge counts the main data of the three rows.
  EXPECT_EQ(Services(), (std::vector<PhoneService>{PhoneService::Write, PhoneService::Write,
                                                   PhoneService::Write, PhoneService::EndSession,
                                                   PhoneService::EndSession}));
  const std::vector<PhoneRequest>& requests = phone_.Requests();
  ASSERT_EQ(requests.size(), 5u);
  const std::int64_t marked =
      static_cast<std::int64_t>(PhoneRow(1).Length + PhoneRow(3).Length + PhoneRow(4).Length);
  const int rows[] = {1, 3, 4};
  for (std::size_t k = 0; k < 3; ++k) {
    SCOPED_TRACE("write " + std::to_string(k + 1));
    EXPECT_EQ(requests[k].Address, PhoneRow(rows[k]).Address);
    EXPECT_EQ(requests[k].Length, PhoneRow(rows[k]).Length);
    EXPECT_EQ(requests[k].AlreadyConnected, k > 0);
    EXPECT_EQ(requests[k].Ecc, GetParam().ecc);
    EXPECT_EQ(requests[k].ImagePath, image);
    EXPECT_EQ(requests[k].GaugeMax, marked);
  }

  std::vector<std::uint8_t> expected = before;
  for (int row : {1, 3, 4}) {
    const RowRange r = PhoneRow(row);
    std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(r.Address), r.Length,
                expected.begin() + static_cast<std::ptrdiff_t>(r.Address));
    const std::uint64_t spare = kPhoneMain + r.Address / 32;
    std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(spare), r.Length / 32,
                expected.begin() + static_cast<std::ptrdiff_t>(spare));
    if (!GetParam().ecc) continue;
    // The phone's layout: the sector's 512-byte code at spare bytes 8-10.
    for (std::uint64_t s = 0; s < r.Length / nand::kSectorBytes; ++s) {
      const nand::EccCode code = nand::ComputeEcc(source.data() + r.Address + s * nand::kSectorBytes,
                                                  nand::EccStep::Bytes512, nand::EccOrder::Normal);
      std::copy(code.begin(), code.end(),
                expected.begin() + static_cast<std::ptrdiff_t>(spare + s * nand::kSpareBytes + 8));
    }
  }
  const std::vector<std::uint8_t> after = FileBytes(phonePath_);
  ASSERT_EQ(after.size(), expected.size());
  const auto diff = std::mismatch(after.begin(), after.end(), expected.begin());
  EXPECT_TRUE(diff.first == after.end())
      << "phone differs at 0x" << std::hex << (diff.first - after.begin());
  if (GetParam().ecc) {
    // The pattern's own spare bytes differ from the codes, so the codes really went in.
    const std::uint64_t spare = kPhoneMain + PhoneRow(3).Address / 32;
    EXPECT_NE(after[spare + 8], source[spare + 8]);
  }
}

INSTANTIATE_TEST_SUITE_P(Ecc, FlashMarkedRows,
                         ::testing::Values(FlashCase{"WithoutEcc", false}, FlashCase{"WithEcc", true}),
                         [](const auto& p) { return std::string(p.param.name); });

struct CursorCase {
  const char* name;
  const char* button;
  PhoneService service;
  std::int64_t gaugeMax;
};
void PrintTo(const CursorCase& c, std::ostream* out) { *out << c.name; }

class CursorRowCommand : public PluginOnPhone, public ::testing::WithParamInterface<CursorCase> {};

// No row marked: each command acts on the cursor row alone, KERNEL of 6 blocks; flash
// and read count its spare data in the gauge, erase only its main data.
TEST_P(CursorRowCommand, ActsOnTheCursorRowAlone) {
  const CursorCase& c = GetParam();
  const std::string image = MakeImageFile("user.bin", ImageFill::Zero);
  const std::vector<std::uint8_t> phone = FileBytes(phonePath_);
  const RowRange kernel = PhoneRow(6);
  ASSERT_EQ(kernel.Length, 0x180000u);
  Lines("type ImageName " + image + "\nclick CreateList\ncursor 6\nclick " + c.button +
        "\nwait\nexpect-status 0 \nexpect-gauge 0");
  Step("what the phone was asked for", [&] {
    std::vector<PhoneService> expected;
    if (c.service != PhoneService::Write)
      expected = {PhoneService::Connect, PhoneService::Identify};
    expected.insert(expected.end(), {c.service, PhoneService::EndSession, PhoneService::EndSession});
    ASSERT_EQ(Services(), expected);
    const PhoneRequest& r = phone_.Requests()[expected.size() - 3];
    EXPECT_EQ(r.Address, kernel.Address);
    EXPECT_EQ(r.Length, kernel.Length);
    EXPECT_EQ(r.GaugeMax, c.gaugeMax);
    EXPECT_FALSE(r.AlreadyConnected);
  });
  Step("what became of the row", [&] {
    std::vector<std::uint8_t> expected = phone;
    const auto fill = [&](std::uint8_t byte) {
      std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(kernel.Address), kernel.Length, byte);
      std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(kPhoneMain + kernel.Address / 32),
                  kernel.Length / 32, byte);
    };
    if (c.service == PhoneService::Write) fill(0x00);
    if (c.service == PhoneService::Erase) fill(0xFF);
    EXPECT_EQ(FileBytes(phonePath_), expected);
    if (c.service == PhoneService::Erase) {
      const QStringList log = LogLines();
      ASSERT_GE(log.size(), 2);
      EXPECT_EQ(log[0], "");
      EXPECT_TRUE(log[1].startsWith("Erasing 0x00180000 bytes at 0x00300000")) << log[1].toStdString();
    }
    if (c.service == PhoneService::ReadToFiles) {
      const std::vector<std::uint8_t> copy = FileBytes(TempImage());
      ASSERT_EQ(copy.size(), phone.size());
      EXPECT_TRUE(SameBytes(copy, phone, kernel.Address, kernel.Length));
      EXPECT_TRUE(SameBytes(copy, phone, kPhoneMain + kernel.Address / 32, kernel.Length / 32));
    }
  });
  if (c.service == PhoneService::ReadToFiles) Lines("answer-close discard");
  Lines("close");
  RunWindow();
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CursorRowCommand,
    ::testing::Values(CursorCase{"Flash", "FlashSelectedBtn", PhoneService::Write, 0x18C000},
                      CursorCase{"Read", "ReadSelectedBtn", PhoneService::ReadToFiles, 0x18C000},
                      CursorCase{"Erase", "EraseSelectedBtn", PhoneService::Erase, 0x180000}),
    [](const auto& p) { return std::string(p.param.name); });

// Rows 2 and 4 marked: two reads in row order, the gauge counting their main data only;
// the first injection makes the working copy with its progress texts, a second read
// makes none. Loading the user's file again makes it current for the next flash, while
// the data read stay in the copy.
TEST_F(DeviceChain, ReadOfRowsTwoAndFourGoesIntoAWorkingCopyMadeOnce) {
  const std::string image = MakeImageFile("user.bin", ImageFill::Zero);
  const std::vector<std::uint8_t> phone = FileBytes(phonePath_);
  const RowRange pit = PhoneRow(2), sbl = PhoneRow(4), efs = PhoneRow(3);
  const QString copyText = QStringLiteral("Please wait, creating temporary file copy (");
  StatusWatch watch;
  qsizetype copyTexts = 0;
  Lines("type ImageName " + image + R"(
    click CreateList
    mark 2
    mark 4
    expect-text ReadSelectedBtn Read Selected
    click ReadSelectedBtn
    wait
  )");
  Step("two reads, row 2 first", [&] {
    ASSERT_EQ(Services(), (std::vector<PhoneService>{
                              PhoneService::Connect, PhoneService::Identify,
                              PhoneService::ReadToFiles, PhoneService::ReadToFiles,
                              PhoneService::EndSession, PhoneService::EndSession}));
    const std::vector<PhoneRequest>& r = phone_.Requests();
    EXPECT_EQ(r[2].Address, pit.Address);
    EXPECT_EQ(r[2].Length, pit.Length);
    EXPECT_EQ(r[3].Address, sbl.Address);
    EXPECT_EQ(r[3].Length, sbl.Length);
    EXPECT_EQ(r[2].GaugeMax, static_cast<std::int64_t>(pit.Length + sbl.Length));
    EXPECT_EQ(r[3].GaugeMax, r[2].GaugeMax);
  });
  Step("the working copy and its progress", [&] {
    const QStringList texts = watch.TextsStartingWith(copyText);
    ASSERT_FALSE(texts.isEmpty());
    // 64 KiB of the 8.25 MiB image is less than one per cent.
    EXPECT_EQ(texts.front(), copyText + "0%)...");
    EXPECT_EQ(texts.back(), copyText + "100%)...");
    copyTexts = texts.size();
    const std::vector<std::uint8_t> copy = FileBytes(TempImage());
    ASSERT_EQ(copy.size(), phone.size());
    for (const RowRange& r : {pit, sbl}) {
      EXPECT_TRUE(SameBytes(copy, phone, r.Address, r.Length));
      EXPECT_TRUE(SameBytes(copy, phone, kPhoneMain + r.Address / 32, r.Length / 32));
    }
    EXPECT_TRUE(std::all_of(copy.begin() + static_cast<std::ptrdiff_t>(efs.Address),
                            copy.begin() + static_cast<std::ptrdiff_t>(efs.Address + efs.Length),
                            [](std::uint8_t b) { return b == 0; }));
  });
  Lines("click ReadSelectedBtn\nwait");
  Step("the second read goes straight into the copy", [&] {
    EXPECT_EQ(phone_.Reads(), 4);
    EXPECT_EQ(watch.TextsStartingWith(copyText).size(), copyTexts);
  });
  Lines("answer-close discard\nclick CreateList\ncursor 5\nclick FlashSelectedBtn\nwait");
  Step("after the reload the flash names the user's file", [&] {
    const PhoneRequest& last = phone_.Requests()[phone_.Requests().size() - 3];
    EXPECT_EQ(last.Service, PhoneService::Write);
    EXPECT_EQ(last.ImagePath, image);
    const std::vector<std::uint8_t> copy = FileBytes(TempImage());
    ASSERT_EQ(copy.size(), phone.size());
    EXPECT_TRUE(SameBytes(copy, phone, sbl.Address, sbl.Length)) << "the read data stay in the copy";
  });
  Lines("close");
  RunWindow();
  const std::vector<std::uint8_t> user = FileBytes(image);
  EXPECT_TRUE(std::all_of(user.begin() + static_cast<std::ptrdiff_t>(sbl.Address),
                          user.begin() + static_cast<std::ptrdiff_t>(sbl.Address + sbl.Length),
                          [](std::uint8_t b) { return b == 0; }))
      << "the user's image file is never written";
}

// A partition that starts at the chip's end has an effective size of 0; marked, it is
// requested like any other row, with length 0.
TEST_F(DeviceChain, MarkedRowOfSizeZeroIsRequestedWithLengthZero) {
  std::vector<PartitionSpec> table = PhoneTable();
  table.back().SizeInBlocks = 14;  // DATA now ends exactly at the chip's end
  table.push_back({"EMPTY", 0xFFFFFFFFu});
  MakePhone(ImageFill::Pattern, table);
  const std::vector<std::uint8_t> phone = FileBytes(phonePath_);
  const RowRange data = PhoneRow(7);
  Lines("click ReadPartitionBtn\nwait");
  Step("a fresh request log", [&] {
    EXPECT_EQ(RowCount(), 8);
    phone_.ClearRequests();
  });
  Lines("mark 7\nmark 8\nclick ReadSelectedBtn\nwait\nexpect-gauge 0\nexpect-status 0 ");
  Step("both rows requested, the second with length 0", [&] {
    ASSERT_EQ(Services(), (std::vector<PhoneService>{
                              PhoneService::Connect, PhoneService::Identify,
                              PhoneService::ReadToFiles, PhoneService::ReadToFiles,
                              PhoneService::EndSession, PhoneService::EndSession}));
    const std::vector<PhoneRequest>& r = phone_.Requests();
    EXPECT_EQ(r[2].Address, data.Address);
    EXPECT_EQ(r[2].Length, data.Length);
    EXPECT_EQ(r[3].Address, kPhoneMain);
    EXPECT_EQ(r[3].Length, 0u);
    EXPECT_EQ(r[3].GaugeMax, static_cast<std::int64_t>(data.Length));
    for (const QString& line : LogLines()) EXPECT_FALSE(line.startsWith("ERROR")) << line.toStdString();
    const std::vector<std::uint8_t> copy = FileBytes(TempImage());
    ASSERT_EQ(copy.size(), phone.size());
    EXPECT_TRUE(SameBytes(copy, phone, data.Address, data.Length));
    EXPECT_TRUE(AllFF(copy, kPhoneMain + kBlock / 32 + 0x1000 / 32, kPhoneMain + data.Address / 32));
  });
  Lines("answer-close discard\nclose");
  RunWindow();
}

// After a read the write request names the working copy: erase EFS on the phone, then
// flash it back from the copy; the user's zero-filled file would have given zeros.
TEST_F(DeviceChain, FlashAfterAReadWritesFromTheWorkingCopy) {
  const std::string image = MakeImageFile("user.bin", ImageFill::Zero);
  const std::vector<std::uint8_t> phone = FileBytes(phonePath_);
  Lines("type ImageName " + image + R"(
    click CreateList
    cursor 3
    expect-text ReadSelectedBtn Read Partition3
    click ReadSelectedBtn
    wait
    click EraseSelectedBtn
    wait
  )");
  Step("the phone's EFS is erased", [&] {
    const RowRange r = PhoneRow(3);
    EXPECT_TRUE(AllFF(FileBytes(phonePath_), r.Address, r.Address + r.Length));
  });
  Lines(R"(
    click FlashSelectedBtn
    wait
    answer-close discard
    close
  )");
  RunWindow();
  EXPECT_EQ(FileBytes(phonePath_), phone);
  ASSERT_FALSE(phone_.Requests().empty());
  const auto write = std::find_if(phone_.Requests().begin(), phone_.Requests().end(),
                                  [](const PhoneRequest& r) { return r.Service == PhoneService::Write; });
  ASSERT_NE(write, phone_.Requests().end());
  EXPECT_EQ(write->ImagePath, TempImage());
  const std::vector<std::uint8_t> user = FileBytes(image);
  const RowRange efs = PhoneRow(3);
  EXPECT_TRUE(std::all_of(user.begin() + static_cast<std::ptrdiff_t>(efs.Address),
                          user.begin() + static_cast<std::ptrdiff_t>(efs.Address + efs.Length),
                          [](std::uint8_t b) { return b == 0; }))
      << "the user's image file is never written";
}

// Closing over data read from the phone and not saved asks first; "save" saves the
// whole image before the working copy goes.
TEST_F(DeviceChain, ClosingOverUnsavedDeviceDataAsksAndCanSaveTheImage) {
  const std::string saved = dir_.File("kept.bin");
  Lines("click ReadPartitionBtn\nwait\ncursor 3\nclick ReadSelectedBtn\nwait");
  Lines("answer-close save\nanswer-save " + saved + "\nclose");
  RunWindow();
  const std::vector<std::uint8_t> image = FileBytes(saved), phone = FileBytes(phonePath_);
  ASSERT_EQ(image.size(), phone.size());
  const RowRange efs = PhoneRow(3);
  const auto at = [](std::uint64_t v) { return static_cast<std::ptrdiff_t>(v); };
  EXPECT_TRUE(std::equal(image.begin() + at(efs.Address), image.begin() + at(efs.Address + efs.Length),
                         phone.begin() + at(efs.Address)));
  EXPECT_TRUE(AllFF(image, PhoneRow(4).Address, PhoneRow(4).Address + PhoneRow(4).Length))
      << "a partition not read stays as the table's blank image had it";
  EXPECT_FALSE(std::filesystem::exists(TempImage()));
}

TEST_F(DeviceChain, EraseOfAMarkedRowBlanksItAndNothingElse) {
  const std::vector<std::uint8_t> before = FileBytes(phonePath_);
  Lines(R"(
    click ReadPartitionBtn
    wait
    mark 3
    click EraseSelectedBtn
    wait
  )");
  Step("the log starts with an empty line, then the host's lines", [&] {
    const QStringList log = LogLines();
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log[0], "");
    EXPECT_TRUE(log[1].startsWith("Erasing ")) << log[1].toStdString();
  });
  Lines("close");
  RunWindow();
  std::vector<std::uint8_t> expected = before;
  const RowRange r = PhoneRow(3);
  std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(r.Address), r.Length, 0xFF);
  std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(kPhoneMain + r.Address / 32),
              r.Length / 32, 0xFF);
  EXPECT_EQ(FileBytes(phonePath_), expected);
  EXPECT_EQ(phone_.Erases(), 1);
}

}  // namespace
}  // namespace orvella::e2e
