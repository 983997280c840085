#pragma once
// How every text of the tool, of the report and of the window's own additions writes
// blocks and the places of sectors: blocks as the partition list writes them (hex, the
// first and the last of a range), sectors by number and by their main-data offset.

#include <cstdint>
#include <string>

namespace orvella {

// "0x0084"
std::string BlockText(std::uint64_t block);
// "0x0084..0x04FD" for `count` blocks from `first`; "none at 0x0084" for no blocks.
std::string BlocksText(std::uint64_t first, std::uint64_t count);
// "0x0000C600": a byte offset.
std::string OffsetText(std::uint64_t offset);
// "99 at 0x0000C600": a sector (main offset / 512) and its main-data offset, which is
// its file offset in a full image.
std::string SectorText(std::uint64_t sector);

}  // namespace orvella
