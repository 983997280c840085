// Geometry and drawing of the partition list, without pixels: plain functions and a
// surface that records what the list draws, measured with a fixed fake font.

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <limits>
#include <string>

#include "tests/ui/listview/ListFixtures.h"
#include "ui/ListDrawing.h"
#include "ui/ListGeometry.h"

namespace orvella {
namespace {

using test::TestModel;

// ---- plain geometry, checked at compile time where it can be -------------------------

static_assert(RowBandOf(0, 16).TextLine == 3 && RowBandOf(0, 16).Top == 1 &&
              RowBandOf(0, 16).Bottom == 16);
static_assert(RowBandOf(4, 18).TextLine == 75 && RowBandOf(4, 18).Top == 73 &&
              RowBandOf(4, 18).Bottom == 90);
static_assert(WholeLines(100, 16) == 6 && WholeLines(96, 16) == 6 && WholeLines(95, 16) == 5);
static_assert(WholeLines(100, 0) == 0 && WholeLines(-3, 16) == 0);

static_assert(RowAtPoint(0, 16, 0, 10) == 0 && RowAtPoint(15, 16, 0, 10) == 0);
static_assert(RowAtPoint(16, 16, 0, 10) == 1 && RowAtPoint(40, 16, 5, 10) == 7);
static_assert(RowAtPoint(40, 16, 8, 10) == -1);  // past the last row
static_assert(RowAtPoint(5, 16, 0, 0) == -1);    // no rows at all
static_assert(RowAtPoint(-1, 16, 3, 10) == -1);

static_assert(RowsToDraw(true, 5, 20) == 5 && RowsToDraw(false, 5, 4) == 4);
static_assert(RowsToDraw(true, 5, 3) == 0);  // model emptied before the next Refresh

// Exactly as many rows as fit: no scrolling. One more: range Count, page S + 1.
static_assert(!ScrollSetupFor(6, 6).Active && !ScrollSetupFor(0, 0).Active);
static_assert(ScrollSetupFor(7, 6).Active && ScrollSetupFor(7, 6).Maximum == 7 &&
              ScrollSetupFor(7, 6).PageSize == 7 && ScrollSetupFor(7, 6).LargeChange == 6 &&
              ScrollSetupFor(7, 6).SmallChange == 1);
static_assert(LargestPosition(7, 6) == 1 && LargestPosition(3, 6) == 0);
static_assert(ClampPosition(19, 20, 5) == 15 && ClampPosition(-4, 20, 5) == 0 &&
              ClampPosition(7, 20, 5) == 7 && ClampPosition(3, 0, 5) == 0);

static_assert(ExtraWidthsFor(12)[3] == kDigitGap && ExtraWidthsFor(12)[7] == kDigitGap);
static_assert(FieldDigits("0123456789ABCDEFfedcba9876543210", 0, 12) == "456789ABCDEF");
static_assert(FieldDigits("0123456789ABCDEFfedcba9876543210", 1, 4) == "3210");
static_assert(FieldDigits("0123456789ABCDEF012", 1, 4) == "012");  // short field: whole
static_assert(FieldDigits("0123", 2, 4).empty());
static_assert(HexPiecesFor(9).size() == 8 && HexPiecesFor(10).size() == 4 &&
              HexPiecesFor(8).size() == 1 && HexPiecesFor(0x109).empty() &&
              HexPiecesFor(1).empty());

std::vector<int> GapPositions(const TExtraWidths& gaps) {
  std::vector<int> out;
  for (std::size_t i = 0; i < gaps.size(); ++i)
    if (gaps[i] != 0) out.push_back(static_cast<int>(i));
  return out;
}

TEST(ListGeometry, DigitGapsFallAfterEveryFourthDigitFromTheRight) {
  struct Case {
    int digits;
    std::vector<int> gapsAfter;
  };
  const Case cases[] = {
      {12, {3, 7}}, {4, {}}, {16, {3, 7, 11}}, {6, {1}}, {5, {0}}, {3, {}}, {0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.digits);
    EXPECT_EQ(GapPositions(ExtraWidthsFor(c.digits)), c.gapsAfter);
    for (int g : GapPositions(ExtraWidthsFor(c.digits))) EXPECT_EQ(ExtraWidthsFor(c.digits)[g], 2);
  }
}

TEST(ListGeometry, ProgressFillIsExactIn64BitsAndStaysInTheRow) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  struct Case {
    int width;
    std::int64_t progress, maxValue;
    int expected;
  };
  const Case cases[] = {
      {640, 100, 100, 640},          // full
      {640, 200, 100, 640},          // beyond the maximum: full
      {640, -1, 0, 0},               // maximum 0, smaller progress: empty
      {640, 0, 0, 640},              // progress reaches maximum 0: full
      {640, 3ll << 40, 1ll << 42, 480},
      {641, 1, 3, 213},              // rounds down
      {640, kMax / 2, kMax, 319},    // width * progress does not fit in 64 bits
      {640, kMax - 1, kMax, 639},
      {640, -50, 100, 0},            // negative progress never draws leftwards
      {0, 5, 10, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " " << c.progress << "/" << c.maxValue);
    EXPECT_EQ(ProgressFillWidth(c.width, c.progress, c.maxValue), c.expected);
  }
}

// The exact scaling against a 128-bit product where the compiler has one: widths and
// values spread over the whole range, so every bit of the long division is exercised.
TEST(ListGeometry, ScaledDownIsTheExactQuotient) {
  static_assert(ScaledDown(0, 5, 7) == 0 && ScaledDown(7, 5, 7) == 5 && ScaledDown(3, 1, 2) == 1);
  static_assert(ScaledDown(INT_MAX, (std::int64_t{1} << 62), (std::int64_t{1} << 62) + 1) ==
                INT_MAX - 1);
#ifdef __SIZEOF_INT128__
  __extension__ using Wide = unsigned __int128;
  std::uint64_t x = 88172645463325252ull;
  const auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::int64_t d = static_cast<std::int64_t>(next() >> (1 + i % 62)) + 1;
    const std::int64_t b = static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(d));
    const std::int64_t a = static_cast<std::int64_t>(next() >> (1 + i % 63));
    const auto want = static_cast<std::int64_t>(static_cast<Wide>(a) * static_cast<Wide>(b) /
                                                static_cast<Wide>(d));
    if (static_cast<Wide>(a) * static_cast<Wide>(b) / static_cast<Wide>(d) >
        static_cast<Wide>(INT64_MAX))
      continue;  // the quotient itself does not fit
    ASSERT_EQ(ScaledDown(a, b, d), want) << a << " * " << b << " / " << d;
  }
