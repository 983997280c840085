#include "ui/HEXView.h"

#include <QPainter>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HexTestFiles.h"
#include "HexViewRig.h"
#include "files/FileIO.h"
#include "ui/CellFont.h"
#include "ui/Colors.h"
#include "ui/ScrollBarTag.h"

namespace orvella {
namespace {

using hextest::AllWhite;
using hextest::BlackRun;
using hextest::HasColour;
using hextest::ScratchDir;
using hextest::ViewRig;

// --- Geometry: pure functions, two cell sizes -----------------------------------------

constexpr HexGeometry kWide{8, 16};
constexpr HexGeometry kNarrow{7, 17};

constexpr bool SameHit(HexHit a, HexHit b) {
  return a.Offset == b.Offset && a.InCharColumn == b.InCharColumn;
}

template <const HexGeometry& G>
constexpr bool HitTestsHold() {
  return
      // address column: first byte of the line
      SameHit(G.HitTest(2, 0), {0, false}) && SameHit(G.HitTest(G.L1(), 2 * G.cy + 1), {32, false}) &&
      // on a byte's digits
      SameHit(G.HitTest(G.HexX(4) + G.cx, 0), {4, false}) &&
      // the gap after the digits: up to its middle the byte, past it the next byte
      SameHit(G.HitTest(G.HexX(4) + 2 * G.cx + G.cx / 2, 0), {4, false}) &&
      SameHit(G.HitTest(G.HexX(4) + 2 * G.cx + G.cx / 2 + 1, 0), {5, false}) &&
      SameHit(G.HitTest(G.HexX(15) + G.cx, G.cy), {31, false}) &&
      // past the middle of the last byte's gap the point belongs to the characters
      SameHit(G.HitTest(G.HexX(15) + 2 * G.cx + G.cx / 2 + 1, 0), {0, true}) &&
      // the character column, and right of it the line's last byte
      SameHit(G.HitTest(G.CharX(3) + 1, G.cy), {19, true}) &&
      SameHit(G.HitTest(G.CharX(15) + 1, 0), {15, true}) &&
      SameHit(G.HitTest(G.CharX(15) + 40 * G.cx, 3 * G.cy), {63, true});
}

static_assert(HitTestsHold<kWide>());
static_assert(HitTestsHold<kNarrow>());
static_assert(kWide.L1() == 69 && kWide.L2() == 455 && kWide.HexX(1) == 98 && kWide.CharX(2) == 476);
static_assert(kWide.HexBoxWidth(10, 15) == 24 && kWide.HexBoxWidth(15, 20) == 16 &&
              kWide.HexBoxWidth(9, 9) == 16 && kWide.HexBoxWidth(31, 40) == 16);

TEST(HexText, CharactersAndColours) {
  EXPECT_EQ(QString::fromStdString(HexCharText(0x00)), QStringLiteral("."));
  EXPECT_EQ(QString::fromStdString(HexCharText(0x1F)), QStringLiteral("."));
  EXPECT_EQ(QString::fromStdString(HexCharText(0x20)), QStringLiteral(" "));
  EXPECT_EQ(QString::fromStdString(HexCharText(0x41)), QStringLiteral("A"));
  EXPECT_EQ(QString::fromStdString(HexCharText(0x7E)), QStringLiteral("~"));
  // DEL and the C1 control characters have no glyph: a dot, as below 0x20.
  for (int b = 0x7F; b <= 0x9F; ++b)
    EXPECT_EQ(QString::fromStdString(HexCharText(static_cast<std::uint8_t>(b))), QStringLiteral("."))
        << b;
  EXPECT_EQ(QString::fromStdString(HexCharText(0xA0)), QString(QChar(0x00A0)));
  EXPECT_EQ(QString::fromStdString(HexCharText(0xE9)), QString(QChar(0x00E9)));
  EXPECT_EQ(QString::fromStdString(HexCharText(0xFF)), QString(QChar(0x00FF)));
  EXPECT_EQ(ColorFromRef(0x808000), QColor(0x00, 0x80, 0x80));
  EXPECT_EQ(ColorFromRef(0xFF9933), QColor(0x33, 0x99, 0xFF));
  EXPECT_EQ(ColorFromRef(kColorEvenByteText), QColor(0, 0, 0xFF));
}

// --- Fixture: a file of known bytes ---------------------------------------------------

class HexViewTest : public testing::Test {
 protected:
  void SetUp() override { file = dir.File("data.bin"); }
  void TearDown() override { FileFaults::Disarm(); }

