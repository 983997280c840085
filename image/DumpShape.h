#pragma once
// What a dump's size says about it. A whole image is main data of whole blocks followed
// by their spare data. Anything else is taken for a dump of the smallest power-of-two
// chip larger than it (chips come in those sizes), cut off in its main data or in its
// spare data, except a whole image of a power-of-two chip with bytes after it. Every
// command that reads an image takes its geometry from here.

#include <cstdint>
#include <string>

namespace orvella {

enum class DumpKind {
  Whole,     // blocks with their spare data, nothing more
  NoSpare,   // ends in the main data or right after it: no spare area at all
  CutSpare,  // ends inside the spare area
  Trailing,  // a whole image of a power-of-two chip with bytes after it
};

struct DumpShape {
  DumpKind Kind = DumpKind::Whole;
  std::uint64_t Size = 0;
  // The chip the file is taken for, its main area and the size of its whole image.
  std::uint32_t ChipBlocks = 0;
  std::uint64_t SpareStart = 0;
  std::uint64_t WholeBytes = 0;
  // The blocks whose main and spare data both lie in the file.
  std::uint32_t Readable = 0;
  // Blocks with spare data the size gives when read as a whole image (what the table's
  // load, the export and the digests take), and the bytes after their spare area.
  std::uint32_t SizeBlocks = 0;
  std::uint64_t Remainder = 0;

  bool IsWhole() const { return Kind == DumpKind::Whole; }
};

DumpShape ShapeOfSize(std::uint64_t size);

// Why the file is not a whole image, one clause without a full stop ("it holds no spare
// area: ..."); empty for a whole image.
std::string NotWholeText(const DumpShape& shape);

}  // namespace orvella
