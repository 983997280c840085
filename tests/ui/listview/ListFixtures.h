#pragma once
// Row models for the list tests: a table of rows whose cell values live in stable storage
// that a test can change after the model is built.

#include <deque>
#include <string>
#include <vector>

#include "rows/CoolListItems.h"

namespace orvella::test {

// Per-row values behind the cells; a deque keeps addresses stable as rows are added.
struct TestRow {
  std::uint32_t Position = 0;
  std::string Name;
  std::string Range;  // four 16-digit fields
  std::string Size;   // two 16-digit fields
};

// Column layout used by the tests: decimal, text, address range, size.
inline const std::vector<std::uint32_t> kTestTypes = {ctDecimal, ctText, ctAddressRange,
                                                      ctSizeField};

// Distinct colours per cell state so the four-way rule is visible in pixels.
inline constexpr TCoolColoredItem kTestColors{0xFFFFFF, 0x00FFFF, 0x606060, 0xFF0000};

inline std::string Field16(std::uint64_t v) {
  static const char* digits = "0123456789ABCDEF";
  std::string s(16, '0');
  for (int i = 15; i >= 0; --i, v >>= 4) s[static_cast<std::size_t>(i)] = digits[v & 0xF];
  return s;
}

struct TestModel {
  std::deque<TestRow> Rows;
  TCoolItemsList List;

  explicit TestModel(int count, std::vector<std::uint32_t> types = kTestTypes) {
    List.Types = std::move(types);
    List.ColorNormalProgressBackground = 0xF8F8F8;
    List.ColorNormalProgressForeground = 0xC8C8C8;
    List.ColorCursorProgressBackground = 0x808080;
    List.ColorCursorProgressForeground = 0x404040;
    for (int k = 0; k < count; ++k) Add("PART" + std::to_string(k));
  }

  TestModel(const TestModel&) = delete;
  TestModel& operator=(const TestModel&) = delete;

  TCoolViewItem& Add(const std::string& name) {
    const auto k = static_cast<std::uint32_t>(Rows.size());
    Rows.push_back({k + 1, name, Field16(k * 0x40000ull) + Field16((k + 1) * 0x40000ull - 1) +
                                     Field16(k) + Field16(k),
                    Field16(0x40000) + Field16(1)});
    const TestRow& row = Rows.back();
    TCoolViewItem item;
    item.Values = {&row.Position, &row.Name, &row.Range, &row.Size};
    item.Colors.assign(4, kTestColors);
    List.Items.push_back(std::move(item));
    List.Count = static_cast<std::int32_t>(List.Items.size());
    return List.Items.back();
  }
};

}  // namespace orvella::test
