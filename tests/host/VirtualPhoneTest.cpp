#include <chrono>
#include <optional>
#include <random>

#include "digest/Digest.h"
#include "fat/Volume.h"
#include "image/NandHealth.h"
#include "image/RecordingPort.h"
#include "nand/Hamming.h"
#include "phone/ImagePages.h"
#include "phone/PartitionBytes.h"
#include "phone/PhoneDump.h"
#include "tests/host/PhoneFixture.h"

namespace {

using namespace orvella;
using namespace orvella::testing;

constexpr std::uint32_t kChipMiB = 4;
constexpr std::uint64_t kMain = std::uint64_t{kChipMiB} << 20;

class VirtualPhoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    phonePath_ = dir_.Path() + "phone.nand";
    MakeImage(phonePath_, kChipMiB, ImageFill::Pattern);
    std::string error;
    ASSERT_TRUE(phone_.Open(phonePath_, error)) << error;
    phone_.SetWorkFolder(dir_.Path());
  }

  std::string MainFile() const { return dir_.Path() + "$tGL0Main$.$$$"; }
  std::string SpareFile() const { return dir_.Path() + "$tGL0Redu$.$$$"; }
  std::vector<std::uint8_t> PhoneMain(std::uint64_t at, std::size_t n) const {
    return ReadBytes(phonePath_, at, n);
  }
  std::vector<std::uint8_t> PhoneSpare(std::uint64_t at, std::size_t n) const {
    return ReadBytes(phonePath_, kMain + at / 32, n / 32);
  }

  TempFolder dir_;
  std::string phonePath_;
  VirtualPhone phone_;
  RecordingPort port_;
  std::uint8_t stop_ = 0;
};

TEST_F(VirtualPhoneTest, OpenTakesOnlyFullImageSizes) {
  EXPECT_EQ(phone_.ChipMiB(), kChipMiB);
  VirtualPhone other;
  std::string error;
  for (std::uint64_t size : {std::uint64_t{0}, std::uint64_t{1000}, kMain, kMain + kMain / 32 + 528}) {
    const std::string path = dir_.Path() + "odd.bin";
    { std::ofstream(path, std::ios::binary | std::ios::trunc); }
    std::filesystem::resize_file(path, size);
    EXPECT_FALSE(other.Open(path, error)) << size;
    EXPECT_NE(error.find("is not a virtual phone"), std::string::npos);
  }
  EXPECT_FALSE(other.Open(dir_.Path() + "missing.nand", error));
}

TEST_F(VirtualPhoneTest, SessionAndIdentify) {
  TFlashInfo info;
  info.PageSize = 77;
  EXPECT_FALSE(phone_.IdentifyFlash(info));
  EXPECT_EQ(info.PageSize, 0u);  // without a session nothing is recognised
  ASSERT_TRUE(phone_.Connect());
  ASSERT_TRUE(phone_.IdentifyFlash(info));
  EXPECT_EQ(info.ChipSizeMiB, kChipMiB);
  EXPECT_EQ(info.EraseBlockSize, 0x40000u);
  EXPECT_EQ(info.PageSize, 0x1000u);
  phone_.EndSession();
  phone_.EndSession();
  EXPECT_FALSE(phone_.SessionOpen());
  EXPECT_TRUE(port_.Log.empty());
}

TEST_F(VirtualPhoneTest, ConnectAndChipFaults) {
  phone_.Faults.FailConnect = true;
  EXPECT_FALSE(phone_.Connect());
  EXPECT_FALSE(phone_.SessionOpen());
  phone_.Faults.FailConnect = false;
  phone_.Faults.UnrecognisedChip = true;
  ASSERT_TRUE(phone_.Connect());
  TFlashInfo info;
  phone_.IdentifyFlash(info);
  EXPECT_EQ(info.PageSize, 0u);
  EXPECT_EQ(info.ChipSizeMiB, kChipMiB);
  EXPECT_TRUE(port_.Log.empty());  // connect and identify write nothing
}

