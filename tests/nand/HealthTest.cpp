// The whole-image check: layout detection on dumps in every layout, findings and their
// repair, and every image it must refuse or can only partly read.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/FileIO.h"
#include "image/ImageBuilder.h"
#include "image/NandHealth.h"
#include "nand/Hamming.h"
#include "nand/SpareLayout.h"
#include "support/TestFiles.h"

namespace orvella {
namespace {

using test::ReadBytesAt;
using test::WriteBytesAt;

constexpr std::uint32_t kChipMiB = 8;  // 32 blocks, 16384 sectors
constexpr std::uint64_t kMain = std::uint64_t{kChipMiB} << 20;
constexpr std::uint64_t kFull = kMain + kMain / 32;
const std::vector<PartitionSpec> kTable = {{"BOOT", 1}, {"PIT", 1}, {"DATA", 10}, {"REST", 0xFFFFFFFFu}};

std::uint64_t SpareOf(std::uint64_t sector) { return kMain + 16 * sector; }

std::string Bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Gives a sector whose data a test changed the codes of its new data.
void RewriteCodes(const std::string& path, std::uint64_t sector, const std::string& layout) {
  const std::vector<std::uint8_t> data = ReadBytesAt(path, sector * 512, 512);
  std::vector<std::uint8_t> spare = ReadBytesAt(path, SpareOf(sector), 16);
  ASSERT_EQ(data.size() + spare.size(), 528u);
  nand::WriteSectorCodes(*nand::FindLayout(layout), data.data(), spare.data());
  WriteBytesAt(path, SpareOf(sector), spare);
}

class Health : public ::testing::Test {
 protected:
  std::string Make(const std::string& name, ImageFill fill, const NandSpec& nand) {
    const std::string path = dir.File(name);
    std::string error;
    EXPECT_TRUE(WriteFullImage(path, ImageSpec{kChipMiB, kTable, fill}, nand, error)) << error;
    return path;
  }
  NandHealthReport Check(const std::string& path, NandCheckOptions options = {}) {
    NandHealthReport report;
    std::string error;
    EXPECT_TRUE(CheckNandHealth(path, options, report, error)) << error;
    return report;
  }
  void FlipBit(const std::string& path, std::uint64_t offset, unsigned bit) {
    std::vector<std::uint8_t> b = ReadBytesAt(path, offset, 1);
    ASSERT_EQ(b.size(), 1u);
    b[0] = static_cast<std::uint8_t>(b[0] ^ (1u << bit));
    WriteBytesAt(path, offset, b);
  }
  test::TempDir dir;
};

class DetectsLayout : public Health, public ::testing::WithParamInterface<std::string> {};

// A dump with a fifth of its sectors erased and two bad blocks: the layout is found, the
// dump is sound, and the sums add up per partition.
TEST_P(DetectsLayout, InADumpWithErasedSectorsAndBadBlocks) {
  const std::string path = Make("dump.bin", ImageFill::Noise, {GetParam(), 20, {3, 9}});
  const NandHealthReport r = Check(path);
  EXPECT_EQ(r.Layout, GetParam());
  EXPECT_FALSE(r.LayoutNamedByUser);
  EXPECT_DOUBLE_EQ(r.CleanShare, 1.0);
  EXPECT_GE(r.SampledSectors, 4096u);
  EXPECT_TRUE(r.Complete);
  EXPECT_EQ(r.BadBlocks, (std::vector<std::uint32_t>{3, 9}));
  EXPECT_EQ(r.Total.Sectors, 16384u);
  EXPECT_NEAR(static_cast<double>(r.Total.Erased) / 16384, 0.2, 0.02);
  EXPECT_EQ(r.Total.Corrected + r.Total.CodeErrors + r.Total.Uncorrectable, 0u);
  EXPECT_EQ(r.Total.Clean + r.Total.Unchecked, r.Total.Written());
  EXPECT_GT(r.Total.Unchecked, 0u);  // the written sectors of the two bad blocks
  ASSERT_EQ(r.Partitions.size(), 4u);
  EXPECT_EQ(r.Partitions[2].BadBlocks, (std::vector<std::uint32_t>{3, 9}));
  EXPECT_EQ(r.Partitions[3].Blocks, 20u);
  NandCounts sum;
  for (const auto& p : r.Partitions) sum += p.Counts;
  EXPECT_EQ(sum.Sectors, r.Total.Sectors);
  EXPECT_EQ(sum.Erased, r.Total.Erased);
  EXPECT_EQ(r.Outside.Sectors, 0u);
  EXPECT_EQ(r.Blocks[3], NandBlockState::Bad);
  EXPECT_EQ(r.Blocks[4], NandBlockState::Written);
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, DetectsLayout,
                         ::testing::Values("onenand-h512-normal", "onenand-h512-smc",
                                           "onenand-h256-normal", "onenand-h256-smc",
                                           "smallpage-normal", "smallpage-smc"),
                         [](const auto& p) {
                           std::string n = p.param;
                           for (char& c : n) if (c == '-') c = '_';
                           return n;
                         });

// Without codes a dump is still counted, and never made to look broken.
TEST_F(Health, NoLayoutOnRandomOrErasedSpareData) {
  const std::string noisy = Make("noisy.bin", ImageFill::Noise, {});
  const std::string blank = Make("blank.bin", ImageFill::Noise, {"onenand-h512-normal", 0, {}});
  WriteBytesAt(blank, kMain, std::vector<std::uint8_t>(kMain / 32, 0xFF));
  for (const std::string& path : {noisy, blank}) {
    SCOPED_TRACE(path);
    const NandHealthReport r = Check(path);
    EXPECT_EQ(r.Layout, "");
    EXPECT_LT(r.CleanShare, 0.01);
    EXPECT_EQ(r.Total.Clean + r.Total.Corrected + r.Total.CodeErrors + r.Total.Uncorrectable, 0u);
    EXPECT_EQ(r.Total.Unchecked, r.Total.Written());
    EXPECT_TRUE(r.Uncorrectable.empty());
  }
  // A layout named by the user is used even when the codes disagree. Unwritten codes are
  // never taken for one flipped bit (random data of odd parity would look like that);
  // only data whose code happens to be FF FF FF (one in 2^13) pass as clean.
  NandCheckOptions named;
  named.Layout = "onenand-h512-normal";
  const NandHealthReport r = Check(blank, named);
  EXPECT_TRUE(r.LayoutNamedByUser);
  EXPECT_EQ(r.Layout, "onenand-h512-normal");
  EXPECT_EQ(r.Total.Corrected, 0u);
  EXPECT_EQ(r.Total.Clean + r.Total.Uncorrectable, r.Total.Written());
  EXPECT_LT(r.Total.Clean, 10u);
}

// Faults of each kind are found where they are, repaired into a new file, and the image
// itself is left as it was.
TEST_F(Health, FindsAndRepairsEachKindOfFault) {
  const std::string clean = Make("clean.bin", ImageFill::Noise, {"onenand-h256-normal", 10, {}});
  const std::string path = Make("dump.bin", ImageFill::Noise, {"onenand-h256-normal", 10, {}});
  // Sector 1000: one data bit in each half; 1500: one code bit; 2000: two data bits in
  // one half; 2500: a data bit and a code bit of the other half.
  FlipBit(path, 1000 * 512 + 64, 5);
  FlipBit(path, 1000 * 512 + 300, 0);
  FlipBit(path, SpareOf(1500) + 9, 2);
  FlipBit(path, 2000 * 512 + 10, 1);
  FlipBit(path, 2000 * 512 + 200, 7);
  FlipBit(path, 2500 * 512 + 7, 3);
  FlipBit(path, SpareOf(2500) + 12, 6);
  const std::string before = Bytes(path);

  NandCheckOptions options;
  options.RepairTo = dir.File("fixed.bin");
  std::uint64_t lastDone = 0, calls = 0;
  options.Progress = [&](std::uint64_t done, std::uint64_t total) {
    // 0 when the pass begins, then more at every step
    if (calls == 0) EXPECT_EQ(done, 0u);
    else EXPECT_GT(done, lastDone);
    EXPECT_EQ(total, kFull);
    lastDone = done;
    ++calls;
  };
  const NandHealthReport r = Check(path, options);
  EXPECT_EQ(r.Layout, "onenand-h256-normal");
  ASSERT_EQ(r.Corrections.size(), 3u);
  EXPECT_EQ(r.Corrections[0].Sector, 1000u);
  EXPECT_EQ(r.Corrections[0].Bit, 64u * 8 + 5);
  EXPECT_EQ(r.Corrections[1].Bit, 300u * 8 + 0);
  EXPECT_EQ(r.Corrections[2].Sector, 2500u);
  EXPECT_EQ(r.Corrections[2].Bit, 7u * 8 + 3);
  EXPECT_EQ(r.CodeErrors, (std::vector<std::uint64_t>{1500, 2500}));
  EXPECT_EQ(r.Uncorrectable, (std::vector<std::uint64_t>{2000}));
  EXPECT_EQ(r.Total.Corrected, 2u);
  EXPECT_EQ(r.Total.CodeErrors, 1u);
  EXPECT_EQ(r.Total.Uncorrectable, 1u);
  EXPECT_EQ(r.RepairedSectors, 3u);
  EXPECT_EQ(r.Blocks[1000 / 512], NandBlockState::Corrected);
  EXPECT_EQ(r.Blocks[2000 / 512], NandBlockState::Uncorrectable);
  EXPECT_EQ(r.Partitions[2].Counts.Uncorrectable, 1u);  // DATA holds blocks 2..11
  EXPECT_EQ(lastDone, kFull);
  EXPECT_GE(calls, 2u);
  EXPECT_EQ(r.RepairedTo, options.RepairTo);
  EXPECT_EQ(Bytes(path), before);
  EXPECT_FALSE(std::filesystem::exists(options.RepairTo + ".part"));

  // The repaired image equals the sound one except for the uncorrectable sector.
  std::string fixed = Bytes(options.RepairTo);
  std::string sound = Bytes(clean);
  ASSERT_EQ(fixed.size(), sound.size());
  EXPECT_NE(fixed.compare(2000 * 512, 512, sound, 2000 * 512, 512), 0);
  fixed.replace(2000 * 512, 512, sound, 2000 * 512, 512);
  EXPECT_TRUE(fixed == sound);
  const NandHealthReport again = Check(options.RepairTo);
  EXPECT_EQ(again.Uncorrectable, (std::vector<std::uint64_t>{2000}));
  EXPECT_TRUE(again.Corrections.empty());
  EXPECT_TRUE(again.CodeErrors.empty());
}

struct Refusal {
  const char* what;
  const char* expected;  // part of the error
};

// Images that cannot be checked at all are refused with a message that says why, and a
// refused repair leaves no file behind.
TEST_F(Health, RefusesWhatItCannotCheck) {
  const std::string good = Make("good.bin", ImageFill::Erased, {});
  const std::string tiny = dir.File("tiny.bin");
  std::ofstream(tiny, std::ios::binary) << std::string(1000, '\xFF');
  const std::string huge = dir.File("huge.bin");
  std::ofstream(huge, std::ios::binary).put('\xFF');
  test::ResizeFile(huge, std::uint64_t{1} << 32);
  std::filesystem::create_directory(dir.File("folder"));
  const std::string sameImage = (dir.Path() / "." / "good.bin").string();

  const struct {
    std::string path, layout, repair, expected;
  } cases[] = {
      {dir.File("missing.bin"), "auto", "", "does not exist"},
      {dir.File("folder"), "auto", "", "is a folder"},
      {tiny, "auto", "", "smaller than one erase block"},
      {huge, "auto", "", "4 GiB or larger"},
      {good, "onenand-h999", "", "unknown layout \"onenand-h999\"; known layouts: onenand-h512-normal"},
      {good, "auto", sameImage, "it is the image file in use"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + c.layout);
    NandCheckOptions options;
    options.Layout = c.layout;
    options.RepairTo = c.repair;
    NandHealthReport report;
    std::string error;
    EXPECT_FALSE(CheckNandHealth(c.path, options, report, error));
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
  }
  EXPECT_EQ(std::filesystem::file_size(good), kFull);

  NandCheckOptions stopped;
  stopped.RepairTo = dir.File("out.bin");
  int polls = 0;
  stopped.Stop = [&] { return ++polls > 2; };
  NandHealthReport report;
  std::string error;
  EXPECT_FALSE(CheckNandHealth(good, stopped, report, error));
  EXPECT_NE(error.find("stopped"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(stopped.RepairTo));
  EXPECT_FALSE(std::filesystem::exists(stopped.RepairTo + ".part"));
}

// A read or a write failing at any point of a check with repair ends it with the
// system's message; neither the output nor its part file is left, the image unchanged.
TEST_F(Health, EveryReadAndWriteFailureEndsTheRepairCleanly) {
  const std::string path = Make("dump.bin", ImageFill::Noise, {"smallpage-normal", 10, {4}});
  const std::string before = Bytes(path);
  NandCheckOptions options;
  options.RepairTo = dir.File("fixed.bin");
  FileFaults::Disarm();
  Check(path, options);
  const long reads = FileFaults::Reads(), writes = FileFaults::Writes();
  ASSERT_GT(reads, 8);
  ASSERT_GT(writes, 8);
  std::filesystem::remove(options.RepairTo);
  for (const bool reading : {true, false}) {
    for (long nth = 1; nth <= (reading ? reads : writes); ++nth) {
      SCOPED_TRACE((reading ? "read " : "write ") + std::to_string(nth));
      FileFaults::Disarm();
      if (reading) FileFaults::ArmRead(nth); else FileFaults::ArmWrite(nth);
      NandHealthReport report;
      std::string error;
      EXPECT_FALSE(CheckNandHealth(path, options, report, error));
      EXPECT_NE(error.find("I/O error"), std::string::npos) << error;
      EXPECT_FALSE(std::filesystem::exists(options.RepairTo));
      EXPECT_FALSE(std::filesystem::exists(options.RepairTo + ".part"));
    }
  }
  FileFaults::Disarm();
  EXPECT_TRUE(Bytes(path) == before);
}

// A cut-off dump is checked as far as main and spare data both reach, and the report
// says what is missing; a dump without a table is checked without partition rows.
TEST_F(Health, PartlyReadableAndTablelessDumps) {
  const NandSpec ecc{"onenand-h512-smc", 0, {}};
  const std::string cutInSpare = Make("spare.bin", ImageFill::Noise, ecc);
  test::ResizeFile(cutInSpare, kFull - 40000);  // the spare data of the last 5 blocks
  const std::string cutInMain = Make("main.bin", ImageFill::Noise, ecc);
  test::ResizeFile(cutInMain, kMain - (1 << 20));
  const std::string noTable = Make("notable.bin", ImageFill::Noise, ecc);
  WriteBytesAt(noTable, 0x40000, {0, 0, 0, 0});
  RewriteCodes(noTable, 512, ecc.EccLayout);
  const std::string longTable = Make("long.bin", ImageFill::Noise, ecc);
  test::WriteLE32At(longTable, 0x40004, 0x10000000);
  RewriteCodes(longTable, 512, ecc.EccLayout);

  NandHealthReport r = Check(cutInSpare);
  EXPECT_FALSE(r.Complete);
  EXPECT_EQ(r.ChipBlocks, 32u);
  EXPECT_EQ(r.Blocks.size(), 27u);
  EXPECT_EQ(r.Total.Sectors, 27u * 512);
  EXPECT_EQ(r.Layout, "onenand-h512-smc");
  EXPECT_TRUE(r.Uncorrectable.empty());
  EXPECT_NE(r.NotRead.find("blocks 0x001B..0x001F"), std::string::npos) << r.NotRead;
  EXPECT_EQ(r.Partitions[3].Counts.Sectors, 15u * 512);

  r = Check(cutInMain);
  EXPECT_FALSE(r.Complete);
  EXPECT_EQ(r.ChipBlocks, 32u);
  EXPECT_EQ(r.Total.Sectors, 0u);
  EXPECT_NE(r.NotRead.find("blocks 0x0000..0x001F"), std::string::npos) << r.NotRead;

  for (const std::string& path : {noTable, longTable}) {
    r = Check(path);
    EXPECT_TRUE(r.Complete);
    EXPECT_FALSE(r.TableFound);
    EXPECT_TRUE(r.Partitions.empty());
    EXPECT_EQ(r.Outside.Sectors, 16384u);
    EXPECT_EQ(r.Total.Clean, 16384u);
  }
  EXPECT_NE(r.TableProblem.find("268435456 entries"), std::string::npos) << r.TableProblem;
}

}  // namespace
}  // namespace orvella
