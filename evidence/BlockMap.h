#pragma once
// The block map of the report: one cell per erase block, in rows, coloured by the
// block's state, with the partitions' bounds and names drawn over it. The geometry is
// public so that a test can find every cell in a rendered picture.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvella {

enum class BlockState : std::uint8_t {
  Erased, Written, Different, Corrected, Uncorrectable, Bad,
  Replaced,     // a bad block the phone's bad-block layer replaced
  Replacement,  // the reservoir block that holds a replaced block's data
};
inline constexpr std::size_t kBlockStateCount = 8;

struct BlockStateStyle {
  BlockState State;
  const char* Key;      // CSS class of the state's cells and legend swatch
  const char* Label;
  const char* Meaning;
  std::uint32_t Rgb;    // 0xRRGGBB
  bool FromHealth;      // shown only when a health check supplied the block states
  bool FromLayer;       // shown only when the dump has the phone's bad-block layer
};

// Every state, in the legend's order.
const std::array<BlockStateStyle, kBlockStateCount>& BlockStateStyles();
const BlockStateStyle& StyleOf(BlockState state);

// What a NAND health check finds in a block.
enum class BlockHealth : std::uint8_t { Good, Corrected, Uncorrectable, Bad };

// What a block is to the phone's bad-block layer.
enum class BlockRemap : std::uint8_t { None, Replaced, Replacement };

struct MapPartition {
  std::uint32_t Position = 0;
  std::string Name;
  std::uint64_t FirstBlock = 0;
  std::uint64_t Blocks = 0;
};

struct BlockMapInput {
  std::uint32_t Blocks = 0;
  std::vector<bool> Erased;         // one per block: main and spare data erased
  std::vector<bool> Different;      // one per block; empty without a comparison
  std::vector<BlockHealth> Health;  // one per block; empty without a health source
  std::vector<BlockRemap> Remap;    // one per block; empty without the bad-block layer
  std::vector<MapPartition> Partitions;
};

// The state each block is drawn in. A block has one: replaced, replacement, bad,
// uncorrectable, different from the other image, corrected, written, erased, the first
// that applies.
std::vector<BlockState> CombineStates(const BlockMapInput& input);

// The states the legend lists: erased and written always, "different" with a comparison,
// the health states with a health source, the remap states with the bad-block layer.
std::vector<BlockState> LegendStates(const BlockMapInput& input);

// Geometry in SVG pixels: cells of kCell pixels at a pitch of kPitch, so one pixel of
// grid colour lies between neighbours; above every row of cells a lane of kLane pixels
// holds the labels of the partitions that start in it, so that no label covers a cell.
// A frame of kFrame pixels in the frame colour surrounds lanes and cells; the top-left
// pixel of the first lane is at (kLeft, kTop).
struct BlockMapGeometry {
  static constexpr int kColumns = 64;
  static constexpr int kPitch = 14;
  static constexpr int kCell = kPitch - 1;
  static constexpr int kLane = 15;
  static constexpr int kRowPitch = kLane + kPitch;
  static constexpr int kFrame = 2;
  static constexpr int kLeft = 64;   // room for the row labels
  static constexpr int kTop = 4;
  static constexpr int kMargin = 4;  // right of and below the frame
  static constexpr std::uint32_t kFrameRgb = 0x2E7D6B;
  static constexpr std::uint32_t kGridRgb = 0xFFFFFF;

  static int Rows(std::uint32_t blocks) { return (static_cast<int>(blocks) + kColumns - 1) / kColumns; }
  static int Width() { return kLeft + kColumns * kPitch - 1 + kFrame + kMargin; }
  static int Height(std::uint32_t blocks) {
    return kTop + (blocks ? Rows(blocks) : 1) * kRowPitch - 1 + kFrame + kMargin;
  }
  static int CellX(std::uint64_t block) { return kLeft + static_cast<int>(block % kColumns) * kPitch; }
  static int CellY(std::uint64_t block) {
    return kTop + kLane + static_cast<int>(block / kColumns) * kRowPitch;
  }
};

// A partition's label in the lane above its first cells: its position, and its name
// where it fits above the partition's cells of that row.
struct MapLabel {
  std::uint64_t FirstBlock = 0;
  std::uint32_t Cells = 0;  // cells the text spans, from FirstBlock on
  std::string Text;
};
std::vector<MapLabel> MapLabels(const BlockMapInput& input);

// The map as an inline <svg> element.
std::string BlockMapSvg(const BlockMapInput& input, const std::vector<BlockState>& states);

// Text made safe for HTML and SVG content and attribute values.
std::string EscapeMarkup(const std::string& text);

}  // namespace orvella
