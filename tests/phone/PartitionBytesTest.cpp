// A dump's partition read as bytes at any offset, as the file-system reader reads it: an
// STL volume (fresh, or rewritten through log blocks, over remapped blocks) gives exactly
// the bytes its writer says the phone reads; a refused volume and a plain partition give
// the bad-block layer's view and say which layer and why; reads across pages, blocks and
// the cache never differ from one read of the whole. A volume file reads as its bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "phone/BmlView.h"
#include "phone/BmlWriter.h"
#include "phone/ImagePages.h"
#include "phone/PartitionBytes.h"
#include "phone/PhoneDump.h"
#include "phone/StlWriter.h"
#include "support/TestFiles.h"

namespace orvella::phone {
namespace {

constexpr std::size_t kEfs = 2, kKernel = 6;

std::uint8_t KernelByte(std::uint32_t unit, std::uint32_t page, std::uint32_t i) {
  return static_cast<std::uint8_t>((unit * 64 + page) * 3 + i * 7 + (i >> 8));
}

enum class Damage { None, RootPages };

struct Case {
  const char* Name;
  std::size_t Row;
  std::uint32_t Rewrites;  // logical pages rewritten through log blocks
  Damage Harm;
  VolumeLayer Layer;
  const char* Refusal;  // part of the reason, "" when none
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.Name; }

// The sample table on an erased chip, with a block of EFS and one of KERNEL remapped: EFS
// holds an STL volume, KERNEL known bytes, both written through the remaps.
struct Dump {
  BmlDumpPlan Plan;
  std::unique_ptr<MemoryChip> Chip = std::make_unique<MemoryChip>(kBmlChipBlocks);
  PhoneDump Read;
  std::vector<std::uint8_t> Volume;  // what the phone reads of EFS's STL volume

