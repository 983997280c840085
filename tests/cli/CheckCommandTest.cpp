// `orvella check`: the JSON a script reads, the text report, exit statuses, and the
// repair round trip, run as a user runs the tool.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "RunTool.h"

namespace orvella {
namespace {

using test::RunTool;

constexpr std::uint64_t kMain = 4u << 20;  // 4 MiB chip: 16 blocks, 8192 sectors

class CheckCommand : public ::testing::Test {
 protected:
  std::string Make(const std::string& name, std::vector<std::string> extra,
                   const std::string& table = "BOOT:2,DATA:rest") {
    const std::string path = dir.File(name);
    std::vector<std::string> args{"mkimage", path, "--chip-mib", "4", "--table", table, "--fill", "noise"};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto r = RunTool(dir, args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return path;
  }
  void Flip(const std::string& path, std::uint64_t offset, unsigned bit) {
    std::vector<std::uint8_t> b = test::ReadBytesAt(path, offset, 1);
    ASSERT_EQ(b.size(), 1u);
    b[0] = static_cast<std::uint8_t>(b[0] ^ (1u << bit));
    test::WriteBytesAt(path, offset, b);
  }
  nlohmann::json Json(const test::ToolResult& r) {
    EXPECT_TRUE(nlohmann::json::accept(r.out)) << r.out;
    return nlohmann::json::parse(r.out, nullptr, false);
  }
  test::TempDir dir;
};

std::set<std::string> Keys(const nlohmann::json& object) {
  std::set<std::string> keys;
  for (auto it = object.begin(); it != object.end(); ++it) keys.insert(it.key());
  return keys;
}

// Faults found, listed completely in JSON, exit 4 while an uncorrectable sector is left;
// the repaired copy checks with only that sector left, and the image is unchanged.
TEST_F(CheckCommand, JsonFindingsExitStatusAndRepairRoundTrip) {
  const std::string image = Make("dump.bin", {"--ecc", "onenand-h512-normal", "--bad-blocks", "7"});
  Flip(image, 1234 * 512 + 64, 5);          // one data bit: bit 517
  Flip(image, kMain + 4321 * 16 + 10, 0);   // one code bit
  Flip(image, 99 * 512 + 1, 0);             // two data bits
  Flip(image, 99 * 512 + 2, 0);
  const std::string before = test::ReadWholeFile(image);

  const std::string out = dir.File("fixed.bin");
  auto r = RunTool(dir, {"check", image, "--json", "--repair", out});
  ASSERT_EQ(r.exitCode, 4) << r.err;
  EXPECT_EQ(r.err, "");  // no progress where standard error is no terminal
  const nlohmann::json j = Json(r);
  EXPECT_EQ(Keys(j), (std::set<std::string>{"image", "layout", "sectors", "bad_blocks", "corrections",
                                            "code_errors", "uncorrectable", "partitions", "outside",
                                            "not_whole", "bad_block_layer", "repaired_to"}));
  EXPECT_EQ(j["bad_block_layer"], nullptr) << "a dump without the phone's bad-block layer";
  EXPECT_EQ(j["image"], image);
  EXPECT_EQ(j["layout"]["name"], "onenand-h512-normal");
  EXPECT_EQ(j["layout"]["chosen"], "auto");
  EXPECT_GT(j["layout"]["clean_share"].get<double>(), 0.99);
  EXPECT_EQ(Keys(j["sectors"]), (std::set<std::string>{"total", "erased", "clean", "corrected", "code_errors",
                                                       "uncorrectable", "not_checked"}));
  EXPECT_EQ(j["sectors"]["total"], 8192);
  EXPECT_EQ(j["sectors"]["corrected"], 1);
  EXPECT_EQ(j["sectors"]["code_errors"], 1);
  EXPECT_EQ(j["sectors"]["uncorrectable"], 1);
  EXPECT_EQ(j["bad_blocks"], nlohmann::json::parse("[7]"));
  // Every sector also by its main-data offset (sector * 512).
  EXPECT_EQ(j["corrections"], nlohmann::json::parse(R"([{"sector": 1234, "bit": 517, "offset": 631808}])"));
  EXPECT_EQ(j["code_errors"], nlohmann::json::parse(R"([{"sector": 4321, "offset": 2212352}])"));
  EXPECT_EQ(j["uncorrectable"], nlohmann::json::parse(R"([{"sector": 99, "offset": 50688}])"));
  EXPECT_TRUE(j["not_whole"].is_null());
  ASSERT_EQ(j["partitions"].size(), 2u);
  const nlohmann::json& data = j["partitions"][1];
  EXPECT_EQ(Keys(data), (std::set<std::string>{"position", "name", "first_block", "blocks", "bad_blocks",
                                               "sectors", "written", "erased", "clean", "corrected",
                                               "code_errors", "uncorrectable", "not_checked"}));
  EXPECT_EQ(data["position"], 2);
  EXPECT_EQ(data["first_block"], 2);
  EXPECT_EQ(data["blocks"], 14);
  EXPECT_EQ(data["not_checked"], 512) << "the bad block's sectors";
  EXPECT_EQ(data["name"], "DATA");
  EXPECT_EQ(data["bad_blocks"], nlohmann::json::parse("[7]"));
  EXPECT_EQ(data["written"], 14 * 512);
  EXPECT_EQ(data["corrected"], 1);
  EXPECT_EQ(j["partitions"][0]["uncorrectable"], 1);
  EXPECT_EQ(j["repaired_to"], out);
  EXPECT_TRUE(test::ReadWholeFile(image) == before);

  r = RunTool(dir, {"check", out, "--json"});
  EXPECT_EQ(r.exitCode, 4) << r.err;
  const nlohmann::json again = Json(r);
  EXPECT_EQ(again["corrections"].size(), 0u);
  EXPECT_EQ(again["code_errors"].size(), 0u);
  EXPECT_EQ(again["uncorrectable"], nlohmann::json::parse(R"([{"sector": 99, "offset": 50688}])"));

  // The text report names the layout, each partition, the bad block and the sector.
  r = RunTool(dir, {"check", image, "--layout", "onenand-h512-normal"});
  EXPECT_EQ(r.exitCode, 4);
  const auto lines = test::Lines(r.out);
  ASSERT_GE(lines.size(), 6u) << r.out;
  EXPECT_EQ(lines[1].rfind("Layout: onenand-h512-normal (named with --layout", 0), 0u) << lines[1];
  EXPECT_NE(r.out.find("Partition 2 DATA (blocks 0x0002..0x000F): 1 bad blocks, 7168 written"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Bad blocks: 1: 0x0007\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Uncorrectable sectors: 1: 99 at 0x0000C600\n"), std::string::npos) << r.out;
}

// 0 sound, 8 unreadable or partly read, 16 wrong usage; the layout name is null when none
// matches.
TEST_F(CheckCommand, ExitStatuses) {
  const std::string sound = Make("sound.bin", {"--ecc", "smallpage-smc", "--erased-percent", "20"});
  const std::string plain = Make("plain.bin", {});
  const std::string cut = Make("cut.bin", {"--ecc", "smallpage-smc"});
  test::ResizeFile(cut, kMain + kMain / 32 - 100);

  auto r = RunTool(dir, {"check", sound});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Layout: smallpage-smc (found in the image; 100.00%"), std::string::npos) << r.out;

  r = RunTool(dir, {"check", plain, "--json"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Json(r)["layout"]["name"].is_null());

  r = RunTool(dir, {"check", plain, "--repair", dir.File("copy.bin")});
  EXPECT_EQ(r.exitCode, 8);
  EXPECT_NE(r.err.find("nothing could be repaired"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("copy.bin")));

  r = RunTool(dir, {"check", cut, "--json"});
  EXPECT_EQ(r.exitCode, 8);
  const nlohmann::json j = Json(r);
  EXPECT_EQ(j["complete"], false);
  EXPECT_NE(j["not_read"].get<std::string>().find("block 0x000F"), std::string::npos) << j;
  EXPECT_NE(j["not_whole"].get<std::string>().find("its spare area is cut off"), std::string::npos) << j;
  EXPECT_EQ(j["sectors"]["total"], 15 * 512);

  r = RunTool(dir, {"check", sound, "--repair", sound});
  EXPECT_EQ(r.exitCode, 8);
  EXPECT_NE(r.err.find("a file this command reads"), std::string::npos) << r.err;
  EXPECT_EQ(RunTool(dir, {"check", dir.File("none.bin")}).exitCode, 8);

  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"check"}, {"check", sound, "--layout"}, {"check", sound, "--layout", "nand"},
           {"check", sound, "--bogus"}, {"check", sound, plain}, {"check", sound, "--repair", ""}}) {
    r = RunTool(dir, args);
    EXPECT_EQ(r.exitCode, 16) << args.size();
    EXPECT_NE(r.err.find("; see \"orvella check --help\"\n"), std::string::npos) << r.err;
  }
}

// The JSON's counts add up: the kinds to the total, the partitions and what lies outside
// them to every kind, their blocks to the chip's, their bad blocks to the list.
TEST_F(CheckCommand, JsonTotalsAddUpOverPartitionsAndWhatLiesOutside) {
  // 16 blocks: BOOT 0-1, DATA 2-11, blocks 12-15 outside; bad blocks inside and outside.
  const std::string image =
      Make("parts.bin", {"--ecc", "onenand-h512-normal", "--erased-percent", "10", "--bad-blocks", "3,13"},
           "BOOT:2,DATA:10");
  Flip(image, 20 * 512 + 7, 2);         // corrected, in BOOT
  Flip(image, 7178 * 512 + 3, 1);       // uncorrectable, outside (block 14)
  Flip(image, 7178 * 512 + 4, 1);
  Flip(image, kMain + 3000 * 16 + 9, 4);  // a code error, in DATA
  const auto r = RunTool(dir, {"check", image, "--json"});
  ASSERT_EQ(r.exitCode, 4) << r.err;
  const nlohmann::json j = Json(r);
  const char* kinds[] = {"erased", "clean", "corrected", "code_errors", "uncorrectable", "not_checked"};
  std::uint64_t sum = 0;
  for (const char* kind : kinds) sum += j["sectors"][kind].get<std::uint64_t>();
  EXPECT_EQ(sum, j["sectors"]["total"].get<std::uint64_t>());

  const nlohmann::json& outside = j["outside"];
  EXPECT_EQ(outside["blocks"], 4);
  EXPECT_EQ(outside["bad_blocks"], nlohmann::json::parse("[13]"));
  EXPECT_EQ(outside["uncorrectable"], 1);
  std::uint64_t blocks = outside["blocks"];
  std::vector<std::uint64_t> bad = outside["bad_blocks"];
  nlohmann::json whole = j["sectors"];
  whole["sectors"] = whole["total"];
  whole["written"] = whole["total"].get<std::uint64_t>() - whole["erased"].get<std::uint64_t>();
  for (const char* kind : {"sectors", "written", "erased", "clean", "corrected", "code_errors",
                           "uncorrectable", "not_checked"}) {
    std::uint64_t parts = outside[kind];
    for (const auto& p : j["partitions"]) parts += p[kind].get<std::uint64_t>();
    EXPECT_EQ(parts, whole[kind].get<std::uint64_t>()) << kind;
  }
  for (const auto& p : j["partitions"]) {
    EXPECT_EQ(p["sectors"], p["blocks"].get<std::uint64_t>() * 512) << p["name"];
    blocks += p["blocks"].get<std::uint64_t>();
    for (const auto& b : p["bad_blocks"]) bad.push_back(b);
  }
  EXPECT_EQ(blocks, 16u);
  std::sort(bad.begin(), bad.end());
  EXPECT_EQ(nlohmann::json(bad), j["bad_blocks"]);
  EXPECT_EQ(j["partitions"][0]["corrected"], 1);
  EXPECT_EQ(j["partitions"][1]["code_errors"], 1);
}

}  // namespace
}  // namespace orvella
