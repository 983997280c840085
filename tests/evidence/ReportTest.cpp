// The report: which state each block of the map is drawn in, what the page holds and
// escapes, and the picture headless Chromium makes of it, read back at the cells where
// the map's own geometry places them.

#include <gtest/gtest.h>

#include <QImage>

#include <cstdlib>

#include "evidence/BlockMap.h"
#include "evidence/EvidenceFixture.h"
#include "evidence/Report.h"
#include "support/EccImage.h"
#include "support/Processes.h"

namespace orvella::test {
namespace {

using G = BlockMapGeometry;
using H = BlockHealth;
using S = BlockState;

TEST(BlockStates, EachBlockTakesTheFirstStateThatApplies) {
  struct Case {
    bool erased, different;
    H health;
    S drawn;
  };
  const Case cases[] = {
      {false, false, H::Good, S::Written},          {true, false, H::Good, S::Erased},
      {true, true, H::Good, S::Different},          {true, false, H::Corrected, S::Corrected},
      {false, true, H::Corrected, S::Different},    {true, true, H::Uncorrectable, S::Uncorrectable},
      {false, false, H::Uncorrectable, S::Uncorrectable}, {true, true, H::Bad, S::Bad},
  };
  BlockMapInput input;
  for (const Case& c : cases) {
    input.Erased.push_back(c.erased);
    input.Different.push_back(c.different);
    input.Health.push_back(c.health);
  }
  input.Blocks = static_cast<std::uint32_t>(std::size(cases)) + 1;  // the last has no flags
  const std::vector<S> states = CombineStates(input);
  ASSERT_EQ(states.size(), input.Blocks);
  for (std::size_t b = 0; b < std::size(cases); ++b) EXPECT_EQ(states[b], cases[b].drawn) << b;
  EXPECT_EQ(states.back(), S::Written);

  // The legend lists the comparison's and the health check's states only with them.
  EXPECT_EQ(LegendStates(input).size(), kBlockStateCount);
  input.Health.clear();
  EXPECT_EQ(LegendStates(input), (std::vector<S>{S::Erased, S::Written, S::Different}));
  input.Different.clear();
  EXPECT_EQ(LegendStates(input), (std::vector<S>{S::Erased, S::Written}));
}

TEST(ReportCommand, IsSelfContainedEscapesTheImagesTextAndNeverReplacesAnImage) {
  TempDir dir;
  const std::string image =
      MakeImage(dir, "dump.bin", 4, {{"BOOT", 2}, {"<b>&'\"x", 3}, {"REST", kRest}}, ImageFill::Pattern);
  const std::string report = dir.File("report.html");
  ToolResult r = RunTool(dir, {"report", image, "-o", report});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, report + "\n");
  const std::string html = ReadWholeFile(report);
  for (const char* fetches : {"<script", "src=", "href=", "url(", "@import", "<link", "<iframe"})
    EXPECT_FALSE(Has(html, fetches)) << fetches;
  EXPECT_TRUE(Has(html, "2 &lt;b&gt;&amp;&#39;&quot;x")) << "the partition's name, escaped";
  EXPECT_FALSE(Has(html, "<b>&'"));
  for (const char* section : {"id=\"facts\"", "id=\"map\"", "id=\"partitions\"", "id=\"digests\""})
    EXPECT_TRUE(Has(html, section)) << section;
  EXPECT_FALSE(Has(html, "id=\"comparison\""));
  EXPECT_FALSE(Has(html, "id=\"health\""));
  EXPECT_FALSE(std::filesystem::exists(report + ".part"));

  const std::string before = ReadWholeFile(image);
  r = RunTool(dir, {"report", image, "-o", dir.File("./dump.bin")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "never replaces an image")) << r.err;
  r = RunTool(dir, {"report", image, "-o", dir.File("report.html"), "--compare", dir.File("report.html")});
  EXPECT_EQ(r.exitCode, 1) << "the report is not an image, and may not replace the compared file";
  EXPECT_EQ(ReadWholeFile(image), before);
  r = RunTool(dir, {"report", image, "-o", dir.File("no/such/folder/r.html")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "No such file or directory")) << r.err;
  EXPECT_EQ(RunTool(dir, {"report", image}).exitCode, 2);
}

// A dump whose table is gone is still reported: facts, digests and map, no outlines;
// compared with a dump that has its table, the partitions come from that one (the
// table itself lies in block 1, inside BOOT).
TEST(ReportCommand, ATableLessImageIsStillReported) {
  TempDir dir;
  const std::vector<PartitionSpec> table{{"BOOT", 2}, {"PIT", 1}, {"REST", kRest}};
  const std::string good = MakeImage(dir, "good.bin", 4, table, ImageFill::Pattern);
  const std::string bare = MakeImage(dir, "bare.bin", 4, table, ImageFill::Pattern);
  FlipBytes(bare, {kBS});  // the table's magic
  const std::string report = dir.File("bare.html");
  const ToolResult r = RunTool(dir, {"report", bare, "-o", report, "--compare", good});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "has no usable partition table (ERROR: Cannot find PIT Partition Table.)")) << r.err;
  const std::string html = ReadWholeFile(report);
  EXPECT_TRUE(Has(html, "none: ERROR: Cannot find PIT Partition Table.")) << html;
  EXPECT_FALSE(Has(html, "class=\"part\"")) << "no partition to outline";
  EXPECT_TRUE(Has(html, "B has a partition table, A has none")) << html;
  EXPECT_TRUE(Has(html, "<td>1 BOOT</td><td>main data differs in 1 block (1 sector)")) << html;
  EXPECT_TRUE(Has(html, "id=\"digests\""));
}

