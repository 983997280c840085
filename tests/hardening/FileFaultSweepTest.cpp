// Every file command of the image model with a read, and then a write, failing at each
// chunk in turn: one partition and all partitions in each mode, the whole image, and the
// blank check. After each failure: the command reports failure with one error box that
// carries the system's message and names the file, the user's image is unchanged, and
// no output is left that passes for complete (see LeftoversAreHonest). Every case runs
// twice: with the kernel copying the file data, and with the kernel refusing as another
// file system would, so that the buffered copy is swept as well. A child process with a
// real file-size limit proves that a genuine EFBIG takes the same path.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "hardening/SweepSupport.h"
#include "image/BlankCheck.h"
#include "image/Export.h"
#include "files/FileIO.h"
#include "image/FullImage.h"
#include "image/ImageBuilder.h"
#include "image/RecordingPort.h"
#include "support/TestFiles.h"

namespace orvella {
namespace {

using test::Bytes;
using test::EmptyFolder;
using test::FilesIn;
using test::FolderFiles;
using test::LeftoversAreHonest;
using test::ReadFile;
using test::TempDir;

constexpr std::uint32_t kRest = 0xFFFFFFFFu;

// The outcome of one command run, as the sweep compares it.
struct Outcome {
  bool ok = false;
  std::vector<std::string> reported;  // files the command says it wrote completely
};

struct FileCommand {
  const char* name;
  bool writes;  // exports write; the blank check only reads
  std::function<Outcome(ImageModel&, RecordingPort&, const std::string& out)> run;
};

Outcome FromExport(const ExportResult& r) {
  return {r.Outcome == ExportOutcome::Done, r.FilesWritten};
}

// Row 2 ("A", three blocks) is the single-partition commands' row.
constexpr std::size_t kPopupRow = 2;

std::vector<FileCommand> Commands() {
  const auto one = [](bool main, bool spare) {
    return [main, spare](ImageModel& m, RecordingPort& p, const std::string& out) {
      p.SaveAnswers.push_back(out + "/one");
      return FromExport(SavePartitionDataIntoFile(m, p, kPopupRow, main, spare));
    };
  };
  const auto all = [](bool main, bool spare) {
    return [main, spare](ImageModel& m, RecordingPort& p, const std::string& out) {
      p.SaveAnswers.push_back(out + "/all");
      return FromExport(SaveAllPartitionsDataIntoFile(m, p, main, spare));
    };
  };
  return {
      {"OnePartitionMain", true, one(true, false)},
      {"OnePartitionSpare", true, one(false, true)},
      {"OnePartitionFull", true, one(true, true)},
      {"AllPartitionsMain", true, all(true, false)},
      {"AllPartitionsSpare", true, all(false, true)},
      {"AllPartitionsFull", true, all(true, true)},
      {"WholeImage", true,
       [](ImageModel& m, RecordingPort& p, const std::string& out) {
         p.SaveAnswers.push_back(out + "/copy.bin");
         return FromExport(SaveAsImageFile(m, p));
       }},
      {"BlankCheck", false,
       [](ImageModel& m, RecordingPort& p, const std::string&) {
         return Outcome{CheckBlanks(m, p), {}};
       }},
  };
}

enum class Fault { Read, Write };

struct SweepCase {
  FileCommand command;
  Fault fault;
  int kernelRefuses = 0;  // the errno every kernel copy fails with; 0: the kernel copies
};

void PrintTo(const SweepCase& c, std::ostream* os) {
  *os << c.command.name << (c.fault == Fault::Read ? " read" : " write") << " fails";
  if (c.kernelRefuses != 0) *os << ", kernel copy refused: " << std::strerror(c.kernelRefuses);
}

std::string CaseName(const ::testing::TestParamInfo<SweepCase>& info) {
  return std::string(info.param.command.name) +
         (info.param.fault == Fault::Read ? "ReadFails" : "WriteFails");
}

// A 2 MiB chip (8 blocks): BOOT 1, PIT 1, A 3, B 1, C to the end (2). Mostly erased so
// that the blank check reads whole partitions; the bytes set below make BOOT, A (in its
// spare data only) and C (in its second block) non-blank, so the check also stops early.
class FileFaultSweep : public ::testing::TestWithParam<SweepCase> {
 protected:
  void SetUp() override {
    image = dir.File("user image.bin");
    std::string error;
    ASSERT_TRUE(WriteFullImage(
        image, ImageSpec{2, {{"BOOT", 1}, {"PIT", 1}, {"A", 3}, {"B", 1}, {"C", kRest}},
                         ImageFill::Erased},
        error))
        << error;
    const std::uint64_t spareStart = 8ull * kBlockSize;
    test::WriteBytesAt(image, 100, {0x00});
    test::WriteBytesAt(image, spareStart + (4ull * kBlockSize) / 32 + 3, {0x12});
    test::WriteBytesAt(image, 7ull * kBlockSize + 7, {0x5A, 0xA5});
    original = ReadFile(image);
    std::filesystem::create_directory(dir.Path() / "out");
    out = (dir.Path() / "out").string();
  }
  void TearDown() override { FileFaults::Disarm(); }

