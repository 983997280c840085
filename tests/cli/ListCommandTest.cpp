// `orvella list`: the load's log on standard output, error boxes on standard error,
// one line or one JSON object per partition, and the exit status.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "RunTool.h"
#include "image/ImageBuilder.h"

namespace orvella {
namespace {

using test::RunTool;

constexpr const char* kLoadLog =
    "Detected NAND Page = 0x1000 bytes\n"
    "Detected NAND Block = 0x00040000 bytes\n"
    "\n"
    "Partition Table is found in block: 0x0001\n";

class ListCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // 16 blocks: BOOT 0-1, CSC 2-7, EFS 8, DATA 9-15 (stored as "to the end").
    ASSERT_NO_FATAL_FAILURE(
        test::MakeImage(image, {{"BOOT", 2}, {"CSC", 6}, {"EFS", 1}, {"DATA", 0xFFFFFFFFu}}));
  }

  test::TempDir dir;
  std::string image = dir.File("phone.bin");
};

TEST_F(ListCommandTest, PrintsTheLogThenOneTabSeparatedLinePerPartition) {
  const auto r = RunTool(dir, {"list", image});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, std::string(kLoadLog) +
                       "Total quantity of listed partitions: 0x0004\n"
                       "1\tBOOT\t0x000000000000..0x00000007FFFF (0x0000..0x0001)\t0x000000080000 (0x0002)\n"
                       "2\tCSC\t0x000000080000..0x0000001FFFFF (0x0002..0x0007)\t0x000000180000 (0x0006)\n"
                       "3\tEFS\t0x000000200000..0x00000023FFFF (0x0008..0x0008)\t0x000000040000 (0x0001)\n"
                       "4\tDATA\t0x000000240000..0x0000003FFFFF (0x0009..0x000F)\t0x0000001C0000 (0x0007)\n");
}

TEST_F(ListCommandTest, JsonGivesOneObjectPerPartitionAndKeepsTheLogOffStandardOutput) {
  const auto r = RunTool(dir, {"list", "--json", image});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, std::string(kLoadLog) + "Total quantity of listed partitions: 0x0004\n");
  const auto rows = nlohmann::json::parse(r.out);
  ASSERT_TRUE(rows.is_array());
  ASSERT_EQ(rows.size(), 4u);

  const auto& csc = rows[1];
  EXPECT_EQ(csc.size(), 8u);
  EXPECT_EQ(csc.at("position"), 2);
  EXPECT_EQ(csc.at("name"), "CSC");
  EXPECT_EQ(csc.at("base_block"), 2);
  EXPECT_EQ(csc.at("blocks"), 6);
  EXPECT_EQ(csc.at("stored_size"), 6);
  EXPECT_EQ(csc.at("first_byte"), 0x80000);
  EXPECT_EQ(csc.at("last_byte"), 0x1FFFFF);
  EXPECT_EQ(csc.at("size_bytes"), 0x180000);

  const auto& data = rows[3];
  EXPECT_EQ(data.at("position"), 4);
  EXPECT_EQ(data.at("stored_size"), 0xFFFFFFFFu);
  EXPECT_EQ(data.at("base_block"), 9);
  EXPECT_EQ(data.at("blocks"), 7);
  EXPECT_EQ(data.at("last_byte"), 0x3FFFFF);
  EXPECT_EQ(data.at("size_bytes"), 0x1C0000);
}

TEST_F(ListCommandTest, JsonEscapesNamesAndKeepsNonAsciiBytesReadable) {
  const std::string odd = dir.File("odd.bin");
  ASSERT_NO_FATAL_FAILURE(test::MakeImage(odd, {{"A\"B\\C", 0}, {"caf\xE9", 1}, {"", 0}}));
  const auto r = RunTool(dir, {"list", odd, "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto rows = nlohmann::json::parse(r.out);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].at("name"), "A\"B\\C");
  EXPECT_EQ(rows[0].at("stored_size"), 0);
  EXPECT_EQ(rows[0].at("blocks"), 16);
  EXPECT_EQ(rows[1].at("name"), "caf\xC3\xA9");
  EXPECT_EQ(rows[2].at("name"), "");
}

TEST_F(ListCommandTest, MissingFileLogsOnStandardOutputAndFails) {
  for (const auto& args : {std::vector<std::string>{"list", dir.File("absent.bin")},
                           std::vector<std::string>{"list", "--", ""}}) {
    const auto r = RunTool(dir, args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "ERROR: Specified file does not exist!!!\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(ListCommandTest, ErrorBoxTextGoesToStandardError) {
  ASSERT_NO_FATAL_FAILURE(test::WriteLE32At(image, 0x40000, 0));
  const auto r = RunTool(dir, {"list", image});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ERROR: Cannot find PIT Partition Table.\n");

  const auto json = RunTool(dir, {"list", "--json", image});
  EXPECT_EQ(json.exitCode, 1);
  EXPECT_EQ(json.out, "");
}

TEST_F(ListCommandTest, TruncatedTableFailsWithTheReadErrorAfterTheDetectionLines) {
  ASSERT_NO_FATAL_FAILURE(test::ResizeFile(image, 0x40030 + 132 * 2));
  const auto r = RunTool(dir, {"list", image});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, kLoadLog);
  EXPECT_NE(r.err.find("read beyond end of file"), std::string::npos) << r.err;
}

TEST_F(ListCommandTest, EmptyTableFailsWithTheAllocationErrorLine) {
  const std::string empty = dir.File("empty.bin");
  ASSERT_NO_FATAL_FAILURE(test::MakeImage(empty, {}));
  const auto r = RunTool(dir, {"list", empty});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, std::string(kLoadLog) +
                       "ERROR: Access Violation when setting Length for Dinamic Array.\n");
  EXPECT_EQ(r.err, "");
}

// Each mistake is named in one line that points to the help of the command, or of the
// tool when the command itself is mistyped.
TEST_F(ListCommandTest, WrongUsageExitsWithTwoAndNamesTheMistakeInOneLine) {
  const struct {
    std::vector<std::string> args;
    const char* line;
  } cases[] = {
      {{"list"}, "orvella: list: IMAGE is required; see \"orvella list --help\"\n"},
      {{"list", image, image}, "orvella: list: unexpected argument \""},
      {{"list", "--csv", image}, "orvella: list: unknown option \"--csv\"; see \"orvella list --help\"\n"},
      {{"list", "--json"}, "orvella: list: IMAGE is required; see \"orvella list --help\"\n"},
      {{"lsit", image}, "orvella: unknown command \"lsit\" (did you mean \"list\"?); see \"orvella --help\"\n"},
  };
  for (const auto& c : cases) {
    const auto r = RunTool(dir, c.args);
    EXPECT_EQ(r.exitCode, 2) << c.args.back();
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind(c.line, 0), 0u) << r.err;
    EXPECT_EQ(test::Lines(r.err).size(), 1u) << r.err;
  }
}

}  // namespace
}  // namespace orvella