  ScratchDir dir;
  std::string file;
};

// Pixel regions of byte k's texts on screen line `line`.
QRect HexCell(const HexGeometry& g, int k, int line) {
  return {g.HexX(k), line * g.cy, 2 * g.cx + g.cx / 2, g.cy};
}
QRect CharCell(const HexGeometry& g, int k, int line) {
  return {g.CharX(k), line * g.cy, g.cx, g.cy};
}
QRect AddressCell(const HexGeometry& g, int line) { return {0, line * g.cy, g.L1(), g.cy}; }

struct Shape {
  std::int64_t chunk;
  int screenLines;
  int lines;
  bool enabled;
};

class HexViewShapes : public HexViewTest, public testing::WithParamInterface<Shape> {};

TEST_P(HexViewShapes, WindowLinesAndScrollBar) {
  const Shape s = GetParam();
  hextest::WriteTestFile(file, 200000);
  ViewRig rig(s.screenLines, hextest::MeasuredCell().cy / 2);
  rig.view->InitializeViewData(file, 1000, s.chunk);

  EXPECT_EQ(rig.view->ChunkLength(), s.chunk);
  EXPECT_EQ(rig.view->DataWindow().length(), std::min<std::int64_t>(s.chunk, 16384));
  EXPECT_EQ(rig.view->ScreenLines(), s.screenLines);
  EXPECT_FALSE(rig.bar->isHidden());
  EXPECT_EQ(rig.bar->isEnabled(), s.enabled);
  EXPECT_EQ(rig.view->MaxPosition(), std::max(s.lines - s.screenLines, 0));
  EXPECT_EQ(rig.bar->maximum(), std::max(s.lines - s.screenLines, 0));
  if (s.enabled) {
    EXPECT_EQ(rig.bar->pageStep(), s.screenLines);
    EXPECT_EQ(rig.bar->singleStep(), 1);
  }
  EXPECT_FALSE(rig.view->CaretShown());

  // Every existing byte has ink; cells after the last byte and the addresses of lines
  // past the chunk are blank.
  const QImage& img = rig.view->Surface();
  for (int line = 0; line <= s.screenLines; ++line) {
    const std::int64_t lineAddr = std::int64_t{line} * 16;
    EXPECT_EQ(AllWhite(img, AddressCell(rig.g, line)), lineAddr >= s.chunk) << line;
    for (int k = 0; k < 16; ++k) {
      const bool exists = lineAddr + k < s.chunk;
      EXPECT_EQ(AllWhite(img, HexCell(rig.g, k, line)), !exists) << line << "/" << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Chunks, HexViewShapes,
                         testing::Values(Shape{5, 4, 1, false}, Shape{16, 4, 1, false},
                                         Shape{17, 4, 2, false}, Shape{17, 1, 2, true},
                                         Shape{16384, 10, 1024, true},
                                         Shape{100000, 10, 6250, true}));

TEST_F(HexViewTest, LastLineOfAChunkEndingAtTheEndOfTheFile) {
  constexpr std::int64_t kSize = 300000;
  constexpr std::int64_t kChunk = 100000;
  hextest::WriteTestFile(file, kSize);
  ViewRig rig(10, hextest::MeasuredCell().cy / 2);
  rig.view->InitializeViewData(file, kSize - kChunk, kChunk);
  EXPECT_EQ(rig.view->DataWindow().reloads(), 1);

  rig.Action(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(rig.view->Position(), 6250 - 10);
  EXPECT_EQ(rig.view->TopAddress(), (6250 - 10) * 16);
  const HexDataWindow& w = rig.view->DataWindow();
  EXPECT_EQ(w.reloads(), 2);
  EXPECT_EQ(w.desc().CurrentDataPosition, kChunk - 16384);
  EXPECT_EQ(w.bytes(), hextest::TestBytes(kSize - 16384, 16384));
  EXPECT_TRUE(w.lastError().empty()) << w.lastError();
  // The last line is full and the partly visible line below it is blank.
  const QImage& img = rig.view->Surface();
  EXPECT_FALSE(AllWhite(img, HexCell(rig.g, 15, 9)));
  EXPECT_TRUE(AllWhite(img, AddressCell(rig.g, 10)));
  // Scrolling on at the end reads nothing more.
  rig.Action(QAbstractSlider::SliderSingleStepAdd);
  rig.Action(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(w.reloads(), 2);
}

TEST_F(HexViewTest, MissingFilesAndChunksPastTheEndGiveAnEmptyView) {
  hextest::WriteTestFile(file, 4000);
  ViewRig rig(10);
  const auto expectEmpty = [&](const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(rig.view->ChunkLength(), 0);
    EXPECT_FALSE(rig.bar->isEnabled());
    EXPECT_FALSE(rig.bar->isHidden());
    EXPECT_EQ(rig.view->TopAddress(), 0);
    // White with the three grid lines, nothing else.
    const QImage& img = rig.view->Surface();
    const QColor grid = ColorFromRef(kColorBacklines);
    int stray = 0;
    for (int y = 0; y < img.height(); ++y) {
      for (int x = 0; x < img.width(); ++x) {
        const bool gridLine = x == rig.g.L1() || x == rig.g.L2() || x == img.width() - 1;
        const QRgb want = gridLine ? grid.rgb() : 0xFFFFFFFF;
        if ((img.pixel(x, y) & 0xFFFFFF) != (want & 0xFFFFFF)) ++stray;
      }
    }
    EXPECT_EQ(stray, 0);
    rig.Click(rig.HexPoint(0, 0));
    EXPECT_FALSE(rig.view->CaretShown());
  };
  expectEmpty("new view");
  rig.view->InitializeViewData(file, 0, 4000);
  ASSERT_EQ(rig.view->ChunkLength(), 4000);
  rig.view->InitializeViewData(dir.File("missing.bin"), 0, 100);
  expectEmpty("missing file");
  rig.view->InitializeViewData(file, 0, 4000);
  rig.Action(QAbstractSlider::SliderToMaximum);
  rig.view->InitializeViewData(file, 3000, 1001);
  expectEmpty("chunk past the end");
  rig.view->InitializeViewData(QString(), 0, 0);
  expectEmpty("no file");
}

TEST_F(HexViewTest, ClicksPutTheCaretOnTheByteUnderThePointer) {
  hextest::WriteTestFile(file, 4096);
  ViewRig rig(10);
  rig.view->InitializeViewData(file, 0, 4096);
  const HexGeometry& g = rig.g;
  const QPoint shift = rig.paint->pos();
  struct Case {
    const char* what;
    QPoint at;
    std::int64_t addr;
    bool inChars;
    int caretX;
  };
  const Case cases[] = {
      {"address column", {3, 2 * g.cy + 1}, 32, false, g.HexX(0)},
      {"hex digits", rig.HexPoint(6, 1), 22, false, g.HexX(6)},
      {"gap before its middle", {g.HexX(6) + 2 * g.cx + g.cx / 2, 1}, 6, false, g.HexX(6)},
      {"gap past its middle", {g.HexX(6) + 2 * g.cx + g.cx / 2 + 1, 1}, 7, false, g.HexX(7)},
      {"character column", rig.CharPoint(9, 3), 57, true, g.CharX(9)},
      {"right of the characters", {g.CharX(15) + 3 * g.cx, 4 * g.cy + 2}, 79, true, g.CharX(15)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rig.Click(c.at);
    EXPECT_EQ(rig.view->CaretAddress(), c.addr);
    EXPECT_EQ(rig.view->CaretInCharColumn(), c.inChars);
    EXPECT_TRUE(rig.view->CaretShown());
    EXPECT_EQ(rig.view->CaretPosition(),
              QPoint(c.caretX + shift.x(), static_cast<int>(c.addr / 16) * g.cy + shift.y()));
    ASSERT_NE(rig.view->CaretWidget(), nullptr);
    EXPECT_EQ(rig.view->CaretWidget()->size(), QSize(2, g.cy));
    EXPECT_EQ(rig.view->TopAddress(), 0);
  }
}

TEST_F(HexViewTest, AClickPastTheDataChangesNothing) {
  hextest::WriteTestFile(file, 100);
  ViewRig rig(10);
  rig.view->InitializeViewData(file, 0, 20);
  rig.Click(rig.HexPoint(2, 1));
  ASSERT_EQ(rig.view->CaretAddress(), 18);
  const QPoint caret = rig.view->CaretPosition();
  rig.Click(rig.HexPoint(4, 1));  // byte 20: past the end
  rig.Click(rig.HexPoint(0, 5));
  EXPECT_EQ(rig.view->CaretAddress(), 18);
  EXPECT_EQ(rig.view->CaretPosition(), caret);
  EXPECT_TRUE(rig.view->CaretShown());
}

TEST_F(HexViewTest, AClickOnThePartlyVisibleBottomLineScrollsItToTheTop) {
  hextest::WriteTestFile(file, 8192);
  ViewRig rig(10, hextest::MeasuredCell().cy / 2);
  const QPoint shift = rig.paint->pos();

  rig.view->InitializeViewData(file, 0, 4096);
  rig.Click(rig.HexPoint(3, 10));
  EXPECT_EQ(rig.view->Position(), 10);
  EXPECT_EQ(rig.bar->value(), 10);
  EXPECT_EQ(rig.view->TopAddress(), 160);
  EXPECT_EQ(rig.view->CaretAddress(), 163);
  EXPECT_EQ(rig.view->CaretPosition(), QPoint(rig.g.HexX(3) + shift.x(), shift.y()));
  EXPECT_FALSE(AllWhite(rig.view->Surface(), AddressCell(rig.g, 0)));

  // Near the end of the data only as far as the last line allows.
  rig.view->InitializeViewData(file, 0, 12 * 16);
  rig.Click(rig.CharPoint(5, 10));
  EXPECT_EQ(rig.view->Position(), 2);
  EXPECT_EQ(rig.view->CaretAddress(), 165);
  EXPECT_EQ(rig.view->CaretPosition(), QPoint(rig.g.CharX(5) + shift.x(), 8 * rig.g.cy + shift.y()));
}

struct DragCase {
  const char* name;
  int from;
  int to;
  std::int64_t beg;
  std::int64_t end;
};

class HexViewDrag : public HexViewTest, public testing::WithParamInterface<DragCase> {};

TEST_P(HexViewDrag, MarksTheBlockAndDrawsItsBoxes) {
  const DragCase d = GetParam();
  hextest::WriteTestFile(file, 4096);
  ViewRig rig(10);
  rig.view->InitializeViewData(file, 0, 4096);
  // A drag within one byte still has to move the pointer.
  const QPoint nudge = d.from == d.to ? QPoint(1, 0) : QPoint();
  rig.Drag(rig.HexPoint(d.from % 16, d.from / 16), rig.HexPoint(d.to % 16, d.to / 16) + nudge);
  ASSERT_TRUE(rig.view->HasBlock());
  EXPECT_EQ(rig.view->BlockBegin(), d.beg);
  EXPECT_EQ(rig.view->BlockEnd(), d.end);
  EXPECT_EQ(rig.view->CaretAddress(), d.to);
  EXPECT_FALSE(rig.view->CaretShown());

  // Read the boxes back from the top pixel row of each line: one black run per line
  // in each column, 3 characters per byte, 2 for the line's last byte and the block's.
  const QImage& img = rig.view->Surface();
  const HexGeometry& g = rig.g;
  for (std::int64_t line = d.beg / 16; line <= d.end / 16; ++line) {
    SCOPED_TRACE(line);
    const int y = static_cast<int>(line) * g.cy;
    const int first = static_cast<int>(std::max(d.beg, line * 16) % 16);
    const int last = static_cast<int>(std::min(d.end, line * 16 + 15) % 16);
    EXPECT_EQ(BlackRun(img, g.HexX(first), y), (last - first) * 3 * g.cx + 2 * g.cx);
    EXPECT_EQ(BlackRun(img, g.HexX(first), y + g.cy - 1), (last - first) * 3 * g.cx + 2 * g.cx);
    EXPECT_EQ(BlackRun(img, g.CharX(first), y), (last - first + 1) * g.cx);
    EXPECT_NE(img.pixel(g.HexX(first) - 1, y) & 0xFFFFFF, 0u);
    // Inside the boxes the text is white.
    EXPECT_TRUE(HasColour(img, HexCell(g, first, static_cast<int>(line)), Qt::white));
    EXPECT_FALSE(HasColour(img, HexCell(g, first, static_cast<int>(line)),
                           ColorFromRef(kColorEvenByteText)));
  }
  // The next click removes the block.
  rig.Click(rig.HexPoint(0, 8));
  EXPECT_FALSE(rig.view->HasBlock());
  EXPECT_EQ(BlackRun(img, g.HexX(static_cast<int>(d.beg % 16)), static_cast<int>(d.beg / 16) * g.cy), 0);
  EXPECT_TRUE(rig.view->CaretShown());
}

INSTANTIATE_TEST_SUITE_P(Blocks, HexViewDrag,
                         testing::Values(DragCase{"Backwards", 10, 5, 5, 9},
                                         DragCase{"ToLineEnd", 10, 15, 10, 15},
                                         DragCase{"AcrossLines", 10, 20, 10, 20},
                                         DragCase{"OneByte", 10, 10, 10, 10}),
                         [](const testing::TestParamInfo<DragCase>& p) { return std::string(p.param.name); });

TEST_F(HexViewTest, ADragOnlyRepaintsWhenTheBlockChanges) {
  hextest::WriteTestFile(file, 4096);
  ViewRig rig(10);
  rig.view->InitializeViewData(file, 0, 4096);
  rig.Mouse(QEvent::MouseButtonPress, rig.HexPoint(3, 0));
  rig.Mouse(QEvent::MouseMove, rig.HexPoint(3, 0));  // not moved yet
  EXPECT_FALSE(rig.view->HasBlock());
  rig.Mouse(QEvent::MouseMove, rig.HexPoint(3, 0) + QPoint(1, 0));
  EXPECT_TRUE(rig.view->HasBlock());
  rig.Mouse(QEvent::MouseMove, rig.HexPoint(5, 2));
  EXPECT_EQ(rig.view->BlockEnd(), 37);
  rig.Mouse(QEvent::MouseButtonRelease, rig.HexPoint(5, 2));
  // Moves after the release mark nothing.
  rig.Mouse(QEvent::MouseMove, rig.HexPoint(7, 4));
  EXPECT_EQ(rig.view->BlockEnd(), 37);
  // Scrolling keeps the block and shows no caret.
  rig.Action(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_TRUE(rig.view->HasBlock());
  EXPECT_FALSE(rig.view->CaretShown());
}

// The font's height is its character cell (ascent + descent), which fits the line pitch:
// the tallest and deepest glyphs of a line leave the lines above and below untouched.
TEST_F(HexViewTest, FontCellIsTheGivenHeightAndGlyphsStayInTheirLine) {
  ViewRig rig(4);
  const QFont& font = rig.view->ViewFont();
  EXPECT_EQ(CharacterCell(font).height(), THEXView::kFontHeight);
  EXPECT_LE(CharacterCell(font).height(), rig.g.cy);
  const QFontMetrics fm(font);
  EXPECT_EQ(fm.horizontalAdvance(QLatin1Char('i')), fm.horizontalAdvance(QLatin1Char('W')));

  // Line 1 holds glyphs reaching up and down; lines 0 and 2 are spaces. (Accented
  // capitals are left out: these faces draw their accents a pixel above the ascent.)
  std::vector<std::uint8_t> bytes(48, 0x20);
  const std::string deep = "gjpqy()[]|_{}$@";
  for (std::size_t k = 0; k < deep.size(); ++k) bytes[16 + k] = static_cast<std::uint8_t>(deep[k]);
  hextest::WriteBytes(file, bytes);
  rig.view->InitializeViewData(file, 0, 48);
  const QImage& img = rig.view->Surface();
  const QRect chars(rig.g.CharX(0), 0, 16 * rig.g.cx, rig.g.cy);
  EXPECT_FALSE(AllWhite(img, chars.translated(0, rig.g.cy)));
  EXPECT_TRUE(AllWhite(img, chars)) << "a glyph of line 1 reaches into line 0";
  EXPECT_TRUE(AllWhite(img, chars.translated(0, 2 * rig.g.cy))) << "a glyph of line 1 reaches into line 2";
}

TEST_F(HexViewTest, BytesAreDrawnInTheirParityColoursAndAsLatin1Characters) {
  // Spaces around each test byte keep neighbouring glyphs out of its cell.
  std::vector<std::uint8_t> bytes(64, 0x20);
  bytes[1] = 0x00;
  bytes[3] = 0x41;
  bytes[5] = 0xE9;
  bytes[7] = 0x2E;
  bytes[9] = 0x65;
  hextest::WriteBytes(file, bytes);
  ViewRig rig(4);
  rig.view->InitializeViewData(file, 0, 64);
  const QImage& img = rig.view->Surface();
  const HexGeometry& g = rig.g;

  // Byte k's character as drawn, compared with the expected text drawn alone.
  const QFontMetrics fm(rig.view->ViewFont());
  const int cellW = std::max(fm.horizontalAdvance(QLatin1Char('W')), g.cx) + 1;
  const auto drawnChar = [&](int k) { return img.copy(g.CharX(k), 0, cellW, g.cy); };
  const auto expected = [&](const QString& text, const QColor& colour) {
    QImage ref(cellW, g.cy, img.format());
    ref.fill(Qt::white);
    QPainter p(&ref);
    p.setFont(rig.view->ViewFont());
    p.setPen(colour);
    p.drawText(0, fm.ascent(), text);
    return ref;
  };
  const QColor odd = ColorFromRef(kColorOddByteText);
  EXPECT_EQ(drawnChar(1), expected(QStringLiteral("."), odd));
  EXPECT_EQ(drawnChar(1), drawnChar(7));  // 0x00 looks like 0x2E
  EXPECT_EQ(drawnChar(3), expected(QStringLiteral("A"), odd));
  EXPECT_EQ(drawnChar(5), expected(QString(QChar(0x00E9)), odd));
  EXPECT_NE(drawnChar(5), drawnChar(9));  // é is not e
  EXPECT_FALSE(AllWhite(img, CharCell(g, 5, 0)));

  // Even addresses blue, odd ones dark blue, addresses teal.
  EXPECT_TRUE(HasColour(img, HexCell(g, 0, 0), ColorFromRef(kColorEvenByteText)));
  EXPECT_FALSE(HasColour(img, HexCell(g, 0, 0), odd));
  EXPECT_TRUE(HasColour(img, HexCell(g, 3, 0), odd));
  EXPECT_FALSE(HasColour(img, HexCell(g, 3, 0), ColorFromRef(kColorEvenByteText)));
  EXPECT_TRUE(HasColour(img, AddressCell(g, 1), ColorFromRef(kColorAddressText)));
}

TEST_F(HexViewTest, KeepsShowingTheHeldBytesWhenTheFileIsDeleted) {
  hextest::WriteTestFile(file, 100000);
  ViewRig rig(10);
  rig.view->InitializeViewData(file, 0, 100000);
  ASSERT_EQ(rig.view->DataWindow().reloads(), 1);
  ASSERT_TRUE(DeleteFileAt(file));

  for (int i = 0; i < 100; ++i) rig.Action(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(rig.view->TopAddress(), 1600);
  EXPECT_FALSE(AllWhite(rig.view->Surface(), HexCell(rig.g, 0, 0)));

  // Far from the held bytes: the lines show their addresses and blank cells.
  rig.bar->setSliderPosition(5000);
  EXPECT_EQ(rig.view->TopAddress(), 80000);
  EXPECT_FALSE(AllWhite(rig.view->Surface(), AddressCell(rig.g, 0)));
  EXPECT_TRUE(AllWhite(rig.view->Surface(), HexCell(rig.g, 0, 0)));
  EXPECT_TRUE(AllWhite(rig.view->Surface(), CharCell(rig.g, 0, 0)));
  EXPECT_EQ(rig.view->DataWindow().reloads(), 1);
  rig.Click(rig.HexPoint(2, 2));
  EXPECT_EQ(rig.view->CaretAddress(), 80034);
}

TEST_F(HexViewTest, AReadFailureDuringAPaintKeepsTheViewAlive) {
  hextest::WriteTestFile(file, 100000);
  ViewRig rig(10);

  // The first paint's read fails: addresses, no bytes.
  FileFaults::ArmRead(1);
  rig.view->InitializeViewData(file, 0, 100000);
  FileFaults::Disarm();
  EXPECT_EQ(rig.view->ChunkLength(), 100000);
  EXPECT_FALSE(AllWhite(rig.view->Surface(), AddressCell(rig.g, 0)));
  EXPECT_TRUE(AllWhite(rig.view->Surface(), HexCell(rig.g, 0, 0)));
  // The next paint reads again.
  rig.Action(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_FALSE(AllWhite(rig.view->Surface(), HexCell(rig.g, 0, 0)));
  EXPECT_EQ(rig.view->DataWindow().desc().CurrentDataPosition, 0);

  // The file shrinks under the view: reads come short, the held bytes stay.
  hextest::TruncateFile(file, 20000);
  rig.bar->setSliderPosition(3000);
  EXPECT_EQ(rig.view->TopAddress(), 48000);
  EXPECT_FALSE(rig.view->DataWindow().lastError().empty());
  EXPECT_EQ(rig.view->DataWindow().desc().CurrentDataPosition, 0);
  EXPECT_TRUE(AllWhite(rig.view->Surface(), HexCell(rig.g, 0, 0)));
  EXPECT_FALSE(AllWhite(rig.view->Surface(), AddressCell(rig.g, 0)));
  // Back where the bytes are held, they are painted again.
  rig.Action(QAbstractSlider::SliderToMinimum);
  EXPECT_FALSE(AllWhite(rig.view->Surface(), HexCell(rig.g, 0, 0)));
  rig.Click(rig.HexPoint(1, 1));
  EXPECT_EQ(rig.view->CaretAddress(), 17);
}

TEST_F(HexViewTest, OnlyOneViewShowsTheCaret) {
  hextest::WriteTestFile(file, 4096);
  ViewRig upper(8);
  ViewRig lower(4);
  upper.view->InitializeViewData(file, 0, 4096);
  lower.view->InitializeViewData(file, 100, 1000);
  EXPECT_EQ(THEXView::CaretOwner(), nullptr);

  upper.Click(upper.HexPoint(1, 1));
  EXPECT_EQ(THEXView::CaretOwner(), upper.view.get());
  EXPECT_FALSE(upper.view->CaretWidget()->isHidden());
  lower.Click(lower.HexPoint(2, 2));
  EXPECT_EQ(THEXView::CaretOwner(), lower.view.get());
  EXPECT_FALSE(upper.view->CaretShown());
  EXPECT_TRUE(upper.view->CaretWidget()->isHidden());

  // Scrolling shows the caret in the scrolled view.
  upper.Action(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(THEXView::CaretOwner(), upper.view.get());
  EXPECT_TRUE(lower.view->CaretWidget()->isHidden());
  EXPECT_FALSE(upper.view->CaretWidget()->isHidden());
  // Its byte (17) is now on the top line.
  EXPECT_EQ(upper.view->CaretPosition().y(), upper.paint->y());

  // A new chunk hides the caret; the other view is left alone.
  lower.Click(lower.HexPoint(0, 0));
  upper.view->InitializeViewData(file, 0, 100);
  EXPECT_EQ(THEXView::CaretOwner(), lower.view.get());
  lower.view->InitializeViewData(file, 0, 100);
  EXPECT_EQ(THEXView::CaretOwner(), nullptr);

  // A view that goes away gives the caret up.
  {
    ViewRig third(3);
    third.view->InitializeViewData(file, 0, 100);
    third.Click(third.HexPoint(0, 0));
    EXPECT_EQ(THEXView::CaretOwner(), third.view.get());
  }
  EXPECT_EQ(THEXView::CaretOwner(), nullptr);
}

TEST_F(HexViewTest, ScrollBarNotificationsAndTheWheel) {
  hextest::WriteTestFile(file, 4096);
  ViewRig rig(10);
  rig.view->InitializeViewData(file, 0, 4096);  // 256 lines, top line at most 246

  rig.Action(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(rig.view->TopAddress(), 16);
  rig.Action(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(rig.view->Position(), 11);
  EXPECT_EQ(rig.view->TopAddress(), 176);
  rig.Action(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(rig.view->Position(), 246);
  rig.Action(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(rig.view->Position(), 246);
  rig.Action(QAbstractSlider::SliderToMinimum);
  EXPECT_EQ(rig.view->TopAddress(), 0);

  // While the bar carries the busy marker its notifications are ignored.
  rig.bar->setProperty(kScrollTagProperty, kScrollBusyTag);
  rig.Action(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(rig.view->TopAddress(), 0);
  rig.bar->setProperty("Tag", 0);
  rig.bar->setValue(0);

  // Releasing the thumb puts it back on the line shown.
  rig.bar->setTracking(false);
  rig.bar->setSliderDown(true);
  rig.bar->setSliderPosition(100);
  rig.bar->setSliderDown(false);
  EXPECT_EQ(rig.bar->value(), 0);
  EXPECT_EQ(rig.view->TopAddress(), 0);
  rig.bar->setTracking(true);

  // The wheel: six lines a notch, never past either end.
  rig.Wheel(-120);
  EXPECT_EQ(rig.view->Position(), 6);
  EXPECT_EQ(rig.bar->value(), 6);
  rig.Wheel(-240);
  EXPECT_EQ(rig.view->TopAddress(), 18 * 16);
  rig.Wheel(120);
  EXPECT_EQ(rig.view->Position(), 12);
  rig.Wheel(60);  // half a notch waits for the other half
  EXPECT_EQ(rig.view->Position(), 12);
  rig.Wheel(60);
  EXPECT_EQ(rig.view->Position(), 6);
  rig.Action(QAbstractSlider::SliderSingleStepSub);  // at 5 one notch goes to 0
  rig.Wheel(120);
  EXPECT_EQ(rig.view->Position(), 0);
  rig.bar->setValue(243);
  rig.Action(QAbstractSlider::SliderSingleStepAdd);  // 244
  rig.Wheel(-120);
  EXPECT_EQ(rig.view->Position(), 246);
  EXPECT_TRUE(rig.view->CaretShown());

  // With everything on screen the wheel moves nothing.
  rig.view->InitializeViewData(file, 0, 100);
  rig.Wheel(-120);
  EXPECT_EQ(rig.view->TopAddress(), 0);
}

TEST_F(HexViewTest, ResizingRecountsTheLinesAndKeepsTheLastLineReachable) {
  hextest::WriteTestFile(file, 4096);
  ViewRig rig(10);
  rig.view->InitializeViewData(file, 0, 4096);
  rig.Action(QAbstractSlider::SliderToMaximum);
  ASSERT_EQ(rig.view->Position(), 246);
  rig.paint->resize(rig.paint->width(), 40 * rig.g.cy);
  QResizeEvent e(rig.paint->size(), QSize());
  QApplication::sendEvent(rig.paint, &e);
  EXPECT_EQ(rig.view->ScreenLines(), 40);
  EXPECT_EQ(rig.view->Surface().size(), rig.paint->size());
  EXPECT_EQ(rig.view->Position(), 216);
  EXPECT_EQ(rig.view->TopAddress(), 216 * 16);
  EXPECT_EQ(rig.bar->pageStep(), 40);
}

// Scrolling a quarter-GiB chunk: a read happens exactly when the lines to be painted
// leave the window, and as often as the paging rule says.
TEST_F(HexViewTest, ScrollingAQuarterGiBChunkReadsOnlyWhenTheWindowMustMove) {
  constexpr std::int64_t kChunk = 256ll << 20;
  constexpr std::int64_t kStart = 512;
  hextest::WriteSparseFile(file, kStart + kChunk,
                           {{kStart + (kChunk / 2), 0x11}, {kStart + kChunk - 1, 0x22}});
  ViewRig rig(8, hextest::MeasuredCell().cy / 2);
  rig.view->InitializeViewData(file, kStart, kChunk);
  const HexDataWindow& w = rig.view->DataWindow();
  hextest::PagingModel model{kChunk, kChunk};
  model.Show(0, 9 * 16);
  const std::int64_t need = (rig.view->ScreenLines() + 1) * 16;

  long mismatches = 0;
  const auto step = [&](QAbstractSlider::SliderAction action) {
    const int before = rig.view->Position();
    int next = before;
    switch (action) {
      case QAbstractSlider::SliderSingleStepAdd: next = before + 1; break;
      case QAbstractSlider::SliderSingleStepSub: next = before - 1; break;
      case QAbstractSlider::SliderPageStepAdd: next = before + 8; break;
      case QAbstractSlider::SliderPageStepSub: next = before - 8; break;
      default: break;
    }
    next = std::clamp(next, 0, rig.view->MaxPosition());
    const bool mustMove = !w.contains(std::int64_t{next} * 16, need);
    const long reads = w.reloads();
    rig.Action(action);
    model.Show(std::int64_t{next} * 16, need);
    if (rig.view->Position() != next || (w.reloads() - reads == 1) != mustMove ||
        w.reloads() - reads > 1 || w.desc().CurrentDataPosition != model.start) {
      if (++mismatches < 5) ADD_FAILURE() << "at line " << next;
    }
  };
  // Line by line down through the first 24 KiB and up again from the end; page by page
  // through 128 KiB in the middle and back.
  for (int i = 0; i < 1536; ++i) step(QAbstractSlider::SliderSingleStepAdd);
  rig.Action(QAbstractSlider::SliderToMaximum);
  model.Show(std::int64_t{rig.view->Position()} * 16, need);
  std::uint8_t b = 0;
  ASSERT_TRUE(w.byteAt(kChunk - 1, b));
  EXPECT_EQ(b, 0x22);
  for (int i = 0; i < 1536; ++i) step(QAbstractSlider::SliderSingleStepSub);
  rig.bar->setSliderPosition(static_cast<int>(kChunk / 2 / 16 - 8192));
  model.Show(std::int64_t{rig.view->Position()} * 16, need);
  for (int i = 0; i < 1024; ++i) step(QAbstractSlider::SliderPageStepAdd);
  for (int i = 0; i < 1024; ++i) step(QAbstractSlider::SliderPageStepSub);
  rig.bar->setSliderPosition(static_cast<int>(kChunk / 2 / 16));
  model.Show(kChunk / 2, need);
  ASSERT_TRUE(w.byteAt(kChunk / 2, b));
  EXPECT_EQ(b, 0x11);
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(w.reloads(), model.moves);
  // A move brings at most 16 KiB of new lines and comes at the latest 8 KiB (less the
  // lines on screen) after the previous one.
  constexpr std::int64_t kTravelled = 2 * (24 << 10) + 2 * (128 << 10);
  EXPECT_GE(w.reloads(), kTravelled / 16384);
  EXPECT_LE(w.reloads(), kTravelled / (8192 - need) + 8);
}

}  // namespace
}  // namespace orvella