TEST_F(VirtualPhoneTest, ReadsToFilesWithProgress) {
  const std::uint32_t addr = 0x80000, len = 0x48000;  // four and a half chunks
  port_.Max = len + len / 32;
  ASSERT_TRUE(phone_.Connect());
  ASSERT_TRUE(phone_.ReadToFiles(addr, len, "tGL0", port_, &stop_));
  EXPECT_EQ(AllBytes(MainFile()), PatternBytes(addr, len));
  EXPECT_EQ(AllBytes(SpareFile()), PatternBytes(kMain + addr / 32, len / 32));
  ASSERT_EQ(port_.Log.size(), 1u);  // one line, updated in place
  EXPECT_EQ(port_.Log[0], "Reading 0x00048000 bytes at 0x00080000: done.");
  EXPECT_EQ(port_.Status[0], "Reading: done.");
  EXPECT_EQ(port_.Pos, port_.Max);
  EXPECT_GE(port_.MessagePumps, 5);
}

TEST_F(VirtualPhoneTest, ReadsToMemoryMainThenSpare) {
  const std::uint32_t addr = 0x3000, len = 0x1000;
  std::vector<std::uint8_t> buf(len + len / 32 + 16, 0xEE);
  ASSERT_TRUE(phone_.Connect());
  ASSERT_TRUE(phone_.ReadToMemory(addr, len, buf.data(), port_, &stop_));
  EXPECT_EQ(std::vector<std::uint8_t>(buf.begin(), buf.begin() + len), PatternBytes(addr, len));
  EXPECT_EQ(std::vector<std::uint8_t>(buf.begin() + len, buf.begin() + len + len / 32),
            PatternBytes(kMain + addr / 32, len / 32));
  for (std::size_t i = len + len / 32; i < buf.size(); ++i) EXPECT_EQ(buf[i], 0xEE);
}

struct BadRead {
  const char* name;
  bool connect;
  std::uint32_t addr;
  std::uint32_t len;
  std::string tag;
  const char* message;
};

class ReadRefused : public VirtualPhoneTest, public ::testing::WithParamInterface<BadRead> {};

