#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Fixture.h"
#include "image/Export.h"

namespace orvella::test {
namespace {

namespace fs = std::filesystem;

enum class Mode { Main, Spare, Full };

struct PartitionCase {
  const char* label;
  std::vector<PartitionSpec> table;
  std::size_t row;
  const char* fileName;    // under the prefix "p"
  std::uint32_t mainOffset;
  std::uint32_t blocks;    // effective size
};

const std::vector<PartitionSpec> kNormal = {{"BOOT", 2}, {"PIT", 1}, {"DATA", 5}, {"REST", kRest}};
const std::vector<PartitionSpec> kFull = {{"A", 2}, {"B", 14}, {"Z", 0}, {"Y", kRest}};

const PartitionCase kCases[] = {
    {"Normal", kNormal, 2, "p0000000C0000_DATA.bin", 0xC0000, 5},
    {"StoredRest", kNormal, 3, "p000000200000_REST.bin", 0x200000, 8},
    {"StoredZeroAtEnd", kFull, 2, "p000000400000_Z.bin", 0x400000, 0},
    {"StoredRestAtEnd", kFull, 3, "p000000400000_Y.bin", 0x400000, 0},
};

class PartitionModes : public ImageTest,
                       public ::testing::WithParamInterface<std::tuple<PartitionCase, Mode>> {};

TEST_P(PartitionModes, FileHoldsTheModesBytesAndGaugeStaysFull) {
  const auto& [c, mode] = GetParam();
  Make(c.table, ImageFill::Pattern);
  port.SaveAnswers.push_back(Path("p"));
  const bool main = mode != Mode::Spare, spare = mode != Mode::Main;
  const ExportResult r = SavePartitionDataIntoFile(model, port, c.row, main, spare);

  ASSERT_EQ(r.Outcome, ExportOutcome::Done);
  ASSERT_EQ(r.FilesWritten, std::vector<std::string>{Path(c.fileName)});
  ASSERT_EQ(port.SaveRequests.size(), 1u);
  EXPECT_EQ(port.SaveRequests[0].Filter, "Partition Name Prefix|");
  EXPECT_EQ(port.SaveRequests[0].FilterIndex, 1);
  EXPECT_EQ(port.SaveRequests[0].DefaultExt, "");

  const std::size_t mainLen = std::size_t{c.blocks} * kBS;
  const std::size_t spareLen = mainLen / 32;
  const std::uint64_t spareAt = 16ull * kBS + c.mainOffset / 32;
  const auto data = ReadAll(Path(c.fileName));
  ASSERT_EQ(data.size(), (main ? mainLen : 0) + (spare ? spareLen : 0));
  if (main) {
    EXPECT_TRUE(HoldsPattern(data, 0, mainLen, c.mainOffset));
  }
  if (spare) {
    EXPECT_TRUE(HoldsPattern(data, main ? mainLen : 0, spareLen, spareAt));
  }

  EXPECT_EQ(port.Max, c.blocks);
  EXPECT_EQ(port.Pos, c.blocks);
  EXPECT_TRUE(port.Log.empty());
  EXPECT_EQ(port.Status[0], "");
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<PartitionCase, Mode>>& info) {
  static const char* const kModeNames[] = {"Main", "Spare", "Full"};
  return std::string(std::get<0>(info.param).label) + "_" +
         kModeNames[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Export, PartitionModes,
                         ::testing::Combine(::testing::ValuesIn(kCases),
                                            ::testing::Values(Mode::Main, Mode::Spare, Mode::Full)),
                         CaseName);

using ExportAll = ImageTest;

TEST_F(ExportAll, SameNamesGetTheirOffsetsAndGaugeEndsAtSumThenZero) {
  Make({{"X", 1}, {"X", 3}, {"REST", kRest}}, ImageFill::Pattern);
  port.SaveAnswers.push_back(Path("all"));
  std::vector<std::int64_t> seen;
  port.OnPump = [&] { seen.push_back(port.Pos); };
  const ExportResult r = SaveAllPartitionsDataIntoFile(model, port, true, true);

  ASSERT_EQ(r.Outcome, ExportOutcome::Done);
  const std::vector<std::string> expected = {Path("all000000000000_X.bin"),
                                             Path("all000000040000_X.bin"),
                                             Path("all000000100000_REST.bin")};
  EXPECT_EQ(r.FilesWritten, expected);
  EXPECT_EQ(port.SaveRequests.at(0).Filter, "All Files Group Name Prefix|");
  EXPECT_EQ(port.SaveRequests.at(0).DefaultExt, "");
  const auto second = ReadAll(expected[1]);
  ASSERT_EQ(second.size(), 3u * kBS * 33 / 32);
  EXPECT_TRUE(HoldsPattern(second, 0, 3 * kBS, kBS));
  EXPECT_TRUE(HoldsPattern(second, 3 * kBS, 3 * kBS / 32, 16ull * kBS + kBS / 32));

  EXPECT_EQ(port.Max, 16);
  EXPECT_EQ(port.HighestPos, 16);
  EXPECT_EQ(port.Pos, 0);
  // In full mode only the main chunks step the gauge: one step per block, after the
  // one message pump before the dialog.
  ASSERT_EQ(seen.size(), 17u);
  for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], static_cast<std::int64_t>(i));
  EXPECT_TRUE(port.Log.empty());
}

TEST_F(ExportAll, CancelledDialogTouchesNothing) {
  Make({{"A", 2}, {"REST", kRest}}, ImageFill::Pattern);
  port.GaugeSetMax(9);
  port.GaugeSetPos(5);
  EXPECT_EQ(SaveAllPartitionsDataIntoFile(model, port, true, false).Outcome, ExportOutcome::Cancelled);
  EXPECT_EQ(SavePartitionDataIntoFile(model, port, 0, true, false).Outcome, ExportOutcome::Cancelled);
  EXPECT_EQ(SaveAsImageFile(model, port).Outcome, ExportOutcome::Cancelled);
  EXPECT_EQ(port.Pos, 5);
  EXPECT_EQ(port.Max, 9);
  EXPECT_TRUE(port.Log.empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

using WholeImage = ImageTest;

TEST_F(WholeImage, ReproducesAWellFormedImageByteForByte) {
  Make({{"A", 2}, {"REST", kRest}}, ImageFill::Pattern);
  port.SaveAnswers.push_back(Path("copy.bin"));
  const ExportResult r = SaveAsImageFile(model, port);

  ASSERT_EQ(r.Outcome, ExportOutcome::Done);
  EXPECT_EQ(ReadAll(Path("copy.bin")), ReadAll(image));
  ASSERT_EQ(port.SaveRequests.size(), 1u);
  EXPECT_EQ(port.SaveRequests[0].Filter, "VESK BOX FullFlash Image Files |*.bin");
  EXPECT_EQ(port.SaveRequests[0].FilterIndex, 1);
  EXPECT_EQ(port.SaveRequests[0].DefaultExt, "*.bin");
  EXPECT_EQ(port.Log, (std::vector<std::string>{"", "Saving to File...OK"}));
  EXPECT_EQ(port.Status[0], "Complete OK");
  EXPECT_EQ(port.SleptMs, 100);
  EXPECT_EQ(port.Max, 16);
  EXPECT_GE(port.HighestPos, 16);
  EXPECT_EQ(port.Pos, 0);
}

TEST_F(WholeImage, DropsBytesOutsideTheMainAndSpareAreas) {
  Make({{"A", 2}, {"REST", kRest}}, ImageFill::Pattern);
  const auto original = ReadAll(image);
  // Three more 528-byte units (not a whole block) and a 77-byte remainder.
  std::vector<std::uint8_t> tail(3 * 528 + 77, 0xA5);
  { std::ofstream(image, std::ios::binary | std::ios::app).write(reinterpret_cast<const char*>(tail.data()), static_cast<std::streamsize>(tail.size())); }
  Load();
  ASSERT_EQ(model.TotalBlocks, 16u);
  port.SaveAnswers.push_back(Path("copy.bin"));
  ASSERT_EQ(SaveAsImageFile(model, port).Outcome, ExportOutcome::Done);
  EXPECT_EQ(ReadAll(Path("copy.bin")), original);
}

class ExportFailures : public ImageTest {
 protected:
  FdWatchingPort fdPort;
};

TEST_F(ExportFailures, PartitionPastTheImageEndsWithErrorFilesClosedEarlierFilesIntact) {
  // C starts at block 6 and claims 20 blocks of a 16-block image.
  Make({{"A", 2}, {"B", 4}, {"C", 20}, {"D", 1}}, ImageFill::Pattern);
  fdPort.SaveAnswers.push_back(Path("p"));
  fdPort.watched = {image, Path("p000000180000_C.bin")};
  const ExportResult r = SaveAllPartitionsDataIntoFile(model, fdPort, true, false);

  ASSERT_EQ(r.Outcome, ExportOutcome::Failed);
  EXPECT_EQ(r.FilesWritten.size(), 2u);
  ASSERT_EQ(fdPort.ErrorBoxes.size(), 1u);
  EXPECT_NE(fdPort.ErrorBoxes[0].find("read beyond end"), std::string::npos) << fdPort.ErrorBoxes[0];
  EXPECT_TRUE(fdPort.openAtErrorBox.empty());
  EXPECT_TRUE(HoldsPattern(ReadAll(Path("p000000000000_A.bin")), 0, 2 * kBS, 0));
  EXPECT_TRUE(HoldsPattern(ReadAll(Path("p000000080000_B.bin")), 0, 4 * kBS, 2 * kBS));
  // What was copied before the end stays; D is not saved; the gauge stays.
  const auto c = ReadAll(Path("p000000180000_C.bin"));
  EXPECT_EQ(c.size(), 10u * kBS);
  EXPECT_TRUE(HoldsPattern(c, 0, c.size(), 6 * kBS));
  EXPECT_FALSE(fs::exists(Path("p000006800000_D.bin")));
  EXPECT_EQ(fdPort.Pos, 2 + 4 + 11);
}

TEST_F(ExportFailures, OffsetsThatWrapAt4GiBAreNotTakenForDataInsideTheImage) {
  // W is 0x4000 blocks (4 GiB, a 32-bit length of 0); V starts at block 0x4010, whose
  // 32-bit offset wraps onto block 0x10. Neither may yield a file reported as saved.
  Make({{"A", 16}, {"W", 0x4000}, {"V", 1}}, ImageFill::Pattern);
  for (std::size_t row : {1u, 2u}) {
    for (bool spareOnly : {false, true}) {
      RecordingPort p;
      p.SaveAnswers.push_back(Path("w"));
      const ExportResult r = SavePartitionDataIntoFile(model, p, row, !spareOnly, spareOnly);
      EXPECT_EQ(r.Outcome, ExportOutcome::Failed) << row;
      ASSERT_EQ(p.ErrorBoxes.size(), 1u);
      EXPECT_NE(p.ErrorBoxes[0].find("read beyond end of image"), std::string::npos);
    }
  }
}

TEST_F(ExportFailures, SlashInANameIsRefusedAndNothingLeavesTheFolder) {
  Make({{"A", 2}, {"x/../../escaped", 1}, {"REST", kRest}}, ImageFill::Pattern);
  fs::create_directories(Path("out/p000000080000_x"));
  fdPort.SaveAnswers.push_back(Path("out/p"));
  const ExportResult r = SaveAllPartitionsDataIntoFile(model, fdPort, true, true);

  ASSERT_EQ(r.Outcome, ExportOutcome::Failed);
  EXPECT_EQ(r.FilesWritten, std::vector<std::string>{Path("out/p000000000000_A.bin")});
  ASSERT_EQ(fdPort.ErrorBoxes.size(), 1u);
  EXPECT_NE(fdPort.ErrorBoxes[0].find("contains \"/\""), std::string::npos) << fdPort.ErrorBoxes[0];
  EXPECT_FALSE(fs::exists(Path("escaped.bin")));
  EXPECT_FALSE(fs::exists(Path("out/escaped.bin")));
  EXPECT_FALSE(fs::exists(Path("out/p0000000C0000_REST.bin")));
}

// A stored size of 0 before the end gives the next row the same base. Two such rows with
// one name, or with names that lead to one file (here through a link), must not write one
// file twice: the second is refused, the first file stays and only it is reported.
TEST_F(ExportFailures, TwoRowsThatResolveToOneFileInOneRunAreRefused) {
  for (const char* second : {"X", "Y"}) {
    SCOPED_TRACE(second);
    Make({{"A", 2}, {"X", 0}, {second, 1}, {"B", 1}}, ImageFill::Pattern);
    const std::string prefix = Path(std::string("run") + second + "_");
    const std::string first = prefix + "000000080000_X.bin";
    if (std::string(second) == "Y") fs::create_symlink(first, prefix + "000000080000_Y.bin");
    RecordingPort p;
    p.SaveAnswers.push_back(prefix);
    const ExportResult r = SaveAllPartitionsDataIntoFile(model, p, true, false);

    EXPECT_EQ(r.Outcome, ExportOutcome::Failed);
    EXPECT_EQ(r.FilesWritten, (std::vector<std::string>{prefix + "000000000000_A.bin", first}));
    ASSERT_EQ(p.ErrorBoxes.size(), 1u);
    EXPECT_EQ(p.ErrorBoxes[0], "I/O error: cannot create \"" + prefix + "000000080000_" + second +
                                   ".bin\" for row 3 (\"" + second +
                                   "\"): it is the file this export wrote for row 2 (\"X\"), "
                                   "which is kept; row 3 and the rows after it are not saved");
    const auto kept = ReadAll(first);
    EXPECT_EQ(kept.size(), 14u * kBS) << "row 2 runs to the end of the image";
    EXPECT_TRUE(HoldsPattern(kept, 0, kept.size(), 2 * kBS));
    EXPECT_FALSE(fs::exists(prefix + "0000000C0000_B.bin"));
  }
}

TEST_F(ExportFailures, SavingOntoTheLoadedImageIsRefusedHoweverSpelled) {
  Make({{"A", 2}, {"REST", kRest}}, ImageFill::Pattern);
  const auto before = ReadAll(image);
  fs::create_directories(Path("sub"));
  fs::create_symlink(image, Path("link.bin"));
  for (const std::string& spelling : {Path("sub/../image.bin"), Path("link.bin")}) {
    RecordingPort p;
    p.SaveAnswers.push_back(spelling);
    EXPECT_EQ(SaveAsImageFile(model, p).Outcome, ExportOutcome::Failed);
    ASSERT_EQ(p.ErrorBoxes.size(), 1u);
    EXPECT_NE(p.ErrorBoxes[0].find("image file in use"), std::string::npos) << p.ErrorBoxes[0];
    EXPECT_EQ(p.Log, (std::vector<std::string>{"", "Saving to File..."}));
  }
  // A partition file whose name is the image's own name.
  Make({{"A", 2}, {"REST", kRest}}, ImageFill::Pattern, 4, "p000000000000_A.bin");
  const auto partBefore = ReadAll(image);
  RecordingPort p;
  p.SaveAnswers.push_back(Path("sub/../p"));
  EXPECT_EQ(SavePartitionDataIntoFile(model, p, 0, true, false).Outcome, ExportOutcome::Failed);
  ASSERT_EQ(p.ErrorBoxes.size(), 1u);
  EXPECT_NE(p.ErrorBoxes[0].find("image file in use"), std::string::npos);
  EXPECT_EQ(ReadAll(image), partBefore);
  EXPECT_EQ(ReadAll(Path("image.bin")), before);
}

TEST_F(ExportFailures, WriteFailureMidwayStopsWithBothFilesClosed) {
  Make({{"A", 2}, {"B", 4}, {"REST", kRest}}, ImageFill::Pattern);
  fdPort.SaveAnswers.push_back(Path("p"));
  fdPort.watched = {image, Path("p000000080000_B.bin")};
  // A: 2 main + 2 spare writes; B fails at its third main chunk.
  FileFaults::ArmWrite(7);
  const ExportResult r = SaveAllPartitionsDataIntoFile(model, fdPort, true, true);

  ASSERT_EQ(r.Outcome, ExportOutcome::Failed);
  ASSERT_EQ(fdPort.ErrorBoxes.size(), 1u);
  EXPECT_NE(fdPort.ErrorBoxes[0].find("I/O error while writing"), std::string::npos);
  EXPECT_NE(fdPort.ErrorBoxes[0].find("p000000080000_B.bin"), std::string::npos);
  EXPECT_TRUE(fdPort.openAtErrorBox.empty());
  EXPECT_EQ(ReadAll(Path("p000000000000_A.bin")).size(), 2u * kBS * 33 / 32);
  EXPECT_EQ(ReadAll(Path("p000000080000_B.bin")).size(), 2u * kBS);
  EXPECT_FALSE(fs::exists(Path("p000000180000_REST.bin")));
  EXPECT_EQ(fdPort.Pos, 2 + 3);
}

// An output folder that cannot take the files: every command ends with the error box
// naming the failure, before a byte is copied, and writes nothing anywhere.
TEST_F(ExportFailures, OutputFolderThatCannotTakeFilesEndsWithTheErrorBox) {
  Make({{"A", 2}, {"REST", kRest}}, ImageFill::Pattern);
  { std::ofstream(Path("plain")) << "a file, not a folder"; }
  const struct {
    const char* what;
    std::string folder;
    const char* reason;
  } kFolders[] = {{"missing folder", Path("gone"), "No such file or directory"},
                  {"file in the way", Path("plain"), "Not a directory"}};
  for (const auto& f : kFolders) {
    SCOPED_TRACE(f.what);
    const auto expectRefused = [&](const ExportResult& r, const RecordingPort& p,
                                   const std::string& output) {
      EXPECT_EQ(r.Outcome, ExportOutcome::Failed);
      EXPECT_TRUE(r.FilesWritten.empty());
      EXPECT_EQ(p.ErrorBoxes, std::vector<std::string>{"I/O error: cannot create \"" + output +
                                                       "\": " + f.reason});
      EXPECT_EQ(p.HighestPos, 0) << "nothing was copied";
    };
    RecordingPort one, all, whole;
    one.SaveAnswers.push_back(f.folder + "/p");
    all.SaveAnswers.push_back(f.folder + "/q");
    whole.SaveAnswers.push_back(f.folder + "/copy.bin");
    expectRefused(SavePartitionDataIntoFile(model, one, 0, true, true), one,
                  f.folder + "/p000000000000_A.bin");
    expectRefused(SaveAllPartitionsDataIntoFile(model, all, true, false), all,
                  f.folder + "/q000000000000_A.bin");
    expectRefused(SaveAsImageFile(model, whole), whole, f.folder + "/copy.bin");
    EXPECT_EQ(whole.Log, (std::vector<std::string>{"", "Saving to File..."}));
  }
  EXPECT_FALSE(fs::exists(Path("gone")));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

// A folder without write permission. The superuser writes anywhere, so under it the
// export runs in a child process that has given up its privileges.
TEST_F(ExportFailures, ReadOnlyOutputFolderEndsWithPermissionDenied) {
  Make({{"A", 2}, {"REST", kRest}}, ImageFill::Pattern);
  const std::string ro = Path("ro");
  fs::create_directory(ro);
  fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                          fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  // Only the child's own checks count there; its exit status carries them back.
  const auto check = [&]() -> bool {
    RecordingPort p;
    p.SaveAnswers.push_back(ro + "/p");
    const ExportResult r = SaveAllPartitionsDataIntoFile(model, p, true, true);
    return r.Outcome == ExportOutcome::Failed && r.FilesWritten.empty() &&
           p.ErrorBoxes == std::vector<std::string>{"I/O error: cannot create \"" + ro +
                                                    "/p000000000000_A.bin\": Permission denied"};
  };
  bool refused = false;
  if (::geteuid() != 0) {
    refused = check();
  } else {
    fs::permissions(dir, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      constexpr uid_t kNobody = 65534;
      const bool dropped = ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
      ::_exit(!dropped ? 2 : check() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 2) << "could not give up the superuser's privileges";
    refused = WEXITSTATUS(status) == 0;
  }
  EXPECT_TRUE(refused);
  EXPECT_TRUE(fs::is_empty(ro));
}

// A disk that fills up: the write fails with the system's own words for it.
TEST_F(ExportFailures, AFullDiskEndsTheImageSaveWithTheErrorBox) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  Make({{"A", 2}, {"REST", kRest}}, ImageFill::Pattern);
  const auto before = ReadAll(image);
  port.SaveAnswers.push_back("/dev/full");
  const ExportResult r = SaveAsImageFile(model, port);
  EXPECT_EQ(r.Outcome, ExportOutcome::Failed);
  EXPECT_EQ(port.ErrorBoxes,
            std::vector<std::string>{"I/O error while writing \"/dev/full\": No space left on device"});
  EXPECT_EQ(port.Log, (std::vector<std::string>{"", "Saving to File..."}));
  EXPECT_EQ(port.Status[0], "Saving to File...");
  EXPECT_EQ(port.Pos, 1) << "the gauge stays at the failed chunk";
  EXPECT_EQ(ReadAll(image), before);
}

}  // namespace
}  // namespace orvella::test
