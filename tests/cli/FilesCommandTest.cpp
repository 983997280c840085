// `files` and `extract` as a technician runs them. On volumes made by mkfs.fat and filled
// by mtools, the listing equals `mdir -/ -a` and every extracted file what `mcopy`
// extracts, with the listed times; damaged and crafted copies give their findings and
// exit 1 for what could not be extracted, and nothing is ever written outside the output
// folder. On a dump whose EFS partition holds an STL volume with such a file system, the
// files come out of the rebuilt volume byte for byte, with their NAME.md5 check, and the
// report lists them.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "RunTool.h"
#include "fat/Directory.h"
#include "fat/Sources.h"
#include "phone/BmlView.h"
#include "phone/BmlWriter.h"
#include "phone/ImagePages.h"
#include "phone/PhoneDump.h"
#include "phone/StlWriter.h"
#include "support/PhoneDumpFile.h"
#include "support/MtoolsVolume.h"

namespace orvella {
namespace {

namespace fs = std::filesystem;
using test::RunTool;
using test::Shell;

// "path|size or DIR|YYYY-MM-DD HH:MM" of every entry `files` lists, as ParseMdir gives
// mdir's; the times to the second by path.
struct Listing {
  std::set<std::string> Lines;
  std::map<std::string, std::string> Times;
  std::map<std::string, std::string> Checks;  // the md5 column
};

Listing ParseFiles(const std::string& out) {
  static const std::regex kLine(
      "^(file|folder|journal|symlink|fifo|socket) +(-|\\d+)  (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d)(:\\d\\d)  "
      "(md5 matches|md5 differs|md5 unread|-) +(/.*)$");
  Listing l;
  for (const std::string& line : test::Lines(out)) {
    std::smatch m;
    if (!std::regex_match(line, m, kLine)) continue;
    l.Lines.insert(m[6].str() + "|" + (m[1] == "folder" ? "DIR" : m[2].str()) + "|" + m[3].str());
    l.Times[m[6].str()] = m[3].str() + m[4].str();
    l.Checks[m[6].str()] = m[5].str();
  }
  return l;
}

// Every file and folder below `root`, by its path from there ("/a/b"), with its bytes.
std::map<std::string, std::vector<std::uint8_t>> Tree(const fs::path& root) {
  std::map<std::string, std::vector<std::uint8_t>> tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string rel = "/" + fs::relative(item.path(), root).generic_string();
    tree[rel] = item.is_directory() ? std::vector<std::uint8_t>{} : test::FileBytes(item.path());
    if (item.is_directory()) tree[rel].push_back('/');
  }
  return tree;
}

// "2024-03-15 13:45:08" taken as UTC.
std::time_t Utc(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &sec) != 6) return -1;
  using namespace std::chrono;
  const sys_seconds t = sys_days{year{y} / month{static_cast<unsigned>(mo)} / day{static_cast<unsigned>(d)}} +
                        hours{h} + minutes{mi} + seconds{sec};
  return static_cast<std::time_t>(t.time_since_epoch().count());
}

std::time_t Modified(const fs::path& path) {
  const auto since = fs::last_write_time(path).time_since_epoch() -
                     fs::file_time_type::clock::now().time_since_epoch() +
                     std::chrono::system_clock::now().time_since_epoch();
  return static_cast<std::time_t>(std::chrono::round<std::chrono::seconds>(since).count());
}

class Agreement : public ::testing::TestWithParam<test::Layout> {};