#endif
}

// Where each navigation key leaves the cursor and the scroll position: 20 rows, 5 whole
// lines on screen.
struct KeyCase {
  const char* name;
  std::uintptr_t key;
  int cursor, top;
  TListKeyMove want;
};

class ListKeys : public testing::TestWithParam<KeyCase> {};

TEST_P(ListKeys, MoveTheCursorAndScroll) {
  const KeyCase& c = GetParam();
  const TListKeyMove m = ListKeyMove(c.key, c.cursor, c.top, 5, 20);
  EXPECT_EQ(m.SetsCursor, c.want.SetsCursor);
  EXPECT_EQ(m.Cursor, c.want.Cursor);
  EXPECT_EQ(m.Rewind, c.want.Rewind);
  EXPECT_EQ(m.Activates, c.want.Activates);
}

constexpr TListKeyMove Set(int cursor, int rewind = kNoRewind) { return {true, cursor, rewind, false}; }
constexpr TListKeyMove Scroll(int rewind) { return {false, -1, rewind, false}; }

INSTANTIATE_TEST_SUITE_P(
    Keys, ListKeys,
    testing::Values(
        KeyCase{"DownInsideTheScreen", vkDown, 2, 0, Set(3)},
        KeyCase{"DownOffTheBottomScrolls", vkDown, 4, 0, Set(5, -1)},
        KeyCase{"DownOnTheLastRowStays", vkDown, 19, 15, {}},
        KeyCase{"DownWithoutCursorTakesRowZero", vkDown, -1, 0, Set(0)},
        KeyCase{"DownWithTheCursorAboveTheScreen", vkDown, 1, 10, Set(2, 0)},
        KeyCase{"UpOffTheTopScrolls", vkUp, 10, 10, Set(9, 0)},
        KeyCase{"UpOnRowZeroScrollsItIntoView", vkUp, 0, 3, Scroll(0)},
        KeyCase{"UpWithoutCursorStaysWithout", vkUp, -1, 0, Set(-1, 0)},
        KeyCase{"PageUpFromTheMiddleToTheTop", vkPrior, 12, 10, Set(10)},
        KeyCase{"PageUpFromTheTopAPageBack", vkPrior, 10, 10, Set(5, 0)},
        KeyCase{"PageUpNeverBeforeRowZero", vkPrior, 2, 2, Set(0, 0)},
        KeyCase{"PageUpOffScreenOnlyScrolls", vkPrior, 17, 0, Scroll(0)},
        KeyCase{"PageDownToTheBottom", vkNext, 11, 10, Set(14)},
        KeyCase{"PageDownFromTheBottomAPageOn", vkNext, 14, 10, Set(19, -1)},
        KeyCase{"PageDownNeverPastTheLastRow", vkNext, 17, 15, Set(19)},
        KeyCase{"PageDownOffScreenOnlyScrolls", vkNext, 2, 10, Scroll(-1)},
        KeyCase{"HomeGoesToRowZero", vkHome, 12, 10, Set(0, 0)},
        KeyCase{"EndGoesToTheLastRow", vkEnd, 3, 0, Set(19, -1)},
        KeyCase{"ReturnActivates", vkReturn, 3, 0, {false, -1, kNoRewind, true}},
        KeyCase{"EscapeDoesNothing", vkEscape, 3, 0, {}}),
    [](const testing::TestParamInfo<KeyCase>& p) { return p.param.name; });

