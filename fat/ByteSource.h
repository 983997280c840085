#pragma once
// What the file-system reader reads from: a volume file, a partition as the bad-block
// layer shows it, or a rebuilt logical volume. Offsets are 64-bit; every read is
// checked against Size() by the reader before it is made.

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvella::fat {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Reads exactly n bytes at `offset`; false with `error` filled when they cannot be read.
  virtual bool Read(std::uint64_t offset, void* buffer, std::size_t n, std::string& error) = 0;
};

}  // namespace orvella::fat