TEST_P(Agreement, ListingAndExtractedFilesEqualWhatMtoolsGives) {
  if (test::kWindows) GTEST_SKIP() << test::kNoTools;
  const test::Layout& layout = GetParam();
  test::ToolVolume tv;
  tv.Make(layout, [&](const fs::path& t) { test::FillSampleTree(t, layout.ClusterBytes); });
  if (HasFatalFailure()) return;

  const test::ToolResult files = RunTool(tv.Tmp, {"files", tv.Image});
  ASSERT_EQ(files.exitCode, 0) << files.err;
  EXPECT_EQ(files.err, "");
  const Listing listing = ParseFiles(files.out);
  EXPECT_EQ(listing.Lines, tv.Mdir);
  EXPECT_GT(listing.Lines.size(), 60u);
  EXPECT_NE(files.out.find("\nfile system: " + std::string(layout.Name).substr(0, 5) + ", label \"ORVTEST\""),
            std::string::npos)
      << files.out;

  const fs::path out = tv.Tmp.Path() / "extracted";
  const test::ToolResult extract = RunTool(tv.Tmp, {"extract", tv.Image, "-o", out.string()});
  ASSERT_EQ(extract.exitCode, 0) << extract.err;
  EXPECT_EQ(extract.err, "");
  EXPECT_TRUE(Tree(out) == Tree(tv.Extracted)) << "the extracted tree differs from mcopy's";
  // Files and folders carry the listed time, taken as UTC.
  for (const std::string path : {"/Short.TXT", "/one-more.bin", "/Deep/level 1", "/Many"})
    EXPECT_EQ(Modified(out.string() + path), Utc(listing.Times.at(path))) << path;

  // A named file and a named folder: with the folders above them, nothing else.
  const fs::path some = tv.Tmp.Path() / "some";
  const test::ToolResult named = RunTool(tv.Tmp, {"extract", tv.Image, "/Deep/level 1/level 2/level 3", "many",
                                                  "-o", some.string()});
  ASSERT_EQ(named.exitCode, 0) << named.err;
  std::size_t expected = 0;
  for (const auto& [path, bytes] : Tree(tv.Extracted))
    if (path.rfind("/Deep/level 1/level 2/level 3", 0) == 0 || path.rfind("/Many", 0) == 0 || path == "/Deep" ||
        path == "/Deep/level 1" || path == "/Deep/level 1/level 2") {
      ++expected;
      EXPECT_TRUE(Tree(some)[path] == bytes) << path;
    }
  EXPECT_EQ(Tree(some).size(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, Agreement,
    ::testing::Values(test::Layout{"FAT12", "-F 12 -s 4", 2048, fat::FatType::Fat12, 2048, false, 0},
                      test::Layout{"FAT12Full", "-F 12 -s 1", 1024, fat::FatType::Fat12, 512, true, 0},
                      test::Layout{"FAT16", "-F 16 -s 2", 8192, fat::FatType::Fat16, 1024, false, 0},
                      test::Layout{"FAT32", "-F 32 -s 1", 40960, fat::FatType::Fat32, 512, false, 34000}),
    [](const ::testing::TestParamInfo<test::Layout>& p) { return std::string(p.param.Name); });

// ---- Damaged and crafted copies of one FAT16 volume ------------------------------------

// Long names of 9 + 4 characters take one long-name entry, which a case rewrites.
constexpr char kCrafted[] = "Aaaaaaaaa.txt";

// A copy of the volume's bytes to damage, with its entries as listed before.
struct CraftCopy {
  std::vector<std::uint8_t> Bytes;
  std::map<std::string, fat::Entry> Entries;
  fat::Geometry Geo;
  // Sets a FAT entry in both FATs.
  void SetNext(std::uint32_t cluster, std::uint32_t v) {
    for (std::uint64_t f = 0; f < Geo.FatCount; ++f) PutLe16(Geo.FatOffset + f * Geo.FatSectors * 512ull + 2ull * cluster, v);
  }
  std::uint32_t Next(std::uint32_t cluster) const {
    const std::uint64_t at = Geo.FatOffset + 2ull * cluster;
    return Bytes[at] | (Bytes[at + 1] << 8);
  }
  void PutLe16(std::uint64_t at, std::uint32_t v) {
    Bytes[at] = static_cast<std::uint8_t>(v);
    Bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  // Rewrites the one long-name entry before `path`'s short entry.
  void Rename(const std::string& path, const std::u16string& name) {
    static constexpr unsigned kAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    const std::uint64_t lfn = Entries.at(path).EntryOffset - 32;
    for (unsigned i = 0; i < 13; ++i) {
      const char16_t u = i < name.size() ? name[i] : i == name.size() ? u'\0' : u'\xFFFF';
      PutLe16(lfn + kAt[i], u);
    }
  }
};

class Crafted : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (test::kWindows) return;
    made_ = std::make_unique<test::ToolVolume>();
    made_->Make(test::Layout{"Crafted", "-F 16 -s 1", 4096, fat::FatType::Fat16, 512, false, 0}, [](const fs::path& t) {
      test::WriteFile(t / "chain.bin", 5 * 512, 1);
      test::WriteFile(t / kCrafted, 40, 2);
      test::WriteFile(t / "Bbbbbbbbb.txt", 50, 3);
      test::WriteFile(t / "D" / "keep.txt", 600, 4);
      test::WriteFile(t / "README", 12, 8);
    });
    // Files named like temporary files, the temporary one first; and one named as the
    // volume file itself.
    const test::TempDir& tmp = made_->Tmp;
    test::WriteFile(tmp.Path() / "z.part", 3000, 5);
    test::WriteFile(tmp.Path() / "z", 2000, 6);
    test::WriteFile(tmp.Path() / "vol.img", 100, 7);
    for (const char* name : {"z.part", "z", "vol.img"})
      Shell(tmp, "mcopy -i '" + made_->Image + "' '" + tmp.File(name) + "' ::/" + name);
  }
  static void TearDownTestSuite() { made_.reset(); }

  static CraftCopy Pristine() {
    CraftCopy c;
    c.Bytes = test::FileBytes(made_->Image);
    fat::MemorySource source(c.Bytes);
    std::string error;
    const auto volume = fat::Volume::Open(source, error);
    EXPECT_NE(volume, nullptr) << error;
    if (!volume) return c;
    c.Geo = volume->Facts();
    volume->Walk([&](const fat::Entry& e) { c.Entries[e.Path] = e; return fat::WalkStep::Continue; }, nullptr);
    return c;
  }

  static std::unique_ptr<test::ToolVolume> made_;
};
std::unique_ptr<test::ToolVolume> Crafted::made_;

struct CraftCase {
  const char* Name;
  std::function<void(CraftCopy&)> Apply;
  std::vector<std::string> Refused;  // stderr parts, each naming one refusal
  std::set<std::string> NotOut;      // volume files not in the output
};

void PrintTo(const CraftCase& c, std::ostream* os) { *os << c.Name; }

class CraftedCopies : public Crafted, public ::testing::WithParamInterface<CraftCase> {};

// Whatever the damage, the output folder receives exactly the files that read whole,
// each byte for byte, and the temporary folder around it nothing else.
TEST_P(CraftedCopies, ExtractWhatReadsAndNameTheRestWithoutWritingOutsideTheFolder) {
  if (test::kWindows) GTEST_SKIP() << test::kNoTools;
  ASSERT_TRUE(made_);
  const CraftCase& c = GetParam();
  CraftCopy copy = Pristine();
  c.Apply(copy);
  test::TempDir dir;
  const fs::path work = dir.Path() / "work";
  fs::create_directories(work);
  const std::string image = (work / "crafted.img").string();
  std::ofstream(image, std::ios::binary)
      .write(reinterpret_cast<const char*>(copy.Bytes.data()), static_cast<std::streamsize>(copy.Bytes.size()));

  for (const bool force : {false, true}) {
    std::vector<std::string> args{"extract", image, "-o", (work / "out").string()};
    if (force) args.push_back("--force");
    const test::ToolResult r = RunTool(dir, args);
    EXPECT_EQ(r.exitCode, c.Refused.empty() ? 0 : 1) << r.err;
    for (const std::string& part : c.Refused) EXPECT_NE(r.err.find(part), std::string::npos) << part << "\n" << r.err;
    if (!force) {
      std::set<std::string> expected;
      for (const auto& [path, e] : Pristine().Entries)
        if (!c.NotOut.count(path)) expected.insert(path);
      std::set<std::string> got;
      for (const auto& [path, bytes] : Tree(work / "out")) got.insert(path);
      EXPECT_EQ(got, expected);
    }
    for (const auto& [path, bytes] : Tree(work / "out")) {
      if (fs::is_directory(work.string() + "/out" + path)) continue;
      const bool added = path == "/z" || path == "/z.part" || path == "/vol.img";
      EXPECT_TRUE(bytes == test::FileBytes(added ? made_->Tmp.Path() / path.substr(1) : made_->Extracted / path.substr(1)))
          << path;
    }
    // Nothing beside the output folder and the image, and no temporary file left.
    std::set<std::string> around;
    for (const auto& item : fs::recursive_directory_iterator(dir.Path())) {
      const std::string rel = fs::relative(item.path(), dir.Path()).generic_string();
      if (rel.rfind("work/out/", 0) != 0) around.insert(rel);
      const bool part = rel.size() > 5 && rel.compare(rel.size() - 5, 5, ".part") == 0;
      EXPECT_EQ(part, rel == "work/out/z.part") << rel;
    }
    EXPECT_EQ(around, (std::set<std::string>{".stderr", ".stdout", "work", "work/crafted.img", "work/out"}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Copies, CraftedCopies,
    ::testing::Values(
        CraftCase{"Sound", [](CraftCopy&) {}, {}, {}},
        CraftCase{"LoopedChain",
                  [](CraftCopy& c) {
                    const std::uint32_t first = c.Entries.at("/chain.bin").FirstCluster;
                    c.SetNext(c.Next(c.Next(first)), first);  // the third cluster leads back to the first
                  },
                  {"\"/chain.bin\": chain-loop: its chain comes back to its cluster",
                   "\"/chain.bin\" not extracted: only 1536 of its 2560 bytes can be read"},
                  {"/chain.bin"}},
        CraftCase{"DotDotName", [](CraftCopy& c) { c.Rename(std::string("/") + kCrafted, u".."); },
                  {"\"/..\" not extracted: its name is refused: \"..\" names the folder above"},
                  {std::string("/") + kCrafted}},
        CraftCase{"NameWithASeparator", [](CraftCopy& c) { c.Rename(std::string("/") + kCrafted, u"../../x.txt"); },
                  {"\"/../../x.txt\" not extracted: its name is refused: it holds \"/\", a path separator"},
                  {std::string("/") + kCrafted}},
        CraftCase{"NameWithABackslash", [](CraftCopy& c) { c.Rename(std::string("/") + kCrafted, u"..\\up.txt"); },
                  {"\"/..\\up.txt\" not extracted: its name is refused: it holds \"\\\", a path separator"},
                  {std::string("/") + kCrafted}},
        CraftCase{"NameWithADrive", [](CraftCopy& c) { c.Rename(std::string("/") + kCrafted, u"C:x.txt"); },
                  {"\"/C:x.txt\" not extracted: its name is refused: it begins with the drive \"C:\""},
                  {std::string("/") + kCrafted}},
        // Two entries of one name in a folder: the second never replaces the first, not
        // even with --force.
        CraftCase{"DuplicateName", [](CraftCopy& c) { c.Rename("/Bbbbbbbbb.txt", u"Aaaaaaaaa.txt"); },
                  {"\"/Aaaaaaaaa.txt\" not extracted: another entry of the volume was extracted as"},
                  {"/Bbbbbbbbb.txt"}}),
    [](const ::testing::TestParamInfo<CraftCase>& p) { return std::string(p.param.Name); });

TEST_F(Crafted, NeverReplacesTheVolumeFileItReadsEvenWithForce) {
  if (test::kWindows) GTEST_SKIP() << test::kNoTools;
  ASSERT_TRUE(made_);
  test::TempDir dir;
  const std::string image = dir.File("vol.img");
  fs::copy_file(made_->Image, image);
  const std::vector<std::uint8_t> before = test::FileBytes(image);
  const test::ToolResult r = RunTool(dir, {"extract", image, "-o", dir.Path().string(), "--force"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("\"" + image + "\" is \"" + image + "\", a file this command reads"), std::string::npos) << r.err;
  EXPECT_TRUE(test::FileBytes(image) == before);
  EXPECT_TRUE(test::FileBytes(dir.File("z.part")) == test::FileBytes(made_->Tmp.File("z.part")));
  EXPECT_TRUE(test::FileBytes(dir.File("z")) == test::FileBytes(made_->Tmp.File("z")));
}

// ---- A dump whose EFS partition holds an STL volume with a FAT file system ----------------

class DumpEfs : public ::testing::Test {
 protected:
  static constexpr std::size_t kEfs = 2;

  static void SetUpTestSuite() {
    if (test::kWindows) return;
    tmp_ = std::make_unique<test::TempDir>();
    const test::TempDir& t = *tmp_;
    // A volume of the size EFS's STL volume has, filled by the tools.
    phone::StlGeometry g;
    std::string error;
    ASSERT_TRUE(phone::StlGeometryForUnits(40, g, error)) << error;
    const std::string volume = t.File("efs.img");
    Shell(t, "mkfs.fat -C -n EFS -F 16 -s 2 '" + volume + "' " + std::to_string(g.VolumeBytes() / 1024) + " >/dev/null");
    const fs::path tree = t.Path() / "tree";
    test::WriteFile(tree / "nv_data.bin", 262144, 21);
    test::WriteFile(tree / "other.bin", 700, 22);
    test::WriteFile(tree / "sub" / "nested.bin", 5000, 23);
    Shell(t, "cd '" + tree.string() + "' && md5sum nv_data.bin | cut -c1-32 | tr -d '\\n' > nv_data.bin.md5 && "
             "printf '0123456789abcdef0123456789abcdef  other.bin\\n' > other.bin.md5 && "
             "touch -d '2011-03-02 11:22:34' nv_data.bin && mcopy -s -m -i '" + volume + "' * ::/");
    std::vector<std::uint8_t> bytes = test::FileBytes(volume);
    ASSERT_EQ(bytes.size(), g.VolumeBytes());

    // The dump, with a block of EFS remapped, and the volume written through the remap.
    dump_ = t.File("dump.bin");
    std::vector<std::uint32_t> physical;
    ASSERT_NO_FATAL_FAILURE(test::WriteStlSampleDump(dump_, {5, 20}, kEfs, bytes, &physical));
    roots_ = {physical[0], physical[1]};
  }
  static void TearDownTestSuite() { tmp_.reset(); }

  static std::unique_ptr<test::TempDir> tmp_;
  static std::string dump_;
  static std::vector<std::uint32_t> roots_;  // chip blocks of the volume's root blocks
};
std::unique_ptr<test::TempDir> DumpEfs::tmp_;
std::string DumpEfs::dump_;
std::vector<std::uint32_t> DumpEfs::roots_;

TEST_F(DumpEfs, FilesAndExtractReadTheRebuiltVolume) {
  if (test::kWindows) GTEST_SKIP() << test::kNoTools;
  ASSERT_FALSE(dump_.empty());
  const test::TempDir& t = *tmp_;
  const test::ToolResult files = RunTool(t, {"files", dump_, "--row", "EFS"});
  ASSERT_EQ(files.exitCode, 0) << files.err;
  EXPECT_EQ(files.err, "");
  EXPECT_EQ(test::Lines(files.out).at(0),
            "source: row 3 (EFS) of \"" + dump_ + "\", the STL volume as the phone's stl device reads it (rebuilt, " +
                "12800 sectors, directory header old)");
  const Listing listing = ParseFiles(files.out);
  EXPECT_EQ(listing.Checks, (std::map<std::string, std::string>{{"/nv_data.bin", "md5 matches"},
                                                                 {"/nv_data.bin.md5", "-"},
                                                                 {"/other.bin", "md5 differs"},
                                                                 {"/other.bin.md5", "-"},
                                                                 {"/sub", "-"},
                                                                 {"/sub/nested.bin", "-"}}));

  const test::ToolResult json = RunTool(t, {"files", dump_, "--row", "3", "--json"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  const auto j = nlohmann::json::parse(json.out);
  EXPECT_EQ(j["source"]["layer"], "stl");
  EXPECT_EQ(j["file_system"]["type"], "fat16");
  EXPECT_EQ(j["file_system"]["label"], "EFS");
  EXPECT_EQ(j["file_system"]["cluster_size"], 1024);
  ASSERT_EQ(j["entries"].size(), 6u);
  for (const auto& e : j["entries"]) {
    const std::string path = e["path"];
    EXPECT_EQ(e["md5_matches"], path == "/nv_data.bin" ? nlohmann::json(true)
                                : path == "/other.bin" ? nlohmann::json(false)
                                                       : nlohmann::json(nullptr))
        << path;
    EXPECT_EQ(e["folder"], path == "/sub") << path;
  }
  EXPECT_TRUE(j["findings"].empty());

  const fs::path out = t.Path() / "out";
  const test::ToolResult extract = RunTool(t, {"extract", dump_, "--row", "efs", "/nv_data.bin", "/sub", "-o", out.string()});
  ASSERT_EQ(extract.exitCode, 0) << extract.err;
  EXPECT_TRUE(test::FileBytes(out / "nv_data.bin") == test::FileBytes(t.Path() / "tree" / "nv_data.bin"));
  EXPECT_TRUE(test::FileBytes(out / "sub" / "nested.bin") == test::FileBytes(t.Path() / "tree" / "sub" / "nested.bin"));
  EXPECT_EQ(Tree(out).size(), 3u);
  EXPECT_EQ(listing.Times.at("/nv_data.bin").substr(0, 10), "2011-03-02");
  EXPECT_EQ(Modified(out / "nv_data.bin"), Utc(listing.Times.at("/nv_data.bin")));

  // The report lists the volume's files with their digests and checks.
  const std::string html = t.File("report.html");
  const test::ToolResult report = RunTool(t, {"report", dump_, "-o", html});
  ASSERT_EQ(report.exitCode, 0) << report.err;
  const std::string page = test::ReadWholeFile(html);
  const std::string md5 = test::ReadWholeFile(t.File("tree/nv_data.bin.md5"));
  EXPECT_NE(page.find("<h2>Files of EFS (row 3)</h2>"), std::string::npos) << report.err;
  EXPECT_NE(page.find(">/nv_data.bin</td><td>file</td><td class=\"num\">262144</td>"), std::string::npos);
  EXPECT_NE(page.find("<td class=\"hex\">" + md5 + "</td><td><span class=\"same\">NAME.md5 matches</span>"),
            std::string::npos);
  EXPECT_NE(page.find("NAME.md5 differs"), std::string::npos);
}

// A volume whose rebuild is refused is never read silently: the reason is given, and the
// bad-block view holds no file system here.
TEST_F(DumpEfs, ARefusedVolumeSaysWhyAndReadsTheBadBlockView) {
  if (test::kWindows) GTEST_SKIP() << test::kNoTools;
  ASSERT_EQ(roots_.size(), 2u);
  const test::TempDir& t = *tmp_;
  const std::string damaged = t.File("damaged.bin");
  fs::copy_file(dump_, damaged, fs::copy_options::overwrite_existing);
  for (const std::uint32_t block : roots_) {
    const std::uint64_t at = std::uint64_t{block} * phone::kBlockMainBytes + 100;
    test::WriteBytesAt(damaged, at, {static_cast<std::uint8_t>(test::ReadBytesAt(damaged, at, 1).at(0) ^ 0x10)});
  }
  const test::ToolResult r = RunTool(t, {"files", damaged, "--row", "EFS", "--json"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("orvella: files: row 3 (EFS): its STL volume was refused (no root page passes its checks"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("no FAT volume in row 3 (EFS) of \"" + damaged +
                       "\", the partition as the phone's bml device reads it: its STL volume was refused"),
            std::string::npos)
      << r.err;
  const test::ToolResult missing = RunTool(t, {"extract", damaged, "--row", "NOPE", "-o", t.File("x")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("no partition is named \"NOPE\""), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(t.File("x")));
}

}  // namespace
}  // namespace orvella