TEST(ListKeys, AnEmptyListHasNoCursorToMove) {
  EXPECT_EQ(ListKeyMove(vkDown, -1, 0, 5, 0).SetsCursor, false);
  EXPECT_EQ(ListKeyMove(vkHome, -1, 0, 5, 0).Cursor, -1);
  EXPECT_EQ(ListKeyMove(vkEnd, -1, 0, 5, 0).Cursor, -1);
}

// ---- a surface that records, with a fake font: '.' is 4 px, every other char 10 px ----

struct Fill {
  int l, t, r, b;
  TColorRef c;
};
struct Print {
  int x, top;
  std::string text;
  TColorRef c;
};

class RecordingSurface : public TListSurface {
 public:
  std::vector<Fill> Fills;
  std::vector<Print> Prints;

  static int CharWidth(char c) { return c == '.' ? 4 : 10; }

  void FillRect(int l, int t, int r, int b, TColorRef c) override { Fills.push_back({l, t, r, b, c}); }
  void Text(int x, int top, const std::string& text, TColorRef c) override {
    Prints.push_back({x, top, text, c});
  }
  int TextWidth(const std::string& text) const override {
    int w = 0;
    for (char c : text) w += CharWidth(c);
    return w;
  }
  int FitCount(const std::string& text, int width) const override {
    int w = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      w += CharWidth(text[i]);
      if (w > width) return static_cast<int>(i);
    }
    return static_cast<int>(text.size());
  }

  std::vector<Print> PrintsAt(int top) const {
    std::vector<Print> out;
    for (const auto& p : Prints)
      if (p.top == top) out.push_back(p);
    return out;
  }
  std::string Joined(int top, int fromX, int toX) const {
    std::string s;
    for (const auto& p : Prints)
      if (p.top == top && p.x >= fromX && p.x < toX) s += p.text;
    return s;
  }
};

const TExtraWidths kGaps12 = ExtraWidthsFor(12);

std::vector<int> Xs(const std::vector<TPlacedText>& placed) {
  std::vector<int> xs;
  for (const auto& p : placed) xs.push_back(p.X);
  return xs;
}

std::string Text(const std::vector<TPlacedText>& placed) {
  std::string s;
  for (const auto& p : placed) s += p.Text;
  return s;
}

TEST(HexCellLayout, TwelveDigitFieldReadsAsThreeGroupsOfFour) {
  RecordingSurface m;
  const auto placed = LayoutHexCell(8, test::Field16(0x123456789ABCull), 100, 1000, kGaps12, m);
  EXPECT_EQ(Text(placed), "0x123456789ABC");
  // "0x" at 100 (20 px), digits 10 px each, 2 px after the 4th and 8th digit.
  const std::vector<int> expected = {100, 120, 130, 140, 150, 162, 172, 182, 192,
                                     204, 214, 224, 234};
  EXPECT_EQ(Xs(placed), expected);
}

