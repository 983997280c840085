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

#include "fat/Sources.h"
#include "fat/Volume.h"
#include "support/Platform.h"
#include "support/TestFiles.h"

namespace orvella::fattest {
namespace {

namespace fs = std::filesystem;
using fat::FindingKind;

constexpr const char* kNoTools =
    "needs mkfs.fat and mtools, which run on Linux only (scripts/install-deps.sh installs them)";

// Runs a shell command line with mtools' checks off and UTF-8 names; its standard output.
std::string Shell(const test::TempDir& tmp, const std::string& command) {
  const std::string out = tmp.File("sh.out"), err = tmp.File("sh.err");
  std::string problem;
  const int code = test::RunProgram(
      {"/bin/sh", "-c", "export MTOOLS_SKIP_CHECK=1 LANG=C.UTF-8 LC_ALL=C.UTF-8; " + command}, out,
      err, problem);
  std::ifstream o(out), e(err);
  std::stringstream so, se;
  so << o.rdbuf();
  se << e.rdbuf();
  EXPECT_EQ(code, 0) << command << "\n" << problem << se.str();
  return so.str();
}

std::vector<std::uint8_t> FileBytes(const fs::path& path) {
  std::error_code ec;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(fs::file_size(path, ec)));
  std::ifstream f(path, std::ios::binary);
  f.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (ec || !f) bytes.clear();
  return bytes;
}

void WriteFile(const fs::path& path, std::size_t size, unsigned seed) {
  fs::create_directories(path.parent_path());
  std::mt19937_64 random(seed);
  std::vector<std::uint64_t> words(size / 8 + 1);
  for (std::uint64_t& w : words) w = random();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(words.data()), static_cast<std::streamsize>(size));
}

// "path|size or DIR|YYYY-MM-DD HH:MM" for every entry `mdir -/ -a` lists.
std::set<std::string> ParseMdir(const std::string& text) {
  static const std::regex kDir("^Directory for ::(/.*?)/?$");
  static const std::regex kLine(
      "^(\\S+)(?: +(\\S+))? +(<DIR>|\\d+) +(\\d{4}-\\d\\d-\\d\\d) +(\\d\\d:\\d\\d) ?(?: (.+))?$");
  std::set<std::string> out;
  std::string folder;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_match(line, m, kDir)) {
      folder = m[1] == "/" ? "" : m[1].str();
    } else if (std::regex_match(line, m, kLine) && m[1] != "." && m[1] != "..") {
      const std::string name = m[6].matched ? m[6].str() : m[1].str() + (m[2].matched ? "." + m[2].str() : "");
      out.insert(folder + "/" + name + "|" + (m[3] == "<DIR>" ? "DIR" : m[3].str()) + "|" + m[4].str() + " " +
                 m[5].str());
    }
  }
  return out;
}

std::string ListingLine(const fat::Entry& e) {
  return e.Path + "|" + (e.IsFolder() ? "DIR" : std::to_string(e.Size)) + "|" + e.Modified.Text().substr(0, 16);
}

struct Layout {
  const char* Name;
  const char* Mkfs;  // options after -C
  unsigned KiB;
  fat::FatType Type;
  std::uint32_t ClusterBytes;
  bool Full;            // filled to the last cluster
  unsigned PrefillKiB;  // a file copied first, so that the others lie past cluster 65535
};

// A volume made and filled by the tools, its listing and its files as mtools extracts them.
struct ToolVolume {
  test::TempDir Tmp;
  std::string Image;
  std::set<std::string> Mdir;
  fs::path Extracted;

  void Make(const Layout& layout, const std::function<void(const fs::path&)>& fill) {
    const fs::path tree = Tmp.Path() / "tree";
    fill(tree);
    Image = Tmp.File("volume.img");
    Shell(Tmp, std::string("mkfs.fat -C -n ORVTEST ") + layout.Mkfs + " '" + Image + "' " + std::to_string(layout.KiB) +
                   " >/dev/null");
    if (layout.PrefillKiB) {
      WriteFile(Tmp.Path() / "prefill.bin", layout.PrefillKiB * 1024ull, 98);
      Shell(Tmp, "mcopy -i '" + Image + "' '" + Tmp.File("prefill.bin") + "' ::/prefill.bin");
    }
    Shell(Tmp, "cd '" + tree.string() + "' && mcopy -s -i '" + Image + "' * ::/");
    Shell(Tmp, "mattrib -i '" + Image + "' +h +s +r ::/README");
    if (layout.Full) {
      const std::string listing = Shell(Tmp, "mdir -a -i '" + Image + "' ::/");
      std::smatch m;
      ASSERT_TRUE(std::regex_search(listing, m, std::regex("([0-9 ]+) bytes free")));
      std::string digits;
      for (char c : m[1].str())
        if (c != ' ') digits += c;
      WriteFile(Tmp.Path() / "filler.bin", std::stoull(digits), 99);
      Shell(Tmp, "mcopy -i '" + Image + "' '" + Tmp.File("filler.bin") + "' ::/filler.bin");
      ASSERT_NE(Shell(Tmp, "mdir -a -i '" + Image + "' ::/").find(" 0 bytes free"), std::string::npos);
    }
    Mdir = ParseMdir(Shell(Tmp, "mdir -/ -a -i '" + Image + "' ::/"));
    Extracted = Tmp.Path() / "out";
    fs::create_directories(Extracted);
    Shell(Tmp, "mcopy -s -n -i '" + Image + "' '::/*' '" + Extracted.string() + "/'");
  }
  std::vector<std::uint8_t> Extract(const std::string& path) const { return FileBytes(Extracted.string() + path); }
};

class Agreement : public ::testing::TestWithParam<Layout> {};

TEST_P(Agreement, ListingAndBytesEqualWhatMtoolsGives) {
  if (test::kWindows) GTEST_SKIP() << kNoTools;
  const Layout& layout = GetParam();
  const std::uint32_t cs = layout.ClusterBytes;
  ToolVolume tv;
  tv.Make(layout, [&](const fs::path& t) {
    unsigned seed = 1;
    WriteFile(t / "Short.TXT", 5, seed++);
    WriteFile(t / "README", 17, seed++);
    WriteFile(t / "lower.txt", 3, seed++);
    WriteFile(t / "A long file name with spaces.data", 5000, seed++);
    WriteFile(t / "Größe ünï.bin", 3000, seed++);
    WriteFile(t / "empty.dat", 0, seed++);
    WriteFile(t / "one-cluster.bin", cs, seed++);
    WriteFile(t / "one-more.bin", cs + 1, seed++);
    fs::path deep = t / "Deep";
    for (int i = 1; i <= 12; ++i) deep /= "level " + std::to_string(i);
    WriteFile(deep / "bottom.txt", 700, seed++);
    for (int i = 0; i < 40; ++i) WriteFile(t / "Many" / ("entry number " + std::to_string(i) + ".txt"), 10u * i, seed++);
    fs::create_directories(t / "Empty folder");
  });
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

}  // namespace
}  // namespace orvella::fattest
