// The list control driving real controls under the offscreen platform: scroll bar set-up,
// clicks, keys, wheel and focus, checked through its events and the pixels it paints.
// Pixel positions come from the measured fonts, never from fixed widths.

#include <gtest/gtest.h>

#include <QCursor>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <memory>
#include <tuple>

#include "tests/ui/listview/ListFixtures.h"
#include "tests/ui/listview/ListHost.h"
#include "ui/CellFont.h"
#include "ui/Colors.h"
#include "ui/ListDrawing.h"
#include "ui/ListSurface.h"

namespace orvella {
namespace {

using test::ListHost;
using test::Settle;
using test::TestModel;

const test::Sections kSections = {{"Position", 60}, {"Name", 100}, {"Range", 300}, {"Size", 160}};

struct Events {
  std::vector<std::tuple<int, int, int, int>> Selections;
  std::vector<QObject*> Doubles;
  std::vector<char> Order;  // 's' selection, 'd' double-click

  void Hook(TCoolListView& v) {
    v.OnSelectionChange = [this](int i, int b, int x, int y) {
      Selections.emplace_back(i, b, x, y);
      Order.push_back('s');
    };
    v.OnDoubleClick = [this](QObject* sender) {
      Doubles.push_back(sender);
      Order.push_back('d');
    };
  }
  void Clear() {
    Selections.clear();
    Doubles.clear();
    Order.clear();
  }
};

std::tuple<int, int, int, int> Selection(int index, int button) {
  const QPoint p = QCursor::pos();
  return {index, button, p.x(), p.y()};
}

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
  QMouseEvent e(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), button,
                type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button),
                Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

void Click(QWidget* w, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
  SendMouse(w, QEvent::MouseButtonPress, pos, button);
  SendMouse(w, QEvent::MouseButtonRelease, pos, button);
}

// A double-click as the platform delivers it: press, release, double-click, release.
void DoubleClick(QWidget* w, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
  Click(w, pos, button);
  SendMouse(w, QEvent::MouseButtonDblClick, pos, button);
  SendMouse(w, QEvent::MouseButtonRelease, pos, button);
}

bool Wheel(QWidget* w, QPoint angle) {
  const QPointF at(5, 5);
  QWheelEvent e(at, w->mapToGlobal(at), QPoint(), angle, Qt::NoButton, Qt::NoModifier,
                Qt::NoScrollPhase, false);
  QApplication::sendEvent(w, &e);
  return e.isAccepted();
}

QColor Pixel(const TCoolListView& v, int x, int y) { return v.Surface().pixelColor(x, y); }

// Centre of screen row k.
QPoint RowPoint(const TCoolListView& v, int k) { return {20, k * v.RowPitch() + v.RowPitch() / 2}; }

// `texts` drawn on white in the list font, as the reference a cell must match.
QImage Reference(const TCoolListView& v, const std::vector<TPlacedText>& texts, int top,
                 TColorRef color) {
  QImage image(v.Surface().size(), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setFont(v.ListFont());
  p.setPen(ColorFromRef(color));
  const QFontMetrics fm(v.ListFont(), &image);
  for (const auto& t : texts) p.drawText(t.X, top + fm.ascent(), QString::fromStdString(t.Text));
  return image;
}

// Number of pixels in [left, right) x [top, bottom) that differ between the images.
int Differences(const QImage& a, const QImage& b, int left, int right, int top, int bottom) {
  int n = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) ++n;
  return n;
}

bool AnyInk(const QImage& image, int left, int right, int top, int bottom) {
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x)
      if (image.pixelColor(x, y) != QColor(Qt::white)) return true;
  return false;
}

// ---- no model ---------------------------------------------------------------------------

TEST(ListControl, WithoutModelShowsGridOnlyHidesTheBarAndClicksGiveMinusOne) {
  ListHost host(kSections);
  auto& view = host.Make();
  Events events;
  events.Hook(view);
  host.Show(5 * view.RowPitch() + 5);

  EXPECT_TRUE(host.ScrollBar->isHidden());
  EXPECT_FALSE(host.ScrollBar->isEnabled());
  EXPECT_EQ(view.ScreenLines(), 5);

  const QImage& s = view.Surface();
  ASSERT_FALSE(s.isNull());
  const QColor white(Qt::white), grid = ColorFromRef(kColorBacklines);
  std::vector<int> gridX;
  int sum = 0;
  for (const auto& sec : kSections) gridX.push_back(sum += sec.second);
  for (int y = 0; y < s.height(); ++y) {
    const bool gridRow = y > 0 && y % view.RowPitch() == 0 && y / view.RowPitch() <= 5;
    for (int x = 0; x < s.width(); ++x) {
      const bool gridColumn = std::find(gridX.begin(), gridX.end(), x) != gridX.end();
      ASSERT_EQ(s.pixelColor(x, y), (gridRow || gridColumn) ? grid : white) << x << "," << y;
    }
  }
  // The paint box shows the retained picture as it is.
  EXPECT_EQ(host.PaintBox->grab().toImage().convertToFormat(QImage::Format_RGB32), s);

  QCursor::setPos(QPoint(333, 222));
  Click(host.PaintBox, RowPoint(view, 1));
  ASSERT_EQ(events.Selections.size(), 1u);
  EXPECT_EQ(events.Selections[0], Selection(-1, mbLeft));
  EXPECT_EQ(view.ItemIndex(), -1);
  view.SetItemIndex(0);
  EXPECT_EQ(view.ItemIndex(), -1);
}

