// The temporary image builder on its own: layout for every table block, the limits it
// checks itself, and a failing sink.

#include <gtest/gtest.h>

#include "device/TempImage.h"

namespace orvella {
namespace {

std::vector<std::uint8_t> TableBytes(std::uint64_t L) {
  std::vector<std::uint8_t> t(L + L / 32);
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<std::uint8_t>(i * 13 + 1);
  return t;
}

struct BuildCase {
  FlashGeometry g;
  std::uint32_t block;
  std::uint64_t L;
};

class BuildLayout : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildLayout, PutsTheTableAndItsSpareInTheirBlockAndBlanksTheRest) {
  const BuildCase c = GetParam();
  const std::vector<std::uint8_t> table = TableBytes(c.L);
  std::vector<std::uint8_t> out;
  std::uint64_t lastPos = 0;
  int chunks = 0;
  std::string error;
  const bool ok = BuildTemporaryImage(
      c.g, c.block, table,
      [&](const std::uint8_t* d, std::size_t n, std::string&) {
        out.insert(out.end(), d, d + n);
        return true;
      },
      [&](std::uint64_t p, std::uint64_t total) {
        EXPECT_EQ(total, TempImageSize(c.g));
        EXPECT_GT(p, lastPos);
        lastPos = p;
        ++chunks;
      },
      error);
  ASSERT_TRUE(ok) << error;

  const std::uint64_t M = std::uint64_t{c.g.ChipSizeMiB} << 20;
  const std::uint64_t at = std::uint64_t{c.block} * c.g.EraseBlockSize;
  std::vector<std::uint8_t> expected(M + M / 32, 0xFF);
  std::copy(table.begin(), table.begin() + static_cast<long>(c.L), expected.begin() + static_cast<long>(at));
  std::copy(table.begin() + static_cast<long>(c.L), table.end(),
            expected.begin() + static_cast<long>(M + at / 32));
  ASSERT_EQ(out.size(), expected.size());
  EXPECT_TRUE(out == expected);
  EXPECT_EQ(lastPos, TempImageSize(c.g)) << "the last blank chunk ends the image";
  EXPECT_GT(chunks, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, BuildLayout,
    ::testing::Values(BuildCase{{2, 0x40000, 0x1000}, 1, 0x1000},
                      BuildCase{{2, 0x40000, 0x1000}, 2, 0x40000},  // table fills its block
                      BuildCase{{2, 0x40000, 0x1000}, 3, 0x2000},
                      BuildCase{{1, 0x20000, 0x800}, 0, 0x800},
                      BuildCase{{3, 0x10000, 0x200}, 5, 0x10000 - 0x200}));

TEST(TempImage, LimitsAreCheckedBeforeAnyByteIsWritten) {
  int writes = 0;
  const ImageSink sink = [&](const std::uint8_t*, std::size_t, std::string&) {
    ++writes;
    return true;
  };
  std::string error;
  const std::vector<std::uint8_t> table = TableBytes(0x1000);
  EXPECT_FALSE(BuildTemporaryImage({0, 0x40000, 0x1000}, 1, table, sink, {}, error));
  EXPECT_FALSE(BuildTemporaryImage({2, 0x40000, 0x1000}, 7, table, sink, {}, error));
  EXPECT_NE(error.find("too small"), std::string::npos);
  EXPECT_FALSE(BuildTemporaryImage({2, 0x800, 0x800}, 1, TableBytes(0x1000), sink, {}, error));
  EXPECT_FALSE(BuildTemporaryImage({2, 0x40000, 0x1000}, 1, std::span(table).first(100), sink, {}, error));
  EXPECT_FALSE(BuildTemporaryImage({2, 0x40000, 0x1000}, 1, {}, sink, {}, error));
  EXPECT_EQ(writes, 0);
}

TEST(TempImage, AFailingSinkStopsTheBuildWithItsError) {
  int writes = 0;
  std::string error;
  const bool ok = BuildTemporaryImage(
      {2, 0x40000, 0x1000}, 1, TableBytes(0x1000),
      [&](const std::uint8_t*, std::size_t, std::string& e) {
        if (++writes < 4) return true;
        e = "disk full";
        return false;
      },
      {}, error);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, "disk full");
  EXPECT_EQ(writes, 4);
}

TEST(TempImage, TableLengthNeverWraps) {
  EXPECT_EQ(TableLengthInPages(0, 0x1000), 0x1000u);
  EXPECT_EQ(TableLengthInPages(20, 0x1000), 0x1000u);
  EXPECT_EQ(TableLengthInPages(31, 0x1000), 0x2000u);
  EXPECT_EQ(TableLengthInPages(0xFFFFFFFFu, 0x1000), 566935683072u);
}

TEST(TempImage, GeometryLimits) {
  EXPECT_EQ(CheckFlashGeometry({1, 0x40000, 0x1000}), "");
  EXPECT_EQ(CheckFlashGeometry({4095, 0x4000000, 0x200}), "");
  EXPECT_NE(CheckFlashGeometry({4096, 0x40000, 0x1000}), "");
  EXPECT_NE(CheckFlashGeometry({4, 0x40000, 0x1000 + 0x200 / 2}), "");
  EXPECT_NE(CheckFlashGeometry({4, 0x1000 * 3 + 0x200, 0x1000}), "");
  EXPECT_EQ(CheckTablePlacement({4, 0x40000, 0x1000}, 3, 0x40000), "");
  EXPECT_NE(CheckTablePlacement({1, 0x40000, 0x1000}, 3, 0x1000), "") << "M must exceed (i + 1) x E";
  EXPECT_NE(CheckTablePlacement({4, 0x40000, 0x1000}, 1, 0x40001), "");
}

}  // namespace
}  // namespace orvella
