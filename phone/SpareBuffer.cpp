#include "phone/SpareBuffer.h"

#include <algorithm>

namespace orvella::phone {

SpareBuffer SpareBuffer::FromPageSpare(const std::uint8_t* spare) {
  SpareBuffer b;
  for (std::uint32_t k = 0; k < kSpareBufferBytes; ++k) b.bytes_[k] = spare[SpareOffsetOfBufferByte(k)];
  return b;
}

void SpareBuffer::ToPageSpare(std::uint8_t* spare) const {
  for (std::uint32_t k = 0; k < kSpareBufferBytes; ++k) spare[SpareOffsetOfBufferByte(k)] = bytes_[k];
}

std::uint16_t SpareBuffer::U16(std::uint32_t offset) const {
  return static_cast<std::uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
}

std::uint32_t SpareBuffer::U32(std::uint32_t offset) const {
  return static_cast<std::uint32_t>(bytes_[offset]) | static_cast<std::uint32_t>(bytes_[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes_[offset + 2]) << 16 | static_cast<std::uint32_t>(bytes_[offset + 3]) << 24;
}

void SpareBuffer::SetU16(std::uint32_t offset, std::uint16_t value) {
  bytes_[offset] = static_cast<std::uint8_t>(value);
  bytes_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void SpareBuffer::SetU32(std::uint32_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

bool SpareBuffer::AllErased() const {
  return std::all_of(bytes_.begin(), bytes_.end(), [](std::uint8_t b) { return b == 0xFF; });
}

}  // namespace orvella::phone