// ---- rows that fit, and one more --------------------------------------------------------

class ScrollRange : public testing::TestWithParam<int> {};

TEST_P(ScrollRange, BarAppearsOnlyWhenRowsExceedTheWholeLines) {
  const int extra = GetParam();
  ListHost host(kSections);
  auto& view = host.Make();
  host.Show(6 * view.RowPitch() + view.RowPitch() / 2);
  const int lines = view.ScreenLines();
  ASSERT_EQ(lines, 6);
  TestModel model(lines + extra);
  host.Attach(&model.List, 0);

  if (extra <= 0) {
    EXPECT_TRUE(host.ScrollBar->isHidden());
    EXPECT_FALSE(host.ScrollBar->isEnabled());
    EXPECT_FALSE(view.ScrollSetup().Active);
    EXPECT_EQ(view.TopRow(), 0);
    return;
  }
  const int count = lines + extra;
  EXPECT_FALSE(host.ScrollBar->isHidden());
  EXPECT_TRUE(host.ScrollBar->isEnabled());
  EXPECT_EQ(view.ScrollSetup().Maximum, count);
  EXPECT_EQ(view.ScrollSetup().PageSize, lines + 1);
  EXPECT_EQ(view.ScrollSetup().LargeChange, lines);
  EXPECT_EQ(host.ScrollBar->maximum(), count - lines);  // the largest reachable position
  EXPECT_EQ(host.ScrollBar->pageStep(), lines);
  // The paint box lost the bar's width, and the surface followed it.
  EXPECT_EQ(view.Surface().width(), host.PaintBox->width());
  EXPECT_LT(host.PaintBox->width(), host.ScrollBox->width());

  host.ScrollBar->setValue(count);  // the user drags past the end
  EXPECT_EQ(view.TopRow(), count - lines);
  // The last row stands on the last whole line.
  const auto band = RowBandOf(lines - 1, view.RowPitch());
  EXPECT_TRUE(AnyInk(view.Surface(), 4, 60, band.TextLine, band.Bottom));
}

INSTANTIATE_TEST_SUITE_P(ListControl, ScrollRange, testing::Values(-2, 0, 1, 7));

TEST(ListControl, ClickInThePartialStripBelowTheLastWholeLine) {
  TestModel scrolling(9), fitting(5);
  ListHost host(kSections);
  auto& view = host.Make();
  Events events;
  events.Hook(view);
  const int pitch = view.RowPitch();
  host.Show(5 * pitch + pitch / 2 + 2);
  ASSERT_EQ(view.ScreenLines(), 5);
  const QPoint strip(30, 5 * pitch + 2);

  // Scrolling: the row under the strip exists but is not drawn, yet becomes the cursor.
  host.Attach(&scrolling.List);
  host.ScrollBar->setValue(2);
  events.Clear();
  Click(host.PaintBox, strip);
  EXPECT_EQ(view.ItemIndex(), 7);
  ASSERT_EQ(events.Selections.size(), 1u);
  EXPECT_EQ(std::get<0>(events.Selections[0]), 7);
  const auto band = RowBandOf(5, pitch);
  EXPECT_EQ(Pixel(view, view.Surface().width() - 2, band.Top), QColor(Qt::white));
  EXPECT_FALSE(AnyInk(view.Surface(), 4, 60, band.TextLine, view.Surface().height()));

  // All rows fit: the strip lies past the last row.
  host.Attach(&fitting.List, 2);
  events.Clear();
  Click(host.PaintBox, strip);
  EXPECT_EQ(view.ItemIndex(), -1);
  ASSERT_EQ(events.Selections.size(), 1u);
  EXPECT_EQ(std::get<0>(events.Selections[0]), -1);
}

// ---- disabled rows, double-clicks, buttons ----------------------------------------------

