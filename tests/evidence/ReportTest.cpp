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
  using R = BlockRemap;
  struct Case {
    bool erased, different;
    H health;
    S drawn;
    R remap = R::None;
  };
  const Case cases[] = {
      {false, false, H::Good, S::Written},          {true, false, H::Good, S::Erased},
      {true, true, H::Good, S::Different},          {true, false, H::Corrected, S::Corrected},
      {false, true, H::Corrected, S::Different},    {true, true, H::Uncorrectable, S::Uncorrectable},
      {false, false, H::Uncorrectable, S::Uncorrectable}, {true, true, H::Bad, S::Bad},
      {false, true, H::Bad, S::Replaced, R::Replaced},    {true, false, H::Good, S::Replaced, R::Replaced},
      {false, true, H::Uncorrectable, S::Replacement, R::Replacement}, {true, false, H::Good, S::Replacement, R::Replacement},
  };
  BlockMapInput input;
  for (const Case& c : cases) {
    input.Erased.push_back(c.erased);
    input.Different.push_back(c.different);
    input.Health.push_back(c.health);
    input.Remap.push_back(c.remap);
  }
  input.Blocks = static_cast<std::uint32_t>(std::size(cases)) + 1;  // the last has no flags
  const std::vector<S> states = CombineStates(input);
  ASSERT_EQ(states.size(), input.Blocks);
  for (std::size_t b = 0; b < std::size(cases); ++b) EXPECT_EQ(states[b], cases[b].drawn) << b;
  EXPECT_EQ(states.back(), S::Written);

  // The legend lists the comparison's, the health check's and the bad-block layer's
  // states only with them.
  EXPECT_EQ(LegendStates(input).size(), kBlockStateCount);
  input.Remap.clear();
  EXPECT_EQ(LegendStates(input).size(), kBlockStateCount - 2);
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
  EXPECT_TRUE(Has(r.err, "a file this command reads")) << r.err;
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

// The number in the legend's row of a state: the blocks the map draws in it.
long LegendCount(const std::string& html, const BlockStateStyle& style) {
  const std::string row = "<td>" + std::string(style.Label) + "</td><td>" + style.Meaning + "</td><td class=\"num\">";
  const std::size_t at = html.find(row);
  return at == std::string::npos ? -1 : std::stol(html.substr(at + row.size()));
}

// The cell of a row of the health summary.
std::string HealthCell(const std::string& html, const std::string& head) {
  const std::string start = "<th>" + head + "</th><td>";
  const std::size_t at = html.find(start);
  if (at == std::string::npos) return "";
  const std::size_t from = at + start.size();
  return html.substr(from, html.find("</td>", from) - from);
}

