// Boot sectors refused with their reason and accepted with the FAT type their cluster
// count gives; the name checks of extraction; date and time fields.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fat/Names.h"
#include "fat/Sources.h"
#include "fat/Volume.h"
#include "tests/fat/TinyVolume.h"

namespace orvella::fattest {
namespace {

using fat::FatType;

struct Patch {
  std::uint32_t At;
  std::uint64_t Value;
  unsigned Bytes;
};

struct Refusal {
  const char* Name;
  std::vector<Patch> Patches;
  std::uint64_t SourceBytes;  // 0: the whole volume
  const char* Reason;
};

class BootRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(BootRefusal, NamesTheImpossibleValue) {
  TinyVolume v;
  for (const Patch& p : GetParam().Patches) PutLe(v.Bytes, p.At, p.Value, p.Bytes);
  std::vector<std::uint8_t> bytes = v.Bytes;
  if (GetParam().SourceBytes) bytes.resize(GetParam().SourceBytes);
  fat::MemorySource source(bytes);
  std::string error;
  EXPECT_EQ(fat::Volume::Open(source, error), nullptr);
  EXPECT_NE(error.find(GetParam().Reason), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Boot, BootRefusal,
    ::testing::Values(
        Refusal{"NoSignature", {{510, 0x0000, 2}}, 0, "hold 00 00, not the boot signature 55 AA"},
        Refusal{"SectorOf1000", {{11, 1000, 2}}, 0, "bytes per sector is 1000 (byte 11)"},
        Refusal{"SectorOf256", {{11, 256, 2}}, 0, "bytes per sector is 256"},
        Refusal{"ThreeSectorsPerCluster", {{13, 3, 1}}, 0, "sectors per cluster is 3 (byte 13)"},
        Refusal{"NoSectorsPerCluster", {{13, 0, 1}}, 0, "sectors per cluster is 0"},
        Refusal{"NoReservedSector", {{14, 0, 2}}, 0, "reserved sectors is 0 (byte 14)"},
        Refusal{"NoFat", {{16, 0, 1}}, 0, "the number of FATs is 0"},
        Refusal{"ThreeFats", {{16, 3, 1}}, 0, "the number of FATs is 3"},
        Refusal{"NoSectors", {{19, 0, 2}, {32, 0, 4}}, 0, "total sector count is 0"},
        Refusal{"NoFatSectors", {{22, 0, 2}, {36, 0, 4}}, 0, "the FAT size is 0 sectors"},
        Refusal{"NoRoomForClusters", {{19, 9, 2}}, 0, "take 9 sectors of the volume's 9, leaving no whole cluster"},
        Refusal{"NoRootEntries", {{17, 0, 2}}, 0, "make it FAT12, but byte 17 gives no root folder entries"},
        Refusal{"FatTooSmall", {{22, 1, 2}}, 0, "a FAT of 1 sectors numbers 339 clusters, fewer than the volume's 393"},
        Refusal{"MoreClustersThanFat32", {{19, 0, 2}, {32, 0xFFFFFFFF, 4}}, 0, "more than a FAT can number"},
        Refusal{"Fat32ByCountWithFixedRoot", {{19, 0, 2}, {32, 70000, 4}, {22, 600, 2}}, 0,
                "clusters make it FAT32, whose root folder is a cluster chain, but byte 17 gives 64"},
        Refusal{"Fat32RootOutside", {{19, 0, 2}, {32, 70000, 4}, {22, 0, 2}, {36, 600, 4}, {17, 0, 2}, {44, 1, 4}},
                0, "the root folder's cluster is 1 (byte 44), outside clusters 2 to"},
        Refusal{"SourceEndsInRoot", {}, 2048, "the source ends at byte 2048, before the end of the root folder at byte 4608"},
        Refusal{"SourceShorterThanABootSector", {}, 100, "the source holds 100 bytes, less than a boot sector (512)"}),
    [](const ::testing::TestParamInfo<Refusal>& p) { return std::string(p.param.Name); });

// A boot sector for `clusters` clusters of one sector, laid out for `type`; the source is
// that big, zeros past the sector.
fat::MemorySource VolumeOf(std::uint32_t clusters, FatType type) {
  std::vector<std::uint8_t> b = TinyVolume().Bytes;
  b.resize(512);
  const unsigned bits = type == FatType::Fat12 ? 12 : type == FatType::Fat16 ? 16 : 32;
  const std::uint64_t fatSectors = ((clusters + 2ull) * bits / 8 + 511) / 512 + 1;
  const std::uint64_t reserved = type == FatType::Fat32 ? 32 : 1;
  const std::uint64_t rootSectors = type == FatType::Fat32 ? 0 : 4;
  const std::uint64_t total = reserved + 2 * fatSectors + rootSectors + clusters;
  PutLe(b, 14, reserved, 2);
  PutLe(b, 19, 0, 2);
  PutLe(b, 32, total, 4);
  if (type == FatType::Fat32) {
    PutLe(b, 17, 0, 2);
    PutLe(b, 22, 0, 2);
    PutLe(b, 36, fatSectors, 4);
    PutLe(b, 44, 2, 4);
  } else {
    PutLe(b, 22, fatSectors, 2);
  }
  return fat::MemorySource(b, total * 512);
}

TEST(BootGeometry, TheClusterCountDecidesTheType) {
  struct Case {
    std::uint32_t Clusters;
    FatType Type;
  };
  for (const Case& c : {Case{1, FatType::Fat12}, Case{4084, FatType::Fat12}, Case{4085, FatType::Fat16},
                        Case{65524, FatType::Fat16}, Case{65525, FatType::Fat32}, Case{300000, FatType::Fat32}}) {
    SCOPED_TRACE(c.Clusters);
    fat::MemorySource source = VolumeOf(c.Clusters, c.Type);
    std::string error;
    const auto v = fat::Volume::Open(source, error);
    ASSERT_NE(v, nullptr) << error;
    EXPECT_EQ(v->Facts().Type, c.Type);
    EXPECT_EQ(v->Facts().Clusters, c.Clusters);
    EXPECT_TRUE(v->VolumeFindings().empty());
  }
  // The same counts laid out for the other type are refused, never read with the wrong one.
  for (const auto& [clusters, layout] : {std::pair{4085u, FatType::Fat12}, std::pair{65525u, FatType::Fat16}}) {
    fat::MemorySource source = VolumeOf(clusters, layout);
    std::string error;
    EXPECT_EQ(fat::Volume::Open(source, error), nullptr) << clusters;
  }
}

TEST(BootGeometry, AVolumeLongerThanItsSourceOpensWithAFinding) {
  TinyVolume v;
  v.Bytes.resize(v.Data + 10 * 512);
  fat::MemorySource source(v.Bytes);
  std::string error;
  const auto volume = fat::Volume::Open(source, error);
  ASSERT_NE(volume, nullptr) << error;
  ASSERT_EQ(volume->VolumeFindings().size(), 1u);
  EXPECT_EQ(volume->VolumeFindings()[0].Kind, fat::FindingKind::VolumeCut);
  EXPECT_EQ(volume->VolumeFindings()[0].Text,
            "the boot sector gives a volume of 204800 bytes, the source holds 9728: what lies past "
            "byte 9728 cannot be read");
  EXPECT_EQ(volume->Label(), "TINY");
}

struct NameCase {
  std::string Name;
  const char* Unsafe;   // part of UnsafeNameReason, "" when safe
  const char* Windows;  // part of WindowsNameReason, "" when Windows holds it
};

TEST(Names, RefusedWhereTheyWouldLeaveTheFolderOrWindowsCannotHoldThem) {
  using namespace std::string_literals;
  const NameCase cases[] = {
      {"nv_data.bin", "", ""},
      {"Größe ünï.bin", "", ""},
      {"console", "", ""},
      {"COM0", "", ""},
      {"ab:c", "", "holds \":\", which Windows does not allow"},
      {"", "the name is empty", "the name is empty"},
      {".", "\".\" names the folder itself", "names a folder"},
      {"..", "\"..\" names the folder above", "names a folder"},
      {"a/b", "it holds \"/\", a path separator", "holds \"/\""},
      {"..\\up", "it holds \"\\\", a path separator", "holds \"\\\""},
      {"x\0y"s, "it holds a NUL character", "control character U+0000"},
      {"C:evil", "it begins with the drive \"C:\"", "holds \":\""},
      {"z:", "it begins with the drive \"z:\"", "holds \":\""},
      {"CON", "\"CON\" is a device name", "\"CON\" is a device name on Windows"},
      {"nul.txt", "\"NUL\" is a device name", "\"NUL\" is a device name"},
      {"aux .c", "\"AUX\" is a device name", "\"AUX\" is a device name"},
      {"lpt9.log", "\"LPT9\" is a device name", "\"LPT9\" is a device name"},
      {"conout$", "\"CONOUT$\" is a device name", "\"CONOUT$\" is a device name"},
      {"name.", "", "ends with \".\""},
      {"name ", "", "ends with a space"},
      {"tab\tname", "", "control character U+0009"},
      {"q?.txt", "", "holds \"?\""},
      {"a<b>", "", "holds \"<\""},
      {"pipe|", "", "holds \"|\""},
      {"star*", "", "holds \"*\""},
      {"quote\"", "", "holds \"\"\""},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string unsafe = fat::UnsafeNameReason(c.Name);
    const std::string windows = fat::WindowsNameReason(c.Name);
    if (*c.Unsafe == 0)
      EXPECT_EQ(unsafe, "");
    else
      EXPECT_NE(unsafe.find(c.Unsafe), std::string::npos) << unsafe;
    if (*c.Windows == 0)
      EXPECT_EQ(windows, "");
    else
      EXPECT_NE(windows.find(c.Windows), std::string::npos) << windows;
  }
}

TEST(Timestamps, OnlyRealDatesAndTimesAreShown) {
  struct Case {
    std::uint16_t Date, Time;
    std::uint8_t Centis;
    const char* Text;
  };
  auto d = [](unsigned y, unsigned m, unsigned day) { return static_cast<std::uint16_t>(((y - 1980) << 9) | (m << 5) | day); };
  auto t = [](unsigned h, unsigned m, unsigned s) { return static_cast<std::uint16_t>((h << 11) | (m << 5) | (s / 2)); };
  const Case cases[] = {
      {0, 0, 0, ""},
      {d(1980, 1, 1), 0, 0, "1980-01-01 00:00:00"},
      {d(2024, 2, 29), t(23, 59, 58), 150, "2024-02-29 23:59:59"},
      {d(2107, 12, 31), t(12, 0, 2), 0, "2107-12-31 12:00:02"},
      {d(2023, 2, 29), 0, 0, ""},
      {d(2100, 2, 29), 0, 0, ""},
      {d(2024, 13, 1), 0, 0, ""},
      {d(2024, 4, 31), 0, 0, ""},
      {d(2024, 1, 0), 0, 0, ""},
      {d(2024, 1, 1), t(24, 0, 0), 0, ""},
      {d(2024, 1, 1), t(0, 60, 0), 0, ""},
      {d(2024, 1, 1), 30, 0, ""},
      {d(2024, 1, 1), 0, 200, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    const fat::DosTimestamp ts{c.Date, c.Time, c.Centis};
    EXPECT_EQ(ts.Text(), c.Text);
    EXPECT_EQ(ts.Valid(), *c.Text != 0);
  }
}

}  // namespace
}  // namespace orvella::fattest