TEST(ListControl, DisabledRowIgnoresClickAndDoubleClickButNotEnter) {
  ListHost host(kSections);
  auto& view = host.Make();
  Events events;
  events.Hook(view);
  host.Show(8 * view.RowPitch());
  TestModel model(5);
  model.List.Items[2].Enabled = false;
  host.Attach(&model.List, 0);
  events.Clear();

  Click(host.PaintBox, RowPoint(view, 2));
  EXPECT_EQ(view.ItemIndex(), 0);
  EXPECT_EQ(view.CurrentItemClicked(), 2);
  EXPECT_TRUE(events.Selections.empty());
  EXPECT_TRUE(host.ScrollBox->hasFocus());  // the click still takes the focus

  DoubleClick(host.PaintBox, RowPoint(view, 2));
  EXPECT_TRUE(events.Doubles.empty());
  EXPECT_TRUE(events.Selections.empty());
  EXPECT_EQ(view.ItemIndex(), 0);

  // An enabled row: the press selects, then the double-click, then its press again.
  DoubleClick(host.PaintBox, RowPoint(view, 3));
  ASSERT_EQ(events.Doubles.size(), 1u);
  EXPECT_EQ(events.Doubles[0], host.PaintBox);
  EXPECT_EQ(events.Order, (std::vector<char>{'s', 'd', 's'}));
  EXPECT_EQ(view.ItemIndex(), 3);

  // Enter reaches the owner whatever the row.
  view.SetItemIndex(2);
  events.Clear();
  EXPECT_TRUE(view.ProcessKeyboardInput(vkReturn, 0));
  ASSERT_EQ(events.Doubles.size(), 1u);
  EXPECT_EQ(events.Doubles[0], host.PaintBox);
  EXPECT_TRUE(events.Selections.empty());

  // A double-click below the rows reaches the owner too.
  events.Clear();
  DoubleClick(host.PaintBox, RowPoint(view, 7));
  EXPECT_EQ(events.Doubles.size(), 1u);
}

// Marks follow double-clicks, so only the left button's double-click is one; for the
// other buttons the second press is a press like the first.
class DoubleClickButtons : public testing::TestWithParam<std::tuple<Qt::MouseButton, int, int>> {};

TEST_P(DoubleClickButtons, OnlyTheLeftButtonDoubleClicks) {
  const auto [button, number, doubles] = GetParam();
  ListHost host(kSections);
  auto& view = host.Make();
  Events events;
  events.Hook(view);
  host.Show(8 * view.RowPitch());
  TestModel model(5);
  host.Attach(&model.List, 0);
  events.Clear();
  DoubleClick(host.PaintBox, RowPoint(view, 3), button);
  EXPECT_EQ(static_cast<int>(events.Doubles.size()), doubles);
  ASSERT_EQ(events.Selections.size(), 2u);
  for (const auto& s : events.Selections) {
    EXPECT_EQ(std::get<0>(s), 3);
    EXPECT_EQ(std::get<1>(s), number);
  }
}

INSTANTIATE_TEST_SUITE_P(Buttons, DoubleClickButtons,
                         testing::Values(std::tuple{Qt::LeftButton, mbLeft, 1},
                                         std::tuple{Qt::RightButton, mbRight, 0},
                                         std::tuple{Qt::MiddleButton, mbMiddle, 0}));

TEST(ListControl, ButtonsAndPointerPositionReachTheEvent) {
  ListHost host(kSections);
  auto& view = host.Make();
  Events events;
  events.Hook(view);
  host.Show(8 * view.RowPitch());
  TestModel model(5);
  host.Attach(&model.List, 0);
  QCursor::setPos(QPoint(411, 97));
  events.Clear();

  Click(host.PaintBox, RowPoint(view, 1), Qt::RightButton);
  Click(host.PaintBox, RowPoint(view, 4), Qt::MiddleButton);
  Click(host.PaintBox, RowPoint(view, 3), Qt::LeftButton);
  const std::vector<std::tuple<int, int, int, int>> expected = {
      Selection(1, mbRight), Selection(4, mbMiddle), Selection(3, mbLeft)};
  EXPECT_EQ(events.Selections, expected);
  EXPECT_EQ(view.LastMouseDown(), RowPoint(view, 3));
}

TEST(ListControl, ItemIndexOutsideTheRowsBecomesMinusOneAndStillFires) {
  ListHost host(kSections);
  auto& view = host.Make();
  Events events;
  events.Hook(view);
  host.Show(8 * view.RowPitch());
  TestModel model(5);
  host.Attach(&model.List, 1);
  QCursor::setPos(QPoint(12, 34));
  events.Clear();

  for (int value : {5, 99, -7, 4}) {
    SCOPED_TRACE(value);
    events.Clear();
    view.SetItemIndex(value);
    const int expected = value == 4 ? 4 : -1;
    EXPECT_EQ(view.ItemIndex(), expected);
    ASSERT_EQ(events.Selections.size(), 1u);
    EXPECT_EQ(events.Selections[0], Selection(expected, mbLeft));
  }
}

// ---- row backgrounds from pixels --------------------------------------------------------