// With ECC codes in the spare data the report runs the NAND check: blocks with a
// corrected sector, with an uncorrectable one and marked bad take their states' colours,
// the bad blocks and uncorrectable sectors are listed with their places in the file, and
// the summary says how the map draws each finding's blocks, as the legend counts them,
// with and without a comparison that draws a corrected block as different.
TEST(ReportCommand, NandHealthColoursListsAndCountsTheBlocksOfItsFindingsAsTheLegendDoes) {
  TempDir dir;
  const std::string image = dir.File("ecc.bin");
  MakeEccImage(image, 4, {{"BOOT", 2}, {"PIT", 1}, {"REST", kRest}}, "onenand-h512-normal", {7});
  const std::string copy = dir.File("copy.bin");
  std::filesystem::copy_file(image, copy);
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
  EXPECT_EQ(HealthCell(html, "Bad blocks"), "1");
  EXPECT_EQ(HealthCell(html, "Corrected sectors"),
            "2 in 2 blocks (on the map: 1 drawn corrected, 1 drawn uncorrectable)");
  EXPECT_EQ(HealthCell(html, "Uncorrectable sectors"), "2 in 2 blocks");
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
  // Places in the file: the spare area of the 16 blocks starts at 0x00400000.
  EXPECT_TRUE(Has(html, "<tr><td class=\"mono\">0x0007</td><td class=\"mono\">0x001C0000</td>"
                        "<td class=\"mono\">0x0040E000</td></tr>")) << html;
  EXPECT_TRUE(Has(html, "<tr><td class=\"num\">2560</td><td class=\"mono\">0x0005</td><td class=\"mono\">"
                        "0x00140000</td><td class=\"mono\">0x0040A000</td></tr>")) << html;
  EXPECT_TRUE(Has(html, "<td class=\"num\">4610</td><td class=\"mono\">0x0009</td>")) << html;

  // Compared with the copy made before the flips, blocks 3, 5 and 9 differ: the
  // corrected block 3 is drawn different, and both the legend and the summary say so.
  const std::string compared = dir.File("compared.html");
  const ToolResult c = RunTool(dir, {"report", image, "-o", compared, "--compare", copy});
  ASSERT_EQ(c.exitCode, 0) << c.err;
  const std::string withB = ReadWholeFile(compared);
  EXPECT_EQ(HealthCell(withB, "Corrected sectors"),
            "2 in 2 blocks (on the map: 1 drawn different, 0 drawn corrected, 1 drawn uncorrectable)");
  for (const std::string* page : {&html, &withB}) {
    // The legend's counts agree with the summary's and add up to the blocks of the map.
    const long corrected = LegendCount(*page, StyleOf(S::Corrected));
    const std::string cell = HealthCell(*page, "Corrected sectors");
    EXPECT_TRUE(Has(cell, std::to_string(corrected) + " drawn corrected")) << cell;
    EXPECT_EQ(LegendCount(*page, StyleOf(S::Uncorrectable)), 2);
    EXPECT_EQ(LegendCount(*page, StyleOf(S::Bad)), 1);
    long sum = 0;
    for (const BlockStateStyle& style : BlockStateStyles()) sum += std::max(0L, LegendCount(*page, style));
    EXPECT_EQ(sum, 16);
  }
  EXPECT_EQ(LegendCount(withB, StyleOf(S::Different)), 1);

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

// Checks every cell against the state it must be drawn in: the labels stand above the
// cells, so they hide none.
void ExpectCells(const RenderedMap& map, const std::vector<S>& expected) {
  for (std::uint64_t b = 0; b < expected.size(); ++b) {
    const BlockStateStyle& style = StyleOf(expected[b]);
    const std::uint32_t seen = map.CellCentre(b);
    EXPECT_TRUE(Near(seen, style.Rgb)) << "block " << b << " should be " << style.Label << " #" << std::hex
                                       << style.Rgb << ", is #" << seen;
  }
}

constexpr std::uint32_t kMapBlocks = 192;  // a 48 MiB chip: three rows

// Renders the report the tool wrote for `image` and checks every unlabelled cell of its
// map against `expected`, one state per block.
void ExpectRenderedMap(const TempDir& dir, const std::string& report, const std::vector<S>& expected) {
  std::string why;
  const std::string png =
      Render(dir, report, 900 + G::Height(static_cast<std::uint32_t>(expected.size())), why);
  if (png.empty()) GTEST_SKIP() << why;
  const RenderedMap map(png);
  ASSERT_TRUE(map.Found());
  ExpectCells(map, expected);
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

  ExpectRenderedMap(dir, report, expected);
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
  HealthFacts facts;
  facts.BadBlocks = 1;
  facts.BlocksCorrected = 2;
  facts.BlocksUncorrectable = 1;
  facts.SectorsCorrected = 5;
  facts.SectorsUncorrectable = 1;
  facts.BadBlockList = {10};
  facts.CorrectedBlockList = {1, 20};
  facts.UncorrectableBlockList = {30};
  input.Health = facts;
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
  ExpectCells(map, expected);
}

// The tool's own health findings, from a dump with codes in its spare data, in the
// browser: corrected, uncorrectable and bad blocks in their colours among written ones,
// also in the first block of each partition, where its label is.
TEST(ReportInBrowser, TheChecksFindingsAreDrawnInTheirStatesColours) {
  TempDir dir;
  const std::string a = dir.File("worn.bin");
  MakeEccImage(a, 16, {{"BOOT", 2}, {"PIT", 1}, {"DATA", kRest}}, "onenand-h512-normal", {2, 40});
  std::vector<S> expected(64, S::Written);
  FlipSectorBit(a, 0 * 512 + 5, 100);  // BOOT's first block
  expected[0] = S::Corrected;
  expected[2] = S::Bad;                // PIT's
  FlipSectorBit(a, 3 * 512 + 5, 100);  // DATA's
  FlipSectorBit(a, 3 * 512 + 5, 200);
  expected[3] = S::Uncorrectable;
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

  ExpectRenderedMap(dir, report, expected);
}

// A 512 MiB dump with the phone's bad-block layer and codes in its spare data: the blocks
// the layer replaced and their replacements take their own states, before "bad block"
// (the replaced ones carry the driver's bad mark), and the legend and the health summary
// count them alike; the page lists the table as the phone reads it and the remaps.
TEST(ReportInBrowser, ReplacedBlocksAndTheirReplacementsAreDrawnInTheirStates) {
  TempDir dir;
  const std::string dump = dir.File("phone.bin");
  const ToolResult made = RunTool(dir, {"mkimage", dump, "--chip-mib", "512", "--bml", "--fill", "noise", "--ecc",
                                        "onenand-h512-normal", "--table", "BOOT:1,PIT:1,EFS:40,KERNEL:30,DATA:rest",
                                        "--remap", "20,71,2003", "--bad-blocks", "900"});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  const std::string report = dir.File("phone.html");
  const ToolResult r = RunTool(dir, {"report", dump, "-o", report});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string html = ReadWholeFile(report);
  EXPECT_EQ(LegendCount(html, StyleOf(S::Replaced)), 3);
  EXPECT_EQ(LegendCount(html, StyleOf(S::Replacement)), 3);
  EXPECT_EQ(LegendCount(html, StyleOf(S::Bad)), 1);
  EXPECT_EQ(HealthCell(html, "Bad blocks"), "4 (on the map: 1 drawn bad block, 3 drawn replaced)");
  EXPECT_TRUE(Has(html, "<h2>Partitions as the phone reads them</h2>")) << html;
  EXPECT_TRUE(Has(html, "<td class=\"num\">3</td><td>EFS</td><td class=\"num\">2</td><td>none</td>"
                        "<td class=\"mono\">0x0002..0x0029</td><td>bml3</td>"))
      << html;
  EXPECT_TRUE(Has(html, "<tr><td class=\"mono\">0x07D3</td><td class=\"mono\">0x07D6</td><td>DATA</td>"
                        "<td>UPCB block map 1, info 0x0000</td></tr>"))
      << html;

  std::vector<S> expected(2048, S::Written);
  for (std::uint32_t b = 2004; b < 2048; ++b) expected[b] = S::Erased;
  expected[2046] = expected[2047] = S::Written;  // the pool control blocks
  for (std::uint32_t b : {20, 71, 2003}) expected[b] = S::Replaced;
  for (std::uint32_t b : {2004, 2005, 2006}) expected[b] = S::Replacement;
  expected[900] = S::Bad;
  ExpectRenderedMap(dir, report, expected);
}

}  // namespace
}  // namespace orvella::test
