// The command line every command shares: help on standard output for each command the
// tool lists, one line naming a mistake with the command's own exit status, values
// given as --opt=value, and --row by position or by name.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "RunTool.h"

namespace orvella {
namespace {

using test::RunTool;

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(test::MakeImage(
        image, {{"BOOT", 2}, {"EFS", 3}, {"CSC", 1}, {"csc", 1}, {"DATA", 0xFFFFFFFFu}}, 4, ImageFill::Pattern));
  }
  test::TempDir dir;
  std::string image = dir.File("dump.bin");
};

// The commands `orvella --help` lists, so that a new command is tested here as well.
std::vector<std::string> ListedCommands(const std::string& overview) {
  std::vector<std::string> names;
  bool inList = false;
  for (const std::string& line : test::Lines(overview)) {
    if (line == "Commands:") inList = true;
    else if (inList && line.empty()) break;
    else if (inList) names.push_back(line.substr(2, line.find(' ', 2) - 2));
  }
  return names;
}

TEST_F(CommandLine, EveryCommandHasItsHelpOnStandardOutput) {
  const auto overview = RunTool(dir, {"--help"});
  ASSERT_EQ(overview.exitCode, 0);
  EXPECT_EQ(overview.err, "");
  for (const char* part : {"Exit status:", "--force", "OUT.part", "0x0084..0x04FD", "99 at 0x0000C600"})
    EXPECT_NE(overview.out.find(part), std::string::npos) << part;
  EXPECT_EQ(RunTool(dir, {"help"}).out, overview.out);

  const std::vector<std::string> commands = ListedCommands(overview.out);
  EXPECT_GE(commands.size(), 9u) << overview.out;
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    const auto help = RunTool(dir, {command, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_NE(help.out.find("Usage: orvella " + command + " "), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("Exit status: "), std::string::npos);
    EXPECT_EQ(RunTool(dir, {"help", command}).out, help.out);
    // Help wins over what else was given, right or wrong.
    EXPECT_EQ(RunTool(dir, {command, image, "--bogus", "-h"}).out, help.out);
  }
}

// Each mistake is named in one line on standard error, with the command's own status
// for wrong usage (check's follows fsck, diff's cmp), and nothing on standard output.
TEST_F(CommandLine, WrongUsageIsOneLineWithTheCommandsStatus) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string line;
  } cases[] = {
      {{"check", image, "--bogus"}, 16, "orvella: check: unknown option \"--bogus\"; see \"orvella check --help\""},
      {{"check", image, "--lay=auto"}, 16,
       "orvella: check: unknown option \"--lay\" (did you mean \"--layout\"?); see \"orvella check --help\""},
      {{"check", image, "--layout"}, 16, "orvella: check: --layout needs a value; see \"orvella check --help\""},
      {{"check", image, "--repair="}, 16, "orvella: check: --repair needs a value; see \"orvella check --help\""},
      {{"check", image, "--repair", ""}, 16,
       "orvella: check: --repair: needs a file name; see \"orvella check --help\""},
      {{"diff", image}, 2, "orvella: diff: B is required; see \"orvella diff --help\""},
      {{"diff", image, image, "--fast"}, 2, "orvella: diff: unknown option \"--fast\"; see \"orvella diff --help\""},
      {{"hash", image, "--algo=md4"}, 2, "orvella: hash: --algo: unknown digest \"md4\""},
      {{"export", image, "--mode=both", "--all", "--prefix", "x"}, 2,
       "orvella: export: --mode takes main, spare or full, not \"both\"; see \"orvella export --help\""},
      {{"export", image, "--mode", "main", "--all", "--row", "1", "--prefix", "x"}, 2,
       "orvella: export: give either --row N|NAME or --all; see \"orvella export --help\""},
      {{"save-image", image}, 2, "orvella: save-image: OUT is required; see \"orvella save-image --help\""},
      {{"report", image}, 2, "orvella: report: --output is required; see \"orvella report --help\""},
      {{"extract", image, "/a"}, 2, "orvella: extract: --output is required; see \"orvella extract --help\""},
      {{"files", "--row", "EFS"}, 2, "orvella: files: SOURCE is required; see \"orvella files --help\""},
      {{"chek", image}, 2, "orvella: unknown command \"chek\" (did you mean \"check\"?); see \"orvella --help\""},
      {{"--json", "list", image}, 2, "orvella: unknown option \"--json\" before the command; see \"orvella --help\""},
      {{}, 2, "orvella: no command given; see \"orvella --help\""},
  };
  for (const auto& c : cases) {
    const auto r = RunTool(dir, c.args);
    EXPECT_EQ(r.exitCode, c.status) << c.line;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind(c.line, 0), 0u) << r.err;
    EXPECT_EQ(test::Lines(r.err).size(), 1u) << r.err;
  }
}

// --opt=value reads as --opt value; --row takes a position or a name, exactly or in any
// case, and refuses a name that two rows share or that no row has.
TEST_F(CommandLine, ValuesAfterEqualsSignsAndRowsByName) {
  const auto spaced = RunTool(dir, {"hash", image, "--algo", "md5"});
  const auto joined = RunTool(dir, {"hash", "--algo=md5", image});
  ASSERT_EQ(joined.exitCode, 0) << joined.err;
  EXPECT_EQ(joined.out, spaced.out);
  EXPECT_NE(joined.out.find("  md5  file\n"), std::string::npos) << joined.out;

  const std::string efs = "000000080000_EFS.bin";
  const struct {
    const char* row;
    const char* prefix;
  } rows[] = {{"2", "by-position-"}, {"EFS", "by-name-"}, {"efs", "any-case-"}};
  for (const auto& r : rows) {
    const auto e = RunTool(dir, {"export", image, "--mode=full", "--row=" + std::string(r.row),
                                 "--prefix=" + dir.File(r.prefix)});
    ASSERT_EQ(e.exitCode, 0) << r.row << ": " << e.err;
    EXPECT_EQ(e.out, dir.File(r.prefix) + efs + "\n");
  }
  EXPECT_EQ(test::ReadWholeFile(dir.File("by-name-") + efs), test::ReadWholeFile(dir.File("by-position-") + efs));
  EXPECT_EQ(test::ReadWholeFile(dir.File("any-case-") + efs), test::ReadWholeFile(dir.File("by-position-") + efs));

  // "CSC" and "csc" are rows 3 and 4: each is found exactly, "Csc" is refused.
  EXPECT_EQ(RunTool(dir, {"export", image, "--mode", "main", "--row", "csc", "--prefix", dir.File("c-")}).out,
            dir.File("c-") + "000000180000_csc.bin\n");
  const struct {
    const char* row;
    const char* says;
  } refused[] = {
      {"Csc", "orvella: export: rows 3 and 4 are all named \"Csc\"; give the row's position instead\n"},
      {"EFZ",
       "orvella: export: no partition is named \"EFZ\" (did you mean \"EFS\"?); `orvella list` shows the table\n"},
      {"6", "orvella: export: the image has 5 partitions; there is no row 6\n"},
      {"0", "orvella: export: the image has 5 partitions; there is no row 0\n"},
  };
  for (const auto& r : refused) {
    const auto e = RunTool(dir, {"export", image, "--mode", "main", "--row", r.row, "--prefix", dir.File("r-")});
    EXPECT_EQ(e.exitCode, 1) << r.row;
    EXPECT_EQ(e.err, r.says);
    EXPECT_EQ(e.out, "");
  }
}

}  // namespace
}  // namespace orvella