TEST(ListControl, ProgressRowsFillFullEmptyAndProportionally) {
  ListHost host(kSections);
  auto& view = host.Make();
  host.Show(8 * view.RowPitch());
  TestModel model(5);
  auto& items = model.List.Items;
  items[0].IsProgress = true, items[0].Progress = 10, items[0].MaxValue = 10;
  items[1].IsProgress = true, items[1].Progress = -1, items[1].MaxValue = 0;
  items[2].IsProgress = true, items[2].Progress = 3ll << 40, items[2].MaxValue = 1ll << 42;
  items[3].IsProgress = true, items[3].Progress = 1, items[3].MaxValue = 2;
  host.Attach(&model.List, 3);

  const int w = view.Surface().width();
  const int gridX = kSections[0].second;
  const QColor fg = ColorFromRef(0xC8C8C8), bg = ColorFromRef(0xF8F8F8);
  auto top = [&](int k) { return RowBandOf(k, view.RowPitch()).Top; };
  auto bottom = [&](int k) { return RowBandOf(k, view.RowPitch()).Bottom - 1; };

  EXPECT_EQ(Pixel(view, 0, top(0)), fg);
  EXPECT_EQ(Pixel(view, w - 1, bottom(0)), fg);
  EXPECT_EQ(Pixel(view, gridX, top(0)), fg);  // no grid over a progress row

  EXPECT_EQ(Pixel(view, 0, top(1)), bg);
  EXPECT_EQ(Pixel(view, w - 1, top(1)), bg);

  const int fill = static_cast<int>(static_cast<std::int64_t>(w) * 3 / 4);
  EXPECT_EQ(Pixel(view, fill - 1, top(2)), fg);
  EXPECT_EQ(Pixel(view, fill, top(2)), bg);

  // The cursor row takes the cursor progress colours.
  EXPECT_EQ(Pixel(view, w / 2 - 1, top(3)), ColorFromRef(0x404040));
  EXPECT_EQ(Pixel(view, w / 2, top(3)), ColorFromRef(0x808080));
  // The grid line between rows stays.
  EXPECT_EQ(Pixel(view, 5, view.RowPitch()), ColorFromRef(kColorBacklines));
}

TEST(ListControl, CursorFillFollowsTheScrollBoxFocus) {
  ListHost host(kSections);
  auto& view = host.Make();
  host.Show(8 * view.RowPitch());
  TestModel model(5);
  host.Attach(&model.List, 2);
  const auto band = RowBandOf(2, view.RowPitch());
  const int x = view.Surface().width() - 2;

  host.ScrollBox->setFocus();
  Settle();
  ASSERT_TRUE(host.ScrollBox->hasFocus());
  EXPECT_EQ(Pixel(view, x, band.Top), QColor(0x33, 0x99, 0xFF));
  EXPECT_EQ(Pixel(view, x, band.Bottom - 1), QColor(0x33, 0x99, 0xFF));
  EXPECT_EQ(Pixel(view, kSections[0].second, band.Top), QColor(0x33, 0x99, 0xFF));
  EXPECT_EQ(Pixel(view, x, band.Bottom), ColorFromRef(kColorBacklines));

  host.Other->setFocus();
  Settle();
  EXPECT_EQ(Pixel(view, x, band.Top), QColor(0xC0, 0xC0, 0xC0));

  // A click gives the focus back.
  Click(host.PaintBox, RowPoint(view, 4));
  Settle();
  EXPECT_EQ(Pixel(view, x, RowBandOf(4, view.RowPitch()).Top), QColor(0x33, 0x99, 0xFF));
  EXPECT_EQ(Pixel(view, x, band.Top), QColor(Qt::white));
}

// ---- cell text from pixels --------------------------------------------------------------

TEST(ListControl, RangeCellIsCutWithEllipsisWhereThePieceNoLongerFits) {
  ListHost host(kSections);
  auto& view = host.Make();
  host.Show(4 * view.RowPitch());
  TestModel model(1);
  host.Attach(&model.List);

  const QFontMetrics fm(view.ListFont());
  const int w0x = fm.horizontalAdvance("0x"), wDigit = fm.horizontalAdvance("0"),
            wDot = fm.horizontalAdvance("."), wEllipsis = fm.horizontalAdvance("...");
  // Budget exactly up to the first "..": the next "0x" is the first piece over it.
  const int budget = w0x + 12 * wDigit + 2 * kDigitGap + 2 * wDot;
  host.Header->resizeSection(2, budget + wEllipsis + 16);
  Settle();

  const int left = kSections[0].second + kSections[1].second;
  std::vector<TPlacedText> expected;
  int x = left + 4;
  expected.push_back({x, "0x"});
  x += w0x;
  const std::string digits = model.Rows[0].Range.substr(4, 12);
  for (int i = 0; i < 12; ++i) {
    expected.push_back({x, std::string(1, digits[static_cast<std::size_t>(i)])});
    x += wDigit + ((i == 3 || i == 7) ? kDigitGap : 0);
  }
  expected.push_back({x, "."});
  expected.push_back({x += wDot, "."});
  expected.push_back({x += wDot, "..."});

  const auto band = RowBandOf(0, view.RowPitch());
  const int right = left + host.Header->sectionSize(2);
  const QImage want = Reference(view, expected, band.TextLine, test::kTestColors.ColorNormalNormal);
  EXPECT_EQ(Differences(view.Surface(), want, left + 1, right, band.Top, band.Bottom), 0);
  // Nothing after the ellipsis: the reference has no ink there, and the cell has none.
  EXPECT_FALSE(AnyInk(view.Surface(), x + wEllipsis + 1, right, band.Top, band.Bottom));

  // Wide enough for the next "0x" and the cell reads on.
  host.Header->resizeSection(2, budget + wEllipsis + 16 + w0x);
  Settle();
  EXPECT_NE(Differences(view.Surface(), want, left + 1, right, band.Top, band.Bottom), 0);
}

