// Volumes made by mkfs.fat and filled by mtools: the listing must equal what `mdir -/ -a`
// shows and every file's bytes what `mcopy` extracts. Damaged copies of one of them
// (chains that loop, cross, end early or leave the volume, a folder that holds itself,
// a source cut short) give their findings, and everything else still reads exactly.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fat/FatBuilder.h"
#include "fat/Sources.h"
#include "fat/Volume.h"
#include "support/MtoolsVolume.h"
#include "support/Platform.h"
#include "support/TestFiles.h"

namespace orvella::fattest {
namespace {

namespace fs = std::filesystem;
using fat::FindingKind;

using test::FileBytes;
using test::ListingLine;
using test::ParseMdir;
using test::Shell;
using test::kNoTools;
using test::Layout;
using test::ToolVolume;
using test::WriteFile;

class Agreement : public ::testing::TestWithParam<Layout> {};

TEST_P(Agreement, ListingAndBytesEqualWhatMtoolsGives) {
  if (test::kWindows) GTEST_SKIP() << kNoTools;
  const Layout& layout = GetParam();
  const std::uint32_t cs = layout.ClusterBytes;
  ToolVolume tv;
  tv.Make(layout, [&](const fs::path& t) { test::FillSampleTree(t, cs); });
  if (HasFatalFailure()) return;

  fat::StreamFileSource source;
  std::string error;
  ASSERT_TRUE(source.Open(tv.Image, error)) << error;
  const auto volume = fat::Volume::Open(source, error);
  ASSERT_NE(volume, nullptr) << error;
  EXPECT_EQ(volume->Facts().Type, layout.Type);
  EXPECT_EQ(volume->Facts().ClusterBytes, cs);
  EXPECT_EQ(volume->Label(), "ORVTEST");

  std::set<std::string> listing;
  std::vector<fat::Entry> files;
  std::vector<std::string> findings;
  volume->Walk(
      [&](const fat::Entry& e) {
        EXPECT_TRUE(listing.insert(ListingLine(e)).second) << e.Path;
        if (!e.IsFolder()) files.push_back(e);
        return fat::WalkStep::Continue;
      },
      [&](const fat::Finding& f) { findings.push_back(f.Path + ": " + f.Text); });
  EXPECT_EQ(findings, std::vector<std::string>{});
  EXPECT_EQ(listing, tv.Mdir);
  EXPECT_GT(listing.size(), 60u);

  std::size_t extracted = 0;
  for (const auto& item : fs::recursive_directory_iterator(tv.Extracted)) extracted += item.is_regular_file();
  EXPECT_EQ(files.size(), extracted);
  for (const fat::Entry& e : files) {
    SCOPED_TRACE(e.Path);
    std::vector<std::uint8_t> bytes;
    const fat::ReadResult r = volume->ReadAll(e, bytes, 64 << 20);
    EXPECT_EQ(r.Status, fat::ReadStatus::Complete) << r.Problem;
    EXPECT_EQ(r.Bytes, e.Size);
    EXPECT_TRUE(bytes == tv.Extract(e.Path));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tools, Agreement,
    ::testing::Values(Layout{"Fat12", "-F 12 -s 4", 2048, fat::FatType::Fat12, 2048, false, 0},
                      Layout{"Fat12Full", "-F 12 -s 1", 1024, fat::FatType::Fat12, 512, true, 0},
                      Layout{"Fat16", "-F 16 -s 1", 4096, fat::FatType::Fat16, 512, false, 0},
                      Layout{"Fat16BigClusters", "-F 16 -s 16", 40960, fat::FatType::Fat16, 8192, false, 0},
                      Layout{"Fat32", "-F 32 -s 1", 40960, fat::FatType::Fat32, 512, false, 34000}),
    [](const ::testing::TestParamInfo<Layout>& p) { return std::string(p.param.Name); });

// ---- Damaged copies of one FAT16 volume of 512-byte clusters ---------------------------

struct Damage {
  std::vector<std::uint8_t> Bytes;              // the copy to damage
  std::map<std::string, fat::Entry> Pristine;   // the undamaged volume's entries by path
  fat::Geometry Geo;

  std::set<std::pair<FindingKind, std::string>> Findings;  // expected
  std::set<std::string> Missing;                // paths no longer listed
  std::map<std::string, std::string> Renamed;   // new path -> the pristine path it reads as
  std::map<std::string, std::uint64_t> Short;   // files read short, with the bytes they give
  std::set<std::string> Unchecked;              // files whose bytes are someone else's

  std::uint64_t FatAt(std::uint32_t c) const { return Geo.FatOffset + 2ull * c; }
  std::uint32_t Next(std::uint32_t c) const { return Bytes[FatAt(c)] | (Bytes[FatAt(c) + 1] << 8); }
  void SetNext(std::uint32_t c, std::uint32_t v) {
    for (std::uint32_t f = 0; f < Geo.FatCount; ++f) PutLe16(FatAt(c) + f * Geo.FatSectors * 512ull, v);
  }
  void PutLe16(std::uint64_t at, std::uint32_t v) {
    Bytes[at] = static_cast<std::uint8_t>(v);
    Bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  std::vector<std::uint32_t> Chain(const std::string& path) const {
    std::vector<std::uint32_t> out;
    for (std::uint32_t c = Pristine.at(path).FirstCluster; c >= 2 && c < 0xFFF8 && out.size() < 100000; c = Next(c))
      out.push_back(c);
    return out;
  }
  std::uint64_t ClusterAt(std::uint32_t c) const { return Geo.DataOffset + (c - 2ull) * Geo.ClusterBytes; }
  void SetFirstCluster(const std::string& path, std::uint32_t c) {
    PutLe16(Pristine.at(path).EntryOffset + fat::kEntClusterLow, c);
  }
};

struct DamageCase {
  const char* Name;
  std::function<void(Damage&)> Apply;
};

class Damaged : public ::testing::TestWithParam<DamageCase> {
 protected:
  static void SetUpTestSuite() {
    if (test::kWindows) return;
    made_ = std::make_unique<ToolVolume>();
    made_->Make(Layout{"Damage", "-F 16 -s 1", 4096, fat::FatType::Fat16, 512, false, 0}, [](const fs::path& t) {
      WriteFile(t / "chain.bin", 5 * 512, 1);
      WriteFile(t / "other.bin", 3 * 512, 2);
      WriteFile(t / "cut.bin", 4 * 512 - 7, 3);
      WriteFile(t / "tail.bin", 300, 4);
      WriteFile(t / "long name file.txt", 40, 5);
      WriteFile(t / "README", 12, 6);
      WriteFile(t / "D" / "keep.txt", 600, 7);
      WriteFile(t / "D" / "E" / "inner.txt", 20, 8);
      for (int i = 0; i < 40; ++i) WriteFile(t / "Many" / ("entry number " + std::to_string(i) + ".txt"), 30, 9 + i);
    });
  }
  static void TearDownTestSuite() { made_.reset(); }
  static std::unique_ptr<ToolVolume> made_;
};
std::unique_ptr<ToolVolume> Damaged::made_;

TEST_P(Damaged, GivesItsFindingsAndTheRestReadsExactly) {
  if (test::kWindows) GTEST_SKIP() << kNoTools;
  ASSERT_TRUE(made_ && !made_->Mdir.empty());
  Damage d;
  d.Bytes = FileBytes(made_->Image);
  {
    fat::MemorySource pristine(d.Bytes);
    std::string error;
    const auto volume = fat::Volume::Open(pristine, error);
    ASSERT_NE(volume, nullptr) << error;
    d.Geo = volume->Facts();
    volume->Walk([&](const fat::Entry& e) { d.Pristine[e.Path] = e; return fat::WalkStep::Continue; }, nullptr);
  }
  GetParam().Apply(d);

  fat::MemorySource source(d.Bytes);
  std::string error;
  const auto volume = fat::Volume::Open(source, error);
  ASSERT_NE(volume, nullptr) << error;
  std::set<std::pair<FindingKind, std::string>> findings;
  std::vector<fat::Entry> entries;
  volume->Walk([&](const fat::Entry& e) { entries.push_back(e); return fat::WalkStep::Continue; },
               [&](const fat::Finding& f) { findings.emplace(f.Kind, f.Path); });
  EXPECT_EQ(findings, d.Findings);

  std::set<std::string> expectedPaths, paths;
  for (const auto& [path, e] : d.Pristine)
    if (!d.Missing.count(path)) expectedPaths.insert(path);
  for (const auto& [path, was] : d.Renamed) {
    expectedPaths.erase(was);
    expectedPaths.insert(path);
  }
  for (const fat::Entry& e : entries) {
    paths.insert(e.Path);
    if (e.IsFolder() || d.Unchecked.count(e.Path)) continue;
    SCOPED_TRACE(e.Path);
    const std::string was = d.Renamed.count(e.Path) ? d.Renamed.at(e.Path) : e.Path;
    std::vector<std::uint8_t> want = made_->Extract(was);
    std::vector<std::uint8_t> bytes;
    const fat::ReadResult r = volume->ReadAll(e, bytes, 1 << 20);
    if (d.Short.count(e.Path)) {
      EXPECT_EQ(r.Status, fat::ReadStatus::Short);
      EXPECT_FALSE(r.Problem.empty());
      want.resize(d.Short.at(e.Path));
    } else {
      EXPECT_EQ(r.Status, fat::ReadStatus::Complete) << r.Problem;
    }
    EXPECT_TRUE(bytes == want);
  }
  EXPECT_EQ(paths, expectedPaths);
}

INSTANTIATE_TEST_SUITE_P(
    Copies, Damaged,
    ::testing::Values(
        DamageCase{"LoopedChain",
                   [](Damage& d) {
                     const auto c = d.Chain("/chain.bin");
                     d.SetNext(c[2], c[0]);
                     d.Findings = {{FindingKind::ChainLoop, "/chain.bin"}};
                     d.Short["/chain.bin"] = 3 * 512;
                   }},
        DamageCase{"CrossLinkedChains",
                   [](Damage& d) {
                     d.SetNext(d.Chain("/other.bin")[0], d.Chain("/chain.bin")[1]);
                     d.Findings = {{FindingKind::CrossLink, "/other.bin"}};
                     d.Unchecked = {"/other.bin"};
                   }},
        DamageCase{"FolderHoldsItself",
                   [](Damage& d) {
                     d.SetFirstCluster("/D/E", d.Pristine.at("/D").FirstCluster);
                     d.Findings = {{FindingKind::FolderCycle, "/D/E"}};
                     d.Missing = {"/D/E/inner.txt"};
                   }},
        DamageCase{"FolderHoldsTheRoot",
                   [](Damage& d) {
                     d.SetFirstCluster("/D/E", 0);
                     d.Findings = {{FindingKind::FolderCycle, "/D/E"}};
                     d.Missing = {"/D/E/inner.txt"};
                   }},
        DamageCase{"FolderChainLoops",
                   [](Damage& d) {
                     const auto c = d.Chain("/Many");
                     ASSERT_GE(c.size(), 4u);
                     d.SetNext(c[1], c[0]);
                     d.Findings = {{FindingKind::ChainLoop, "/Many"}};
                     for (const auto& [path, e] : d.Pristine)
                       if (path.rfind("/Many/", 0) == 0 && e.EntryOffset >= d.ClusterAt(c[2])) d.Missing.insert(path);
                     ASSERT_FALSE(d.Missing.empty());
                   }},
        DamageCase{"CutFile",
                   [](Damage& d) {
                     d.SetNext(d.Chain("/cut.bin")[1], 0xFFFF);
                     d.Findings = {{FindingKind::SizeBeyondChain, "/cut.bin"}};
                     d.Short["/cut.bin"] = 2 * 512;
                   }},
        DamageCase{"LinkOutOfRange",
                   [](Damage& d) {
                     d.SetNext(d.Chain("/chain.bin")[0], 0xFFF0);
                     d.Findings = {{FindingKind::ChainOutOfRange, "/chain.bin"}};
                     d.Short["/chain.bin"] = 512;
                   }},
        DamageCase{"FreeClusterInChain",
                   [](Damage& d) {
                     d.SetNext(d.Chain("/chain.bin")[0], 0);
                     d.Findings = {{FindingKind::ChainFree, "/chain.bin"}};
                     d.Short["/chain.bin"] = 512;
                   }},
        DamageCase{"BadClusterInChain",
                   [](Damage& d) {
                     d.SetNext(d.Chain("/chain.bin")[1], 0xFFF7);
                     d.Findings = {{FindingKind::ChainBad, "/chain.bin"}};
                     d.Short["/chain.bin"] = 2 * 512;
                   }},
        DamageCase{"FirstClusterOutside",
                   [](Damage& d) {
                     d.SetFirstCluster("/tail.bin", 0xFFF0);
                     d.Findings = {{FindingKind::ChainOutOfRange, "/tail.bin"}};
                     d.Short["/tail.bin"] = 0;
                   }},
        DamageCase{"SizeWithoutClusters",
                   [](Damage& d) {
                     d.SetFirstCluster("/tail.bin", 0);
                     d.Findings = {{FindingKind::SizeBeyondChain, "/tail.bin"}};
                     d.Short["/tail.bin"] = 0;
                   }},
        DamageCase{"ChainLongerThanSize",
                   [](Damage& d) {
                     std::uint32_t spare = d.Geo.Clusters + 1;
                     while (d.Next(spare) != 0) --spare;
                     d.SetNext(d.Chain("/tail.bin")[0], spare);
                     d.SetNext(spare, 0xFFFF);
                     d.Findings = {{FindingKind::ChainBeyondSize, "/tail.bin"}};
                   }},
        DamageCase{"LongNameOfAnotherEntry",
                   [](Damage& d) {
                     const fat::Entry& e = d.Pristine.at("/long name file.txt");
                     d.Bytes[e.EntryOffset - 32 + fat::kLfnChecksum] ^= 0x5A;
                     const std::string shortPath = "/" + e.ShortName;
                     d.Findings = {{FindingKind::LongName, shortPath}};
                     d.Renamed[shortPath] = "/long name file.txt";
                   }},
        DamageCase{"SourceCutShort",
                   [](Damage& d) {
                     const std::uint64_t cut = d.ClusterAt(d.Chain("/tail.bin")[0]) + 100;
                     d.Bytes.resize(cut);
                     d.Findings = {{FindingKind::VolumeCut, "/"}};
                     for (const auto& [path, e] : d.Pristine) {
                       if (e.IsFolder()) {
                         ASSERT_LT(d.ClusterAt(e.FirstCluster), cut) << path;
                         continue;
                       }
                       const auto chain = d.Chain(path);
                       for (std::size_t i = 0; i < chain.size(); ++i) {
                         const std::uint64_t want = std::min<std::uint64_t>(512, e.Size - i * 512);
                         if (d.ClusterAt(chain[i]) + want > cut) {
                           d.Findings.emplace(FindingKind::DataPastSource, path);
                           d.Short[path] = std::max<std::uint64_t>(d.ClusterAt(chain[i]), cut) - d.ClusterAt(chain[i]) + i * 512;
                           break;
                         }
                       }
                     }
                     ASSERT_EQ(d.Short.count("/tail.bin"), 1u);
                   }}),
    [](const ::testing::TestParamInfo<DamageCase>& p) { return std::string(p.param.Name); });

// The FAT12 volumes the virtual phone keeps are made in code: the tools must take them for
// sound (fsck.fat finds nothing to mend), list them as they were meant and copy out the
// same bytes: long names of one and two parts, nested folders, a folder whose entries
// need a second cluster, an empty file, files of exactly a cluster and of a byte more.
TEST(BuiltInCode, AVolumeTheToolsTakeAsItWasMeant) {
  if (test::kWindows) GTEST_SKIP() << kNoTools;
  std::vector<fat::BuiltEntry> entries = {
      {"/nv_data.bin", false, {}},
      {"/nv_data.bin.md5", false, {}},
      {"/empty", false, {}},
      {"/imei", true, {}},
      {"/imei/mps_code.dat", false, {'X', 'E', 'U'}},
      {"/imei/deeper", true, {}},
      {"/imei/deeper/a rather long file name.txt", false, {}},
      {"/many", true, {}},
  };
  entries[0].Bytes.resize(512);
  entries[1].Bytes.resize(513);
  entries[6].Bytes.resize(70000);
  for (std::size_t i = 0; i < 30; ++i) entries.push_back({"/many/file-" + std::to_string(i) + ".bin", false, {}});
  std::mt19937 random(7);
  for (fat::BuiltEntry& e : entries)
    for (std::uint8_t& b : e.Bytes) b = static_cast<std::uint8_t>(random());
  fat::DosTimestamp when;
  when.Date = static_cast<std::uint16_t>(((2010 - 1980) << 9) | (6 << 5) | 4);
  when.Time = static_cast<std::uint16_t>((12 << 11) | (30 << 5));

  std::vector<std::uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(fat::BuildFat12(4096, "BUILT", entries, when, bytes, error)) << error;
  test::TempDir tmp;
  const std::string image = tmp.File("built.img");
  std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
  Shell(tmp, "fsck.fat -n '" + image + "' >/dev/null");

  std::set<std::string> expected;
  for (const fat::BuiltEntry& e : entries)
    expected.insert(e.Path + "|" + (e.Folder ? "DIR" : std::to_string(e.Bytes.size())) + "|2010-06-04 12:30");
  EXPECT_EQ(ParseMdir(Shell(tmp, "mdir -/ -a -i '" + image + "' ::/")), expected);
  const fs::path out = tmp.Path() / "out";
  fs::create_directories(out);
  Shell(tmp, "mcopy -s -n -i '" + image + "' '::/*' '" + out.string() + "/'");
  for (const fat::BuiltEntry& e : entries)
    if (!e.Folder) {
      EXPECT_TRUE(FileBytes(out.string() + e.Path) == e.Bytes) << e.Path;
    }
}

TEST(BuiltInCode, RefusesWhatAFat12VolumeCannotHold) {
  const fat::DosTimestamp when;
  std::vector<std::uint8_t> bytes;
  std::string error;
  const struct {
    std::uint32_t sectors;
    std::vector<fat::BuiltEntry> entries;
  } cases[] = {
      {30, {}},                                                              // no room for its own tables
      {8192, {}},                                                            // too many clusters for FAT12
      {4096, {{"/big", false, std::vector<std::uint8_t>(3u << 20)}}},       // a file larger than the volume
      {4096, {{"/a/b", false, {}}}},                                         // a folder never listed
      {4096, {{"/a", false, {}}, {"/a", false, {}}}},                        // a name twice
  };
  for (const auto& c : cases) {
    error.clear();
    EXPECT_FALSE(fat::BuildFat12(c.sectors, "X", c.entries, when, bytes, error)) << c.sectors;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace orvella::fattest
