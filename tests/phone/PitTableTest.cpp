// The table as the phone reads it, field by field, with the garbage real tables carry;
// and what a partition holds, judged from its first pages.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/FullImage.h"
#include "image/ImageBuilder.h"
#include "image/RecordingPort.h"
#include "phone/BmlWriter.h"
#include "phone/Content.h"
#include "phone/ImagePages.h"
#include "phone/PitTable.h"
#include "phone/SpareBuffer.h"
#include "support/TestFiles.h"

namespace orvella::phone {
namespace {

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct RawEntry {
  std::uint32_t Binary, Device, Id, Attributes, Update, BlockSize, Count, FileOffset, FileSize;
  std::string Name, Flash, Fota;  // may hold bytes after a NUL
};

std::vector<std::uint8_t> TableBytes(std::uint32_t count, const std::vector<RawEntry>& entries) {
  std::vector<std::uint8_t> b(kBlockMainBytes, 0xA5);  // garbage after the table
  Put32(b.data(), kPitMagicWord);
  Put32(b.data() + 4, count);
  Put32(b.data() + 8, 0xDEADBEEF);
  Put32(b.data() + 12, 0x00420041);  // "AB" in UTF-16, as leftovers look
  for (int i = 0; i < 6; ++i) Put16(b.data() + 16 + 2 * i, 0x1111u * static_cast<std::uint32_t>(i + 1));
  for (std::size_t k = 0; k < entries.size(); ++k) {
    std::uint8_t* e = b.data() + kPitPhoneHeaderBytes + k * kPitPhoneEntryBytes;
    const RawEntry& r = entries[k];
    const std::uint32_t words[] = {r.Binary, r.Device, r.Id, r.Attributes, r.Update, r.BlockSize, r.Count, r.FileOffset, r.FileSize};
    for (int w = 0; w < 9; ++w) Put32(e + 4 * w, words[w]);
    for (const auto& [at, text] : {std::pair{kPitEntName, &r.Name}, {kPitEntFlashFile, &r.Flash}, {kPitEntFotaFile, &r.Fota}}) {
      std::memset(e + at, 0, kPitTextBytes);
      std::memcpy(e + at, text->data(), std::min<std::size_t>(text->size(), kPitTextBytes));
    }
  }
  return b;
}

TEST(PitTable, DecodesEveryFieldAndAcceptsTheGarbageRealTablesCarry) {
  using namespace std::string_literals;
  const std::vector<RawEntry> entries = {
      {0, 0, 0, 0, 0, 256, 1, 0x00720061, 0x12345678, "IBL+PBL\0junk"s, "boot.bin", ""},
      {0, 0, 20, kPitAttrStl, kPitUpdateFota, 256, 40, 0, 0, "EFS", "efs.rfs", "fota\0x"s},
      {0, 1, 30, 1, 0, 0, 50, 0xFFFFFFFF, 7, "MOVINAND", "movinand.mst", ""},
      {0, 0, 31, 0, 0, 256, 0, 0, 0, "", "", ""},
      {1, 0, 11, kPitAttrWrite, kPitUpdateSecure, 0x20000, 30, 0, 0, "MODEM\xE9", "modem.bin", ""},
      {0, 0, 12, 0, 0, 256, 2000, 0, 0, "HUGE", "", ""},
  };
  PitTable t;
  std::string error;
  ASSERT_TRUE(DecodePit(TableBytes(6, entries), 2004, t, error)) << error;
  EXPECT_EQ(t.Header.Count, 6u);
  EXPECT_EQ(t.Header.Unknown1, 0xDEADBEEFu);
  EXPECT_EQ(t.Header.Unknown2, 0x00420041u);
  EXPECT_EQ(t.Header.Unknown3To8[5], 0x6666u);
  ASSERT_EQ(t.Entries.size(), 6u);

  struct Expected {
    std::string Name, Flash, Fota;
    bool InDump;
    std::uint32_t First;
    const char* WhyNot;  // a word the reason holds
  };
  const Expected expected[] = {
      {"IBL+PBL", "boot.bin", "", true, 0, ""},
      {"EFS", "efs.rfs", "fota", true, 1, ""},
      {"MOVINAND", "movinand.mst", "", false, 0, "File/FAT"},
      {"", "", "", false, 0, "block count 0"},
      {"MODEM\xC3\xA9", "modem.bin", "", true, 41, ""},
      {"HUGE", "", "", false, 0, "run past block 2003"},
  };
  for (std::size_t k = 0; k < 6; ++k) {
    SCOPED_TRACE("entry " + std::to_string(k + 1));
    const PitEntry& e = t.Entries[k];
    const RawEntry& r = entries[k];
    EXPECT_EQ(e.Position, k + 1);
    EXPECT_EQ(std::vector<std::uint32_t>({e.BinaryType, e.DeviceType, e.Identifier, e.Attributes, e.UpdateAttributes,
                                          e.BlockSizeOrOffset, e.BlockCount, e.FileOffset, e.FileSize}),
              std::vector<std::uint32_t>({r.Binary, r.Device, r.Id, r.Attributes, r.Update, r.BlockSize, r.Count,
                                          r.FileOffset, r.FileSize}));
    EXPECT_EQ(e.Name, expected[k].Name);
    EXPECT_EQ(e.FlashFile, expected[k].Flash);
    EXPECT_EQ(e.FotaFile, expected[k].Fota);
    EXPECT_EQ(e.InDump, expected[k].InDump);
    EXPECT_NE(e.NotInDump.find(expected[k].WhyNot), std::string::npos) << e.NotInDump;
    if (e.InDump) {
      EXPECT_EQ(e.FirstBlock, expected[k].First);
      EXPECT_EQ(e.Blocks, r.Count);
      EXPECT_EQ(e.From, FirstBlockFrom::RunningSum);
    }
  }
  // The STL row has the write bit clear and is no less writable for it.
  EXPECT_TRUE(t.Entries[1].Stl());
  EXPECT_FALSE(t.Entries[1].Write());
  EXPECT_EQ(PitAttributeWords(t.Entries[1].Attributes), "STL");
  EXPECT_EQ(PitAttributeWords(0x13), "write, STL, bit 4");
  EXPECT_TRUE(t.Entries[4].Secure());
  EXPECT_FALSE(t.Entries[3].Flashable());
  EXPECT_EQ(PitDeviceName(t.Entries[2].DeviceType), "File/FAT");
  EXPECT_EQ(PitBinaryName(t.Entries[4].BinaryType), "CP");
}

TEST(PitTable, RefusesWhatIsNoTableOrCannotHoldItsCount) {
  const std::vector<RawEntry> none;
  struct Case {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
    const char* Says;
  };
  std::vector<std::uint8_t> noMagic = TableBytes(0, none);
  noMagic[0] ^= 1;
  std::vector<std::uint8_t> shortHeader = TableBytes(0, none);
  shortHeader.resize(kPitPhoneHeaderBytes - 1);
  std::vector<std::uint8_t> cut = TableBytes(10, none);
  cut.resize(kPitPhoneHeaderBytes + 9 * kPitPhoneEntryBytes + 131);
  const Case cases[] = {
      {"no magic", noMagic, "no magic 0x12349876"},
      {"shorter than the header", shortHeader, "no magic"},
      {"count past block 1", TableBytes(kPitMaxEntries + 1, none), "block 1 holds at most 1985"},
      {"count of 2^32 - 1", TableBytes(0xFFFFFFFF, none), "lists 4294967295 entries"},
      {"count past the bytes read", cut, "bytes read hold at most 9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    PitTable t;
    t.Entries.resize(3);
    std::string error;
    EXPECT_FALSE(DecodePit(c.Bytes, 2004, t, error));
    EXPECT_NE(error.find(c.Says), std::string::npos) << error;
    EXPECT_TRUE(t.Entries.empty());
  }
  PitTable t;
  std::string error;
  EXPECT_TRUE(DecodePit(TableBytes(kPitMaxEntries, none), 2004, t, error)) << error;
  EXPECT_EQ(t.Entries.size(), kPitMaxEntries);
}

// The list reads the same bytes with its 48-byte header; a table written in the phone's
// layout lists with the same names and sizes.
TEST(PitTable, TheListReadsATableInThePhonesLayoutAsItAlwaysHas) {
  test::TempDir dir;
  const std::string path = dir.File("phone-table.bin");
  std::string error;
  ASSERT_TRUE(WriteFullImage(path, ImageSpec{2, {{"X", 1}}, ImageFill::Erased}, error)) << error;
  BmlDumpPlan plan;
  BmlDumpSpec spec;
  spec.Table = SampleBmlTable();
  ASSERT_TRUE(PlanBmlDump(spec, plan, error)) << error;
  test::WriteBytesAt(path, kBlockMainBytes, plan.Pit);

  ImageModel model;
  RecordingPort port;
  ASSERT_TRUE(model.LoadImageFileAndProcessIt(path, port));
  ImagePageSource chip;
  ASSERT_TRUE(chip.Open(path, error)) << error;
  PitTable t;
  ASSERT_TRUE(ReadPit(chip, chip.Blocks(), t, error)) << error;
  ASSERT_EQ(model.EntryCount(), t.Entries.size());
  for (std::size_t k = 0; k < t.Entries.size(); ++k) {
    EXPECT_EQ(model.GalaxyPartitions.Entries[k].EntryName, t.Entries[k].Name);
    EXPECT_EQ(model.GalaxyPartitions.RawEntries[k].SizeInBlocks, t.Entries[k].BlockCount);
    EXPECT_EQ(t.Entries[k].Name, spec.Table[k].Name);
    EXPECT_EQ(t.Entries[k].FlashFile, spec.Table[k].FlashFile);
    EXPECT_EQ(t.Entries[k].Stl(), spec.Table[k].Stl);
    EXPECT_EQ(t.Entries[k].Identifier, spec.Table[k].Identifier);
    EXPECT_EQ(t.Entries[k].BlockSizeOrOffset, 256u);
  }
}

// ---- What a partition holds ----------------------------------------------------------

constexpr std::uint32_t kVolumeBlocks = 160;  // 40 MiB: room for each FAT type

struct Bpb {
  std::uint32_t Total, Spc, Reserved, Fats, FatSize, RootEntries;
  bool Fat32Layout;
  const char* Label;
};

void WriteBpb(std::uint8_t* s, const Bpb& b) {
  std::memset(s, 0, 512);
  s[0] = 0xEB;
  Put16(s + 11, 512);
  s[13] = static_cast<std::uint8_t>(b.Spc);
  Put16(s + 14, b.Reserved);
  s[16] = static_cast<std::uint8_t>(b.Fats);
  Put16(s + 17, b.RootEntries);
  if (b.Total < 0x10000) Put16(s + 19, b.Total); else Put32(s + 32, b.Total);
  if (b.Fat32Layout) Put32(s + 36, b.FatSize); else Put16(s + 22, b.FatSize);
  const std::uint32_t ext = b.Fat32Layout ? 66 : 38;
  s[ext] = 0x29;
  std::memset(s + ext + 5, ' ', 11);
  std::memcpy(s + ext + 5, b.Label, std::strlen(b.Label));
  s[510] = 0x55;
  s[511] = 0xAA;
}

void StlRoot(MemoryChip& v, std::uint32_t block, std::uint32_t sdata3) {
  std::memcpy(v.Main(block, 0), "FSR_STL\0", 8);
  SpareBuffer sb;
  sb.SetU32(kBufSData3, sdata3);
  sb.ToPageSpare(v.Spare(block, 0));
}

struct ContentCase {
  const char* Name;
  std::function<void(MemoryChip&)> Make;
  Holds Expect;
  const char* Label;
};

class Judge : public ::testing::TestWithParam<ContentCase> {};

TEST_P(Judge, NamesWhatThePartitionHolds) {
  MemoryChip volume(kVolumeBlocks);
  GetParam().Make(volume);
  const PartitionContent c = JudgeContent(volume);
  EXPECT_EQ(HoldsWord(c.Kind), std::string(HoldsWord(GetParam().Expect))) << c.Detail;
  EXPECT_EQ(c.Label, GetParam().Label);
}

const ContentCase kContentCases[] = {
    {"Erased", [](MemoryChip&) {}, Holds::Erased, ""},
    {"DataOnlyInTheLastBlock", [](MemoryChip& v) { v.Main(kVolumeBlocks - 1, 63)[4095] = 0; }, Holds::Unknown, ""},
    {"Table", [](MemoryChip& v) { Put32(v.Main(0, 0), kPitMagicWord); }, Holds::Pit, ""},
    {"StlRootPage", [](MemoryChip& v) { StlRoot(v, 0, 0x0140FEBF); }, Holds::Stl, ""},
    {"StlRootMovedToTheSecondRootBlock", [](MemoryChip& v) { StlRoot(v, 1, 0x0140FEBF); }, Holds::Stl, ""},
    {"StlSignatureWithoutTheRootPagesMark", [](MemoryChip& v) { StlRoot(v, 0, 0x0240FDBF); }, Holds::Unknown, ""},
    {"OlderVolume", [](MemoryChip& v) { std::memcpy(v.Main(0, 0) + 0x10, "XSR3\xA7\xAC\xAD\xCC", 8); }, Holds::Xsr, ""},
    {"Kernel",
     [](MemoryChip& v) {
       Put32(v.Main(0, 0) + 0x24, 0x016F2818);
       Put32(v.Main(0, 0) + 0x28, 0);
       Put32(v.Main(0, 0) + 0x2C, 0x280000);
     },
     Holds::Kernel, ""},
    {"KernelLargerThanItsPartition",
     [](MemoryChip& v) {
       Put32(v.Main(0, 0) + 0x24, 0x016F2818);
       Put32(v.Main(0, 0) + 0x28, 0x30008000);
       Put32(v.Main(0, 0) + 0x2C, 0x30008000 + kVolumeBlocks * kBlockMainBytes + 1);
     },
     Holds::Unknown, ""},
    {"Fat12", [](MemoryChip& v) { WriteBpb(v.Main(0, 0), {2000, 1, 1, 2, 6, 512, false, "EFS"}); }, Holds::Fat12, "EFS"},
    {"Fat16", [](MemoryChip& v) { WriteBpb(v.Main(0, 0), {40000, 1, 1, 2, 157, 512, false, "CACHE  LBL"}); }, Holds::Fat16,
     "CACHE  LBL"},
    {"Fat32", [](MemoryChip& v) { WriteBpb(v.Main(0, 0), {81000, 1, 32, 2, 640, 0, true, "DATA"}); }, Holds::Fat32, "DATA"},
    {"FatOfMoreSectorsThanThePartition",
     [](MemoryChip& v) { WriteBpb(v.Main(0, 0), {kVolumeBlocks * 512 + 1, 8, 1, 2, 200, 512, false, "X"}); },
     Holds::Unknown, ""},
    {"FatWhoseHeaderDisagreesWithItsClusterCount",
     [](MemoryChip& v) { WriteBpb(v.Main(0, 0), {81000, 1, 32, 2, 640, 512, true, "X"}); }, Holds::Unknown, ""},
    {"FatOf1024ByteSectors",
     [](MemoryChip& v) {
       WriteBpb(v.Main(0, 0), {2000, 1, 1, 2, 6, 512, false, "X"});
       Put16(v.Main(0, 0) + 11, 1024);
     },
     Holds::Unknown, ""},
    {"ParameterFileSystem",
     [](MemoryChip& v) {
       Put32(v.Main(0, 0), 0x87654321);
       Put32(v.Main(1, 0) + 8, 0x12345678);
     },
     Holds::J4fs, ""},
    {"ParameterMagicWithoutARecord", [](MemoryChip& v) { Put32(v.Main(0, 0), 0x87654321); }, Holds::Unknown, ""},
};

INSTANTIATE_TEST_SUITE_P(Kinds, Judge, ::testing::ValuesIn(kContentCases),
                         [](const auto& p) { return std::string(p.param.Name); });

}  // namespace
}  // namespace orvella::phone
