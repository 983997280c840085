#include "image/DumpShape.h"

#include <algorithm>
#include <bit>

#include "image/FullImage.h"

namespace orvella {

namespace {

constexpr std::uint64_t kBlockFileBytes = std::uint64_t{kBlockSize} + kBlockSize / kSpareDivisor;
constexpr std::uint64_t kBlockSpareBytes = kBlockSize / kSpareDivisor;

std::string Bytes(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }
std::string Blocks(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " block" : " blocks"); }

}  // namespace

DumpShape ShapeOfSize(std::uint64_t size) {
  DumpShape s;
  s.Size = size;
  const std::uint64_t blocks = size / kBlockFileBytes;
  s.SizeBlocks = static_cast<std::uint32_t>(blocks);
  s.Remainder = size % kBlockFileBytes;
  std::uint64_t chip = blocks;
  if (s.Remainder == 0 && blocks > 0) {
    s.Kind = DumpKind::Whole;
  } else if (blocks > 0 && std::has_single_bit(blocks)) {
    // A cut-off dump of the next larger chip would have to end exactly here by chance;
    // bytes appended to a whole dump are the likelier reading.
    s.Kind = DumpKind::Trailing;
  } else {
    chip = std::bit_ceil(blocks + 1);
    s.Kind = size <= chip * kBlockSize ? DumpKind::NoSpare : DumpKind::CutSpare;
  }
  s.ChipBlocks = static_cast<std::uint32_t>(chip);
  s.SpareStart = chip * kBlockSize;
  s.WholeBytes = chip * kBlockFileBytes;
  const std::uint64_t mainBlocks = std::min<std::uint64_t>(chip, size / kBlockSize);
  const std::uint64_t spareBlocks =
      size > s.SpareStart ? std::min<std::uint64_t>(chip, (size - s.SpareStart) / kBlockSpareBytes) : 0;
  s.Readable = static_cast<std::uint32_t>(std::min(mainBlocks, spareBlocks));
  return s;
}

std::string NotWholeText(const DumpShape& s) {
  const std::string whole =
      "a whole image of " + Blocks(s.ChipBlocks) + " has " + Bytes(s.WholeBytes);
  switch (s.Kind) {
    case DumpKind::Whole:
      return "";
    case DumpKind::NoSpare:
      if (s.Size == s.SpareStart)
        return "it holds no spare area: its " + Bytes(s.Size) + " are the main data of " +
               Blocks(s.ChipBlocks) + " alone (" + whole + ")";
      return "it holds no spare area: it ends at byte " + std::to_string(s.Size) +
             ", inside the main data of " + Blocks(s.ChipBlocks) + " (" + whole + ")";
    case DumpKind::CutSpare:
      return "its spare area is cut off: it ends at byte " + std::to_string(s.Size) +
             ", the spare data of " + Blocks(s.Readable) + " of " + std::to_string(s.ChipBlocks) +
             " are in it (" + whole + ")";
    case DumpKind::Trailing:
      return Bytes(s.Remainder) + " follow its spare area (" + whole + ")";
  }
  return "";
}

}  // namespace orvella
