#include <gtest/gtest.h>

#include <sys/wait.h>

#include "Fixture.h"

namespace orvella::test {
namespace {

struct CliRun {
  int status = -1;
  std::string out, err;
};

class CliCommands : public ImageTest {
 protected:
  CliRun Run(const std::string& args) {
    const std::string cmd = std::string("'") + ORVELLA_CLI + "' " + args + " >'" + Path("stdout") +
                            "' 2>'" + Path("stderr") + "'";
    CliRun r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const auto out = ReadAll(Path("stdout")), err = ReadAll(Path("stderr"));
    r.out.assign(out.begin(), out.end());
    r.err.assign(err.begin(), err.end());
    return r;
  }
  static std::string Q(const std::string& s) { return "'" + s + "'"; }
};

TEST_F(CliCommands, ExportWritesTheFilesOfARowOrOfAllRowsAndListsThem) {
  Make({{"BOOT", 2}, {"PIT", 1}, {"DATA", 5}, {"REST", kRest}}, ImageFill::Pattern);
  CliRun r = Run("export " + Q(image) + " --mode full --row 3 --prefix " + Q(Path("p")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Path("p0000000C0000_DATA.bin") + "\n");
  const auto data = ReadAll(Path("p0000000C0000_DATA.bin"));
  ASSERT_EQ(data.size(), 5u * kBS * 33 / 32);
  EXPECT_TRUE(HoldsPattern(data, 0, 5 * kBS, 3 * kBS));
  EXPECT_TRUE(HoldsPattern(data, 5 * kBS, 5 * kBS / 32, 16ull * kBS + 3 * kBS / 32));

  r = Run("export " + Q(image) + " --all --mode spare --prefix " + Q(Path("q")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Path("q000000000000_BOOT.bin") + "\n" + Path("q000000080000_PIT.bin") + "\n" +
                       Path("q0000000C0000_DATA.bin") + "\n" + Path("q000000200000_REST.bin") + "\n");
  EXPECT_EQ(ReadAll(Path("q000000200000_REST.bin")).size(), 8u * kBS / 32);
}

TEST_F(CliCommands, ExportAndSaveImageFailuresGoToStandardErrorWithStatus1) {
  Make({{"A/B", 2}, {"REST", kRest}}, ImageFill::Pattern);
  const auto before = ReadAll(image);
  CliRun r = Run("export " + Q(image) + " --mode main --row 9 --prefix " + Q(Path("p")));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no row 9"), std::string::npos) << r.err;
  r = Run("export " + Q(image) + " --mode main --row 1 --prefix " + Q(Path("p")));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("contains \"/\""), std::string::npos) << r.err;
  r = Run("save-image " + Q(image) + " " + Q(dir + "/./image.bin"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("a file this command reads"), std::string::npos) << r.err;
  EXPECT_EQ(ReadAll(image), before);
  EXPECT_EQ(Run("export " + Q(image) + " --mode main --row 1").status, 2);
  EXPECT_EQ(Run("export " + Q(image) + " --mode both --all --prefix x").status, 2);
  EXPECT_EQ(Run("export " + Q(Path("none.bin")) + " --mode main --all --prefix x").status, 1);
}

TEST_F(CliCommands, ExportAllNeverListsAFileThatALaterRowWouldReplace) {
  Make({{"A", 2}, {"X", 0}, {"X", 1}, {"B", 1}}, ImageFill::Pattern);
  const CliRun r = Run("export " + Q(image) + " --all --mode full --prefix " + Q(Path("p")));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, Path("p000000000000_A.bin") + "\n" + Path("p000000080000_X.bin") + "\n");
  EXPECT_NE(r.err.find("orvella: I/O error: cannot create \"" + Path("p000000080000_X.bin") +
                       "\" for row 3 (\"X\"): it is the file this export wrote for row 2"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadAll(Path("p000000080000_X.bin")).size(), 14u * kBS * 33 / 32);
}

TEST_F(CliCommands, SaveImageCopiesTheImage) {
  Make({{"A", 2}, {"REST", kRest}}, ImageFill::Pattern);
  const CliRun r = Run("save-image " + Q(image) + " " + Q(Path("copy.bin")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Path("copy.bin") + "\n");
  EXPECT_EQ(ReadAll(Path("copy.bin")), ReadAll(image));
}

TEST_F(CliCommands, BlankPrintsTheLoadLinesThenTheCheckAsItStandsAtItsEnd) {
  Make({{"BOOT", 1}, {"PIT", 1}, {"REST", kRest}}, ImageFill::Erased);
  CliRun r = Run("blank " + Q(image));
  ASSERT_EQ(r.status, 0) << r.err;
  std::string expected;
  for (const auto& line : loadLog) expected += line + "\n";
  expected +=
      "\nChecking which Partition is blank...COMPLETE!\n"
      "Following partitions are found to be completely blank:\n"
      "  Partition: BOOT at 0000000000000000000000000003FFFF00000000000000000000000000000000\n"
      "  Partition: REST at 000000000008000000000000003FFFFF0000000000000002000000000000000F\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");

  r = Run("blank " + Q(Path("none.bin")));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "ERROR: Specified file does not exist!!!\n");
  EXPECT_NE(r.err, "");
}

}  // namespace
}  // namespace orvella::test
