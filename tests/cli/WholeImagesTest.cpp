// Dumps whose size is not that of a whole image: what the size says about them, and
// every command that reads an image saying so on standard error and in its JSON, with
// export refusing to copy spare data that are not all in the file.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "RunTool.h"
#include "image/DumpShape.h"
#include "image/FullImage.h"

namespace orvella {
namespace {

using test::RunTool;

constexpr std::uint64_t kB = kBlockSize;
constexpr std::uint64_t kF = kBlockSize + kBlockSize / kSpareDivisor;  // a block with its spare data

TEST(DumpShape, TheSizeSaysWhatTheFileHoldsAndOfWhichChip) {
  const struct {
    const char* what;
    std::uint64_t size;
    DumpKind kind;
    std::uint32_t chip, readable;
  } cases[] = {
      {"empty", 0, DumpKind::NoSpare, 1, 0},
      {"one block", kF, DumpKind::Whole, 1, 1},
      {"twelve blocks", 12 * kF, DumpKind::Whole, 12, 12},
      {"a byte after one block", kF + 1, DumpKind::Trailing, 1, 1},
      {"bytes after 16 blocks", 16 * kF + 100, DumpKind::Trailing, 16, 16},
      {"main data of 16 blocks alone", 16 * kB, DumpKind::NoSpare, 16, 0},
      {"main data cut in block 10", 10 * kB - 7, DumpKind::NoSpare, 16, 0},
      {"bytes after twelve blocks", 12 * kF + 5, DumpKind::NoSpare, 16, 0},
      {"the spare data of 10 of 16 blocks", 16 * kB + 10 * kB / 32, DumpKind::CutSpare, 16, 10},
      {"spare data cut inside block 10's", 16 * kB + 10 * kB / 32 + 5, DumpKind::CutSpare, 16, 10},
      {"main data of a 512 MiB chip alone", 2048 * kB, DumpKind::NoSpare, 2048, 0},
      {"a 512 MiB chip cut in its spare area", 2048 * kB + 100 * kB / 32, DumpKind::CutSpare, 2048, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const DumpShape shape = ShapeOfSize(c.size);
    EXPECT_EQ(shape.Kind, c.kind);
    EXPECT_EQ(shape.ChipBlocks, c.chip);
    EXPECT_EQ(shape.Readable, c.readable);
    EXPECT_EQ(shape.WholeBytes, c.chip * kF);
    EXPECT_EQ(shape.SizeBlocks * kF + shape.Remainder, c.size);
    const std::string why = NotWholeText(shape);
    EXPECT_EQ(why.empty(), c.kind == DumpKind::Whole) << why;
    if (!why.empty()) {
      EXPECT_NE(why.find(std::to_string(c.chip * kF) + " bytes"), std::string::npos) << why;
    }
  }
}

struct Shape {
  const char* name;
  std::uint64_t size;  // of a 16-block image cut or lengthened
  bool spareWhole;
};
void PrintTo(const Shape& s, std::ostream* os) { *os << s.name; }

const Shape kShapes[] = {
    {"MainDataOnly", 16 * kB, false},
    {"SpareCutOff", 16 * kB + 5 * kB / 32 + 100, false},
    {"BytesAfter", 16 * kF + 100, true},
};

class NotWhole : public ::testing::TestWithParam<Shape> {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(test::MakeImage(image, {{"BOOT", 2}, {"DATA", 0xFFFFFFFFu}}, 4, ImageFill::Pattern));
    ASSERT_NO_FATAL_FAILURE(test::ResizeFile(image, GetParam().size));
    why = NotWholeText(ShapeOfSize(GetParam().size));
  }
  std::string Note(const std::string& command) const {
    return "orvella: " + command + ": \"" + image + "\" is not a whole image: " + why + "\n";
  }
  test::TempDir dir;
  std::string image = dir.File("dump.bin");
  std::string why;
};

TEST_P(NotWhole, EveryCommandThatReadsTheImageSaysSo) {
  ASSERT_FALSE(why.empty());
  const struct {
    std::vector<std::string> args;
    const char* jsonField;  // where --json output says it; empty: no JSON
  } commands[] = {
      {{"list", image}, ""},
      {{"blank", image}, ""},
      {{"hash", image, "--json"}, "not_whole"},
      {{"diff", image, image, "--json"}, "not_whole_b"},
      {{"save-image", image, dir.File("copy.bin")}, ""},
      {{"export", image, "--mode", "main", "--all", "--prefix", dir.File("m_")}, ""},
      {{"report", image, "-o", dir.File("r.html")}, ""},
  };
  for (const auto& c : commands) {
    SCOPED_TRACE(c.args[0]);
    const auto r = RunTool(dir, c.args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find(Note(c.args[0])), std::string::npos) << r.err;
    if (*c.jsonField) {
      EXPECT_EQ(nlohmann::json::parse(r.out)[c.jsonField], why);
    }
  }
  EXPECT_NE(test::ReadWholeFile(dir.File("r.html")).find("<th>Whole image</th><td>no: "), std::string::npos);
  // check says it in its JSON, and on standard error the blocks it could not read.
  const auto check = RunTool(dir, {"check", image, "--json"});
  EXPECT_EQ(nlohmann::json::parse(check.out)["not_whole"], why);
  EXPECT_EQ(check.exitCode, GetParam().spareWhole ? 0 : 8) << check.err;
  EXPECT_NE(check.err.find(GetParam().spareWhole ? Note("check") : "orvella: check: not read: blocks "),
            std::string::npos)
      << check.err;
}

TEST_P(NotWhole, ExportCopiesSpareDataOnlyWhenTheyAreAllThere) {
  for (const char* mode : {"spare", "full"}) {
    SCOPED_TRACE(mode);
    const std::string prefix = dir.File(std::string(mode) + "_");
    const auto r = RunTool(dir, {"export", image, "--mode", mode, "--row", "DATA", "--prefix", prefix});
    const std::string file = prefix + "000000080000_DATA.bin";
    if (GetParam().spareWhole) {
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_TRUE(std::filesystem::exists(file));
    } else {
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_NE(r.err.find("orvella: export: --mode " + std::string(mode) + " refused: the spare data of \"" +
                           image + "\" are not all there (" + why + "); --mode main copies its main data\n"),
                std::string::npos)
          << r.err;
      EXPECT_FALSE(std::filesystem::exists(file));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, NotWhole, ::testing::ValuesIn(kShapes),
                         [](const auto& c) { return std::string(c.param.name); });

}  // namespace
}  // namespace orvella
