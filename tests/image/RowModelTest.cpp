// The partition rows' texts and the row model a load hands to the list control.

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "image/FullImage.h"
#include "image/RecordingPort.h"
#include "image/RowText.h"
#include "support/TestFiles.h"

namespace orvella {
namespace {

struct RowTextCase {
  std::uint32_t begBlock;
  std::uint32_t blocks;
  const char* addressRange;
  const char* partitionSize;
};

class RowTextTest : public ::testing::TestWithParam<RowTextCase> {};

TEST_P(RowTextTest, FieldsAreSixteenDigitNumbersModuloTwoToThe32) {
  EXPECT_EQ(AddressRangeText(GetParam().begBlock, GetParam().blocks), GetParam().addressRange);
  EXPECT_EQ(PartitionSizeText(GetParam().blocks), GetParam().partitionSize);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RowTextTest,
    ::testing::Values(
        // The example row: blocks 2 to 7.
        RowTextCase{2, 6,
                    "0000000000080000" "00000000001FFFFF" "0000000000000002" "0000000000000007",
                    "0000000000180000" "0000000000000006"},
        // One block: the last block is the first.
        RowTextCase{9, 1,
                    "0000000000240000" "000000000027FFFF" "0000000000000009" "0000000000000009",
                    "0000000000040000" "0000000000000001"},
        // Block 0x4000 starts at 2^32, which wraps to 0.
        RowTextCase{0x4000, 1,
                    "0000000000000000" "000000000003FFFF" "0000000000004000" "0000000000004000",
                    "0000000000040000" "0000000000000001"},
        // No blocks at block 0: last byte and last block wrap below zero.
        RowTextCase{0, 0,
                    "0000000000000000" "00000000FFFFFFFF" "0000000000000000" "00000000FFFFFFFF",
                    "0000000000000000" "0000000000000000"},
        // Upper-case digits.
        RowTextCase{0xAB, 0x3C,
                    "0000000002AC0000" "00000000039BFFFF" "00000000000000AB" "00000000000000E6",
                    "0000000000F00000" "000000000000003C"}));

struct HexFieldCase {
  std::uint32_t code;
  std::string text;
  std::string shown;
};

class HexFieldTextTest : public ::testing::TestWithParam<HexFieldCase> {};

TEST_P(HexFieldTextTest, ShowsTheDigitsTheListDraws) {
  EXPECT_EQ(HexFieldCellText(GetParam().code, GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cells, HexFieldTextTest,
    ::testing::Values(
        HexFieldCase{9, AddressRangeText(2, 6), "0x000000080000..0x0000001FFFFF (0x0002..0x0007)"},
        HexFieldCase{10, PartitionSizeText(6), "0x000000180000 (0x0006)"},
        HexFieldCase{8, "0000000000080000", "0x000000080000"},
        // Only the last 12 (bytes) or 4 (blocks) digits of a field are drawn.
        HexFieldCase{10, "123456789ABCDEF0" "FEDCBA9876543210", "0x56789ABCDEF0 (0x3210)"},
        // Short fields are used whole; missing ones are empty.
        HexFieldCase{10, "ABC", "0xABC (0x)"},
        HexFieldCase{9, "", "0x..0x (0x..0x)"},
        // Other codes, including 9 with high bits set, are plain text.
        HexFieldCase{1, "BOOT", "BOOT"},
        HexFieldCase{0x109, "0000000000080000", "0000000000080000"}));

class RowModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(test::MakeImage(path, {{"BOOT", 2}, {"CSC", 6}, {"DATA", 0}}));
    ASSERT_TRUE(model.LoadImageFileAndProcessIt(path, port));
  }
  std::string Cell(std::size_t row, std::size_t column) const {
    const auto& items = model.PartitionItems;
    return FormatCellText(items.Types.at(column), items.Items.at(row).Values.at(column));
  }

  test::TempDir dir;
  std::string path = dir.File("rows.bin");
  ImageModel model;
  RecordingPort port;
};

TEST_F(RowModelTest, ModelHasColumnTypesCountAndProgressGreys) {
  const auto& items = model.PartitionItems;
  EXPECT_EQ(items.Count, 3);
  EXPECT_EQ(items.Types, (std::vector<std::uint32_t>{0, 1, 1, 9, 10}));
  EXPECT_EQ(items.ColorNormalProgressBackground, 0xF8F8F8u);
  EXPECT_EQ(items.ColorNormalProgressForeground, 0xC8C8C8u);
  EXPECT_EQ(items.ColorCursorProgressBackground, 0x808080u);
  EXPECT_EQ(items.ColorCursorProgressForeground, 0x404040u);
}

TEST_F(RowModelTest, EveryItemIsAnEnabledPlainRowWithSixCells) {
  for (const auto& item : model.PartitionItems.Items) {
    EXPECT_TRUE(item.Enabled);
    EXPECT_FALSE(item.Selected);
    EXPECT_FALSE(item.IsProgress);
    EXPECT_EQ(item.Parent, 0u);
    EXPECT_EQ(item.Progress, 0);
    EXPECT_EQ(item.MaxValue, 0);
    ASSERT_EQ(item.Values.size(), 6u);
    ASSERT_EQ(item.Colors.size(), 6u);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(item.Values[5]));
  }
}

TEST_F(RowModelTest, CellColoursFollowTheColourTable) {
  for (const auto& item : model.PartitionItems.Items) {
    for (std::size_t c = 0; c < 6; ++c) {
      const TCoolColoredItem& colors = item.Colors[c];
      EXPECT_EQ(colors.ColorCursorNormal, 0xFFFFFFu) << c;    // white
      EXPECT_EQ(colors.ColorCursorSelected, 0x00FFFFu) << c;  // yellow
      EXPECT_EQ(colors.ColorNormalNormal, 0x606060u) << c;    // dark grey
      // Red (low byte) in the "Selected" column, blue elsewhere.
      EXPECT_EQ(colors.ColorNormalSelected, c == 1 ? 0x0000FFu : 0xFF0000u) << c;
      EXPECT_EQ(colors.Pick(false, true), colors.ColorNormalSelected);
      EXPECT_EQ(colors.Pick(true, true), colors.ColorCursorSelected);
      EXPECT_EQ(colors.Pick(true, false), colors.ColorCursorNormal);
      EXPECT_EQ(colors.Pick(false, false), colors.ColorNormalNormal);
    }
  }
}

TEST_F(RowModelTest, ValueSlotsReferToTheRowFieldsInPlace) {
  for (std::size_t k = 0; k < model.PartitionRows.size(); ++k) {
    const auto& row = model.PartitionRows[k];
    const auto& values = model.PartitionItems.Items[k].Values;
    EXPECT_EQ(std::get<const std::uint32_t*>(values[0]), &row.Position);
    EXPECT_EQ(std::get<const std::string*>(values[1]), &row.CheckedType);
    EXPECT_EQ(std::get<const std::string*>(values[2]), &row.PartitionName);
    EXPECT_EQ(std::get<const std::string*>(values[3]), &row.AddressRange);
    EXPECT_EQ(std::get<const std::string*>(values[4]), &row.PartitionSize);
  }
}

TEST_F(RowModelTest, ChangedRowFieldsShowWithoutTouchingTheItem) {
  EXPECT_EQ(Cell(1, 0), "2");
  EXPECT_EQ(Cell(1, 1), "");
  EXPECT_EQ(Cell(1, 2), "CSC");
  EXPECT_EQ(Cell(1, 3), AddressRangeText(2, 6));
  EXPECT_EQ(Cell(1, 4), PartitionSizeText(6));

  model.SetMarked(1, true);
  EXPECT_EQ(Cell(1, 1), "+");
  EXPECT_TRUE(model.IsMarked(1));
  EXPECT_TRUE(model.AnyMarked());
  EXPECT_EQ(Cell(0, 1), "");

  model.PartitionRows[1].Position = 42;
  model.PartitionRows[1].PartitionName = "RENAMED";
  EXPECT_EQ(Cell(1, 0), "42");
  EXPECT_EQ(Cell(1, 2), "RENAMED");

  model.SetMarked(1, false);
  EXPECT_EQ(Cell(1, 1), "");
  EXPECT_FALSE(model.AnyMarked());
}

TEST_F(RowModelTest, RowsHoldTheirBlocksAndTexts) {
  const auto& rows = model.PartitionRows;
  ASSERT_EQ(rows.size(), 3u);
  for (std::size_t k = 0; k < rows.size(); ++k) {
    EXPECT_EQ(rows[k].Position, k + 1);
    EXPECT_FALSE(rows[k].IsBlank);
    EXPECT_EQ(rows[k].CheckedType, "");
    EXPECT_EQ(rows[k].AddressRange, AddressRangeText(rows[k].BegBlock, rows[k].Blocks));
    EXPECT_EQ(rows[k].PartitionSize, PartitionSizeText(rows[k].Blocks));
  }
  EXPECT_EQ(rows[2].BegBlock, 8u);
  EXPECT_EQ(rows[2].Blocks, 8u);
}

TEST_F(RowModelTest, ClearedModelKeepsItsColumnTypes) {
  model.ClearRows();
  EXPECT_EQ(model.PartitionItems.Count, 0);
  EXPECT_TRUE(model.PartitionItems.Items.empty());
  EXPECT_TRUE(model.PartitionRows.empty());
  EXPECT_EQ(model.PartitionItems.Types, (std::vector<std::uint32_t>{0, 1, 1, 9, 10}));
}

}  // namespace
}  // namespace orvella