  void Make(std::uint32_t rewrites) {
    BmlDumpSpec spec;
    spec.Table = SampleBmlTable();
    spec.Fill = ImageFill::Erased;
    spec.Remaps = {5, 80};
    std::string error;
    ASSERT_TRUE(PlanBmlDump(spec, Plan, error)) << error;
    ASSERT_TRUE(WriteBmlDump(*Chip, Plan, error)) << error;
    Read = ReadPhoneDump(*Chip, false);
    ASSERT_TRUE(Read.TableFound) << Read.TableProblem;

    BmlPartitionSink efs(*Chip, EntryBlocks(Read, kEfs));
    std::mt19937_64 rng(rewrites + 11);
    Volume.resize(3u << 20);
    for (std::uint8_t& b : Volume) b = static_cast<std::uint8_t>(rng());
    StlWriteOptions options;
    options.RewritePages = rewrites;
    options.Seed = rewrites + 5;
    StlWriteResult result;
    ASSERT_TRUE(WriteStlVolume(efs, Volume, options, result, error)) << error;

    const std::vector<std::uint32_t> kernel = EntryBlocks(Read, kKernel);
    BmlPartitionSink sink(*Chip, kernel);
    std::vector<std::uint8_t> main(kPageMainBytes);
    for (std::uint32_t u = 0; u < kernel.size(); ++u)
      for (std::uint32_t p = 0; p < kPagesPerBlock; ++p) {
        for (std::uint32_t i = 0; i < kPageMainBytes; ++i) main[i] = KernelByte(u, p, i);
        ASSERT_TRUE(sink.WritePage(u, p, main.data(), nullptr, error)) << error;
      }
  }
  // Flips a byte of the root info in page 0 of both root blocks: the signature stays.
  void HarmRootPages() {
    const std::vector<std::uint32_t> efs = EntryBlocks(Read, kEfs);
    for (std::uint32_t vbn : {0u, 1u}) Chip->Main(efs[vbn], 0)[100] ^= 0x10;
  }
};

class Partition : public ::testing::TestWithParam<Case> {};

TEST_P(Partition, ReadsTheLayerThePhoneReadsAtAnyOffset) {
  const Case& c = GetParam();
  Dump d;
  ASSERT_NO_FATAL_FAILURE(d.Make(c.Rewrites));
  if (c.Harm == Damage::RootPages) d.HarmRootPages();

  PartitionBytes bytes;
  std::string error;
  ASSERT_TRUE(bytes.Open(*d.Chip, d.Read, c.Row, error)) << error;
  EXPECT_EQ(bytes.Layer(), c.Layer);
  EXPECT_EQ(bytes.StlPartition(), c.Row == kEfs);
  if (*c.Refusal) {
    EXPECT_NE(bytes.StlRefusal().find(c.Refusal), std::string::npos) << bytes.StlRefusal();
    EXPECT_NE(bytes.LayerText().find("its STL volume was refused: " + bytes.StlRefusal()), std::string::npos);
  } else {
    EXPECT_EQ(bytes.StlRefusal(), "");
  }

  // What must be read: the writer's volume, or the partition's blocks as the phone has them.
  std::vector<std::uint8_t> want;
  if (c.Layer == VolumeLayer::Stl) {
    want = d.Volume;
    EXPECT_EQ(bytes.Stl().LogPagesUsed > 0, c.Rewrites > 0);
  } else if (c.Row == kKernel) {
    const std::uint32_t units = d.Read.Table.Entries[kKernel].Blocks;
    for (std::uint32_t u = 0; u < units; ++u)
      for (std::uint32_t p = 0; p < kPagesPerBlock; ++p)
        for (std::uint32_t i = 0; i < kPageMainBytes; ++i) want.push_back(KernelByte(u, p, i));
  } else {
    BmlView view(*d.Chip, EntryBlocks(d.Read, c.Row));
    ViewBytes raw(view);
    want.resize(raw.Size());
    ASSERT_TRUE(raw.Read(0, want.data(), want.size(), error)) << error;
  }
  ASSERT_EQ(bytes.Size(), want.size());

  // Reads of every shape: single bytes, across page and block edges, whole pages and
  // blocks aligned and not, the volume's last byte; repeated so the cache is exercised.
  std::mt19937_64 rng(7);
  const std::size_t lengths[] = {1, 100, 4095, 4096, 4097, 8192 + 13, kBlockMainBytes, kBlockMainBytes + 3 * 4096 + 5,
                                 1u << 20};
  std::vector<std::uint8_t> got;
  for (int round = 0; round < 60; ++round) {
    const std::size_t n = lengths[round % std::size(lengths)];
    std::uint64_t at = rng() % (want.size() - n + 1);
    if (round % 3 == 0) at -= at % kPageMainBytes;
    if (round % 5 == 0) at -= at % kBlockMainBytes;
    if (round == 59) at = want.size() - n;
    got.assign(n, 0);
    ASSERT_TRUE(bytes.Read(at, got.data(), n, error)) << error;
    ASSERT_TRUE(std::equal(got.begin(), got.end(), want.begin() + static_cast<std::ptrdiff_t>(at)))
        << n << " bytes at " << at;
  }
  got.assign(want.size(), 0);
  ASSERT_TRUE(bytes.Read(0, got.data(), got.size(), error)) << error;
  EXPECT_TRUE(got == want);
  EXPECT_FALSE(bytes.Read(want.size() - 1, got.data(), 2, error));
  EXPECT_NE(error.find("past the volume's"), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Layers, Partition,
    ::testing::Values(Case{"FreshStlVolume", kEfs, 0, Damage::None, VolumeLayer::Stl, ""},
                      Case{"RewrittenStlVolume", kEfs, 40, Damage::None, VolumeLayer::Stl, ""},
                      Case{"RefusedStlVolume", kEfs, 40, Damage::RootPages, VolumeLayer::Bml, "no root page passes"},
                      Case{"PlainPartition", kKernel, 0, Damage::None, VolumeLayer::Bml, ""}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.Name); });

TEST(PartitionBytesOpen, RefusesAnEntryNotInTheDump) {
  Dump d;
  ASSERT_NO_FATAL_FAILURE(d.Make(0));
  d.Read.Table.Entries[kKernel].InDump = false;
  d.Read.Table.Entries[kKernel].NotInDump = "block count 0";
  PartitionBytes bytes;
  std::string error;
  EXPECT_FALSE(bytes.Open(*d.Chip, d.Read, kKernel, error));
  EXPECT_EQ(error, "row 7 (\"KERNEL\") is not in this dump: block count 0");
  EXPECT_FALSE(bytes.Open(*d.Chip, d.Read, d.Read.Table.Entries.size(), error));
  EXPECT_EQ(bytes.Size(), 0u);
}

TEST(VolumeFileRead, GivesTheFilesBytesAndRefusesReadsPastItsEnd) {
  test::TempDir dir;
  const std::string path = dir.File("efs.rfs");
  std::vector<std::uint8_t> data(70000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  VolumeFile file;
  std::string error;
  ASSERT_TRUE(file.Open(path, error)) << error;
  ASSERT_EQ(file.Size(), data.size());
  std::vector<std::uint8_t> got(5000);
  ASSERT_TRUE(file.Read(65000, got.data(), got.size(), error)) << error;
  EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + 65000));
  EXPECT_FALSE(file.Read(65001, got.data(), got.size(), error));
  EXPECT_NE(error.find("past the end of \"" + path + "\""), std::string::npos) << error;
  EXPECT_FALSE(file.Open(dir.File("missing.rfs"), error));
  EXPECT_FALSE(file.Open(dir.Path().string(), error));
}

}  // namespace
}  // namespace orvella::phone
