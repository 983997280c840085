// The hex view's rules without a display: caret keys, the mouse, the wheel, go to, a
// search's block, the prompts' parsers and the texts of bytes, driven on HexViewState
// as the Qt view drives it. This executable links no Qt.

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "ui/HexViewState.h"

namespace orvella {
namespace {

constexpr std::int64_t kChunk = 100000;  // 6250 lines
constexpr int kLines = 10;
constexpr int kLastTop = 6250 - kLines;

HexViewState Viewing(std::int64_t length, int lines = kLines) {
  HexViewState s;
  s.Reset(length);
  s.SetScreenLines(lines);
  return s;
}

// Presses keys given as "Shift+Right, Ctrl+End" the way the view does: the rule moves
// the caret and the view puts the returned line on top.
void Press(HexViewState& s, const std::string& keys) {
  std::stringstream list(keys);
  std::string one;
  while (std::getline(list, one, ',')) {
    while (!one.empty() && one.front() == ' ') one.erase(0, 1);
    const bool shift = one.find("Shift+") != std::string::npos;
    const bool ctrl = one.find("Ctrl+") != std::string::npos;
    const std::string name = one.substr(one.rfind('+') == std::string::npos ? 0 : one.rfind('+') + 1);
    const HexKey key = name == "Left"     ? HexKey::Left
                       : name == "Right"  ? HexKey::Right
                       : name == "Up"     ? HexKey::Up
                       : name == "Down"   ? HexKey::Down
                       : name == "PgUp"   ? HexKey::PageUp
                       : name == "PgDown" ? HexKey::PageDown
                       : name == "Home"   ? HexKey::Home
                                          : HexKey::End;
    if (const auto top = s.MoveCaret(key, ctrl, shift)) s.SetPosition(s.ClampTop(*top));
  }
}

std::vector<std::int64_t> Where(const HexViewState& s) {
  return {s.Caret(), s.HasBlock() ? s.BlockBegin() : -1, s.HasBlock() ? s.BlockEnd() : -1,
          s.Position()};
}

struct KeyCase {
  const char* keys;
  std::int64_t length;
  std::vector<std::int64_t> where;  // caret, block begin, block end (-1: none), top line
};

class CaretKeys : public testing::TestWithParam<KeyCase> {};

TEST_P(CaretKeys, MoveTheCaretTheBlockAndTheTopLine) {
  const KeyCase& c = GetParam();
  HexViewState s = Viewing(c.length);
  Press(s, c.keys);
  EXPECT_EQ(Where(s), c.where);
  // The caret's line is on screen whatever the keys did.
  EXPECT_GE(s.CaretLine(), 0);
  EXPECT_LT(s.CaretLine(), kLines);
  EXPECT_FALSE(s.PositionShowingCaret());
}

INSTANTIATE_TEST_SUITE_P(
    Keys, CaretKeys,
    testing::Values(
        KeyCase{"Right, Left, Left", kChunk, {0, -1, -1, 0}},
        KeyCase{"Down, Down, Down, Down, Down, Down, Down, Down, Down", kChunk, {144, -1, -1, 0}},
        KeyCase{"Down, Down, Down, Down, Down, Down, Down, Down, Down, Down", kChunk, {160, -1, -1, 1}},
        KeyCase{"PgDown, PgDown, PgUp", kChunk, {160, -1, -1, 10}},
        KeyCase{"Down, End, Home", kChunk, {16, -1, -1, 0}},
        KeyCase{"Ctrl+End, Right, Down, PgDown", kChunk, {kChunk - 1, -1, -1, kLastTop}},
        KeyCase{"Ctrl+End, Up, Home", kChunk, {kChunk - 32, -1, -1, kLastTop}},
        KeyCase{"Shift+Right, Shift+Right, Shift+Left", kChunk, {1, 0, 0, 0}},
        KeyCase{"Shift+Right, Shift+Left", kChunk, {0, -1, -1, 0}},
        KeyCase{"Down, Shift+Up", kChunk, {0, 0, 15, 0}},
        KeyCase{"Right, Shift+End, Shift+Home", kChunk, {0, 0, 0, 0}},
        KeyCase{"Shift+PgDown", kChunk, {160, 0, 159, 10}},
        KeyCase{"Ctrl+End, Shift+Ctrl+Home", kChunk, {0, 0, kChunk - 2, 0}},
        KeyCase{"Shift+Right, Shift+Right, Right", kChunk, {3, -1, -1, 0}},
        KeyCase{"Down, Down", 20, {19, -1, -1, 0}},
        KeyCase{"End, Down", 20, {19, -1, -1, 0}},
        KeyCase{"Down, Shift+End", 20, {19, 16, 19, 0}}));

TEST(HexRules, AnEmptyChunkMovesNothing) {
  HexViewState s = Viewing(0);
  EXPECT_FALSE(s.MoveCaret(HexKey::Down, false, false));
  EXPECT_EQ(Where(s), (std::vector<std::int64_t>{0, -1, -1, 0}));
  EXPECT_EQ(s.Lines(), 0);
  EXPECT_EQ(s.MaxPosition(), 0);
}

TEST(HexRules, ScrollRangeFollowsTheChunkAndTheScreen) {
  HexViewState s = Viewing(kChunk);
  EXPECT_EQ(s.Lines(), 6250);
  EXPECT_EQ(s.MaxPosition(), kLastTop);
  s.SetPosition(s.ClampTop(99999));
  EXPECT_EQ(s.Position(), kLastTop);
  // A taller screen keeps the top line where it can, then lowers it.
  s.SetScreenLines(kLines + 5);
  EXPECT_EQ(s.Position(), kLastTop - 5);
  EXPECT_EQ(s.TopAddress(), std::int64_t{kLastTop - 5} * 16);
  // A chunk of 17 bytes has two lines; a new chunk starts on top with the caret on 0.
  s.Reset(17);
  EXPECT_EQ(s.Lines(), 2);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(s.ClampTop(-3), 0);
}

TEST(HexRules, TheCaretColumnOutlivesAChunk) {
  HexViewState s = Viewing(kChunk);
  s.ToggleColumn();
  s.Reset(50);
  EXPECT_TRUE(s.CharColumn());
  constexpr HexGeometry g{7, 13};
  EXPECT_EQ(g.CaretX(3, true), g.CharX(3));
  EXPECT_EQ(g.CaretX(3, false), g.HexX(3));
}

// --- The mouse -----------------------------------------------------------------------

TEST(HexRules, APressPutsTheCaretAndADragMarksFromIt) {
  HexViewState s = Viewing(kChunk);
  s.SetPosition(2);  // the top line is chunk address 32
  const HexViewState::Press press = s.MousePress(100, 40, {5 * 16 + 3, false});
  EXPECT_TRUE(press.OnData);
  EXPECT_FALSE(press.BlockDropped);
  EXPECT_EQ(s.Caret(), 32 + 83);
  EXPECT_TRUE(s.MouseDown());

  // Not moved yet: nothing happens.
  EXPECT_FALSE(s.MouseMove(100, 40, {83, false}).Started);
  // Forwards: from the pressed byte to the pointer's byte.
  HexViewState::Drag drag = s.MouseMove(140, 40, {90, false});
  EXPECT_TRUE(drag.Started);
  EXPECT_TRUE(drag.Changed);
  EXPECT_EQ(Where(s), (std::vector<std::int64_t>{32 + 90, 32 + 83, 32 + 90, 2}));
  // The same block again: no repaint.
  EXPECT_FALSE(s.MouseMove(141, 40, {90, false}).Changed);
  // Backwards: from the pointer's byte to the byte before the pressed one.
  drag = s.MouseMove(20, 10, {10, false});
  EXPECT_FALSE(drag.Started);
  EXPECT_TRUE(drag.Changed);
  EXPECT_EQ(Where(s), (std::vector<std::int64_t>{32 + 10, 32 + 10, 32 + 82, 2}));
  std::int64_t from = 0, n = 0;
  s.Selection(from, n);
  EXPECT_EQ(from, 42);
  EXPECT_EQ(n, 73);

  // The next press drops the block; a press past the data moves nothing else.
  s.MouseRelease();
  const HexViewState::Press past = s.MousePress(100, 40, {kChunk, true});
  EXPECT_TRUE(past.BlockDropped);
  EXPECT_FALSE(past.OnData);
  EXPECT_FALSE(s.HasBlock());
  EXPECT_EQ(s.Caret(), 42);
  EXPECT_FALSE(s.CharColumn());
  EXPECT_FALSE(s.MouseDown());
  EXPECT_FALSE(s.MouseMove(5, 5, {0, false}).Changed);
}

TEST(HexRules, ACaretBelowTheScreenBringsItsLineOnTop) {
  HexViewState s = Viewing(kChunk);
  s.MousePress(10, 10, {kLines * 16 + 4, true});
  ASSERT_TRUE(s.PositionShowingCaret());
  EXPECT_EQ(*s.PositionShowingCaret(), kLines);
  EXPECT_TRUE(s.CharColumn());
  s.SetPosition(*s.PositionShowingCaret());
  EXPECT_EQ(s.CaretLine(), 0);
  EXPECT_EQ(s.CaretColumn(), 4);
}

// --- The wheel -----------------------------------------------------------------------

TEST(HexRules, TheWheelStepsSixLinesANotchAndAddsUpFractions) {
  HexViewState s = Viewing(kChunk);
  s.AddWheel(-60);
  EXPECT_FALSE(s.TakeWheelStep());
  s.AddWheel(-60);
  auto step = s.TakeWheelStep();
  ASSERT_TRUE(step);
  EXPECT_EQ(*step, 6);
  s.SetPosition(*step);
  EXPECT_FALSE(s.TakeWheelStep());

  // Two notches up at once: two steps, never above line 0.
  s.SetPosition(4);
  s.AddWheel(240);
  step = s.TakeWheelStep();
  ASSERT_TRUE(step);
  EXPECT_EQ(*step, 0);
  s.SetPosition(*step);
  EXPECT_EQ(s.TakeWheelStep(), 0);
  EXPECT_FALSE(s.TakeWheelStep());

  // Down at the end: never past the last top line.
  s.SetPosition(kLastTop - 2);
  s.AddWheel(-120);
  EXPECT_EQ(s.TakeWheelStep(), kLastTop);
}

// --- Go to -----------------------------------------------------------------------------

struct GoToCase {
  const char* typed;
  std::int64_t caret;  // -1: refused
  int top;
  const char* refusal;
};

class GoToRules : public testing::TestWithParam<GoToCase> {};

TEST_P(GoToRules, MovesTheCaretOrSaysWhyNot) {
  const GoToCase& c = GetParam();
  HexViewState s = Viewing(kChunk);
  Press(s, "Down, Shift+Right");
  const auto before = Where(s);
  int top = -1;
  const std::string refusal = s.GoTo(c.typed, 1000, top);
  if (c.caret < 0) {
    EXPECT_EQ(refusal, c.refusal);
    EXPECT_EQ(Where(s), before);
    return;
  }
  EXPECT_EQ(refusal, "");
  EXPECT_EQ(top, c.top);
  s.SetPosition(top);
  EXPECT_EQ(Where(s), (std::vector<std::int64_t>{c.caret, -1, -1, c.top}));
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, GoToRules,
    testing::Values(
        GoToCase{"1A2B", 0x1A2B, 0x1A2, ""}, GoToCase{" 0x1a2b ", 0x1A2B, 0x1A2, ""},
        GoToCase{"5", 5, 0, ""}, GoToCase{"@0x3E8", 0, 0, ""},
        GoToCase{"@ 0x4BE7", 0x4BE7 - 1000, (0x4BE7 - 1000) / 16, ""},
        GoToCase{"\xC2\xA0" "1869F\t", kChunk - 1, kLastTop, ""},
        GoToCase{"186A0", -1, 0,
                 "Offset 0x000186A0 lies outside this partition, which holds offsets 0x00000000 "
                 "to 0x0001869F."},
        GoToCase{"@3E7", -1, 0,
                 "File offset 0x000003E7 lies outside this partition, which holds file offsets "
                 "0x000003E8 to 0x00018A87."},
        GoToCase{" xyz ", -1, 0, "\"xyz\" is not a hexadecimal offset."},
        GoToCase{"1000000000000000", -1, 0, "\"1000000000000000\" is not a hexadecimal offset."},
        GoToCase{"0x", -1, 0, "\"0x\" is not a hexadecimal offset."},
        GoToCase{"-5", -1, 0, "\"-5\" is not a hexadecimal offset."}));

// --- A search's block, and where the next one starts -------------------------------------

TEST(HexRules, AFoundRunBecomesTheBlockAndComesIntoView) {
  HexViewState s = Viewing(kChunk);
  EXPECT_EQ(s.FindOrigin(true), 0);
  // On screen already: nothing scrolls.
  EXPECT_EQ(s.MarkFound(20, 4), 0);
  EXPECT_EQ(Where(s), (std::vector<std::int64_t>{20, 20, 23, 0}));
  EXPECT_EQ(s.FindOrigin(true), 21);
  EXPECT_EQ(s.FindOrigin(false), 20);
  // Its last line below the screen: its first line goes on top.
  EXPECT_EQ(s.MarkFound(9 * 16 + 14, 4), 9);
  // Past the end of the chunk's lines: the last top line.
  EXPECT_EQ(s.MarkFound(kChunk - 4, 4), kLastTop);
  // Shift+keys go on from the found run's end.
  s.SetPosition(kLastTop);
  Press(s, "Shift+Left");
  EXPECT_EQ(Where(s), (std::vector<std::int64_t>{kChunk - 1, kChunk - 4, kChunk - 2, kLastTop}));
  std::int64_t from = 0, n = 0;
  s.Selection(from, n);
  EXPECT_EQ(from, kChunk - 4);
  EXPECT_EQ(n, 3);
}

// --- What the prompts take ---------------------------------------------------------------

TEST(HexParsers, OffsetsInHexWithAnOptionalFileMark) {
  struct Case {
    const char* text;
    std::int64_t value;  // -1: not an offset
    bool file;
  };
  const Case cases[] = {
      {"0", 0, false}, {"1a2B", 0x1A2B, false}, {"0X10", 16, false}, {"@ff", 255, true},
      {"  @  0x10  ", 16, true}, {"FFFFFFFFFFFFFFF", 0xFFFFFFFFFFFFFFF, false},
      {"1000000000000000", -1, false}, {"@", -1, false}, {"1 2", -1, false}, {"\xC3\xA9", -1, false},
  };
  for (const Case& c : cases) {
    const auto parsed = ParseHexOffset(c.text);
    ASSERT_EQ(parsed.has_value(), c.value >= 0) << c.text;
    if (!parsed) continue;
    EXPECT_EQ(parsed->Value, c.value) << c.text;
    EXPECT_EQ(parsed->FileOffset, c.file) << c.text;
  }
}

TEST(HexParsers, FindPatternsAndTheirRefusals) {
  struct Case {
    std::string text;
    std::vector<std::uint8_t> bytes;
    const char* error;  // when bytes is empty
  };
  const Case cases[] = {
      {"DE AD be ef", {0xDE, 0xAD, 0xBE, 0xEF}, ""},
      {"\xE2\x80\x83" "0x0a0B\xC2\xA0", {0x0A, 0x0B}, ""},  // Unicode spaces around
      {"\"PIT \xC3\xA9\"", {'P', 'I', 'T', ' ', 0xE9}, ""},
      {"ABC", {}, "\"ABC\" has an odd number of hexadecimal digits."},
      {"\xC3\xA9" "1", {}, "\"\xC3\xA9" "1\" is neither hexadecimal bytes (DE AD BE EF) nor text in double quotes."},
      {"\"\xE2\x82\xAC\"", {},
       "The character \"\xE2\x82\xAC\" has no single-byte code; text can hold characters up to U+00FF."},
      {"\"\"", {}, "There is nothing to search for."},
      {std::string(4097 * 2, 'A'), {}, "A search takes at most 4096 bytes."},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(ParseFindPattern(c.text, error), c.bytes) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(HexTexts, BytesAddressesAndSearchStatus) {
  EXPECT_EQ(HexCharText(0x41), "A");
  EXPECT_EQ(HexCharText(0x85), ".");
  EXPECT_EQ(HexCharText(0xE9), "\xC3\xA9");
  EXPECT_EQ(HexBytesText({0x4F, 0x6B, 0x00, 0xE9, 0x7F}), "4F 6B 00 E9 7F");
  EXPECT_EQ(CharBytesText({0x4F, 0x6B, 0x00, 0xE9, 0x7F}), "Ok.\xC3\xA9.");
  EXPECT_EQ(HexBytesText({}), "");
  EXPECT_EQ(HexAddressText(0x1A2B), "0x00001A2B");
  EXPECT_EQ(HexAddressText(0x123456789A), "0x123456789A");

  FindResult r;
  r.What = FindResult::Kind::Found;
  r.Address = 0x30;
  EXPECT_EQ(FindStatusText(r, true, "PIT!"), "PIT! found at 0x00000030");
  r.Wrapped = true;
  EXPECT_EQ(FindStatusText(r, true, "PIT!"), "Passed the end of the partition; PIT! found at 0x00000030");
  EXPECT_EQ(FindStatusText(r, false, "PIT!"),
            "Passed the start of the partition; PIT! found at 0x00000030");
  r.What = FindResult::Kind::NotFound;
  EXPECT_EQ(FindStatusText(r, true, "DE AD"), "DE AD not found in this partition");
  r.What = FindResult::Kind::Stopped;
  r.StoppedAt = 0x400000;
  EXPECT_EQ(FindStatusText(r, true, "DE AD"), "Search stopped at 0x00400000");
  r.What = FindResult::Kind::ReadFailed;
  EXPECT_EQ(FindStatusText(r, true, "DE AD"), "");
}

}  // namespace
}  // namespace orvella