// With ECC codes in the spare data the report runs the NAND check: blocks with a
// corrected sector, with an uncorrectable one and marked bad take their states' colours.
TEST(ReportCommand, NandHealthColoursTheBlocksOfItsFindings) {
  TempDir dir;
  const std::string image = dir.File("ecc.bin");
  MakeEccImage(image, 4, {{"BOOT", 2}, {"PIT", 1}, {"REST", kRest}}, "onenand-h512-normal", {7});
  FlipSectorBit(image, 3 * 512 + 7, 1000);
  FlipSectorBit(image, 5 * 512, 1);
  FlipSectorBit(image, 5 * 512, 2000);
  FlipSectorBit(image, 9 * 512 + 1, 9);  // block 9: corrected and uncorrectable
  FlipSectorBit(image, 9 * 512 + 2, 9);
  FlipSectorBit(image, 9 * 512 + 2, 19);
  const std::string report = dir.File("ecc.html");
  const ToolResult r = RunTool(dir, {"report", image, "-o", report});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string html = ReadWholeFile(report);
  EXPECT_TRUE(Has(html, "<th>Bad blocks</th><td>1</td>")) << html;
  EXPECT_TRUE(Has(html, "<th>Corrected sectors</th><td>2 in 2 blocks</td>"));
  EXPECT_TRUE(Has(html, "<th>Uncorrectable sectors</th><td>2 in 2 blocks</td>"));
  // Each of these blocks starts a run of its state, so its own rectangle.
  const std::pair<std::uint32_t, S> cells[] = {{3, S::Corrected},     {4, S::Written},
                                               {5, S::Uncorrectable}, {6, S::Written},
                                               {7, S::Bad},           {8, S::Written},
                                               {9, S::Uncorrectable}, {10, S::Written}};
  for (const auto& [block, state] : cells) {
    const std::string key = StyleOf(state).Key;
    EXPECT_TRUE(Has(html, "." + key + "{fill:")) << key;
    EXPECT_TRUE(Has(html, "<rect class=\"" + key + "\" x=\"" + std::to_string(G::CellX(block)) +
                              "\" y=\"" + std::to_string(G::CellY(block)) + "\""))
        << "block " << block << " is drawn " << key;
  }

  // Without codes in the spare data the map shows what it showed before, and the tool
  // says why the health is missing.
  const std::string plain =
      MakeImage(dir, "plain.bin", 4, {{"BOOT", 2}, {"PIT", 1}, {"REST", kRest}}, ImageFill::Noise);
  const ToolResult p = RunTool(dir, {"report", plain, "-o", dir.File("plain.html")});
  ASSERT_EQ(p.exitCode, 0) << p.err;
  EXPECT_TRUE(Has(p.err, "no known ECC layout matches")) << p.err;
  const std::string plainHtml = ReadWholeFile(dir.File("plain.html"));
  EXPECT_FALSE(Has(plainHtml, "id=\"health\""));
  EXPECT_FALSE(Has(plainHtml, "<rect class=\"" + std::string(StyleOf(S::Bad).Key) + "\""));
}

// Renders the page with headless Chromium: the PNG's path, or empty with Chromium's
// output in `why` when Chromium cannot start.
std::string Render(const TempDir& dir, const std::string& html, int height, std::string& why) {
  const std::string png = html + ".png";
  const CommandRun r = RunCommand(
      "command -v chromium >/dev/null || { echo 'chromium is not installed'; exit 127; }; "
      "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
      "--disable-background-networking --disable-component-update --disable-sync "
      "--hide-scrollbars --force-device-scale-factor=1 --user-data-dir=" +
      Q(dir.File("chromium-profile")) + " --window-size=1100," + std::to_string(height) +
      " --screenshot=" + Q(png) + " " + Q("file://" + html) + " 2>&1");
  if (!std::filesystem::exists(png)) {
    why = "chromium cannot start (status " + std::to_string(r.exitCode) + "): " + r.output;
    return "";
  }
  if (const char* keep = std::getenv("ORVELLA_SHOT_DIR"))
    std::filesystem::copy_file(png, std::filesystem::path(keep) / std::filesystem::path(png).filename(),
                               std::filesystem::copy_options::overwrite_existing);
  return png;
}