TEST(ListControl, PlainTextFitsExactlyOrLosesThreeCharactersToTheEllipsis) {
  ListHost host(kSections);
  auto& view = host.Make();
  host.Show(4 * view.RowPitch());
  TestModel model(1);
  model.Rows[0].Name = "ABCDEFGH";
  host.Attach(&model.List);

  const QFontMetrics fm(view.ListFont());
  const int fits = fm.horizontalAdvance("ABCDEFGH") + 4;
  const int left = kSections[0].second;
  const auto band = RowBandOf(0, view.RowPitch());
  const TColorRef color = test::kTestColors.ColorNormalNormal;

  host.Header->resizeSection(1, fits);  // the header's resize repaints by itself
  QImage want = Reference(view, {{left + 4, "ABCDEFGH"}}, band.TextLine, color);
  EXPECT_EQ(Differences(view.Surface(), want, left + 1, left + fits, band.Top, band.Bottom), 0);

  host.Header->resizeSection(1, fits - 1);
  want = Reference(view, {{left + 4, "ABCD..."}}, band.TextLine, color);
  EXPECT_EQ(Differences(view.Surface(), want, left + 1, left + fits - 1, band.Top, band.Bottom), 0);
}

TEST(ListControl, SizeCellGroupsTwelveDigitsByFourAndClosesTheFourDigitField) {
  ListHost host({{"Size", 600}});
  auto& view = host.Make();
  host.Show(4 * view.RowPitch());
  TestModel model(1, {ctSizeField});
  model.List.Items[0].Values = {&model.Rows[0].Size};
  model.Rows[0].Size = test::Field16(0x123456789ABCull) + test::Field16(0xDEF1);
  host.Attach(&model.List);

  const QFontMetrics fm(view.ListFont());
  std::vector<TPlacedText> expected;
  int x = 4;
  auto put = [&](const QString& s, int gap) {
    expected.push_back({x, s.toStdString()});
    x += fm.horizontalAdvance(s) + gap;
  };
  put("0x", 0);
  const QString big = "123456789ABC", small = "DEF1";
  for (int i = 0; i < 12; ++i) put(big.mid(i, 1), (i == 3 || i == 7) ? 2 : 0);
  put(" ", 0);
  put("(", 0);
  put("0x", 0);
  for (int i = 0; i < 4; ++i) put(small.mid(i, 1), i == 3 ? 2 : 0);
  put(")", 0);

  const auto band = RowBandOf(0, view.RowPitch());
  const QImage want = Reference(view, expected, band.TextLine, test::kTestColors.ColorNormalNormal);
  EXPECT_EQ(Differences(view.Surface(), want, 0, 599, band.Top, band.Bottom), 0);
}

TEST(ListControl, ChangedRowFieldShowsAtTheNextPaintWithoutTouchingTheModel) {
  ListHost host(kSections);
  auto& view = host.Make();
  host.Show(4 * view.RowPitch());
  TestModel model(3);
  host.Attach(&model.List);
  const int left = kSections[0].second;
  const auto band = RowBandOf(1, view.RowPitch());
  const TColorRef color = test::kTestColors.ColorNormalNormal;
  const QImage before = Reference(view, {{left + 4, "PART1"}}, band.TextLine, color);
  const QImage after = Reference(view, {{left + 4, "KERNEL"}}, band.TextLine, color);
  const int right = left + kSections[1].second;
  ASSERT_EQ(Differences(view.Surface(), before, left + 1, right, band.Top, band.Bottom), 0);

  model.Rows[1].Name = "KERNEL";
  EXPECT_EQ(Differences(view.Surface(), before, left + 1, right, band.Top, band.Bottom), 0);
  view.Repaint();
  EXPECT_EQ(Differences(view.Surface(), after, left + 1, right, band.Top, band.Bottom), 0);
}

// ---- keyboard ---------------------------------------------------------------------------

struct KeyCase {
  const char* name;
  std::uintptr_t key;
  int cursor, top;            // before
  int wantCursor, wantTop;    // after
  int selections, doubles;    // events fired
};

class Keys : public testing::TestWithParam<KeyCase> {};

TEST_P(Keys, MoveTheCursorAndScrollAsTheTableSays) {
  const KeyCase& c = GetParam();
  ListHost host(kSections);
  auto& view = host.Make();
  Events events;
  events.Hook(view);
  host.Show(5 * view.RowPitch() + 3);
  TestModel model(20);
  host.Attach(&model.List);
  ASSERT_EQ(view.ScreenLines(), 5);
  view.SetItemIndex(c.cursor);
  host.ScrollBar->setValue(c.top);
  ASSERT_EQ(view.TopRow(), c.top);
  events.Clear();

  EXPECT_TRUE(view.ProcessKeyboardInput(c.key, 0x1234));
  EXPECT_EQ(view.ItemIndex(), c.wantCursor);
  EXPECT_EQ(view.TopRow(), c.wantTop);
  EXPECT_EQ(static_cast<int>(events.Selections.size()), c.selections);
  EXPECT_EQ(static_cast<int>(events.Doubles.size()), c.doubles);
  for (const auto& s : events.Selections) EXPECT_EQ(std::get<1>(s), mbLeft);
  // The cursor row, when on screen, is the one painted in a cursor colour.
  if (c.wantCursor >= c.wantTop && c.wantCursor < c.wantTop + 5) {
    const auto band = RowBandOf(c.wantCursor - c.wantTop, view.RowPitch());
    EXPECT_NE(Pixel(view, view.Surface().width() - 2, band.Top), QColor(Qt::white));
  }
}

