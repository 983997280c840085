#pragma once
// Volumes made by mkfs.fat and filled by mtools at test time, with what mtools lists of
// them (`mdir -/ -a`) and the files `mcopy -s` extracts, for suites that compare the
// project's reading of FAT volumes with the tools'. Linux only: the tools run there.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fat/BootSector.h"
#include "fat/Volume.h"
#include "support/Platform.h"
#include "support/TestFiles.h"

namespace orvella::test {

namespace fs = std::filesystem;

inline constexpr const char* kNoTools =
    "needs mkfs.fat and mtools, which run on Linux only (scripts/install-deps.sh installs them)";

// Runs a shell command line with mtools' checks off and UTF-8 names; its standard output.
inline std::string Shell(const TempDir& tmp, const std::string& command) {
  const std::string out = tmp.File("sh.out"), err = tmp.File("sh.err");
  std::string problem;
  const int code = RunProgram(
      {"/bin/sh", "-c", "export MTOOLS_SKIP_CHECK=1 LANG=C.UTF-8 LC_ALL=C.UTF-8; " + command}, out,
      err, problem);
  std::ifstream o(out), e(err);
  std::stringstream so, se;
  so << o.rdbuf();
  se << e.rdbuf();
  EXPECT_EQ(code, 0) << command << "\n" << problem << se.str();
  return so.str();
}

inline std::vector<std::uint8_t> FileBytes(const fs::path& path) {
  std::error_code ec;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(fs::file_size(path, ec)));
  std::ifstream f(path, std::ios::binary);
  f.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (ec || !f) bytes.clear();
  return bytes;
}

inline void WriteFile(const fs::path& path, std::size_t size, unsigned seed) {
  fs::create_directories(path.parent_path());
  std::mt19937_64 random(seed);
  std::vector<std::uint64_t> words(size / 8 + 1);
  for (std::uint64_t& w : words) w = random();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(words.data()), static_cast<std::streamsize>(size));
}

// "path|size or DIR|YYYY-MM-DD HH:MM" for every entry `mdir -/ -a` lists.
inline std::set<std::string> ParseMdir(const std::string& text) {
  static const std::regex kDir("^Directory for ::(/.*?)/?$");
  static const std::regex kLine(
      "^(\\S+)(?: +(\\S+))? +(<DIR>|\\d+) +(\\d{4}-\\d\\d-\\d\\d) +(\\d?\\d:\\d\\d) ?(?: (.+))?$");
  std::set<std::string> out;
  std::string folder;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_match(line, m, kDir)) {
      folder = m[1] == "/" ? "" : m[1].str();
    } else if (std::regex_match(line, m, kLine) && m[1] != "." && m[1] != "..") {
      const std::string name = m[6].matched ? m[6].str() : m[1].str() + (m[2].matched ? "." + m[2].str() : "");
      // mdir pads hours below ten with a space ("  0:08"), `files` with a zero.
      const std::string time = m[5].length() == 4 ? "0" + m[5].str() : m[5].str();
      out.insert(folder + "/" + name + "|" + (m[3] == "<DIR>" ? "DIR" : m[3].str()) + "|" + m[4].str() + " " + time);
    }
  }
  return out;
}

inline std::string ListingLine(const fat::Entry& e) {
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
  TempDir Tmp;
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

// The sample tree every layout is filled with: short, long and non-ASCII names, a hidden
// read-only system file (README, made so by ToolVolume), an empty file, one of exactly a
// cluster and one of a byte more, twelve nested folders, a folder of 40 entries and an
// empty folder.
inline void FillSampleTree(const fs::path& t, std::uint32_t cs) {
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
  }

}  // namespace orvella::test