// The rendered map: its frame is found by its colour, and every cell lies where the
// map's geometry puts it relative to the frame.
class RenderedMap {
 public:
  explicit RenderedMap(const std::string& png) : image_(QString::fromStdString(png)) {
    for (int y = 0; y < image_.height() && !found_; ++y)
      for (int x = 0; x < image_.width() && !found_; ++x)
        if (Rgb(x, y) == G::kFrameRgb) {
          left_ = x;
          top_ = y;
          found_ = true;
        }
  }
  // The frame is there and as wide as the geometry makes it (no scaling).
  ::testing::AssertionResult Found() const {
    if (image_.isNull()) return ::testing::AssertionFailure() << "the PNG does not load";
    if (!found_) return ::testing::AssertionFailure() << "no pixel has the frame's colour";
    int width = 0;
    while (left_ + width < image_.width() && Rgb(left_ + width, top_) == G::kFrameRgb) ++width;
    const int expected = G::kColumns * G::kPitch - 1 + 2 * G::kFrame;
    if (width != expected)
      return ::testing::AssertionFailure() << "the frame is " << width << " pixels wide, not " << expected;
    return ::testing::AssertionSuccess();
  }
  std::uint32_t CellCentre(std::uint64_t block) const {
    return Rgb(left_ + G::kFrame + G::CellX(block) - G::kLeft + G::kCell / 2,
               top_ + G::kFrame + G::CellY(block) - G::kTop + G::kCell / 2);
  }

 private:
  std::uint32_t Rgb(int x, int y) const { return image_.pixel(x, y) & 0xFFFFFFu; }

  QImage image_;
  int left_ = 0, top_ = 0;
  bool found_ = false;
};

bool Near(std::uint32_t a, std::uint32_t b) {
  for (int shift : {0, 8, 16})
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 8)
      return false;
  return true;
}

// Checks every cell that no label covers against the state it must be drawn in.
void ExpectCells(const RenderedMap& map, const BlockMapInput& input, const std::vector<S>& expected) {
  std::vector<bool> labelled(expected.size(), false);
  for (const MapLabel& label : MapLabels(input))
    for (std::uint64_t b = label.FirstBlock; b < label.FirstBlock + label.Cells && b < labelled.size(); ++b)
      labelled[b] = true;
  std::size_t checked = 0;
  for (std::uint64_t b = 0; b < expected.size(); ++b) {
    if (labelled[b]) continue;
    const BlockStateStyle& style = StyleOf(expected[b]);
    const std::uint32_t seen = map.CellCentre(b);
    EXPECT_TRUE(Near(seen, style.Rgb)) << "block " << b << " should be " << style.Label << " #" << std::hex
                                       << style.Rgb << ", is #" << seen;
    ++checked;
  }
  EXPECT_GT(checked, expected.size() * 3 / 4) << "labels cover too much of the map to check it";
}

constexpr std::uint32_t kMapBlocks = 192;  // a 48 MiB chip: three rows

// Renders the report the tool wrote for `image` and checks every unlabelled cell of its
// map against `expected`, one state per block.
void ExpectRenderedMap(const TempDir& dir, const std::string& image, const std::string& report,
                       const std::vector<S>& expected) {
  std::string why;
  const std::string png =
      Render(dir, report, 900 + G::Height(static_cast<std::uint32_t>(expected.size())), why);
  if (png.empty()) GTEST_SKIP() << why;
  const RenderedMap map(png);
  ASSERT_TRUE(map.Found());
  EvidenceImage evidence;
  std::string error;
  ASSERT_TRUE(OpenEvidenceImage(image, evidence, error)) << error;
  ExpectCells(map, MapInputOf(evidence, {}, nullptr), expected);
}

