// Every command that writes files, as a tired user runs it: an output that exists is
// refused without --force and replaced with it; an input given as the output, spelled
// another way, is refused even with --force; an interrupt while the output is written
// leaves nothing under its name. A new writing command adds its row to kWriting.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

#include "RunTool.h"
#include "files/FileIO.h"
#include "support/EccImage.h"
#include "support/FatVolumeFile.h"

namespace orvella {
namespace {

using test::RunTool;

struct Writing {
  const char* name;
  // "{image}" is the image read, "{volume}" a FAT volume file read, "{out}" what names the
  // output, "{mib}" a chip size.
  std::vector<std::string> args;
  // Added to what "{out}" stands for, it gives the file written (export: a prefix).
  std::string suffix;
  bool readsImage;
  int refused;  // the exit status of a refused output
  // Writes its output only at its very end: interrupted while it reads instead.
  bool writesAtEnd;
};

// The images' table places DATA at block 2, so export's file ends in this. Its size is
// stored as the phone stores sizes, so that the phone's view (volume) finds it too.
constexpr char kDataFile[] = "000000080000_DATA.bin";

const Writing kWriting[] = {
    {"mkimage", {"mkimage", "{out}", "--chip-mib", "{mib}", "--table", "A:1,B:rest", "--fill", "noise"}, "",
     false, 1, false},
    {"save-image", {"save-image", "{image}", "{out}"}, "", true, 1, false},
    {"export", {"export", "{image}", "--mode", "full", "--row", "DATA", "--prefix", "{out}"}, kDataFile,
     true, 1, false},
    {"report", {"report", "{image}", "-o", "{out}"}, "", true, 1, true},
    {"check", {"check", "{image}", "--layout", "onenand-h512-normal", "--repair", "{out}"}, "", true, 8, false},
    {"volume", {"volume", "{image}", "--row", "DATA", "-o", "{out}"}, "", true, 1, false},
    {"mkimage-bml",
     {"mkimage", "{out}", "--chip-mib", "512", "--table", "A:2,B:rest", "--fill", "noise", "--bml", "--remap", "5"},
     "", false, 1, false},
    {"extract", {"extract", "{volume}", "-o", "{out}"}, "/big.bin", false, 1, false},
    {"convert", {"convert", "{image}", "{out}", "--from", "full", "--to", "page"}, "", true, 1, false},
};

void PrintTo(const Writing& w, std::ostream* os) { *os << w.name; }

std::vector<std::string> Words(const Writing& w, const std::string& image, const std::string& volume,
                               const std::string& out, const std::string& mib, bool force) {
  std::vector<std::string> words;
  for (const std::string& a : w.args)
    words.push_back(a == "{image}" ? image : a == "{volume}" ? volume : a == "{out}" ? out : a == "{mib}" ? mib : a);
  if (force) words.push_back("--force");
  return words;
}

class WritingCommand : public ::testing::TestWithParam<Writing> {
 protected:
  void SetUp() override {
    // A dump with codes, named as export would name DATA's file under the prefix "dump".
    image = dir.File(std::string("dump") + kDataFile);
    ASSERT_NO_FATAL_FAILURE(
        test::MakeEccImage(image, 4, {{"BOOT", 2}, {"DATA", 14}}, "onenand-h512-normal"));
    before = test::ReadWholeFile(image);
    volume = dir.File("volume.img");
    ASSERT_TRUE(test::WriteFatVolume(volume, {{u"big.bin", 5000, false}}));
  }
  test::ToolResult Run(const std::string& out, bool force) {
    return RunTool(dir, Words(GetParam(), image, volume, out, "1", force));
  }