// 20 rows, 5 whole lines: positions 0 .. 15.
INSTANTIATE_TEST_SUITE_P(
    ListControl, Keys,
    testing::Values(
        KeyCase{"Home", vkHome, 10, 8, 0, 0, 1, 0},
        KeyCase{"End", vkEnd, 3, 0, 19, 15, 1, 0},
        KeyCase{"UpInside", vkUp, 7, 5, 6, 5, 1, 0},
        KeyCase{"UpPastTop", vkUp, 5, 5, 4, 4, 1, 0},
        KeyCase{"UpAtFirstRow", vkUp, 0, 0, 0, 0, 0, 0},
        KeyCase{"DownInside", vkDown, 2, 0, 3, 0, 1, 0},
        KeyCase{"DownPastBottom", vkDown, 9, 5, 10, 6, 1, 0},
        KeyCase{"DownAtLastRow", vkDown, 19, 15, 19, 15, 0, 0},
        KeyCase{"DownFromAboveTheView", vkDown, 1, 10, 2, 2, 1, 0},
        KeyCase{"PageUpFromTopRow", vkPrior, 7, 7, 2, 2, 1, 0},
        KeyCase{"PageUpToTopRow", vkPrior, 8, 5, 5, 5, 1, 0},
        KeyCase{"PageUpNearFirstRow", vkPrior, 3, 3, 0, 0, 1, 0},
        KeyCase{"PageUpAtFirstRow", vkPrior, 0, 0, 0, 0, 1, 0},
        KeyCase{"PageUpCursorOutOfView", vkPrior, 15, 0, 15, 15, 0, 0},
        KeyCase{"PageDownToBottomRow", vkNext, 5, 5, 9, 5, 1, 0},
        KeyCase{"PageDownFromBottomRow", vkNext, 9, 5, 14, 10, 1, 0},
        KeyCase{"PageDownNearLastRow", vkNext, 14, 10, 19, 15, 1, 0},
        KeyCase{"PageDownAtLastRow", vkNext, 19, 15, 19, 15, 1, 0},
        KeyCase{"PageDownCursorOutOfView", vkNext, 2, 10, 2, 0, 0, 0},
        KeyCase{"Escape", vkEscape, 7, 5, 7, 5, 0, 0},
        KeyCase{"OtherKey", 'A', 7, 5, 7, 5, 0, 0},
        KeyCase{"Enter", vkReturn, 7, 5, 7, 5, 0, 1}),
    [](const testing::TestParamInfo<KeyCase>& param) { return std::string(param.param.name); });

TEST(ListControl, KeysWithoutRowsMoveNothing) {
  ListHost host(kSections);
  auto& view = host.Make();
  Events events;
  events.Hook(view);
  host.Show(5 * view.RowPitch());
  for (auto key : {vkHome, vkEnd, vkUp, vkDown, vkPrior, vkNext}) {
    EXPECT_TRUE(view.ProcessKeyboardInput(key, 0));
    EXPECT_EQ(view.ItemIndex(), -1);
    EXPECT_EQ(view.TopRow(), 0);
  }
  for (const auto& s : events.Selections) EXPECT_EQ(std::get<0>(s), -1);
}

// ---- wheel and scroll bar ---------------------------------------------------------------

TEST(ListControl, WheelScrollsThreeRowsWithinTheRange) {
  ListHost host(kSections);
  auto& view = host.Make();
  host.Show(5 * view.RowPitch());
  TestModel model(20);
  host.Attach(&model.List, 0);

  struct Step {
    QPoint angle;
    int wantTop;
  };
  const Step steps[] = {
      {{0, -120}, 3}, {{0, -120}, 6}, {{0, 120}, 3}, {{0, 120}, 0}, {{0, 120}, 0},
      {{120, 0}, 0},  // sideways: no turn of the list's wheel
      {{0, -15}, 3},  {{0, -120}, 6}, {{0, -120}, 9}, {{0, -120}, 12}, {{0, -120}, 15},
      {{0, -120}, 15},
  };
  for (const auto& s : steps) {
    EXPECT_TRUE(Wheel(host.PaintBox, s.angle));  // reaches the scroll box and is handled
    EXPECT_EQ(view.TopRow(), s.wantTop);
  }
  // The rows follow: screen row 0 now shows row 15, "16" in the decimal column.
  const auto band = RowBandOf(0, view.RowPitch());
  const QImage want = Reference(view, {{4, "16"}}, band.TextLine, test::kTestColors.ColorNormalNormal);
  EXPECT_EQ(Differences(view.Surface(), want, 1, kSections[0].second, band.Top, band.Bottom), 0);

  // No scrolling while everything fits.
  TestModel few(3);
  host.Attach(&few.List, 0);
  EXPECT_TRUE(Wheel(host.PaintBox, {0, -120}));
  EXPECT_EQ(view.TopRow(), 0);
}

