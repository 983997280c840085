// The hex view in a technician's hands: keys, go to, find, copy and save block, each
// driven as the user drives it (key events on the scroll box, answers through the port).

#include <QClipboard>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HexTestFiles.h"
#include "HexViewRig.h"
#include "files/FileIO.h"
#include "image/RecordingPort.h"
#include "ui/HEXView.h"
#include "ui/HexSearch.h"

namespace orvella {
namespace {

using hextest::ScratchDir;
using hextest::TestByte;
using hextest::ViewRig;

constexpr std::int64_t kBase = 1000;     // file offset of the chunk
constexpr std::int64_t kChunk = 100000;  // 6250 lines
constexpr int kLines = 10;
constexpr std::int64_t kLastTop = 6250 - kLines;

// Presses keys given in Qt's text form, any number of them ("Shift+Down, Ctrl+End").
void Press(QWidget& target, const QString& keys) {
  for (const QString& one : keys.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    const QKeySequence seq = QKeySequence::fromString(one.trimmed());
    ASSERT_EQ(seq.count(), 1) << one.toStdString();
    const QKeyCombination k = seq[0];
    QKeyEvent press(QEvent::KeyPress, k.key(), k.keyboardModifiers());
    QApplication::sendEvent(&target, &press);
    QKeyEvent release(QEvent::KeyRelease, k.key(), k.keyboardModifiers());
    QApplication::sendEvent(&target, &release);
  }
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class HexKeysTest : public testing::Test {
 protected:
  void SetUp() override {
    file = dir.File("data.bin");
    hextest::WriteTestFile(file, kBase + kChunk + 500);
    Open(kBase, kChunk);
  }
  void Open(std::int64_t offset, std::int64_t length) {
    rig = std::make_unique<ViewRig>(kLines, hextest::MeasuredCell().cy / 2);
    rig->view->InitializeViewData(file, offset, length);
    rig->view->SetPort(&port);
    rig->view->PopupHook = [this](QMenu& menu, const QPoint&) { popups.push_back(&menu); };
    rig->Click(rig->HexPoint(0, 0));
  }
  void Keys(const char* keys) { Press(rig->box, QString::fromLatin1(keys)); }
  THEXView& View() { return *rig->view; }
  // Where the view stands: caret, block, top line.
  std::vector<std::int64_t> State() {
    return {View().CaretAddress(), View().HasBlock() ? View().BlockBegin() : -1,
            View().HasBlock() ? View().BlockEnd() : -1, View().Position()};
  }

  ScratchDir dir;
  std::string file;
  RecordingPort port;
  std::vector<QMenu*> popups;
  std::unique_ptr<ViewRig> rig;
};

// --- Every key, with and without Shift -------------------------------------------------

struct KeyCase {
  const char* keys;
  std::int64_t length;  // of the chunk
  std::int64_t caret;
  std::int64_t blockBegin;  // -1: no block
  std::int64_t blockEnd;
  std::int64_t top;
};

class KeyMoves : public HexKeysTest, public testing::WithParamInterface<KeyCase> {};

TEST_P(KeyMoves, CaretBlockAndTopLine) {
  const KeyCase c = GetParam();
  if (c.length != kChunk) Open(kBase, c.length);
  Keys(c.keys);
  EXPECT_EQ(State(), (std::vector<std::int64_t>{c.caret, c.blockBegin, c.blockEnd, c.top}));
  // The caret shows exactly when no block is marked, on its byte's line.
  EXPECT_EQ(View().CaretShown(), c.blockBegin < 0);
  if (c.blockBegin < 0) {
    const QPoint shift = rig->paint->pos();
    EXPECT_EQ(View().CaretPosition(),
              QPoint(rig->g.HexX(static_cast<int>(c.caret % 16)) + shift.x(),
                     static_cast<int>(c.caret / 16 - c.top) * rig->g.cy + shift.y()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyMoves,
    testing::Values(
        KeyCase{"Right", kChunk, 1, -1, -1, 0}, KeyCase{"Right, Left, Left", kChunk, 0, -1, -1, 0},
        KeyCase{"Down", kChunk, 16, -1, -1, 0}, KeyCase{"Down, Up, Up", kChunk, 0, -1, -1, 0},
        // The caret's line stays on screen: the tenth Down scrolls one line.
        KeyCase{"Down, Down, Down, Down, Down, Down, Down, Down, Down", kChunk, 144, -1, -1, 0},
        KeyCase{"Down, Down, Down, Down, Down, Down, Down, Down, Down, Down", kChunk, 160, -1, -1, 1},
        KeyCase{"PgDown", kChunk, 160, -1, -1, 10},
        KeyCase{"PgDown, PgDown, PgUp", kChunk, 160, -1, -1, 10},
        KeyCase{"PgDown, PgUp, PgUp", kChunk, 0, -1, -1, 0},
        KeyCase{"Right, Right, End", kChunk, 15, -1, -1, 0},
        KeyCase{"Down, End, Home", kChunk, 16, -1, -1, 0},
        KeyCase{"Ctrl+End", kChunk, kChunk - 1, -1, -1, kLastTop},
        KeyCase{"Ctrl+End, Right, Down, PgDown", kChunk, kChunk - 1, -1, -1, kLastTop},
        KeyCase{"Ctrl+End, Ctrl+Home", kChunk, 0, -1, -1, 0},
        KeyCase{"Ctrl+End, Up, Home", kChunk, kChunk - 32, -1, -1, kLastTop},
        // Shift marks from the caret, between byte boundaries.
        KeyCase{"Shift+Right", kChunk, 1, 0, 0, 0},
        KeyCase{"Shift+Right, Shift+Right, Shift+Left", kChunk, 1, 0, 0, 0},
        KeyCase{"Shift+Right, Shift+Left", kChunk, 0, -1, -1, 0},
        KeyCase{"Right, Right, Shift+Left", kChunk, 1, 1, 1, 0},
        KeyCase{"Down, Shift+Up", kChunk, 0, 0, 15, 0},
        KeyCase{"Shift+Down", kChunk, 16, 0, 15, 0},
        KeyCase{"Right, Shift+End", kChunk, 16, 1, 15, 0},
        KeyCase{"Right, Shift+End, Shift+Home", kChunk, 0, 0, 0, 0},
        KeyCase{"Shift+PgDown", kChunk, 160, 0, 159, 10},
        KeyCase{"Shift+Ctrl+End", kChunk, kChunk - 1, 0, kChunk - 1, kLastTop},
        KeyCase{"Ctrl+End, Shift+Ctrl+Home", kChunk, 0, 0, kChunk - 2, 0},
        // A key without Shift removes the block and moves on from the caret.
        KeyCase{"Shift+Right, Shift+Right, Right", kChunk, 3, -1, -1, 0},
        KeyCase{"Shift+Ctrl+End, Ctrl+Home", kChunk, 0, -1, -1, 0},
        // A chunk of 20 bytes: a partial last line, nothing to scroll.
        KeyCase{"Ctrl+End", 20, 19, -1, -1, 0}, KeyCase{"Down, Down", 20, 19, -1, -1, 0},
        KeyCase{"Down, End", 20, 19, -1, -1, 0}, KeyCase{"End, Down", 20, 19, -1, -1, 0},
        KeyCase{"PgDown", 20, 19, -1, -1, 0},
        KeyCase{"Down, Shift+End", 20, 19, 16, 19, 0}));

TEST_F(HexKeysTest, TabSwitchesColumnsAndKeepsTheFocus) {
  rig->box.setFocusPolicy(Qt::ClickFocus);
  Keys("Right, Tab");
  EXPECT_TRUE(View().CaretInCharColumn());
  EXPECT_EQ(View().CaretPosition().x(), rig->g.CharX(1) + rig->paint->pos().x());
  Keys("Tab");
  EXPECT_FALSE(View().CaretInCharColumn());
  EXPECT_EQ(View().CaretPosition().x(), rig->g.HexX(1) + rig->paint->pos().x());
  Keys("Shift+Tab");
  EXPECT_TRUE(View().CaretInCharColumn());
}

// Down and PgDown through a chunk: the 16 KiB window moves exactly when the lines on
// screen leave it, as the paging rule says.
TEST_F(HexKeysTest, TheDataWindowReloadsOnlyWhenTheLinesOnScreenLeaveIt) {
  hextest::PagingModel model{kChunk, kChunk};
  model.Show(0, (kLines + 1) * 16);
  const HexDataWindow& w = View().DataWindow();
  ASSERT_EQ(w.reloads(), model.moves);
  for (const char* key : {"Down", "PgDown", "Down", "PgUp", "PgDown"}) {
    for (int i = 0; i < 150; ++i) {
      Keys(key);
      model.Show(View().TopAddress(), (kLines + 1) * 16);
      ASSERT_EQ(w.reloads(), model.moves) << key << " " << i;
      ASSERT_EQ(w.desc().CurrentDataPosition, model.start);
    }
  }
  EXPECT_GT(model.moves, 3);
  Keys("Ctrl+End");
  std::uint8_t b = 0;
  ASSERT_TRUE(w.byteAt(kChunk - 1, b));
  EXPECT_EQ(b, TestByte(kBase + kChunk - 1));
}

// --- Go to -------------------------------------------------------------------------------

struct GoToCase {
  const char* typed;
  std::int64_t caret;  // -1: refused, nothing moves
  std::int64_t top;
};

class GoTo : public HexKeysTest, public testing::WithParamInterface<GoToCase> {};

TEST_P(GoTo, MovesTheCaretOrRefuses) {
  const GoToCase c = GetParam();
  Keys("Down, Shift+Right");  // a block that a refusal must leave
  const auto before = State();
  port.InputAnswers.push_back(std::string(c.typed));
  Keys("Ctrl+G");
  ASSERT_EQ(port.InputPrompts.size(), 1u);
  if (c.caret < 0) {
    EXPECT_EQ(State(), before);
    ASSERT_EQ(port.ErrorBoxes.size(), 1u);
    EXPECT_FALSE(port.ErrorBoxes[0].empty());
    return;
  }
  EXPECT_TRUE(port.ErrorBoxes.empty());
  EXPECT_EQ(State(), (std::vector<std::int64_t>{c.caret, -1, -1, c.top}));
  EXPECT_TRUE(View().CaretShown());
  // The caret's byte is held, wherever the 16 KiB window had to go for it.
  std::uint8_t b = 0;
  ASSERT_TRUE(View().DataWindow().byteAt(c.caret, b));
  EXPECT_EQ(b, TestByte(static_cast<std::uint64_t>(kBase + c.caret)));
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, GoTo,
    testing::Values(GoToCase{"1A2B", 0x1A2B, 0x1A2}, GoToCase{" 0x1a2b ", 0x1A2B, 0x1A2},
                    GoToCase{"5", 5, 0},  // on screen: nothing scrolls
                    GoToCase{"3FFF", 0x3FFF, 0x3FF}, GoToCase{"4000", 0x4000, 0x400},
                    GoToCase{"@0x3E8", 0, 0}, GoToCase{"@1000", 0x1000 - kBase, (0x1000 - kBase) / 16},
                    GoToCase{"@ 0x4BE7", 0x4BE7 - kBase, (0x4BE7 - kBase) / 16},
                    GoToCase{"1869F", kChunk - 1, kLastTop}, GoToCase{"186A0", -1, 0},
                    GoToCase{"@3E7", -1, 0}, GoToCase{"@18A88", -1, 0},
                    GoToCase{"FFFFFFFFFFFFFFF", -1, 0}, GoToCase{"1000000000000000", -1, 0},
                    GoToCase{"xyz", -1, 0}, GoToCase{"0x", -1, 0}, GoToCase{"", -1, 0},
                    GoToCase{"-5", -1, 0}));

TEST_F(HexKeysTest, ACancelledPromptChangesNothingAndAnEmptyViewAsksNothing) {
  Keys("Right");
  const auto before = State();
  Keys("Ctrl+G, Ctrl+F");  // no answers queued: both prompts cancelled
  EXPECT_EQ(port.InputPrompts.size(), 2u);
  EXPECT_EQ(State(), before);
  EXPECT_TRUE(port.ErrorBoxes.empty());
  rig->view->InitializeViewData(std::string(), 0, 0);
  Keys("Ctrl+G, Ctrl+F, F3, Down, Ctrl+C");
  EXPECT_EQ(port.InputPrompts.size(), 2u);
}

// --- Find -----------------------------------------------------------------------------

// The search against a plain scan of the same bytes, for many starting points, both
// directions and block sizes down to one byte (every match straddles a block edge).
TEST(FindInChunk, AgreesWithAPlainScanForEveryBlockSize) {
  ScratchDir dir;
  const std::string file = dir.File("find.bin");
  constexpr std::int64_t kOffset = 100;
  constexpr std::int64_t kLength = 3000;
  std::vector<std::uint8_t> bytes = hextest::TestBytes(0, kOffset + kLength + 50);
  const std::vector<std::uint8_t> pattern = {0xDE, 0xAD, 0xBE, 0xEF, 0xDE};
  // At the chunk's start, across 64-byte edges, overlapping itself, at the chunk's end,
  // and just outside the chunk on both sides (which must never be found).
  for (const std::int64_t at : {-5L, kLength, 0L, 62L, 1021L, 1025L, 2047L, kLength - 5})
    std::copy(pattern.begin(), pattern.end(), bytes.begin() + kOffset + at);
  hextest::WriteBytes(file, bytes);
  const THexDataBlockDesc desc{file, kOffset, 0, kLength};
  const auto chunk = bytes.begin() + kOffset;

  std::vector<std::int64_t> matches;
  for (std::int64_t a = 0; a + 5 <= kLength; ++a)
    if (std::equal(pattern.begin(), pattern.end(), chunk + a)) matches.push_back(a);
  ASSERT_EQ(matches.size(), 6u);  // the overlapping pair counts twice

  for (const std::int64_t block : {1L, 2L, 4L, 5L, 64L, 1000L, kFindBlock}) {
    for (const std::int64_t from : {0L, 1L, 62L, 63L, 1021L, 1500L, kLength - 5, kLength - 4, kLength}) {
      for (const bool forward : {true, false}) {
        SCOPED_TRACE(testing::Message() << "block " << block << " from " << from
                                        << (forward ? " forward" : " backward"));
        std::int64_t want = -1;
        bool wrapped = false;
        if (forward) {
          const auto it = std::lower_bound(matches.begin(), matches.end(), from);
          want = it != matches.end() ? *it : matches.front();
          wrapped = it == matches.end();
        } else {
          const auto it = std::lower_bound(matches.begin(), matches.end(), from);
          want = it != matches.begin() ? *std::prev(it) : matches.back();
          wrapped = it == matches.begin();
        }
        const FindResult r = FindInChunk(desc, pattern, from, forward, {}, block);
        ASSERT_EQ(r.What, FindResult::Kind::Found);
        EXPECT_EQ(r.Address, want);
        EXPECT_EQ(r.Wrapped, wrapped);
      }
    }
  }
  // Bytes that are not there, a pattern longer than the chunk, an empty one.
  EXPECT_EQ(FindInChunk(desc, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, 0, true, {}, 7).What,
            FindResult::Kind::NotFound);
  EXPECT_EQ(FindInChunk({file, kOffset, 0, 4}, pattern, 0, true).What, FindResult::Kind::NotFound);
  EXPECT_EQ(FindInChunk(desc, {}, 0, true).What, FindResult::Kind::NotFound);
  // The file shrank under the view: the read fails and says so.
  hextest::TruncateFile(file, kOffset + 10);
  const FindResult gone = FindInChunk(desc, {0x11}, 0, true);
  EXPECT_EQ(gone.What, FindResult::Kind::ReadFailed);
  EXPECT_FALSE(gone.Error.empty());
}

TEST(FindPattern, HexBytesAndQuotedText) {
  std::string error;
  using B = std::vector<std::uint8_t>;
  EXPECT_EQ(ParseFindPattern("DE AD BE EF", error), (B{0xDE, 0xAD, 0xBE, 0xEF}));
  EXPECT_EQ(ParseFindPattern("deadbeef", error), (B{0xDE, 0xAD, 0xBE, 0xEF}));
  EXPECT_EQ(ParseFindPattern(" 0x0a0B ", error), (B{0x0A, 0x0B}));
  EXPECT_EQ(ParseFindPattern("\"PIT é\"", error), (B{'P', 'I', 'T', ' ', 0xE9}));
  EXPECT_EQ(ParseFindPattern("\"a b\"", error), (B{'a', ' ', 'b'}));
  for (const char* bad : {"", "ABC", "DE AG", "\"\"", "\"unterminated", "hello"}) {
    error.clear();
    EXPECT_TRUE(ParseFindPattern(bad, error).empty()) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  EXPECT_TRUE(ParseFindPattern("\"\u20AC\"", error).empty());
  EXPECT_TRUE(ParseFindPattern(std::string(4097 * 2, 'A'), error).empty());
  EXPECT_EQ(ParseFindPattern(std::string(4096 * 2, 'A'), error).size(), 4096u);
}

class HexFindTest : public HexKeysTest {
 protected:
  // The chunk's bytes with `pattern` written at each of `at` (chunk addresses).
  void Plant(const std::vector<std::uint8_t>& pattern, const std::vector<std::int64_t>& at) {
    std::vector<std::uint8_t> bytes = hextest::TestBytes(0, kBase + kChunk + 500);
    for (const std::int64_t a : at) std::copy(pattern.begin(), pattern.end(), bytes.begin() + kBase + a);
    hextest::WriteBytes(file, bytes);
    Open(kBase, kChunk);
  }
  void Find(const char* typed) {
    port.InputAnswers.push_back(std::string(typed));
    Keys("Ctrl+F");
  }
};

TEST_F(HexFindTest, FindMarksTheRunF3GoesOnAndWrapsWithAStatus) {
  // Across the data window's edge (0x4000), past it, and in the chunk's last bytes.
  Plant({0x50, 0x49, 0x54, 0x21}, {0x3FFE, 0x9000, kChunk - 4});
  Find("\"PIT!\"");
  EXPECT_EQ(State(), (std::vector<std::int64_t>{0x3FFE, 0x3FFE, 0x4001, 0x3FF}));
  EXPECT_FALSE(View().CaretShown());
  EXPECT_EQ(port.Status[0], "\"PIT!\" found at 0x00003FFE");
  Keys("F3");
  EXPECT_EQ(State(), (std::vector<std::int64_t>{0x9000, 0x9000, 0x9003, 0x900}));
  Keys("F3");
  EXPECT_EQ(State(), (std::vector<std::int64_t>{kChunk - 4, kChunk - 4, kChunk - 1, kLastTop}));
  // The run on screen is drawn marked.
  std::uint8_t b = 0;
  ASSERT_TRUE(View().DataWindow().byteAt(kChunk - 1, b));
  EXPECT_EQ(b, 0x21);
  Keys("F3");
  EXPECT_EQ(View().BlockBegin(), 0x3FFE);
  EXPECT_EQ(port.Status[0], "Passed the end of the partition; \"PIT!\" found at 0x00003FFE");
  Keys("Shift+F3");
  EXPECT_EQ(View().BlockBegin(), kChunk - 4);
  EXPECT_EQ(port.Status[0], "Passed the start of the partition; \"PIT!\" found at 0x0001869C");
  Keys("Shift+F3");
  EXPECT_EQ(View().BlockBegin(), 0x9000);
  // The hex form finds the same bytes; the prompt offers the last search.
  Find("50 49 54 21");
  EXPECT_EQ(View().BlockBegin(), kChunk - 4);
  // Shift extends a found run from its end.
  Keys("Ctrl+Home");
  Find("5049 5421");
  Keys("Shift+Right");
  EXPECT_EQ(State(), (std::vector<std::int64_t>{0x4003, 0x3FFE, 0x4002, 0x3FF}));
  EXPECT_TRUE(port.ErrorBoxes.empty());
}

TEST_F(HexFindTest, NothingFoundOrABadPatternMovesNothing) {
  Plant({0x01}, {});
  Keys("PgDown, Right, Shift+Right");
  const auto before = State();
  Find("\"not in these bytes at all\"");
  EXPECT_EQ(State(), before);
  EXPECT_EQ(port.Status[0], "\"not in these bytes at all\" not found in this partition");
  Find("AB C");
  EXPECT_EQ(State(), before);
  EXPECT_EQ(port.ErrorBoxes.size(), 1u);
  // F3 before any search asks for the pattern.
  Open(kBase, kChunk);
  Keys("F3");
  EXPECT_EQ(port.InputPrompts.size(), 3u);
}

TEST_F(HexFindTest, ALongSearchShowsTheGaugeAndEscStopsIt) {
  // A sparse chunk of 12 MiB: zeros, with the pattern in its last bytes.
  constexpr std::int64_t kLong = 12 << 20;
  hextest::WriteSparseFile(file, kBase + kLong, {{kBase + kLong - 2, 0xAA}, {kBase + kLong - 1, 0x55}});
  Open(kBase, kLong);
  View().SetFindBlockSize(1 << 20);
  Find("AA 55");
  EXPECT_EQ(View().BlockBegin(), kLong - 2);
  EXPECT_EQ(port.Max, kLong);
  EXPECT_GE(port.HighestPos, kLong - (2 << 20));
  EXPECT_EQ(port.Pos, 0);  // back at rest
  EXPECT_GE(port.MessagePumps, 10);

  // Esc while the window runs stops it; nothing moves and keys meanwhile are ignored.
  Keys("Ctrl+Home");
  const auto before = State();
  int pumps = 0;
  port.OnPump = [&] {
    if (++pumps == 3) Keys("Down, Escape");
  };
  Keys("F3");
  EXPECT_EQ(State(), before);
  EXPECT_EQ(port.Status[0], "Search stopped at 0x00300000");
  EXPECT_FALSE(View().Searching());

  // A new chunk while a search runs ends the search; its result is dropped.
  pumps = 0;
  port.OnPump = [&] {
    if (++pumps == 2) View().InitializeViewData(file, kBase, 4096);
  };
  Keys("F3");
  EXPECT_FALSE(View().HasBlock());
  EXPECT_EQ(View().ChunkLength(), 4096);
  EXPECT_EQ(View().CaretAddress(), 0);
}

// --- Copy and save block ----------------------------------------------------------------

TEST_F(HexKeysTest, CopyGivesHexOrCharactersOfTheBlockOrTheCaretsByte) {
  std::vector<std::uint8_t> bytes = hextest::TestBytes(0, kBase + kChunk + 500);
  const std::uint8_t text[] = {'O', 'k', 0x00, 0xE9, 0x7F};
  std::copy(std::begin(text), std::end(text), bytes.begin() + kBase + 0x5000);
  hextest::WriteBytes(file, bytes);
  Open(kBase, kChunk);
  QClipboard* clip = QGuiApplication::clipboard();

  Keys("Ctrl+C");
  EXPECT_EQ(clip->text().toStdString(), HexBytesText({TestByte(kBase)}));
  port.InputAnswers.push_back("5000");
  Keys("Ctrl+G, Shift+Right, Shift+Right, Shift+Right, Shift+Right, Shift+Right, Ctrl+C");
  EXPECT_EQ(clip->text(), QStringLiteral("4F 6B 00 E9 7F"));
  Keys("Tab, Ctrl+C");
  EXPECT_EQ(clip->text(), QString::fromUtf8("Ok.\u00E9."));
  // A block across the data window's edge is read from the file.
  port.InputAnswers.push_back("3FFF");
  Keys("Ctrl+G, Shift+Right, Shift+Right, Tab, Ctrl+C");
  EXPECT_EQ(clip->text().toStdString(),
            HexBytesText({TestByte(kBase + 0x3FFF), TestByte(kBase + 0x4000)}));
  // The menu's entries do the same, whichever column the caret is in.
  ASSERT_NE(View().Menu(), nullptr);
  View().Menu()->findChild<QAction*>(QStringLiteral("HexCopyTextItem"))->trigger();
  EXPECT_EQ(clip->text().toStdString(), CharBytesText({TestByte(kBase + 0x3FFF), TestByte(kBase + 0x4000)}));
  // Too much for the clipboard: refused, the clipboard keeps what it had.
  const QString had = clip->text();
  hextest::WriteSparseFile(file, kBase + THEXView::kMaxCopy + 10);
  Open(kBase, THEXView::kMaxCopy + 1);
  Keys("Shift+Ctrl+End, Ctrl+C");
  EXPECT_EQ(clip->text(), had);
  EXPECT_EQ(port.ErrorBoxes.size(), 1u);
}

TEST_F(HexKeysTest, SaveBlockWritesTheMarkedBytesAndNeverTheImage) {
  const std::vector<std::uint8_t> image = ReadFile(file);
  QAction* save = View().Menu()->findChild<QAction*>(QStringLiteral("HexSaveBlockItem"));
  ASSERT_NE(save, nullptr);

  // A block across the data window's edge, to a new file.
  port.InputAnswers.push_back("3FF0");
  Keys("Ctrl+G, Shift+Down, Shift+Down");
  const std::string out = dir.File("block.bin");
  port.SaveAnswers.push_back(out);
  save->trigger();
  EXPECT_EQ(ReadFile(out), hextest::TestBytes(kBase + 0x3FF0, 32));
  EXPECT_FALSE(FileExists(out + ".part"));
  EXPECT_EQ(port.SaveRequests.size(), 1u);
  // The caret's byte alone when nothing is marked; cancelled writes nothing.
  Keys("Ctrl+End");
  port.SaveAnswers.push_back(out);
  save->trigger();
  EXPECT_EQ(ReadFile(out), hextest::TestBytes(kBase + kChunk - 1, 1));
  port.SaveAnswers.push_back(std::nullopt);
  save->trigger();
  // The image itself, by its name or through a link, is refused and stays as it was.
  const std::string link = dir.File("link.bin");
  std::filesystem::create_symlink(file, link);
  for (const std::string& target : {file, link}) {
    port.SaveAnswers.push_back(target);
    save->trigger();
  }
  EXPECT_EQ(port.ErrorBoxes.size(), 2u);
  EXPECT_EQ(ReadFile(file), image);
  // A folder that cannot take the file: reported, nothing left behind.
  port.SaveAnswers.push_back(dir.File("no-such-folder/block.bin"));
  save->trigger();
  EXPECT_EQ(port.ErrorBoxes.size(), 3u);
  EXPECT_EQ(ReadFile(file), image);
}

TEST_F(HexKeysTest, RightClickAndTheMenuKeyOpenTheMenuWithItsSixEntries) {
  rig->Mouse(QEvent::MouseButtonPress, rig->HexPoint(3, 2), Qt::RightButton);
  Keys("Menu, Shift+F10");
  ASSERT_EQ(popups.size(), 3u);
  EXPECT_EQ(View().CaretAddress(), 0);  // a right click leaves the caret
  QStringList names;
  for (QAction* a : popups[0]->actions())
    if (!a->isSeparator()) names << a->objectName();
  EXPECT_EQ(names, (QStringList{"HexGoToItem", "HexFindItem", "HexFindNextItem",
                                "HexCopyHexItem", "HexCopyTextItem", "HexSaveBlockItem"}));
  port.InputAnswers.push_back("20");
  popups[0]->findChild<QAction*>(QStringLiteral("HexGoToItem"))->trigger();
  EXPECT_EQ(View().CaretAddress(), 0x20);
}

}  // namespace
}  // namespace orvella
