#include "ui/HexDataWindow.h"
#include "ui/HexSearch.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HexTestFiles.h"
#include "files/FileIO.h"

namespace orvella {
namespace {

using hextest::ScratchDir;
using hextest::TestBytes;
using Result = HexDataWindow::LoadResult;

constexpr std::int64_t kCap = HexDataWindow::kCapacity;

std::vector<std::uint8_t> Held(const HexDataWindow& w) { return w.bytes(); }

TEST(HexDataWindow, SizesTheWindowToTheChunk) {
  ScratchDir dir;
  const std::string file = dir.File("data.bin");
  hextest::WriteTestFile(file, 1 << 20);
  struct Case { std::int64_t chunk, window; };
  for (const Case c : {Case{0, 0}, Case{1, 1}, Case{16, 16}, Case{17, 17},
                       Case{16383, 16383}, Case{16384, 16384}, Case{16385, 16384},
                       Case{1 << 20, 16384}}) {
    SCOPED_TRACE(c.chunk);
    HexDataWindow w;
    ASSERT_TRUE(w.attach(file, 0, c.chunk));
    EXPECT_EQ(w.length(), c.window);
    EXPECT_EQ(w.desc().ChunkLength, c.chunk);
    // Nothing is held until the first load.
    EXPECT_EQ(w.desc().CurrentDataPosition, c.chunk);
    std::uint8_t b = 0;
    EXPECT_FALSE(w.byteAt(0, b));
    EXPECT_EQ(w.empty(), c.chunk == 0);
  }
}

TEST(HexDataWindow, RefusesMissingFilesAndChunksPastTheEnd) {
  ScratchDir dir;
  const std::string file = dir.File("data.bin");
  hextest::WriteTestFile(file, 1000);
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  struct Case { std::int64_t offset, length; bool fits; };
  for (const Case c : {Case{0, 1000, true}, Case{1000, 0, true}, Case{999, 1, true},
                       Case{999, 2, false}, Case{1001, 0, false}, Case{-1, 10, false},
                       Case{0, -1, false}, Case{kMax, 1, false}, Case{1, kMax, false}}) {
    SCOPED_TRACE(testing::Message() << c.offset << "+" << c.length);
    HexDataWindow w;
    EXPECT_EQ(w.attach(file, c.offset, c.length), c.fits);
    if (!c.fits) {
      EXPECT_TRUE(w.empty());
      EXPECT_EQ(w.length(), 0);
      EXPECT_EQ(w.load(0, 160), Result::Held);
      EXPECT_EQ(w.reloads(), 0);
    }
  }
  HexDataWindow w;
  EXPECT_FALSE(w.attach(dir.File("missing.bin"), 0, 10));
  EXPECT_FALSE(w.attach("", 0, 0));
  EXPECT_FALSE(w.attach(dir.File(""), 0, 0));  // the folder itself
  // A failed attach forgets the chunk that was there before.
  ASSERT_TRUE(w.attach(file, 0, 100));
  EXPECT_FALSE(w.attach(file, 500, 501));
  EXPECT_TRUE(w.empty());
  EXPECT_TRUE(w.desc().FileName.empty());
}

TEST(HexDataWindow, RecentresEightKiBBeforeTheTopLineInsideTheChunk) {
  ScratchDir dir;
  const std::string file = dir.File("data.bin");
  hextest::WriteSparseFile(file, 100000);
  HexDataWindow w;
  ASSERT_TRUE(w.attach(file, 0, 100000));
  struct Case { std::int64_t top, start; };
  for (const Case c : {Case{0, 0}, Case{8192, 0}, Case{8208, 16}, Case{50000, 41808},
                       Case{100000 - 16384 + 8192, 100000 - 16384},
                       Case{99984, 100000 - 16384}}) {
    EXPECT_EQ(w.recentre(c.top), c.start) << c.top;
  }
  // A chunk smaller than the window always starts at 0.
  ASSERT_TRUE(w.attach(file, 0, 5000));
  EXPECT_EQ(w.recentre(4992), 0);
}

TEST(HexDataWindow, ReadsOnlyWhenTheLinesFallOutsideTheWindow) {
  ScratchDir dir;
  const std::string file = dir.File("data.bin");
  hextest::WriteTestFile(file, 200000);
  constexpr std::int64_t kStart = 3000;
  HexDataWindow w;
  ASSERT_TRUE(w.attach(file, kStart, 100000));

  EXPECT_EQ(w.load(0, 160), Result::Reloaded);
  EXPECT_EQ(w.desc().CurrentDataPosition, 0);
  EXPECT_EQ(Held(w), TestBytes(kStart, kCap));

  EXPECT_EQ(w.load(kCap - 160, 160), Result::Held);  // the last lines still inside
  EXPECT_EQ(w.reloads(), 1);

  EXPECT_EQ(w.load(kCap - 144, 160), Result::Reloaded);
  EXPECT_EQ(w.desc().CurrentDataPosition, kCap - 144 - 8192);
  EXPECT_EQ(Held(w), TestBytes(kStart + kCap - 144 - 8192, kCap));
  std::uint8_t b = 0;
  ASSERT_TRUE(w.byteAt(kCap, b));
  EXPECT_EQ(b, hextest::TestByte(kStart + kCap));
  EXPECT_FALSE(w.byteAt(0, b));  // moved out of the window

  // Back up by less than the lead-in: still held.
  EXPECT_EQ(w.load(kCap - 144 - 8192, 160), Result::Held);
  EXPECT_EQ(w.reloads(), 2);
}

TEST(HexDataWindow, LastLinesOfAChunkEndingAtTheEndOfTheFile) {
  ScratchDir dir;
  const std::string file = dir.File("data.bin");
  constexpr std::int64_t kSize = 300000;
  constexpr std::int64_t kChunk = 100000;
  hextest::WriteTestFile(file, kSize);
  HexDataWindow w;
  ASSERT_TRUE(w.attach(file, kSize - kChunk, kChunk));
  // The top line is the chunk's last line; the lines asked for run past its end.
  const std::int64_t lastLine = (kChunk - 1) / 16 * 16;
  EXPECT_EQ(w.load(lastLine, 20 * 16), Result::Reloaded) << w.lastError();
  EXPECT_EQ(w.desc().CurrentDataPosition, kChunk - kCap);
  EXPECT_EQ(Held(w), TestBytes(kSize - kCap, kCap));
  // The lines past the chunk's end hold nothing, so painting them again reads nothing.
  EXPECT_EQ(w.load(lastLine, 20 * 16), Result::Held);
  EXPECT_EQ(w.load(lastLine - 5 * 16, 20 * 16), Result::Held);
  EXPECT_EQ(w.reloads(), 1);
}

TEST(HexDataWindow, KeepsTheHeldBytesWhenTheFileIsGone) {
  ScratchDir dir;
  const std::string file = dir.File("data.bin");
  hextest::WriteTestFile(file, 100000);
  HexDataWindow w;
  ASSERT_TRUE(w.attach(file, 0, 100000));
  ASSERT_EQ(w.load(0, 160), Result::Reloaded);
  ASSERT_TRUE(DeleteFileAt(file));
  EXPECT_EQ(w.load(50000, 160), Result::FileGone);
  EXPECT_EQ(w.desc().CurrentDataPosition, 0);
  EXPECT_EQ(Held(w), TestBytes(0, kCap));
  EXPECT_EQ(w.reloads(), 1);

  // Gone before the first load: nothing is ever held.
  hextest::WriteTestFile(file, 1000);
  ASSERT_TRUE(w.attach(file, 0, 1000));
  ASSERT_TRUE(DeleteFileAt(file));
  EXPECT_EQ(w.load(0, 160), Result::FileGone);
  std::uint8_t b = 0;
  EXPECT_FALSE(w.byteAt(0, b));
}

TEST(HexDataWindow, AFailedReadKeepsTheHeldBytes) {
  ScratchDir dir;
  const std::string file = dir.File("data.bin");
  hextest::WriteTestFile(file, 100000);
  HexDataWindow w;
  ASSERT_TRUE(w.attach(file, 0, 100000));

  // An input/output error on the very first read: nothing held, nothing thrown.
  FileFaults::ArmRead(1);
  EXPECT_EQ(w.load(0, 160), Result::ReadFailed);
  FileFaults::Disarm();
  EXPECT_FALSE(w.lastError().empty());
  std::uint8_t b = 0;
  EXPECT_FALSE(w.byteAt(0, b));
  // The next paint tries again.
  EXPECT_EQ(w.load(0, 160), Result::Reloaded);
  EXPECT_EQ(Held(w), TestBytes(0, kCap));

  // The file shrinks: reading further comes short. The old window stays whole.
  hextest::TruncateFile(file, 30000);
  EXPECT_EQ(w.load(60000, 160), Result::ReadFailed);
  EXPECT_NE(w.lastError().find("beyond end of file"), std::string::npos) << w.lastError();
  EXPECT_EQ(w.desc().CurrentDataPosition, 0);
  EXPECT_EQ(Held(w), TestBytes(0, kCap));
  EXPECT_EQ(w.reloads(), 3);
}

TEST(HexDataWindow, ReadsChunksBeyondFourGiB) {
  ScratchDir dir;
  const std::string file = dir.File("big.bin");
  constexpr std::uint64_t kOffset = 5ull << 30;
  hextest::WriteSparseFile(file, kOffset + 65536,
                           {{kOffset, 0xA5}, {kOffset + 40000, 0x5A}, {kOffset + 65535, 0x77}});
  HexDataWindow w;
  ASSERT_TRUE(w.attach(file, static_cast<std::int64_t>(kOffset), 65536));
  EXPECT_FALSE(w.attach(file, static_cast<std::int64_t>(kOffset), 65537));
  ASSERT_TRUE(w.attach(file, static_cast<std::int64_t>(kOffset), 65536));
  std::uint8_t b = 0;
  ASSERT_EQ(w.load(0, 160), Result::Reloaded) << w.lastError();
  ASSERT_TRUE(w.byteAt(0, b));
  EXPECT_EQ(b, 0xA5);
  ASSERT_EQ(w.load(40000, 160), Result::Reloaded) << w.lastError();
  ASSERT_TRUE(w.byteAt(40000, b));
  EXPECT_EQ(b, 0x5A);
  ASSERT_EQ(w.load(65520, 160), Result::Reloaded) << w.lastError();
  ASSERT_TRUE(w.byteAt(65535, b));
  EXPECT_EQ(b, 0x77);
}

struct ScrollCase {
  const char* name;
  std::int64_t stepLines;  // negative: from the end backwards
  std::int64_t screenLines;
};

class HexDataWindowScroll : public testing::TestWithParam<ScrollCase> {};

TEST_P(HexDataWindowScroll, ThroughAQuarterGiBReadsOnlyWhenTheWindowMustMove) {
  const ScrollCase c = GetParam();
  ScratchDir dir;
  const std::string file = dir.File("quarter.bin");
  constexpr std::int64_t kChunk = 256ll << 20;
  constexpr std::int64_t kStart = 4096;
  // One marked byte per MiB shows that the window holds the right part of the file.
  std::vector<std::pair<std::uint64_t, std::uint8_t>> marks;
  for (std::int64_t mib = 0; mib < 256; ++mib)
    marks.emplace_back(kStart + (mib << 20) + 100, static_cast<std::uint8_t>(mib + 1));
  hextest::WriteSparseFile(file, kStart + kChunk, marks);

  HexDataWindow w;
  ASSERT_TRUE(w.attach(file, kStart, kChunk));
  hextest::PagingModel model{kChunk, kChunk};
  const std::int64_t need = (c.screenLines + 1) * 16;
  const std::int64_t lastTop = (kChunk / 16 - c.screenLines) * 16;
  const std::int64_t step = c.stepLines * 16;

  long mismatches = 0;
  std::int64_t top = step > 0 ? 0 : lastTop;
  for (;;) {
    const bool mustMove = !w.contains(top, need);
    const long before = w.reloads();
    const Result r = w.load(top, need);
    model.Show(top, need);
    if ((r == Result::Reloaded) != mustMove || w.reloads() - before != (mustMove ? 1 : 0) ||
        w.desc().CurrentDataPosition != model.start) {
      if (++mismatches < 5) ADD_FAILURE() << "at top " << top;
    }
    for (const std::int64_t mark : {((top >> 20) << 20) + 100, (((top >> 20) + 1) << 20) + 100}) {
      std::uint8_t b = 0;
      if (mark >= top && mark < top + need && mark < kChunk &&
          (!w.byteAt(mark, b) || b != static_cast<std::uint8_t>((mark >> 20) + 1))) {
        ++mismatches;
      }
    }
    if (step > 0 ? top == lastTop : top == 0) break;
    top = std::clamp<std::int64_t>(top + step, 0, lastTop);
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(w.reloads(), model.moves);
  // After a move the top line may run on 8 KiB less the lines on screen downwards, or
  // 8 KiB upwards, before the next one; a move advances that much, plus at most a step.
  const std::int64_t stride = std::abs(step);
  const std::int64_t reach = step > 0 ? 8192 - need : 8192;
  EXPECT_LE(w.reloads(), kChunk / std::max(stride, reach) + 2);
  EXPECT_GE(w.reloads(), kChunk / (reach + stride));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, HexDataWindowScroll,
    testing::Values(ScrollCase{"LineDown", 1, 40}, ScrollCase{"LineUp", -1, 40},
                    ScrollCase{"PageDown", 40, 40}, ScrollCase{"PageUp", -40, 40},
                    ScrollCase{"TallPageDown", 300, 300}),
    [](const testing::TestParamInfo<ScrollCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace orvella

namespace orvella {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Repeated(const Bytes& unit, std::size_t times) {
  Bytes out;
  for (std::size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

// Bytes that repeat nowhere in a test file.
Bytes Noise(std::size_t n) {
  Bytes out(n);
  std::uint32_t x = 2463534242u;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return out;
}

Bytes Run(std::size_t n, std::uint8_t b, std::uint8_t lastByte) {
  Bytes out(n, b);
  out.back() = lastByte;
  return out;
}

// A haystack, a needle, and where the search must find it (-1: nowhere).
struct FirstCase {
  const char* name;
  Bytes hay;
  Bytes needle;
  std::int64_t at;
};

class FindFirstCases : public testing::TestWithParam<FirstCase> {};

// Every case also agrees with the library's search, so the expected offsets below cannot
// drift from what the bytes say. Its Boyer-Moore searcher keeps the runs-of-'A' cases, which
// a naive search compares a thousand million times, quick in the sanitizer build.
TEST_P(FindFirstCases, FindsTheFirstRunOrNone) {
  const FirstCase& c = GetParam();
  const auto plain =
      std::search(c.hay.begin(), c.hay.end(), std::boyer_moore_searcher(c.needle.begin(), c.needle.end()));
  const std::int64_t want = plain == c.hay.end() ? -1 : plain - c.hay.begin();
  ASSERT_EQ(want, c.at) << "the case's own expectation";
  EXPECT_EQ(FindFirst(c.hay, c.needle), c.at);
}

const Bytes kVaried = hextest::TestBytes(0, 70000);
const Bytes kNeedle8 = {'O', 'R', 'V', 'F', 'I', 'N', 'D', '!'};

Bytes WithAt(Bytes hay, const Bytes& needle, std::size_t at) {
  std::copy(needle.begin(), needle.end(), hay.begin() + static_cast<std::ptrdiff_t>(at));
  return hay;
}

INSTANTIATE_TEST_SUITE_P(
    Searches, FindFirstCases,
    testing::Values(
        FirstCase{"OneByteAtTheStart", {7, 1, 7}, {7}, 0},
        FirstCase{"OneByteAtTheEnd", {1, 2, 3}, {3}, 2},
        FirstCase{"EmptyNeedle", {1, 2}, {}, 0},
        FirstCase{"NeedleLongerThanTheHay", {1, 2}, {1, 2, 3}, -1},
        FirstCase{"TwoBytesFirstOfThree", {5, 6, 5, 6, 5, 6}, {5, 6}, 0},
        FirstCase{"EightBytesAtTheVeryEnd", WithAt(kVaried, kNeedle8, 70000 - 8), kNeedle8, 70000 - 8},
        FirstCase{"EightBytesTwiceGivesTheFirst",
                  WithAt(WithAt(kVaried, kNeedle8, 60000), kNeedle8, 1234), kNeedle8, 1234},
        FirstCase{"AbsentFromVariedBytes", kVaried, kNeedle8, -1},
        // Bytes that start the needle everywhere: erased flash and 0xFF ... 0x01.
        FirstCase{"ErasedFlashLastByteDiffers", WithAt(Bytes(1 << 20, 0xFF), {0x01}, (1 << 20) - 1),
                  Run(64, 0xFF, 0x01), (1 << 20) - 64},
        FirstCase{"ErasedFlashNeverMatches", Bytes(1 << 20, 0xFF), Run(64, 0xFF, 0x01), -1},
        // Runs one byte shorter than the needle: every start compares a whole run first.
        FirstCase{"RunsShorterThanTheNeedle", Repeated(Run(1024, 'A', 'B'), 1024),
                  Bytes(1024, 'A'), -1},
        FirstCase{"RunsShorterThanTheNeedleThenOneLonger",
                  WithAt(Repeated(Run(1024, 'A', 'B'), 1024), Bytes(2048, 'A'), 1000 * 1024 + 1),
                  Bytes(1025, 'A'), 1000 * 1024},
        FirstCase{"LongestPatternAtTheEnd", WithAt(kVaried, Noise(4096), 70000 - 4096),
                  Noise(4096), 70000 - 4096}),
    [](const testing::TestParamInfo<FirstCase>& p) { return p.param.name; });

}  // namespace
}  // namespace orvella