TEST(ReportInBrowser, TheMapShowsErasedWrittenAndDifferentBlocksWhereTheGeometryPlacesThem) {
  TempDir dir;
  const std::string a = MakeImage(
      dir, "a.bin", 48, {{"BOOT", 2}, {"PIT", 1}, {"EFS", 20}, {"KERNEL", 30}, {"FACTORYFS", 60}, {"DATA", kRest}},
      ImageFill::Erased);
  std::vector<S> expected(kMapBlocks, S::Erased);
  expected[1] = S::Written;  // the table
  for (std::uint64_t b : {0, 5, 6, 40, 41, 42, 100, 150, 191}) {
    WriteBytesAt(a, MainAt(b, 4096), std::vector<std::uint8_t>(4096, 0x00));
    expected[b] = S::Written;
  }
  WriteBytesAt(a, SpareAt(kMapBlocks, 70, 5 * 16 + 3), {0x00});  // spare data only
  expected[70] = S::Written;
  WriteBytesAt(a, SpareAt(kMapBlocks, 80, 16 + 14), {0x00, 0x00});  // bytes the blank check skips
  const std::string b = dir.File("b.bin");
  std::filesystem::copy_file(a, b);
  FlipBytes(b, {MainAt(120, 77), SpareAt(kMapBlocks, 5, 2), MainAt(191, 4096)});
  for (std::uint64_t d : {120, 5, 191}) expected[d] = S::Different;

  const std::string report = dir.File("report-compare.html");
  const ToolResult r = RunTool(dir, {"report", a, "-o", report, "--compare", b, "--algo", "md5,sha256"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string html = ReadWholeFile(report);
  EXPECT_TRUE(Has(html, "id=\"comparison\""));
  EXPECT_TRUE(Has(html, "<td>different</td><td>differs from the compared image</td><td class=\"num\">3</td>"));

  ExpectRenderedMap(dir, a, report, expected);
}

TEST(ReportInBrowser, HealthStatesAppearOnceAHealthSourceSuppliesThem) {
  TempDir dir;
  const std::string a = MakeImage(dir, "a.bin", 16, {{"BOOT", 2}, {"PIT", 1}, {"DATA", kRest}}, ImageFill::Erased);
  EvidenceImage image;
  std::string error;
  ASSERT_TRUE(OpenEvidenceImage(a, image, error)) << error;
  std::vector<bool> erased(64, true);
  erased[1] = false;
  ReportInput input;
  input.Image = &image;
  input.Map = MapInputOf(image, erased, nullptr);
  input.Map.Health.assign(64, H::Good);
  input.Map.Health[10] = H::Bad;
  input.Map.Health[20] = H::Corrected;
  input.Map.Health[30] = H::Uncorrectable;
  input.Map.Health[1] = H::Corrected;
  input.Health = HealthFacts{1, 2, 1, 5, 1};
  const std::string report = dir.File("report-health.html");
  { std::ofstream(report) << ReportHtml(input); }
  const std::string html = ReadWholeFile(report);
  EXPECT_TRUE(Has(html, "id=\"health\""));
  EXPECT_TRUE(Has(html, "<th>Corrected sectors</th><td>5 in 2 blocks</td>")) << "the health summary";
  EXPECT_TRUE(Has(html, "<td>bad block</td><td>marked bad</td><td class=\"num\">1</td>"));

  std::vector<S> expected(64, S::Erased);
  expected[1] = expected[20] = S::Corrected;
  expected[10] = S::Bad;
  expected[30] = S::Uncorrectable;
  std::string why;
  const std::string png = Render(dir, report, 900 + G::Height(64), why);
  if (png.empty()) GTEST_SKIP() << why;
  const RenderedMap map(png);
  ASSERT_TRUE(map.Found());
  ExpectCells(map, input.Map, expected);
}

// The tool's own health findings, from a dump with codes in its spare data, in the
// browser: corrected, uncorrectable and bad blocks in their colours among written ones.
TEST(ReportInBrowser, TheChecksFindingsAreDrawnInTheirStatesColours) {
  TempDir dir;
  const std::string a = dir.File("worn.bin");
  MakeEccImage(a, 16, {{"BOOT", 2}, {"PIT", 1}, {"DATA", kRest}}, "onenand-h512-normal", {40});
  std::vector<S> expected(64, S::Written);
  FlipSectorBit(a, 20 * 512 + 3, 700);
  expected[20] = S::Corrected;
  for (const std::uint64_t block : {30, 50}) {
    FlipSectorBit(a, block * 512 + 9, 5);
    FlipSectorBit(a, block * 512 + 9, 3000);
    expected[block] = S::Uncorrectable;
  }
  FlipSectorBit(a, 50 * 512 + 10, 8);  // a corrected sector beside: uncorrectable still
  expected[40] = S::Bad;
  const std::string report = dir.File("report-worn.html");
  const ToolResult r = RunTool(dir, {"report", a, "-o", report});
  ASSERT_EQ(r.exitCode, 0) << r.err;

  ExpectRenderedMap(dir, a, report, expected);
}

}  // namespace
}  // namespace orvella::test
