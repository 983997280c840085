#pragma once
// Reading and searching a hex view's chunk beyond its 16 KiB window: the search reads
// the chunk in blocks through one buffer of bounded size, overlapping consecutive blocks
// by the pattern's length less one so that a match across a block edge is found. No Qt.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "ui/HexDataWindow.h"

namespace orvella {

// Longest pattern a search takes; bounds the buffer together with the block size.
inline constexpr std::size_t kMaxFindPattern = 4096;
// Bytes a search reads at a time: small enough that what is read is still in the cache
// when it is searched.
inline constexpr std::int64_t kFindBlock = 0x20000;

struct FindResult {
  enum class Kind { Found, NotFound, Stopped, ReadFailed };
  Kind What = Kind::NotFound;
  std::int64_t Address = -1;  // chunk address of the match's first byte
  bool Wrapped = false;       // found after passing the chunk's end (or start, backwards)
  std::int64_t StoppedAt = -1;  // how far a stopped search had come
  std::string Error;
};

// Called after every block with the bytes searched so far and in all; false stops.
using FindProgress = std::function<bool(std::int64_t done, std::int64_t total)>;

// Finds `pattern` in the chunk of `desc`. Forwards: the first match starting at `from`
// or later, else (wrapping) the first one before `from`. Backwards: the last match
// starting before `from`, else (wrapping) the last one starting at `from` or later.
FindResult FindInChunk(const THexDataBlockDesc& desc, const std::vector<std::uint8_t>& pattern,
                       std::int64_t from, bool forward, const FindProgress& progress = {},
                       std::int64_t blockSize = kFindBlock);

// Offset of the first run of `needle` in `hay`; -1 for none (0 for an empty needle).
// Linear in the haystack's length whatever the bytes.
std::int64_t FindFirst(std::span<const std::uint8_t> hay, std::span<const std::uint8_t> needle);

// Reads chunk bytes [from, from + n) into `out`; false with `error` on failure.
bool ReadChunkBytes(const THexDataBlockDesc& desc, std::int64_t from, std::int64_t n,
                    std::vector<std::uint8_t>& out, std::string& error);

// Copies chunk bytes [from, from + n) into a new file at `path`, written under a temporary
// name and renamed when complete; the chunk's own file is refused. False with `error`.
bool SaveChunkBytes(const THexDataBlockDesc& desc, std::int64_t from, std::int64_t n,
                    const std::string& path, std::string& error);

}  // namespace orvella