TEST(ListControl, ScrollHandlerIgnoresTheBarWhileItCarriesTheBusyTag) {
  ListHost host(kSections);
  auto& view = host.Make();
  host.Show(5 * view.RowPitch());
  TestModel model(20);
  host.Attach(&model.List, 0);
  const int x = view.Surface().width() - 2;
  const int top0 = RowBandOf(0, view.RowPitch()).Top;
  ASSERT_NE(Pixel(view, x, top0), QColor(Qt::white));  // cursor on screen row 0
  EXPECT_EQ(host.ScrollBar->property(kScrollTagProperty).toInt(), 0);

  host.ScrollBar->setProperty(kScrollTagProperty, kScrollBusyTag);
  host.ScrollBar->setValue(4);
  EXPECT_NE(Pixel(view, x, top0), QColor(Qt::white));  // not repainted

  host.ScrollBar->setProperty(kScrollTagProperty, 0);
  host.ScrollBar->setValue(5);
  EXPECT_EQ(Pixel(view, x, top0), QColor(Qt::white));  // row 5 on top, cursor scrolled off
  EXPECT_EQ(view.TopRow(), 5);

  // The list's own moves leave the tag clear again.
  view.RewindCursorVisible(0);
  view.Refresh();
  EXPECT_EQ(host.ScrollBar->property(kScrollTagProperty).toInt(), 0);
  EXPECT_EQ(view.TopRow(), 0);
}

TEST(ListControl, RewindCursorVisiblePlacesTheCursorRowAndClamps) {
  ListHost host(kSections);
  auto& view = host.Make();
  host.Show(5 * view.RowPitch());
  TestModel model(20);
  host.Attach(&model.List);
  struct Case {
    int cursor, offset, wantTop;
  };
  const Case cases[] = {{10, 0, 10}, {10, 2, 8}, {10, -1, 6}, {18, 0, 15}, {1, 3, 0}, {1, -1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.cursor << " " << c.offset);
    view.SetItemIndex(c.cursor);
    view.RewindCursorVisible(c.offset);
    EXPECT_EQ(view.TopRow(), c.wantTop);
  }
}

// ---- repaint paths, header, model lifecycle --------------------------------------------

TEST(ListControl, QueuedRepaintRunsOnTheTimerOnlyWhileEnabled) {
  ListHost host(kSections);
  auto& view = host.Make();
  host.Show(4 * view.RowPitch());
  TestModel model(2);
  host.Attach(&model.List);
  const int left = kSections[0].second, right = left + kSections[1].second;
  const auto band = RowBandOf(0, view.RowPitch());
  const QImage renamed =
      Reference(view, {{left + 4, "CACHE"}}, band.TextLine, test::kTestColors.ColorNormalNormal);
  model.Rows[0].Name = "CACHE";

  EXPECT_FALSE(view.MultiThreadRepaint());
  view.QueueRepaint();
  QTest::qWait(40);
  EXPECT_TRUE(view.NeedRepaint());
  EXPECT_NE(Differences(view.Surface(), renamed, left + 1, right, band.Top, band.Bottom), 0);

  view.SetMultiThreadRepaint(true);
  EXPECT_TRUE(view.MultiThreadRepaint());
  // Generous on a loaded machine; the tick comes every 10 ms.
  for (int waited = 0; view.NeedRepaint() && waited < 2000; waited += 5) QTest::qWait(5);
  EXPECT_FALSE(view.NeedRepaint());
  EXPECT_EQ(Differences(view.Surface(), renamed, left + 1, right, band.Top, band.Bottom), 0);
  view.SetMultiThreadRepaint(false);
  EXPECT_FALSE(view.MultiThreadRepaint());
}

TEST(ListControl, HeaderSectionResizeMovesTheGrid) {
  ListHost host(kSections);
  auto& view = host.Make();
  host.Show(4 * view.RowPitch());
  const QColor grid = ColorFromRef(kColorBacklines);
  EXPECT_EQ(Pixel(view, 60, 0), grid);
  host.Header->resizeSection(0, 75);
  EXPECT_EQ(Pixel(view, 75, 0), grid);
  EXPECT_EQ(Pixel(view, 60, 0), QColor(Qt::white));
  EXPECT_EQ(Pixel(view, 175, 0), grid);
}

TEST(ListControl, OwnersCycleFreesTheModelAndShowsAnEmptyGrid) {
  ListHost host(kSections);
  auto& view = host.Make();
  Events events;
  events.Hook(view);
  host.Show(5 * view.RowPitch());
  TestModel model(12);
  host.Attach(&model.List, 3);
  ASSERT_FALSE(host.ScrollBar->isHidden());

  view.FreeDataFields();
  EXPECT_TRUE(model.List.Items.empty());
  EXPECT_TRUE(model.List.Types.empty());
  EXPECT_EQ(model.List.Count, 12);  // the owner resets it
  view.Repaint();                   // Count still says 12: nothing is read
  model.List.Count = 0;
  view.SetItemIndex(-1);
  view.Refresh();
  Settle();
  EXPECT_TRUE(host.ScrollBar->isHidden());
  EXPECT_FALSE(AnyInk(view.Surface(), 1, kSections[0].second, 1, view.RowPitch()));

  TestModel next(2);
  host.Attach(&next.List, 0);
  EXPECT_EQ(view.ItemIndex(), 0);
  EXPECT_TRUE(AnyInk(view.Surface(), 1, kSections[0].second, 1, view.RowPitch()));
}

