// Column type codes: how a cell's value becomes its text.

#include <gtest/gtest.h>

#include <string>

#include "rows/CoolListItems.h"

namespace orvella {
namespace {

const std::uint32_t kSmall = 0x1A;
const std::uint32_t kLarge = 0x12345ABC;
const std::string kText = "0000000000080000";

struct CodeCase {
  std::uint32_t code;
  const char* small;  // text of kSmall for number codes, of kText for string codes
  const char* large;  // text of kLarge (number codes only)
};

class NumberCodeTest : public ::testing::TestWithParam<CodeCase> {};

TEST_P(NumberCodeTest, FormatsWithTheMinimumDigitsAndKeepsLongerValuesWhole) {
  EXPECT_EQ(FormatCellText(GetParam().code, TCellRef{&kSmall}), GetParam().small);
  EXPECT_EQ(FormatCellText(GetParam().code, TCellRef{&kLarge}), GetParam().large);
  // Only the low byte of a code counts.
  EXPECT_EQ(FormatCellText(GetParam().code | 0x7700u, TCellRef{&kSmall}), GetParam().small);
  // A string where a number is expected shows nothing.
  EXPECT_EQ(FormatCellText(GetParam().code, TCellRef{&kText}), "");
}

INSTANTIATE_TEST_SUITE_P(Codes, NumberCodeTest,
                         ::testing::Values(CodeCase{0, "26", "305420988"},
                                           CodeCase{2, "1A", "12345ABC"},
                                           CodeCase{3, "001A", "12345ABC"},
                                           CodeCase{4, "0000001A", "12345ABC"},
                                           CodeCase{5, "0x1A", "0x12345ABC"},
                                           CodeCase{6, "0x001A", "0x12345ABC"},
                                           CodeCase{7, "0x0000001A", "0x12345ABC"}));

class StringCodeTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(StringCodeTest, ShowsTheStringUnchanged) {
  EXPECT_EQ(FormatCellText(GetParam(), TCellRef{&kText}), kText);
  const std::string empty;
  EXPECT_EQ(FormatCellText(GetParam(), TCellRef{&empty}), "");
  // A number where a string is expected shows nothing.
  EXPECT_EQ(FormatCellText(GetParam(), TCellRef{&kSmall}), "");
}

INSTANTIATE_TEST_SUITE_P(Codes, StringCodeTest, ::testing::Values(1u, 8u, 9u, 10u, 0x109u));

TEST(CellFormatTest, CodesElevenAndAboveShowNothing) {
  for (std::uint32_t code = 11; code <= 255; ++code) {
    EXPECT_EQ(FormatCellText(code, TCellRef{&kSmall}), "") << code;
    EXPECT_EQ(FormatCellText(code, TCellRef{&kText}), "") << code;
  }
  // The low byte decides: 0x10B is code 11.
  EXPECT_EQ(FormatCellText(0x10B, TCellRef{&kText}), "");
}

TEST(CellFormatTest, EmptyOrNullReferencesShowNothing) {
  for (std::uint32_t code = 0; code <= 10; ++code) {
    EXPECT_EQ(FormatCellText(code, TCellRef{}), "") << code;
    EXPECT_EQ(FormatCellText(code, TCellRef{static_cast<const std::uint32_t*>(nullptr)}), "")
        << code;
    EXPECT_EQ(FormatCellText(code, TCellRef{static_cast<const std::string*>(nullptr)}), "")
        << code;
  }
}

TEST(CellFormatTest, ReadsTheValueAtEveryCall) {
  std::uint32_t value = 7;
  const TCellRef ref{static_cast<const std::uint32_t*>(&value)};
  EXPECT_EQ(FormatCellText(ctHex4Prefixed, ref), "0x0007");
  value = 0xBEEF;
  EXPECT_EQ(FormatCellText(ctHex4Prefixed, ref), "0xBEEF");
}

}  // namespace
}  // namespace orvella