  test::TempDir dir;
  std::string image, before, volume;
};

TEST_P(WritingCommand, RefusesAnExistingOutputWithoutForceAndReplacesItWithForce) {
  const Writing& w = GetParam();
  const std::string out = dir.File("out");
  const std::string written = out + w.suffix;
  std::filesystem::create_directories(std::filesystem::path(written).parent_path());
  { std::ofstream(written, std::ios::binary) << "somebody's only copy"; }

  const test::ToolResult refused = Run(out, false);
  EXPECT_EQ(refused.exitCode, w.refused) << refused.err;
  EXPECT_EQ(refused.err, "orvella: " + w.args.front() + ": \"" + written +
                             "\" already exists; give --force to replace it\n");
  EXPECT_EQ(test::ReadWholeFile(written), "somebody's only copy");

  const test::ToolResult forced = Run(out, true);
  EXPECT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_GT(std::filesystem::file_size(written), 1000u);
  EXPECT_FALSE(std::filesystem::exists(PartFile::PartName(written)));
  EXPECT_EQ(test::ReadWholeFile(image), before);
}

// A folder in the output's place: refused before anything is written, with --force too.
TEST_P(WritingCommand, RefusesAFolderAsOutputBeforeWritingAnything) {
  const Writing& w = GetParam();
  const std::string out = dir.File("folder");
  ASSERT_TRUE(std::filesystem::create_directories(out + w.suffix));
  for (const bool force : {false, true}) {
    const test::ToolResult r = Run(out, force);
    EXPECT_EQ(r.exitCode, w.refused) << r.err;
    EXPECT_NE(r.err.find("cannot create \"" + out + w.suffix + "\": it is a folder\n"), std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(PartFile::PartName(out + w.suffix)));
    EXPECT_TRUE(std::filesystem::is_empty(out + w.suffix));
  }
}

TEST_P(WritingCommand, RefusesItsInputAsOutputUnderAnotherSpellingEvenWithForce) {
  const Writing& w = GetParam();
  if (!w.readsImage) GTEST_SKIP() << w.name << " reads no full image";
  // "dir/./dump" + suffix is the image itself.
  const std::string name = std::filesystem::path(image).filename().string();
  const std::string other = (dir.Path() / "." / name.substr(0, name.size() - w.suffix.size())).string();
  for (const bool force : {false, true}) {
    const test::ToolResult r = Run(other, force);
    EXPECT_EQ(r.exitCode, w.refused) << r.err;
    EXPECT_NE(r.err.find("\", a file this command reads; it never writes a file it reads\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
  }
  // Nor may its temporary file be the image.
  const std::string part = dir.File("in");
  ASSERT_TRUE(std::filesystem::copy_file(image, PartFile::PartName(part + w.suffix)));
  const test::ToolResult r = RunTool(dir, Words(w, PartFile::PartName(part + w.suffix), volume, part, "1", true));
  EXPECT_EQ(r.exitCode, w.refused) << r.err;
  EXPECT_NE(r.err.find("is written as \"" + PartFile::PartName(part + w.suffix) + "\" first"), std::string::npos)
      << r.err;
  EXPECT_EQ(test::ReadWholeFile(image), before);
}

#ifndef _WIN32

// The tool started in the background, its output caught in files.
class Child {
 public:
  Child(const std::vector<std::string>& words, const std::string& outPath, const std::string& errPath) {
    std::vector<std::string> copy = words;
    std::vector<char*> argv;
    for (auto& w : copy) argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  bool Started() const { return pid_ > 0; }
  bool Running() {
    if (ended_) return false;
    ended_ = ::waitpid(pid_, &status_, WNOHANG) == pid_;
    return !ended_;
  }
  void Interrupt() { ::kill(pid_, SIGINT); }
  int Wait() {
    if (!ended_) ended_ = ::waitpid(pid_, &status_, 0) == pid_;
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool ended_ = false;
};

std::uintmax_t SizeOrZero(const std::string& path) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

// Interrupted while it writes (or, for the report, while it reads): the process ends as
// SIGINT ends it, its part file is gone, and the final name holds nothing new.
TEST_P(WritingCommand, AnInterruptWhileItWritesLeavesNothingUnderTheOutputsName) {
  const Writing& w = GetParam();
  // 512 MiB of chip, sparse, so that every command is still at work when it is interrupted
  // (mkimage makes 2 GiB).
  const std::string big = dir.File("big.bin");
  std::string error;
  ASSERT_TRUE(WriteFullImage(big, ImageSpec{512, {{"BOOT", 2}, {"DATA", 2046}}, ImageFill::Zero}, error))
      << error;
  const std::string bigVolume = dir.File("big-volume.img");
  ASSERT_TRUE(test::WriteFatVolume(bigVolume, {{u"big.bin", 512u << 20, true}}));
  for (const bool existing : {false, true}) {
    SCOPED_TRACE(existing ? "over an existing file, with --force" : "a new file");
    const std::string out = dir.File(existing ? "kept" : "new");
    const std::string written = out + w.suffix;
    std::filesystem::create_directories(std::filesystem::path(written).parent_path());
    if (existing) std::ofstream(written, std::ios::binary) << "kept";
    std::vector<std::string> words{ORVELLA_TOOL};
    for (const std::string& word : Words(w, big, bigVolume, out, "2048", existing)) words.push_back(word);
    Child child(words, dir.File("child.out"), dir.File("child.err"));
    ASSERT_TRUE(child.Started());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    const auto readingFor = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (child.Running() && std::chrono::steady_clock::now() < deadline &&
           (w.writesAtEnd ? std::chrono::steady_clock::now() < readingFor
                          : SizeOrZero(PartFile::PartName(written)) == 0))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(child.Running()) << "ended before it could be interrupted: "
                                 << test::ReadWholeFile(dir.File("child.err"));
    child.Interrupt();
    const int status = child.Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "status " << status;
    EXPECT_FALSE(std::filesystem::exists(PartFile::PartName(written)));
    if (existing)
      EXPECT_EQ(test::ReadWholeFile(written), "kept");
    else
      EXPECT_FALSE(std::filesystem::exists(written));
  }
}

#endif

INSTANTIATE_TEST_SUITE_P(Commands, WritingCommand, ::testing::ValuesIn(kWriting),
                         [](const auto& c) {
                           std::string name = c.param.name;
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name;
                         });

// Files that an export in one mode wrote are not replaced by one in another mode.
TEST(ExportModes, AFileAnotherModeWroteIsRefusedAndKept) {
  test::TempDir dir;
  const std::string image = dir.File("dump.bin");
  ASSERT_NO_FATAL_FAILURE(test::MakeImage(image, {{"BOOT", 2}, {"DATA", 0xFFFFFFFFu}}, 4, ImageFill::Pattern));
  const std::string prefix = dir.File("x_");
  const auto main = RunTool(dir, {"export", image, "--mode", "main", "--all", "--prefix", prefix});
  ASSERT_EQ(main.exitCode, 0) << main.err;
  const std::string data = prefix + kDataFile;
  const std::string mainData = test::ReadWholeFile(data);
  const auto full = RunTool(dir, {"export", image, "--mode", "full", "--row", "2", "--prefix", prefix});
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_EQ(full.out, "");
  EXPECT_EQ(full.err, "orvella: export: \"" + data + "\" already exists; give --force to replace it\n");
  EXPECT_EQ(test::ReadWholeFile(data), mainData);
  // --all names every file in the way before it writes any.
  std::filesystem::remove(data);
  const auto all = RunTool(dir, {"export", image, "--mode", "spare", "--all", "--prefix", prefix});
  EXPECT_EQ(all.exitCode, 1);
  EXPECT_EQ(test::Lines(all.err).size(), 1u) << all.err;
  EXPECT_FALSE(std::filesystem::exists(data));
}

}  // namespace
}  // namespace orvella