TEST(ListControl, ResizingTheScrollBoxRecountsTheLines) {
  ListHost host(kSections);
  auto& view = host.Make();
  host.Show(5 * view.RowPitch());
  TestModel model(8);
  host.Attach(&model.List, 0);
  EXPECT_FALSE(host.ScrollBar->isHidden());
  host.ScrollBox->setFixedHeight(9 * view.RowPitch());
  Settle();
  EXPECT_EQ(view.ScreenLines(), 9);
  EXPECT_TRUE(host.ScrollBar->isHidden());
  EXPECT_EQ(view.Surface().size(), host.PaintBox->size());
}

// ---- fonts and pitch --------------------------------------------------------------------

TEST(ListControl, RowPitchComesFromTheApplicationFontNotTheListFont) {
  const int system = QFontMetrics(QApplication::font()).size(Qt::TextSingleLine, "0").height();
  for (int height : {14, 17}) {
    ListHost host(kSections);
    auto& view = host.Make(height);
    EXPECT_EQ(view.RowPitch(), system + 2);
    EXPECT_EQ(CharacterCell(view.ListFont()).height(), height);
    view.SetRowHeightIncrease(5);
    EXPECT_EQ(view.RowPitch(), system + 2);  // only at the next Refresh
    view.Refresh();
    EXPECT_EQ(view.RowPitch(), system + 5);
  }
}

// The height asked for is the character cell's (ascent + descent, the height of "0"), not
// the em size; the face the platform stands in, or its fixed-pitch font, is sized so.
struct FaceCase {
  const char* Face;
  int Cell;
  const char* Family;  // nullptr: the platform's fixed-pitch font
};

class ListFonts : public testing::TestWithParam<FaceCase> {};

TEST_P(ListFonts, AreSizedByTheirCellHeight) {
  const FaceCase& c = GetParam();
  const QString expected = c.Family != nullptr
                               ? QString::fromLatin1(c.Family)
                               : QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).family();
  if (c.Family != nullptr && QFontInfo(QFont(QString::fromLatin1(c.Face))).family() != expected)
    GTEST_SKIP() << "no " << c.Family << " for " << c.Face << " on this system";
  const QFont font = ListFontFor(QString::fromLatin1(c.Face), c.Cell);
  EXPECT_EQ(QFontInfo(font).family(), expected);
  EXPECT_EQ(font.weight(), QFont::Normal);
  EXPECT_EQ(CharacterCell(font).height(), c.Cell);
  // The em size is smaller than the cell: a pixel size equal to it is a taller cell.
  QFont em = font;
  em.setPixelSize(c.Cell);
  EXPECT_GT(CharacterCell(em).height(), c.Cell);
  const QFontMetrics fm(font);
  EXPECT_EQ(fm.horizontalAdvance("i"), fm.horizontalAdvance("W"));  // fixed pitch
}

INSTANTIATE_TEST_SUITE_P(Faces, ListFonts,
                         testing::Values(FaceCase{"Courier New", 14, "Liberation Mono"},
                                         FaceCase{"Liberation Mono", 16, "Liberation Mono"},
                                         FaceCase{"Orvella Imaginary Face", 14, nullptr}));

// ---- lifetime ---------------------------------------------------------------------------

TEST(ListControl, EitherSideMayGoFirst) {
  {  // The window goes with the list it owns, focus and all.
    auto host = std::make_unique<ListHost>(kSections);
    auto& view = host->Make();
    host->Show(5 * view.RowPitch());
    TestModel model(9);
    host->Attach(&model.List, 2);
    host->ScrollBox->setFocus();
    Settle();
    host.reset();
  }
  {  // A list without owner outlives its controls.
    std::unique_ptr<TCoolListView> view;
    {
      ListHost host(kSections);
      view = std::make_unique<TCoolListView>(nullptr, host.ScrollBox, host.PaintBox,
                                             host.ScrollBar, host.Header, 14, "Liberation Mono");
      host.Show(5 * view->RowPitch());
    }
    view->Refresh();
    view->Repaint();
    EXPECT_TRUE(view->ProcessKeyboardInput(vkDown, 0));
  }
  {  // The list goes first; the controls live on and are used.
    ListHost host(kSections);
    auto view = std::make_unique<TCoolListView>(nullptr, host.ScrollBox, host.PaintBox,
                                                host.ScrollBar, host.Header, 14, "Liberation Mono");
    host.Show(5 * view->RowPitch());
    view.reset();
    host.ScrollBox->setFixedHeight(100);
    host.Header->resizeSection(0, 90);
    host.ScrollBar->setValue(1);
    Wheel(host.PaintBox, {0, -120});
    Click(host.PaintBox, {5, 5});
    Settle();
  }
}

}  // namespace
}  // namespace orvella
