#include "host/NandEcc.h"

#include <bit>

namespace orvella {

namespace {

// The 24 parity bits, not inverted.
std::uint32_t Parities(const std::uint8_t* sector) {
  // Bits 3..11 of a bit number are the byte index: for those, P(j) is the XOR of bit
  // (j - 3) of the index over all bytes of odd parity. Bits 0..2 are the bit inside the
  // byte: the XOR of all bytes gives their column parities.
  std::uint32_t oddBytes = 0;
  std::uint8_t column = 0;
  for (std::uint32_t b = 0; b < kEccSectorBytes; ++b) {
    column ^= sector[b];
    if (std::popcount(static_cast<unsigned>(sector[b])) & 1u) oddBytes ^= b;
  }
  const std::uint32_t total = std::popcount(static_cast<unsigned>(column)) & 1u;
  std::uint32_t code = 0;
  for (std::uint32_t j = 0; j < 12; ++j) {
    std::uint32_t p = 0;
    if (j < 3) {
      for (std::uint32_t bit = 0; bit < 8; ++bit)
        if (bit & (1u << j)) p ^= (column >> bit) & 1u;
    } else {
      p = (oddBytes >> (j - 3)) & 1u;
    }
    code |= p << (2 * j);
    code |= (p ^ total) << (2 * j + 1);
  }
  return code;
}

}  // namespace

EccCode ComputeSectorEcc(const std::uint8_t* sector) {
  const std::uint32_t stored = ~Parities(sector) & 0xFFFFFFu;
  return {static_cast<std::uint8_t>(stored), static_cast<std::uint8_t>(stored >> 8),
          static_cast<std::uint8_t>(stored >> 16)};
}

EccResult CorrectSector(std::uint8_t* sector, const EccCode& stored, std::uint32_t* bitNumber) {
  const std::uint32_t storedBits =
      ~(stored[0] | (std::uint32_t{stored[1]} << 8) | (std::uint32_t{stored[2]} << 16)) &
      0xFFFFFFu;
  const std::uint32_t syndrome = storedBits ^ Parities(sector);
  if (syndrome == 0) return EccResult::Clean;
  if (std::popcount(syndrome) == 1) return EccResult::CodeError;
  // One flipped data bit changes exactly one parity of every pair.
  std::uint32_t number = 0;
  for (std::uint32_t j = 0; j < 12; ++j) {
    const std::uint32_t pair = (syndrome >> (2 * j)) & 3u;
    if (pair != 1u && pair != 2u) return EccResult::Uncorrectable;
    if (pair == 1u) number |= 1u << j;
  }
  sector[number >> 3] ^= static_cast<std::uint8_t>(1u << (number & 7u));
  if (bitNumber) *bitNumber = number;
  return EccResult::CorrectedData;
}

}  // namespace orvella
