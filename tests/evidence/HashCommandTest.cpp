// `orvella hash` against the system's own digest tools on the same bytes: the whole
// file, its main and spare areas, and every partition's files as `orvella export`
// writes them; then what it does with images it cannot take whole.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "digest/Digest.h"
#include "evidence/EvidenceFixture.h"
#include "support/Processes.h"

namespace orvella::test {
namespace {

struct Algorithm {
  const char* name;
  const char* tool;
};
constexpr Algorithm kAlgorithms[] = {{"md5", "md5sum"}, {"sha1", "sha1sum"}, {"sha256", "sha256sum"}};

// The digest the system tool prints for the bytes `source` (a shell command) writes.
std::string ToolDigest(const char* tool, const std::string& source) {
  const CommandRun r = RunCommand(source + " | " + tool);
  EXPECT_EQ(r.exitCode, 0) << source;
  return r.output.substr(0, r.output.find(' '));
}

// 8 MiB of patterned chip (32 blocks) with 100 bytes after the spare area, so that the
// file, the main area and the areas' sum all differ.
TEST(HashCommand, EveryDigestEqualsTheSystemToolsOnTheSameBytes) {
  TempDir dir;
  const std::string image = MakeImage(
      dir, "dump.bin", 8, {{"BOOT", 2}, {"PIT", 1}, {"EFS", 5}, {"EMPTY", 0}, {"DATA", kRest}},
      ImageFill::Pattern);
  { std::ofstream(image, std::ios::app | std::ios::binary) << std::string(100, 'x'); }
  constexpr std::uint64_t kMainEnd = 32 * kBS;

  const ToolResult r = RunTool(dir, {"hash", image, "--algo", "md5,sha1,sha256", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto j = JsonOf(r);
  EXPECT_EQ(j["image"], image);
  EXPECT_EQ(j["size"], kMainEnd * 33 / 32 + 100);

  std::vector<std::vector<std::string>> exported;
  for (const char* mode : {"main", "spare"}) {
    const ToolResult e = RunTool(dir, {"export", image, "--mode", mode, "--all", "--prefix",
                                       dir.File(std::string(mode) + "_")});
    ASSERT_EQ(e.exitCode, 0) << e.err;
    exported.push_back(Lines(e.out));
  }
  ASSERT_EQ(j["partitions"].size(), 5u);
  ASSERT_EQ(exported[0].size(), 5u);

  const std::string file = Q(image);
  for (const Algorithm& a : kAlgorithms) {
    SCOPED_TRACE(a.name);
    const auto& d = j["digests"];
    EXPECT_EQ(d["file"][a.name], ToolDigest(a.tool, "cat " + file));
    EXPECT_EQ(d["main"][a.name], ToolDigest(a.tool, "head -c " + std::to_string(kMainEnd) + " " + file));
    EXPECT_EQ(d["spare"][a.name], ToolDigest(a.tool, "tail -c +" + std::to_string(kMainEnd + 1) + " " +
                                                         file + " | head -c " + std::to_string(kMainEnd / 32)));
    for (std::size_t k = 0; k < 5; ++k) {
      const auto& p = j["partitions"][k];
      EXPECT_EQ(p["position"], k + 1);
      EXPECT_EQ(p["main"][a.name], ToolDigest(a.tool, "cat " + Q(exported[0][k]))) << p["name"];
      EXPECT_EQ(p["spare"][a.name], ToolDigest(a.tool, "cat " + Q(exported[1][k]))) << p["name"];
    }
  }
  EXPECT_EQ(j["partitions"][3]["name"], "EMPTY");

  // The text form carries the same digests, one line each, beside what they cover.
  const ToolResult text = RunTool(dir, {"hash", image, "--algo", "sha1"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  const auto lines = Lines(text.out);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      j["digests"]["spare"]["sha1"].get<std::string>() + "  sha1  spare area"),
            lines.end()) << text.out;
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      j["partitions"][2]["main"]["sha1"].get<std::string>() +
                          "  sha1  partition 3 \"EFS\" main data"),
            lines.end()) << text.out;
  EXPECT_EQ(lines.size(), 2u + 3u + 2u * 5u);
}

struct BadInput {
  const char* name;
  std::function<std::string(const TempDir&)> make;  // the image path to hash
  std::vector<std::string> extra;                    // more arguments
  int exitCode;
  const char* says;                                  // on standard error
  std::function<void(const nlohmann::json&, const std::string& image)> check;  // with --json
};

std::string Fixture(const TempDir& dir) {
  return MakeImage(dir, "dump.bin", 2, {{"BOOT", 1}, {"PIT", 1}, {"A", 3}, {"REST", kRest}},
                   ImageFill::Pattern);
}

std::vector<BadInput> BadInputs() {
  return {
      {"NoTableStillGivesTheAreaDigests",
       [](const TempDir& d) {
         const std::string image = Fixture(d);
         FlipBytes(image, {kBS});  // the table's magic
         return image;
       },
       {}, 0, "has no usable partition table",
       [](const nlohmann::json& j, const std::string& image) {
         EXPECT_EQ(j["digests"]["file"]["sha256"], ToolDigest("sha256sum", "cat " + Q(image)));
         EXPECT_TRUE(j["partitions"].empty());
         EXPECT_TRUE(Has(j["table_problem"].get<std::string>(), "Cannot find PIT")) << j;
       }},
      {"TruncatedImageHashesWhatItHoldsAndFails",
       [](const TempDir& d) {
         const std::string image = Fixture(d);
         std::filesystem::resize_file(image, 3 * (kBS + kBS / 32));  // three blocks' worth
         return image;
       },
       {}, 1, "read beyond end of image",
       [](const nlohmann::json& j, const std::string&) {
         ASSERT_EQ(j["partitions"].size(), 4u);
         EXPECT_TRUE(j["partitions"][1]["main"].is_object()) << "PIT, block 1, is held";
         EXPECT_TRUE(j["partitions"][2]["main"].is_null()) << "A ends at block 5 of 3";
         EXPECT_TRUE(j["partitions"][2]["spare"].is_null());
       }},
      {"EmptyFile", [](const TempDir& d) { std::ofstream(d.File("empty.bin")); return d.File("empty.bin"); },
       {}, 0, "has no usable partition table",
       [](const nlohmann::json& j, const std::string&) {
         EXPECT_EQ(j["digests"]["file"]["sha256"],
                   "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
         EXPECT_EQ(j["digests"]["file"], j["digests"]["main"]);
       }},
      {"FourGiB",
       [](const TempDir& d) {
         std::ofstream(d.File("huge.bin"));
         std::filesystem::resize_file(d.File("huge.bin"), 1ull << 32);  // sparse
         return d.File("huge.bin");
       },
       {}, 1, "4 GiB or larger (4294967296 bytes)", nullptr},
      {"Missing", [](const TempDir& d) { return d.File("none.bin"); }, {}, 1,
       "No such file or directory", nullptr},
      {"Folder", [](const TempDir& d) { return d.Path().string(); }, {}, 1, "it is a folder", nullptr},
      {"UnknownAlgorithm", Fixture, {"--algo", "sha256,md4"}, 2, "unknown digest \"md4\"", nullptr},
      {"AlgorithmTwice", Fixture, {"--algo", "sha1,sha1"}, 2, "digest \"sha1\" given twice", nullptr},
      {"EmptyAlgorithmList", Fixture, {"--algo", ""}, 2, "unknown digest \"\"", nullptr},
  };
}

class HashBadInput : public ::testing::TestWithParam<BadInput> {};

TEST_P(HashBadInput, IsReportedWithItsStatus) {
  const BadInput& c = GetParam();
  TempDir dir;
  const std::string image = c.make(dir);
  std::vector<std::string> args{"hash", image, "--json"};
  args.insert(args.end(), c.extra.begin(), c.extra.end());
  const ToolResult r = RunTool(dir, args);
  EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
  EXPECT_TRUE(Has(r.err, c.says)) << r.err;
  if (c.check) c.check(JsonOf(r), image);
  else EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, HashBadInput, ::testing::ValuesIn(BadInputs()),
                         [](const auto& c) { return std::string(c.param.name); });

}  // namespace
}  // namespace orvella::test

namespace orvella::test {
namespace {

// On a terminal each command shows how far it got on standard error, ending at 100%;
// into a file it shows nothing of the kind. `script` gives the command a terminal.
TEST(EvidenceProgress, GoesToStandardErrorOnATerminalOnly) {
  TempDir dir;
  const std::string image = Fixture(dir);
  const std::string report = dir.File("r.html");
  struct Case {
    std::vector<std::string> Args;
    std::string Shown;  // what stands before the percentage
  };
  const std::vector<Case> commands{{{"hash", image}, "hash "},
                                   {{"diff", image, image}, "diff "},
                                   {{"report", image, "-o", report, "--force"}, "report "},
                                   {{"check", image}, "Checking " + image + ": "}};
  if (RunCommand("command -v script >/dev/null").exitCode != 0) GTEST_SKIP() << "no script(1)";
  for (const auto& [args, shown] : commands) {
    SCOPED_TRACE(args[0]);
    std::string line = Q(ORVELLA_TOOL);
    for (const auto& a : args) line += " " + Q(a);
    const CommandRun onTerminal = RunCommand("script -qec \"" + line + " >/dev/null\" /dev/null");
    EXPECT_EQ(onTerminal.exitCode, 0) << onTerminal.output;
    EXPECT_TRUE(Has(onTerminal.output, "\r" + shown + "  0%")) << onTerminal.output;
    EXPECT_TRUE(Has(onTerminal.output, "\r" + shown + "100%")) << onTerminal.output;
    const ToolResult intoFile = RunTool(dir, args);
    EXPECT_EQ(intoFile.exitCode, 0);
    EXPECT_FALSE(Has(intoFile.err, "%")) << intoFile.err;
  }
}

}  // namespace
}  // namespace orvella::test