TEST(HexCellLayout, FourDigitFieldHasItsGapAfterTheLastDigit) {
  RecordingSurface m;
  const std::string cell = test::Field16(0x40000) + test::Field16(0x1F);
  const auto placed = LayoutHexCell(10, cell, 0, 1000, kGaps12, m);
  EXPECT_EQ(Text(placed), "0x000000040000 (0x001F)");
  // 12-digit field ends at 20 + 120 + 4 = 144; " (" 20 px; "0x" 20 px; 4 digits and a gap.
  ASSERT_EQ(placed.size(), 1u + 12 + 2 + 1 + 4 + 1);
  EXPECT_EQ(placed[13].X, 144);                      // ' '
  EXPECT_EQ(placed[15].X, 164);                      // "0x"
  EXPECT_EQ(Xs(placed).at(16), 184);                 // first small digit
  EXPECT_EQ(placed.back().Text, ")");
  EXPECT_EQ(placed.back().X, 184 + 40 + 2);          // gap after the 4th digit
}

TEST(HexCellLayout, RangeCellIsCutWithEllipsisAtTheFirstPieceThatDoesNotFit) {
  RecordingSurface m;
  const std::string cell = test::Field16(0x80000) + test::Field16(0x1FFFFF) + test::Field16(2) +
                           test::Field16(7);
  // Used widths: "0x" 20, 12 digits 124, ".." 8 -> 152 after the first literal.
  // Budget = section - (12 + 16): with section 180 the budget is exactly 152.
  struct Case {
    int section;
    std::string shown;
    int ellipsisX;  // -1: no cut
  };
  const Case cases[] = {
      {180, "0x000000080000.....", 10 + 152},  // ".." fits exactly, next "0x" does not
      {179, "0x000000080000....", 10 + 148},   // second '.' is one pixel over
      {48, "0x...", 10 + 20},                  // first digit already over
      {47, "...", 10},                         // not even "0x"
      {1000, "0x000000080000..0x0000001FFFFF (0x0002..0x0007)", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.section);
    const auto placed = LayoutHexCell(9, cell, 10, c.section, kGaps12, m);
    EXPECT_EQ(Text(placed), c.shown);
    if (c.ellipsisX >= 0) {
      ASSERT_FALSE(placed.empty());
      EXPECT_EQ(placed.back().Text, "...");
      EXPECT_EQ(placed.back().X, c.ellipsisX);
    } else {
      EXPECT_NE(placed.back().Text, "...");
    }
  }
}

TEST(HexCellLayout, ShortOrMissingFieldsDrawWhatIsThere) {
  RecordingSurface m;
  EXPECT_EQ(Text(LayoutHexCell(10, "00000000000000FF", 0, 1000, kGaps12, m)), "0x0000000000FF (0x)");
  EXPECT_EQ(Text(LayoutHexCell(8, "", 0, 1000, kGaps12, m)), "0x");
  EXPECT_TRUE(LayoutHexCell(1, "0000", 0, 1000, kGaps12, m).empty());
}