TEST_P(ReadRefused, FailsWithAnErrorLine) {
  const BadRead& c = GetParam();
  if (c.connect) {
    ASSERT_TRUE(phone_.Connect());
  }
  EXPECT_FALSE(phone_.ReadToFiles(c.addr, c.len, c.tag, port_, &stop_));
  ASSERT_FALSE(port_.Log.empty());
  EXPECT_NE(port_.Log.back().find(c.message), std::string::npos) << port_.Log.back();
  EXPECT_EQ(port_.Log.back().rfind("ERROR: ", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(MainFile()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadRefused,
    ::testing::Values(BadRead{"NoSession", false, 0, 0x1000, "tGL0", "not connected"},
                      BadRead{"PastTheEnd", true, 0x3F0000, 0x20000, "tGL0", "outside the 4 MiB chip"},
                      BadRead{"Wraps", true, 0xFFFFF000u, 0x2000, "tGL0", "outside"},
                      BadRead{"Unaligned", true, 0x100, 0x1000, "tGL0", "not aligned"},
                      BadRead{"PathInTag", true, 0, 0x1000, "../x", "No valid place"},
                      BadRead{"EmptyTag", true, 0, 0x1000, "", "No valid place"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(VirtualPhoneTest, ReadMemoryNeedsABuffer) {
  ASSERT_TRUE(phone_.Connect());
  EXPECT_FALSE(phone_.ReadToMemory(0, 0x1000, nullptr, port_, &stop_));
}

class WriteTest : public VirtualPhoneTest {
 protected:
  // A source image of another size than the phone, so its spare area lies elsewhere,
  // with random main and spare data.
  void SetUp() override {
    VirtualPhoneTest::SetUp();
    source_ = dir_.Path() + "source.bin";
    MakeImage(source_, 8, ImageFill::Erased);
    std::vector<std::uint8_t> all = AllBytes(source_);
    std::mt19937 rng(42);
    for (auto& b : all) b = static_cast<std::uint8_t>(rng());
    std::ofstream(source_, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(all.data()), static_cast<std::streamsize>(all.size()));
  }
  static constexpr std::uint64_t kSourceMain = 8u << 20;
  std::string source_;
};

TEST_F(WriteTest, WithoutEccSpareBytesGoAsTheyAre) {
  const std::uint32_t addr = 0x40000, len = 0x50000;
  const auto before = AllBytes(source_);
  ASSERT_TRUE(phone_.WriteFromImage(addr, len, source_, false, false, port_, &stop_));
  EXPECT_EQ(phone_.Connects(), 1);  // the write opened its own session
  EXPECT_EQ(PhoneMain(addr, len), ReadBytes(source_, addr, len));
  EXPECT_EQ(PhoneSpare(addr, len), ReadBytes(source_, kSourceMain + addr / 32, len / 32));
  // Neighbours untouched, source unchanged.
  EXPECT_EQ(PhoneMain(addr - 16, 16), PatternBytes(addr - 16, 16));
  EXPECT_EQ(PhoneMain(addr + len, 16), PatternBytes(addr + len, 16));
  EXPECT_EQ(PhoneSpare(addr + len, 512), PatternBytes(kMain + (addr + len) / 32, 16));
  EXPECT_EQ(AllBytes(source_), before);
  EXPECT_EQ(port_.Log.back(), "Writing 0x00050000 bytes at 0x00040000: done.");
}

TEST_F(WriteTest, WithEccEverySectorGetsItsCode) {
  const std::uint32_t addr = 0x10000, len = 0x20000;
  ASSERT_TRUE(phone_.WriteFromImage(addr, len, source_, true, false, port_, &stop_));
  const auto main = PhoneMain(addr, len);
  const auto spare = PhoneSpare(addr, len);
  const auto sourceSpare = ReadBytes(source_, kSourceMain + addr / 32, len / 32);
  EXPECT_EQ(main, ReadBytes(source_, addr, len));
  for (std::size_t s = 0; s < len / 512; ++s) {
    const std::uint8_t* sp = spare.data() + s * 16;
    const nand::EccCode stored{sp[8], sp[9], sp[10]};
    ASSERT_EQ(stored, nand::ComputeEcc(main.data() + s * 512, nand::EccStep::Bytes512,
                                       nand::EccOrder::Normal))
        << s;
    for (std::size_t i = 0; i < 16; ++i)
      if (i < 8 || i > 10) {
        ASSERT_EQ(sp[i], sourceSpare[s * 16 + i]) << s << ":" << i;
      }
  }
  EXPECT_EQ(port_.Log.back(), "Writing with ECC 0x00020000 bytes at 0x00010000: done.");
}

TEST_F(WriteTest, SourceThatDoesNotHoldTheRangeFails) {
  const auto before = AllBytes(phonePath_);
  // The 4 MiB phone's own range exists, but a 1 MiB source cannot supply it.
  const std::string small = dir_.Path() + "small.bin";
  MakeImage(small, 1, ImageFill::Pattern);
  EXPECT_FALSE(phone_.WriteFromImage(0x100000, 0x40000, small, false, false, port_, &stop_));
  EXPECT_NE(port_.Log.back().find("does not hold"), std::string::npos);
  EXPECT_FALSE(phone_.WriteFromImage(0, 0x1000, dir_.Path() + "none.bin", false, false, port_, &stop_));
  EXPECT_EQ(port_.Log.back().rfind("ERROR: Write failed.", 0), 0u);
  EXPECT_EQ(AllBytes(phonePath_), before);
}

TEST_F(WriteTest, AlreadyConnectedReusesTheSession) {
  ASSERT_TRUE(phone_.WriteFromImage(0, 0x1000, source_, false, false, port_, &stop_));
  ASSERT_TRUE(phone_.WriteFromImage(0x1000, 0x1000, source_, false, true, port_, &stop_));
  EXPECT_EQ(phone_.Connects(), 1);
  phone_.EndSession();
  phone_.Faults.FailConnect = true;
  EXPECT_FALSE(phone_.WriteFromImage(0, 0x1000, source_, false, true, port_, &stop_));
  EXPECT_EQ(port_.Log.back(), "ERROR: Write failed. The phone does not answer.");
}

TEST_F(VirtualPhoneTest, EraseSetsWholeBlocksToFF) {
  ASSERT_TRUE(phone_.Connect());
  const std::uint32_t addr = 0x80000, len = 0x80000;
  ASSERT_TRUE(phone_.Erase(addr, len, port_, &stop_));
  EXPECT_EQ(PhoneMain(addr, len), std::vector<std::uint8_t>(len, 0xFF));
  EXPECT_EQ(PhoneSpare(addr, len), std::vector<std::uint8_t>(len / 32, 0xFF));
  EXPECT_EQ(PhoneMain(addr + len, 64), PatternBytes(addr + len, 64));
  EXPECT_EQ(PhoneSpare(addr + len, 2048), PatternBytes(kMain + (addr + len) / 32, 64));
  EXPECT_FALSE(phone_.Erase(0x1000, 0x40000, port_, &stop_));
  EXPECT_NE(port_.Log.back().find("not aligned to erase blocks"), std::string::npos);
}

TEST_F(VirtualPhoneTest, NthOperationFailsMidway) {
  phone_.Faults.FailNthRead = 2;
  phone_.Faults.FailNthErase = 1;
  ASSERT_TRUE(phone_.Connect());
  EXPECT_TRUE(phone_.ReadToFiles(0, 0x40000, "tGL0", port_, &stop_));
  EXPECT_FALSE(phone_.ReadToFiles(0, 0x40000, "tGL0", port_, &stop_));
  EXPECT_EQ(port_.Log.back(), "ERROR: Reading failed. The phone did not answer at 0x00020000.");
  std::vector<std::uint8_t> buf(0x1000 + 0x80);
  EXPECT_TRUE(phone_.ReadToMemory(0, 0x1000, buf.data(), port_, &stop_));

  // The erase stops half-way: the first half is erased, the rest is not.
  EXPECT_FALSE(phone_.Erase(0x80000, 0x40000, port_, &stop_));
  EXPECT_EQ(port_.Log.back(), "ERROR: Erasing failed. The phone did not answer at 0x000A0000.");
  EXPECT_EQ(PhoneMain(0x80000, 0x20000), std::vector<std::uint8_t>(0x20000, 0xFF));
  EXPECT_EQ(PhoneMain(0xA0000, 16), PatternBytes(0xA0000, 16));
  EXPECT_TRUE(phone_.Erase(0x80000, 0x40000, port_, &stop_));
}

TEST_F(WriteTest, NthWriteFails) {
  phone_.Faults.FailNthWrite = 1;
  EXPECT_FALSE(phone_.WriteFromImage(0, 0x1000, source_, false, false, port_, &stop_));
  EXPECT_EQ(port_.Log.back(), "ERROR: Writing failed. The phone did not answer at 0x00000000.");
  EXPECT_EQ(PhoneMain(0, 0x1000), PatternBytes(0, 0x1000));
  EXPECT_TRUE(phone_.WriteFromImage(0, 0x1000, source_, false, false, port_, &stop_));
}

struct FileFaultCase {
  DataFileFault fault;
  std::int64_t mainSize;   // -1: missing
  std::int64_t spareSize;
};

class DataFileFaults : public VirtualPhoneTest, public ::testing::WithParamInterface<FileFaultCase> {};

TEST_P(DataFileFaults, ReadStillReportsSuccess) {
  const std::uint32_t len = 0x40000;
  phone_.Faults.ReadFiles = GetParam().fault;
  ASSERT_TRUE(phone_.Connect());
  ASSERT_TRUE(phone_.ReadToFiles(0, len, "tGL0", port_, &stop_));
  const auto sizeOf = [](const std::string& p) -> std::int64_t {
    return std::filesystem::exists(p) ? static_cast<std::int64_t>(std::filesystem::file_size(p)) : -1;
  };
  EXPECT_EQ(sizeOf(MainFile()), GetParam().mainSize);
  EXPECT_EQ(sizeOf(SpareFile()), GetParam().spareSize);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DataFileFaults,
                         ::testing::Values(FileFaultCase{DataFileFault::None, 0x40000, 0x2000},
                                           FileFaultCase{DataFileFault::MainMissing, -1, 0x2000},
                                           FileFaultCase{DataFileFault::MainShort, 0x20000, 0x2000},
                                           FileFaultCase{DataFileFault::SpareMissing, 0x40000, -1},
                                           FileFaultCase{DataFileFault::SpareShort, 0x40000, 0x1000}));

TEST_F(VirtualPhoneTest, SpeedLimitSlowsTheTransfer) {
  phone_.Faults.BytesPerSecond = 1 << 20;
  ASSERT_TRUE(phone_.Connect());
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(phone_.ReadToFiles(0, 0x40000, "tGL0", port_, &stop_));
  // 0x40000 + 0x2000 bytes at 1 MiB/s take about 258 ms.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(240));
}

TEST_F(VirtualPhoneTest, StopDuringASlowTransferFailsIt) {
  phone_.Faults.BytesPerSecond = 1 << 20;  // 4 MiB would take four seconds
  ASSERT_TRUE(phone_.Connect());
  const auto start = std::chrono::steady_clock::now();
  port_.OnPump = [&] {
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(100)) stop_ = 1;
  };
  EXPECT_FALSE(phone_.ReadToFiles(0, 0x400000, "tGL0", port_, &stop_));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  ASSERT_FALSE(port_.Log.empty());
  EXPECT_EQ(port_.Log.back().rfind("ERROR: Reading failed. Stopped by user at 0x", 0), 0u)
      << port_.Log.back();
  EXPECT_EQ(port_.Status[0], "Reading failed.");
  // The half-written data files do not stay behind.
  EXPECT_FALSE(std::filesystem::exists(MainFile()));
  EXPECT_FALSE(std::filesystem::exists(SpareFile()));
}

// The request log holds each service call as asked, failed ones too; a write's own
// connection is no HostConnect request.
TEST_F(WriteTest, RequestLogKeepsEveryCallWithItsArguments) {
  port_.Max = 0x18C000;
  ASSERT_TRUE(phone_.WriteFromImage(0x40000, 0x1000, source_, true, false, port_, &stop_));
  ASSERT_TRUE(phone_.WriteFromImage(0x80000, 0x1000, source_, false, true, port_, &stop_));
  phone_.EndSession();
  port_.Max = 7;
  EXPECT_FALSE(phone_.Erase(0, 0x40000, port_, &stop_));  // no session
  EXPECT_TRUE(phone_.Connect());
  TFlashInfo info;
  EXPECT_TRUE(phone_.IdentifyFlash(info));
  std::vector<std::uint8_t> buf(0x1000 + 0x80);
  EXPECT_TRUE(phone_.ReadToMemory(0x2000, 0x1000, buf.data(), port_, &stop_));
  EXPECT_TRUE(phone_.ReadToFiles(0x3000, 0x200, "tGL0", port_, &stop_));

  const std::vector<PhoneRequest>& r = phone_.Requests();
  ASSERT_EQ(r.size(), 8u);
  const std::vector<PhoneService> services{
      PhoneService::Write,   PhoneService::Write,    PhoneService::EndSession,
      PhoneService::Erase,   PhoneService::Connect,  PhoneService::Identify,
      PhoneService::ReadToMemory, PhoneService::ReadToFiles};
  for (std::size_t k = 0; k < r.size(); ++k) EXPECT_EQ(r[k].Service, services[k]) << k;
  EXPECT_EQ(r[0].Address, 0x40000u);
  EXPECT_EQ(r[0].Length, 0x1000u);
  EXPECT_TRUE(r[0].Ecc);
  EXPECT_FALSE(r[0].AlreadyConnected);
  EXPECT_EQ(r[0].ImagePath, source_);
  EXPECT_EQ(r[0].GaugeMax, 0x18C000);
  EXPECT_FALSE(r[1].Ecc);
  EXPECT_TRUE(r[1].AlreadyConnected);
  EXPECT_EQ(r[3].GaugeMax, 7);
  EXPECT_EQ(r[6].Address, 0x2000u);
  EXPECT_EQ(r[7].Address, 0x3000u);
  EXPECT_EQ(r[7].Length, 0x200u);
  EXPECT_EQ(phone_.Connects(), 2);  // the first write's session and the HostConnect

  phone_.ClearRequests();
  for (std::size_t k = 0; k < VirtualPhone::kMaxRequests + 1; ++k) phone_.EndSession();
  EXPECT_LE(phone_.Requests().size(), VirtualPhone::kMaxRequests);
  EXPECT_GT(phone_.Requests().size(), VirtualPhone::kMaxRequests / 4);
}

TEST_F(VirtualPhoneTest, StopFlagAlreadySetMovesNothing) {
  ASSERT_TRUE(phone_.Connect());
  stop_ = 1;
  EXPECT_FALSE(phone_.Erase(0, 0x40000, port_, &stop_));
  EXPECT_EQ(PhoneMain(0, 16), PatternBytes(0, 16));
  EXPECT_EQ(port_.Log.back(), "ERROR: Erasing failed. Stopped by user at 0x00000000.");
}

TEST_F(WriteTest, StopFlagAlreadySetWritesNothing) {
  const auto before = AllBytes(phonePath_);
  stop_ = 1;
  EXPECT_FALSE(phone_.WriteFromImage(0x40000, 0x40000, source_, true, false, port_, &stop_));
  EXPECT_EQ(AllBytes(phonePath_), before);
  EXPECT_EQ(port_.Log.back(), "ERROR: Writing with ECC failed. Stopped by user at 0x00040000.");
  EXPECT_EQ(port_.Status[0], "Writing with ECC failed.");
}

// Flash with ECC, read back the whole chip as a full image, check it: clean; with read
// errors the check finds exactly the phone's flipped bits, and its repair leaves only
// the double-bit error.
struct FlipCase {
  const char* name;
  std::optional<std::uint32_t> flips;
};

class PhoneHealth : public VirtualPhoneTest, public ::testing::WithParamInterface<FlipCase> {
 protected:
  // The source: noise in the main data (the pattern's codes would all be FF FF FF), no
  // codes and no bad-block marks in the spare data: every byte 0xFF.
  void SetUp() override {
    VirtualPhoneTest::SetUp();
    source_ = dir_.Path() + "ecc-source.bin";
    MakeImage(source_, kChipMiB, ImageFill::Noise);
    std::fstream f(source_, std::ios::binary | std::ios::in | std::ios::out);
    const std::vector<char> erased(kMain / 32, '\xFF');
    f.seekp(static_cast<std::streamoff>(kMain));
    f.write(erased.data(), static_cast<std::streamsize>(erased.size()));
    ASSERT_TRUE(f.good());
  }

  // Reads the whole chip into a full image file.
  std::string ReadChip(const std::string& name) {
    std::vector<std::uint8_t> all(kMain + kMain / 32);
    EXPECT_TRUE(phone_.Connect());
    EXPECT_TRUE(phone_.ReadToMemory(0, static_cast<std::uint32_t>(kMain), all.data(), port_, &stop_));
    const std::string path = dir_.Path() + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(all.data()), static_cast<std::streamsize>(all.size()));
    return path;
  }

  NandHealthReport Check(const std::string& path, const std::string& repairTo = {}) {
    NandCheckOptions options;
    options.RepairTo = repairTo;
    NandHealthReport report;
    std::string error;
    EXPECT_TRUE(CheckNandHealth(path, options, report, error)) << error;
    EXPECT_TRUE(report.Complete) << report.NotRead;
    EXPECT_EQ(report.Layout, kPhoneEccLayout);
    EXPECT_TRUE(report.BadBlocks.empty());
    EXPECT_EQ(report.Total.CodeErrors, 0u);
    EXPECT_EQ(report.RepairNotDone, "");
    return report;
  }

  std::string source_;
};

TEST_P(PhoneHealth, FlashWithEccReadCheckRepair) {
  ASSERT_TRUE(phone_.WriteFromImage(0, static_cast<std::uint32_t>(kMain), source_, true, false,
                                    port_, &stop_));
  const auto phoneBefore = AllBytes(phonePath_);
  phone_.Faults.FlipBits = GetParam().flips;
  const std::string read = ReadChip("read.bin");
  EXPECT_EQ(AllBytes(phonePath_), phoneBefore) << "reads never change the chip";

  const NandHealthReport first = Check(read, dir_.Path() + "repaired.bin");
  if (!GetParam().flips) {
    EXPECT_EQ(first.Total.Corrected + first.Total.Uncorrectable, 0u);
    EXPECT_EQ(first.Total.Clean, first.Total.Written());
    EXPECT_EQ(first.Total.Written(), kMain / 512);  // noise has no erased sector
    return;
  }
  // Every single flip is found where the phone put it, the double one as uncorrectable.
  const std::vector<BitFlip> places = phone_.FlipPlaces(*GetParam().flips);
  ASSERT_EQ(places.size(), *GetParam().flips + 2u);
  std::vector<std::pair<std::uint64_t, std::uint32_t>> expected, found;
  for (std::size_t i = 0; i + 2 < places.size(); ++i)
    expected.emplace_back(places[i].Offset / 512, places[i].Offset % 512 * 8 + places[i].Bit);
  for (const SectorCorrection& c : first.Corrections) found.emplace_back(c.Sector, c.Bit);
  const std::uint64_t doubleSector = places.back().Offset / 512;
  EXPECT_EQ(places[places.size() - 2].Offset / 512, doubleSector);
  EXPECT_EQ(found, expected);
  EXPECT_EQ(first.Uncorrectable, std::vector<std::uint64_t>{doubleSector});
  EXPECT_EQ(first.Total.Corrected, *GetParam().flips);

  const NandHealthReport second = Check(dir_.Path() + "repaired.bin");
  EXPECT_EQ(second.Total.Corrected, 0u);
  EXPECT_EQ(second.Uncorrectable, std::vector<std::uint64_t>{doubleSector});
  // The repaired image is the chip again, but for the sector beyond repair.
  auto repaired = AllBytes(dir_.Path() + "repaired.bin");
  auto chip = phoneBefore;
  ASSERT_EQ(repaired.size(), chip.size());
  for (auto* bytes : {&repaired, &chip})
    std::fill_n(bytes->begin() + static_cast<std::ptrdiff_t>(doubleSector * 512), 512, 0);
  EXPECT_TRUE(repaired == chip);
}

INSTANTIATE_TEST_SUITE_P(Flips, PhoneHealth,
                         ::testing::Values(FlipCase{"None", std::nullopt}, FlipCase{"OnlyTheDouble", 0u},
                                           FlipCase{"Three", 3u}, FlipCase{"Hundred", 100u}),
                         [](const auto& p) { return std::string(p.param.name); });

// The default phone reads and checks as a sound chip: its data partitions written and
// clean in the phone's layout, its volume's pages in EFS too, the others erased, no block
// marked bad.
TEST(DefaultPhone, TableWithSoundDataAndBlankPartitions) {
  TempFolder dir;
  const std::string path = dir.Path() + "default.nand";
  std::string error;
  ASSERT_TRUE(VirtualPhone::CreateDefault(path, error)) << error;
  VirtualPhone phone;
  ASSERT_TRUE(phone.Open(path, error)) << error;
  EXPECT_EQ(phone.ChipMiB(), 256u);
  const auto table = VirtualPhone::DefaultTable();
  const auto pit = BuildPitTable(table);
  EXPECT_EQ(ReadBytes(path, 0x40000, pit.size()), pit);

  NandHealthReport report;
  ASSERT_TRUE(CheckNandHealth(path, {}, report, error)) << error;
  EXPECT_EQ(report.Layout, kPhoneEccLayout);
  EXPECT_TRUE(report.BadBlocks.empty());
  EXPECT_EQ(report.Total.Clean, report.Total.Written());
  ASSERT_EQ(report.Partitions.size(), table.size());
  int withData = 0, blank = 0;
  for (const NandPartitionHealth& p : report.Partitions) {
    if (p.Name == "PIT") continue;
    if (p.Name == VirtualPhone::DefaultVolumePartition()) {
      // The volume's structures and its file system's sectors; the rest never written.
      EXPECT_GT(p.Counts.Erased, 0) << p.Name;
      EXPECT_LT(p.Counts.Erased, p.Counts.Sectors) << p.Name;
      continue;
    }
    const bool data = VirtualPhone::DefaultHoldsData(p.Name);
    (data ? withData : blank) += 1;
    EXPECT_EQ(p.Counts.Erased, data ? 0 : p.Counts.Sectors) << p.Name;
  }
  EXPECT_GE(withData, 4);
  EXPECT_GE(blank, 3);
}

// Its EFS, read as the phone reads it, is an STL volume whose FAT file system holds the
// files the phone was made with, nv_data.bin beside the MD5 of its bytes.
TEST(DefaultPhone, EfsHoldsAVolumeWithTheFilesItWasMadeWith) {
  TempFolder dir;
  const std::string path = dir.Path() + "default.nand";
  std::string error;
  ASSERT_TRUE(VirtualPhone::CreateDefault(path, error)) << error;
  phone::ImagePageSource chip;
  ASSERT_TRUE(chip.Open(path, error)) << error;
  const phone::PhoneDump dump = phone::ReadPhoneDump(chip, false);
  ASSERT_TRUE(dump.TableFound) << dump.TableProblem;
  std::size_t efs = dump.Table.Entries.size();
  for (std::size_t k = 0; k < dump.Table.Entries.size(); ++k)
    if (dump.Table.Entries[k].Name == VirtualPhone::DefaultVolumePartition()) efs = k;
  ASSERT_LT(efs, dump.Table.Entries.size());
  phone::PartitionBytes bytes;
  ASSERT_TRUE(bytes.Open(chip, dump, efs, error)) << error;
  ASSERT_EQ(bytes.Layer(), phone::VolumeLayer::Stl) << bytes.StlRefusal();
  const auto volume = fat::Volume::Open(bytes, error);
  ASSERT_NE(volume, nullptr) << error;

  std::vector<fat::BuiltEntry> made;
  ASSERT_TRUE(VirtualPhone::DefaultVolumeFiles(made, error)) << error;
  std::vector<std::string> listed, findings;
  volume->Walk(
      [&](const fat::Entry& e) {
        listed.push_back(e.Path);
        return fat::WalkStep::Continue;
      },
      [&](const fat::Finding& f) { findings.push_back(f.Path + ": " + f.Text); });
  EXPECT_TRUE(findings.empty()) << findings.front();
  std::vector<std::string> expected;
  for (const fat::BuiltEntry& e : made) expected.push_back(e.Path);
  EXPECT_EQ(listed, expected);
  for (const fat::BuiltEntry& e : made) {
    if (e.Folder) continue;
    const auto entry = volume->Find(e.Path);
    ASSERT_TRUE(entry) << e.Path;
    std::vector<std::uint8_t> read;
    EXPECT_EQ(volume->ReadAll(*entry, read, 1 << 20).Status, fat::ReadStatus::Complete) << e.Path;
    EXPECT_TRUE(read == e.Bytes) << e.Path;
  }
  ASSERT_GE(made.size(), 2u);
  ASSERT_EQ(made[1].Path, "/nv_data.bin.md5");
  std::string md5;
  const auto digest = MakeDigester(DigestAlgorithm::Md5, error);
  ASSERT_TRUE(digest && digest->Update(made[0].Bytes.data(), made[0].Bytes.size()) && digest->Finish(md5));
  EXPECT_EQ(std::string(made[1].Bytes.begin(), made[1].Bytes.end()), md5 + "\n");
  EXPECT_GE(made[0].Bytes.size(), 4096u);
}

}  // namespace