  // Loads the image afresh, marks every row blank (a value the check must replace or
  // keep), arms the fault (counting from the command's first read or write, not the
  // load's), and runs the command.
  Outcome RunOnce(RecordingPort& port, Fault fault, long nth) {
    ImageModel fresh;
    RecordingPort loadPort;
    EXPECT_TRUE(fresh.LoadImageFileAndProcessIt(image, loadPort));
    for (auto& row : fresh.PartitionRows) row.IsBlank = true;
    FileFaults::Disarm();
    FileFaults::RefuseKernelCopy(GetParam().kernelRefuses);
    if (nth > 0) {
      if (fault == Fault::Read) FileFaults::ArmRead(nth); else FileFaults::ArmWrite(nth);
    }
    const Outcome r = GetParam().command.run(fresh, port, out);
    blankAfter.clear();
    for (const auto& row : fresh.PartitionRows) blankAfter.push_back(row.IsBlank);
    return r;
  }

  TempDir dir;
  std::string image, out;
  Bytes original;
  std::vector<bool> blankAfter;
};

TEST_P(FileFaultSweep, EveryChunkFailureIsReportedAndLeavesNothingThatPassesForComplete) {
  const SweepCase& c = GetParam();

  // The clean run: how many reads and writes there are to fail, and what complete
  // output looks like.
  RecordingPort cleanPort;
  const Outcome clean = RunOnce(cleanPort, c.fault, 0);
  const long reads = FileFaults::Reads();
  const long writes = FileFaults::Writes();
  ASSERT_TRUE(clean.ok);
  ASSERT_TRUE(cleanPort.ErrorBoxes.empty());
  const std::vector<bool> cleanBlank = blankAfter;
  const FolderFiles complete = FilesIn(out);
  if (c.command.writes) {
    ASSERT_FALSE(complete.empty());
    ASSERT_EQ(complete.size(), clean.reported.size());
  }
  if (c.command.writes) {
    // The copies really went the way the case says, and both ways give the same files.
    if (c.kernelRefuses == 0) {
      EXPECT_GT(FileFaults::KernelCopies(), 0) << "the kernel copied nothing";
    } else {
      EXPECT_EQ(FileFaults::KernelCopies(), 0);
      EmptyFolder(out);
      RecordingPort kernelPort;
      ImageModel fresh;
      ASSERT_TRUE(fresh.LoadImageFileAndProcessIt(image, kernelPort));
      FileFaults::Disarm();
      ASSERT_TRUE(c.command.run(fresh, kernelPort, out).ok);
      EXPECT_GT(FileFaults::KernelCopies(), 0);
      EXPECT_TRUE(FilesIn(out) == complete) << "the buffered copy wrote other bytes";
    }
  }
  const long faults = c.fault == Fault::Read ? reads : writes;
  if (!c.command.writes && c.fault == Fault::Write) {
    EXPECT_EQ(writes, 0) << "the blank check writes nothing";
    return;
  }
  ASSERT_GT(faults, 1) << "the fixture must give the sweep several chunks";

  const std::string systemText = std::strerror(c.fault == Fault::Read ? EIO : ENOSPC);
  for (long n = 1; n <= faults; ++n) {
    SCOPED_TRACE("failing " + std::string(c.fault == Fault::Read ? "read " : "write ") +
                 std::to_string(n) + " of " + std::to_string(faults));
    EmptyFolder(out);
    RecordingPort port;
    const Outcome r = RunOnce(port, c.fault, n);
    FileFaults::Disarm();

    EXPECT_FALSE(r.ok);
    ASSERT_EQ(port.ErrorBoxes.size(), 1u);
    const std::string& box = port.ErrorBoxes[0];
    EXPECT_NE(box.find(systemText), std::string::npos) << box;
    if (c.fault == Fault::Read) {
      EXPECT_NE(box.find("\"" + image + "\""), std::string::npos) << box;
    } else {
      bool namesAnOutput = false;
      for (const auto& [path, bytes] : complete)
        namesAnOutput = namesAnOutput || box.find("\"" + path + "\"") != std::string::npos;
      EXPECT_TRUE(namesAnOutput) << box;
    }
    EXPECT_EQ(ReadFile(image), original) << "the user's image was changed";
    EXPECT_TRUE(LeftoversAreHonest(complete, FilesIn(out), r.reported));
    // The failed file itself is never among those reported as written.
    EXPECT_LT(r.reported.size(), complete.size() + (c.command.writes ? 0 : 1));

    if (std::string(c.command.name) == "WholeImage") {
      EXPECT_NE(port.Log.back(), "Saving to File...OK");
      EXPECT_NE(port.Status[0], "Complete OK");
    }
    if (std::string(c.command.name) == "BlankCheck") {
      // No report; the progress line stays; rows before the failing one have their new
      // flags, the failing row and the later ones keep the old (true).
      for (const auto& line : port.Log) {
        EXPECT_EQ(line.find("blank partitions"), std::string::npos) << line;
        EXPECT_EQ(line.find("found to be completely blank"), std::string::npos) << line;
      }
      EXPECT_EQ(port.Log.back().rfind("Checking which Partition is blank...", 0), 0u);
      EXPECT_EQ(port.Log.back().find("COMPLETE"), std::string::npos);
      bool split = false;
      for (std::size_t k = 0; k <= blankAfter.size() && !split; ++k) {
        bool fits = true;
        for (std::size_t j = 0; j < blankAfter.size(); ++j)
          fits = fits && blankAfter[j] == (j < k ? cleanBlank[j] : true);
        split = fits;
      }
      EXPECT_TRUE(split) << "rows before the failing one decided, the others untouched";
    }
  }
}

// `refusals` empty: the kernel copies; else each command's kernel copies fail with the
// next of these, in turn.
std::vector<SweepCase> AllCases(const std::vector<int>& refusals) {
  std::vector<SweepCase> cases;
  std::size_t next = 0;
  for (const auto& c : Commands()) {
    if (!refusals.empty() && !c.writes) continue;  // nothing of it is copied
    const int refuse = refusals.empty() ? 0 : refusals[next++ % refusals.size()];
    cases.push_back({c, Fault::Read, refuse});
    if (c.writes) cases.push_back({c, Fault::Write, refuse});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Commands, FileFaultSweep, ::testing::ValuesIn(AllCases({})), CaseName);
// The answers of a file system or kernel that cannot copy between the two files.
INSTANTIATE_TEST_SUITE_P(BufferedCommands, FileFaultSweep,
                         ::testing::ValuesIn(AllCases({EXDEV, EOPNOTSUPP, ENOSYS, EINVAL})),
                         CaseName);

// A 4 MiB chip of patterned data: BOOT 1, PIT 1, DATA to the end.
std::string PatternImage(const TempDir& dir) {
  const std::string image = dir.File("image.bin");
  std::string error;
  EXPECT_TRUE(WriteFullImage(
      image, ImageSpec{4, {{"BOOT", 1}, {"PIT", 1}, {"DATA", kRest}}, ImageFill::Pattern}, error))
      << error;
  return image;
}

// Real file systems rather than the refusal hook: into the image's own folder the kernel
// copies; into another file system (tmpfs) it answers EXDEV and the buffer copies the
// rest; both files hold the image byte for byte.
TEST(CopyPaths, TheKernelCopiesWithinAFileSystemAndTheBufferAcrossFileSystems) {
  TempDir dir;
  const std::string image = PatternImage(dir);
  const Bytes original = ReadFile(image);
  const auto save = [&](const std::string& to) {
    ImageModel model;
    RecordingPort port;
    EXPECT_TRUE(model.LoadImageFileAndProcessIt(image, port));
    FileFaults::Disarm();
    port.SaveAnswers.push_back(to);
    EXPECT_EQ(SaveAsImageFile(model, port).Outcome, ExportOutcome::Done) << to;
    EXPECT_EQ(ReadFile(to), original) << to;
    return FileFaults::KernelCopies();
  };
  EXPECT_GT(save(dir.File("copy.bin")), 0);

  struct stat here {}, shm {};
  if (::stat(dir.Path().c_str(), &here) != 0 || ::stat("/dev/shm", &shm) != 0 ||
      here.st_dev == shm.st_dev || ::access("/dev/shm", W_OK) != 0)
    GTEST_SKIP() << "no writable /dev/shm on a file system of its own";
  const std::string other = "/dev/shm/orvella-copy-" + std::to_string(::getpid()) + ".bin";
  EXPECT_EQ(save(other), 0) << "the kernel does not copy across file systems here";
  std::remove(other.c_str());
  FileFaults::Disarm();
}

// A real file-size limit in a child process: the kernel answers the write that crosses
// it with EFBIG (SIGXFSZ ignored), and the save reports it like any other failure.
TEST(FileSizeLimit, RealEfbigEndsTheWholeImageSaveWithItsErrorBox) {
  TempDir dir;
  const std::string image = PatternImage(dir);
  const std::string copy = dir.File("copy.bin");
  const Bytes original = ReadFile(image);
  constexpr rlim_t kLimit = 5 * kBlockSize / 2;  // two and a half blocks

  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kLimit, kLimit};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
    ImageModel model;
    RecordingPort port;
    if (!model.LoadImageFileAndProcessIt(image, port)) ::_exit(4);
    port.SaveAnswers.push_back(copy);
    const ExportResult r = SaveAsImageFile(model, port);
    const std::string box = port.ErrorBoxes.empty() ? "" : port.ErrorBoxes[0];
    if (::write(pipeFds[1], box.data(), box.size()) != static_cast<ssize_t>(box.size())) ::_exit(5);
    ::_exit(r.Outcome == ExportOutcome::Failed && port.ErrorBoxes.size() == 1 ? 0 : 1);
  }
  ::close(pipeFds[1]);
  std::string box;
  char buf[512];
  for (ssize_t got; (got = ::read(pipeFds[0], buf, sizeof buf)) > 0;) box.append(buf, static_cast<std::size_t>(got));
  ::close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << box;
  EXPECT_NE(box.find(std::strerror(EFBIG)), std::string::npos) << box;
  EXPECT_NE(box.find("\"" + copy + "\""), std::string::npos) << box;
  EXPECT_EQ(ReadFile(image), original);
  const Bytes partial = ReadFile(copy);
  EXPECT_EQ(partial.size(), kLimit) << "the kernel lets the file grow up to the limit only";
  EXPECT_TRUE(std::equal(partial.begin(), partial.end(), original.begin()));
}

}  // namespace
}  // namespace orvella