TEST(PlainText, FitsExactlyOrEndsInEllipsis) {
  RecordingSurface m;
  const std::string text = "ABCDEFGH";  // 80 px in the fake font
  struct Case {
    int available;
    std::string shown;
  };
  const Case cases[] = {
      {80, "ABCDEFGH"}, {200, "ABCDEFGH"}, {79, "ABCD..."}, {70, "ABCD..."},
      {69, "ABC..."},   {25, "..."},       {0, "..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.available);
    EXPECT_EQ(FitPlainText(text, m.FitCount(text, c.available)), c.shown);
  }
  EXPECT_EQ(FitPlainText("", 0), "");
  // Characters, not bytes: a cut never splits one.
  EXPECT_EQ(FitPlainText("Gr\xC3\xB6\xC3\x9F" "e", 5), "Gr\xC3\xB6\xC3\x9F" "e");
  EXPECT_EQ(FitPlainText("Gr\xC3\xB6\xC3\x9F" "e", 4), "G...");
  EXPECT_EQ(FitPlainText("\xC3\xA9t\xC3\xA9\xC3\xA9t\xC3\xA9", 5), "\xC3\xA9t...");
}

// ---- whole-list drawing ----------------------------------------------------------------

TListFrame Frame(const TCoolItemsList* model, int lines, bool barEnabled) {
  TListFrame f;
  f.Width = 400;
  f.RowPitch = 16;
  f.Height = lines * 16 + 7;
  f.WholeLines = lines;
  f.BarEnabled = barEnabled;
  f.SectionWidths = {40, 80, 150, 100};
  f.Model = model;
  f.Gaps = kGaps12;
  return f;
}

bool HasFill(const RecordingSurface& s, Fill want) {
  for (const auto& f : s.Fills)
    if (f.l == want.l && f.t == want.t && f.r == want.r && f.b == want.b && f.c == want.c)
      return true;
  return false;
}

TEST(DrawList, WithoutModelOnlyBackgroundAndGrid) {
  RecordingSurface s;
  DrawList(s, Frame(nullptr, 5, false));
  EXPECT_TRUE(s.Prints.empty());
  ASSERT_FALSE(s.Fills.empty());
  EXPECT_TRUE(HasFill(s, {0, 0, 400, 87, kColorBackground}));
  for (int x : {40, 120, 270, 370}) EXPECT_TRUE(HasFill(s, {x, 0, x + 1, 87, kColorBacklines}));
  for (int y : {16, 32, 48, 64, 80}) EXPECT_TRUE(HasFill(s, {0, y, 400, y + 1, kColorBacklines}));
  EXPECT_EQ(s.Fills.size(), 1u + 4 + 5);
}

TEST(DrawList, DrawsWholeLinesWhileScrollingAndNeverPastTheLastRow) {
  TestModel model(20);
  for (int top : {0, 7, 15, 18}) {
    SCOPED_TRACE(top);
    RecordingSurface s;
    auto f = Frame(&model.List, 5, true);
    f.TopRow = top;
    DrawList(s, f);
    const int expectedRows = std::min(5, 20 - top);
    for (int k = 0; k < 5; ++k) {
      const auto prints = s.PrintsAt(RowBandOf(k, 16).TextLine);
      if (k < expectedRows) {
        ASSERT_FALSE(prints.empty());
        EXPECT_EQ(prints[0].text, std::to_string(top + k + 1));  // decimal Position
        EXPECT_EQ(prints[0].x, 4);
        EXPECT_EQ(prints[1].text, "PART" + std::to_string(top + k));
        EXPECT_EQ(prints[1].x, 44);
      } else {
        EXPECT_TRUE(prints.empty());
      }
    }
  }
}

TEST(DrawList, RowBackgroundsFollowProgressThenCursorThenNormal) {
  TestModel model(4);
  model.List.Items[1].IsProgress = true;
  model.List.Items[1].Progress = 1;
  model.List.Items[1].MaxValue = 4;
  model.List.Items[2].IsProgress = true;  // also the cursor: progress wins
  model.List.Items[2].Progress = 3;
  model.List.Items[2].MaxValue = 4;

  for (bool focused : {true, false}) {
    SCOPED_TRACE(focused);
    RecordingSurface s;
    auto f = Frame(&model.List, 6, false);
    f.Cursor = 2;
    f.Focused = focused;
    DrawList(s, f);
    const auto b0 = RowBandOf(0, 16), b1 = RowBandOf(1, 16), b2 = RowBandOf(2, 16),
               b3 = RowBandOf(3, 16);
    EXPECT_TRUE(HasFill(s, {0, b0.Top, 400, b0.Bottom, kColorBackground}));
    EXPECT_TRUE(HasFill(s, {40, b0.Top, 41, b0.Bottom, kColorBacklines}));  // grid again
    EXPECT_TRUE(HasFill(s, {0, b1.Top, 100, b1.Bottom, 0xC8C8C8}));
    EXPECT_TRUE(HasFill(s, {100, b1.Top, 400, b1.Bottom, 0xF8F8F8}));
    EXPECT_FALSE(HasFill(s, {40, b1.Top, 41, b1.Bottom, kColorBacklines}));
    EXPECT_TRUE(HasFill(s, {0, b2.Top, 300, b2.Bottom, 0x404040}));
    EXPECT_TRUE(HasFill(s, {300, b2.Top, 400, b2.Bottom, 0x808080}));
    EXPECT_FALSE(HasFill(s, {0, b2.Top, 400, b2.Bottom, kColorFocusedCursor}));

    f.Cursor = 3;
    RecordingSurface c;
    DrawList(c, f);
    EXPECT_TRUE(HasFill(c, {0, b3.Top, 400, b3.Bottom,
                            focused ? kColorFocusedCursor : kColorUnfocusedCursor}));
    EXPECT_FALSE(HasFill(c, {40, b3.Top, 41, b3.Bottom, kColorBacklines}));
  }
}

TEST(DrawList, CellTextColourByCursorAndMark) {
  TestModel model(4);
  model.List.Items[1].Selected = true;
  model.List.Items[3].Selected = true;
  RecordingSurface s;
  auto f = Frame(&model.List, 6, false);
  f.Cursor = 2;
  DrawList(s, f);
  struct Want {
    int row;
    TColorRef color;
  };
  const Want wants[] = {{0, test::kTestColors.ColorNormalNormal},
                        {1, test::kTestColors.ColorNormalSelected},
                        {2, test::kTestColors.ColorCursorNormal},
                        {3, test::kTestColors.ColorNormalSelected}};
  for (const auto& w : wants) {
    SCOPED_TRACE(w.row);
    const auto prints = s.PrintsAt(RowBandOf(w.row, 16).TextLine);
    ASSERT_FALSE(prints.empty());
    for (const auto& p : prints) EXPECT_EQ(p.c, w.color);
  }
  f.Cursor = 3;
  RecordingSurface t;
  DrawList(t, f);
  for (const auto& p : t.PrintsAt(RowBandOf(3, 16).TextLine))
    EXPECT_EQ(p.c, test::kTestColors.ColorCursorSelected);
}

TEST(DrawList, TextMarginLiftsTextAndCellsFollowTheSections) {
  TestModel model(1);
  RecordingSurface s;
  auto f = Frame(&model.List, 3, false);
  f.TextMargin = 2;
  DrawList(s, f);
  const auto prints = s.PrintsAt(RowBandOf(0, 16).TextLine - 2);
  // Number, name, then the range and size cells cut by their budgets (150 - 28, 100 - 28).
  ASSERT_EQ(prints.size(), 2u + (1 + 9 + 1) + (1 + 5 + 1));
  EXPECT_EQ(s.Joined(1, 124, 274), "0x000000000...");
  EXPECT_EQ(s.Joined(1, 274, 400), "0x00000...");
}

TEST(DrawList, ShortRowsAndOverstatedCountNeverReadPastTheArrays) {
  TestModel model(3);
  model.List.Items[1].Values.resize(2);  // fewer cells than sections
  model.List.Types.resize(3);            // fewer types than sections
  model.List.Count = 10;                 // more than the rows held
  RecordingSurface s;
  DrawList(s, Frame(&model.List, 6, false));
  EXPECT_EQ(s.PrintsAt(RowBandOf(1, 16).TextLine).size(), 2u);
  EXPECT_FALSE(s.PrintsAt(RowBandOf(2, 16).TextLine).empty());
  EXPECT_TRUE(s.PrintsAt(RowBandOf(3, 16).TextLine).empty());
  EXPECT_EQ(UsableRows(&model.List), 3);
  model.List.Count = -4;
  EXPECT_EQ(UsableRows(&model.List), 0);
}

TEST(DrawList, TypeCodeWithHighBitsIsPlainTextAndUnknownCodesAreEmpty) {
  TestModel model(1, {0x100 | ctDecimal, 0x100 | ctText, 0x100 | ctAddressRange, 11});
  RecordingSurface s;
  auto f = Frame(&model.List, 3, false);
  f.SectionWidths = {40, 80, 1000, 100};
  DrawList(s, f);
  const auto prints = s.PrintsAt(RowBandOf(0, 16).TextLine);
  ASSERT_EQ(prints.size(), 3u);
  EXPECT_EQ(prints[0].text, "1");
  EXPECT_EQ(prints[2].text, model.Rows[0].Range);  // one plain string
}

}  // namespace
}  // namespace orvella
