#pragma once
// The part of a chunk of a file that a hex view holds in memory: at most 16 KiB,
// reloaded from the file when the lines to be painted fall outside it. No Qt.

#include <cstdint>
#include <string>
#include <vector>

namespace orvella {

// The data source of one view.
struct THexDataBlockDesc {
  std::string FileName;                  // empty: no data
  std::int64_t StartingOffset = 0;       // file offset of the chunk's first byte
  std::int64_t CurrentDataPosition = 0;  // chunk address of the first byte held
  std::int64_t ChunkLength = 0;          // 0: the view is empty
};

class HexDataWindow {
 public:
  static constexpr std::int64_t kCapacity = 0x4000;  // bytes held at most
  static constexpr std::int64_t kLeadIn = 0x2000;    // bytes kept before the top line

  enum class LoadResult {
    Held,        // the window already held the range; nothing was read
    Reloaded,    // the window moved and was read from the file
    FileGone,    // the file no longer exists; the held bytes stay
    ReadFailed,  // opening or reading failed; the held bytes stay
  };

  // Forgets file and chunk; the window becomes empty.
  void clear();

  // Points the window at `chunkLength` bytes of `fileName` from `startingOffset` and
  // sizes the buffer, holding nothing yet. Returns false and stays empty when the file
  // is missing or the chunk does not lie inside it.
  bool attach(const std::string& fileName, std::int64_t startingOffset,
              std::int64_t chunkLength);

  // True when every chunk byte in [addr, addr + n) that exists is held.
  bool contains(std::int64_t addr, std::int64_t n) const;

  // The window start a reload for top address `addr` moves to: 8 KiB before it, never
  // before the chunk nor reaching past its end.
  std::int64_t recentre(std::int64_t addr) const;

  // Makes the window hold [addr, addr + n) of the chunk, reading the file only when it
  // must move. Never throws; a failure keeps the bytes held before.
  LoadResult load(std::int64_t addr, std::int64_t n);

  // The byte at chunk address `addr`, when it is held.
  bool byteAt(std::int64_t addr, std::uint8_t& value) const;

  const THexDataBlockDesc& desc() const { return desc_; }
  const std::vector<std::uint8_t>& bytes() const { return data_; }
  std::int64_t length() const { return static_cast<std::int64_t>(data_.size()); }
  bool empty() const { return desc_.ChunkLength == 0; }

  // Attempts to read the file since construction (successful or not).
  long reloads() const { return reloads_; }
  const std::string& lastError() const { return lastError_; }

 private:
  THexDataBlockDesc desc_;
  std::vector<std::uint8_t> data_;     // CDatas
  std::vector<std::uint8_t> scratch_;  // a reload reads here and commits only whole
  long reloads_ = 0;
  std::string lastError_;
};

}  // namespace orvella
