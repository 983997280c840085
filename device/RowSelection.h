#pragma once
// Which rows a device command acts on: every marked row, or the cursor row alone.

#include <algorithm>
#include <cstdint>
#include <optional>

#include "device/DeviceWindow.h"

namespace orvella {

// Rows the model can answer for in every one of its lists.
inline std::size_t UsableRows(const ImageModel& m) {
  std::size_t n = std::min({m.EntryCount(), m.PartitionRows.size(), m.PartitionItems.Items.size()});
  if (m.PartitionItems.Count < 0) return 0;
  return std::min(n, static_cast<std::size_t>(m.PartitionItems.Count));
}

// Sum of the marked rows' main-data lengths (64-bit: it may exceed 32 bits).
inline std::int64_t MarkedMainBytes(const ImageModel& m) {
  std::int64_t sum = 0;
  for (std::size_t k = 0; k < UsableRows(m); ++k)
    if (m.IsMarked(k)) sum += m.RangeOf(k).MainLength;
  return sum;
}

// Main data plus their spare share, in unsigned 32-bit arithmetic.
inline std::uint32_t MainAndSpareBytes(std::uint32_t mainLength) {
  return mainLength + (mainLength >> 5);
}

// The cursor row when it names a row of the model.
inline std::optional<std::size_t> CursorRow(DeviceWindow& w) {
  const int index = w.ItemIndex();
  if (index < 0 || static_cast<std::size_t>(index) >= UsableRows(w.Model())) return std::nullopt;
  return static_cast<std::size_t>(index);
}

// Runs `act(row)` on what a device command acts on: every marked row in row order when
// one is marked, with the gauge maximum at their main data; else the cursor row alone,
// with the gauge maximum at `cursorMax(main length)`. Stops at the first act that fails
// and returns false. The model is read afresh at every row: window handlers run during
// each host call.
template <typename CursorMax, typename Act>
bool ForEachTargetRow(DeviceWindow& w, CursorMax cursorMax, Act act) {
  ImageModel& m = w.Model();
  if (m.AnyMarked()) {
    w.GaugeSetMax(MarkedMainBytes(m));
    for (std::size_t k = 0; k < UsableRows(m); ++k)
      if (m.IsMarked(k) && !act(k)) return false;
  } else if (const auto row = CursorRow(w)) {
    w.GaugeSetMax(cursorMax(m.RangeOf(*row).MainLength));
    return act(*row);
  }
  return true;
}

}  // namespace orvella
