#include "nand/Hamming.h"

#include <bit>
#include <cstring>
#include <utility>

namespace orvella::nand {
namespace {

// Data are taken 64 bits at a time; byte l of a word is byte 8 * w + l of the step.
std::uint64_t LoadWord(const std::uint8_t* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  if constexpr (std::endian::native == std::endian::big) {
    std::uint64_t r = 0;
    for (int i = 0; i < 8; ++i) r |= ((w >> (8 * i)) & 0xFFu) << (8 * (7 - i));
    w = r;
  }
  return w;
}

unsigned Parity(std::uint64_t v) { return static_cast<unsigned>(std::popcount(v) & 1); }

// Bytes of a word whose index within the word has bit 0, 1 or 2 set.
constexpr std::uint64_t kOddBytes[3] = {0xFF00FF00FF00FF00ull, 0xFFFF0000FFFF0000ull,
                                        0xFFFFFFFF00000000ull};

// The parities of one step, before inversion. Bit k of `oddRows` is the parity of the
// bytes whose index has bit k set; `total` the parity of all bits; `column` the XOR of
// all bytes, from which the column parities follow.
struct Parities {
  std::uint32_t OddRows = 0;
  unsigned Total = 0;
  std::uint8_t Column = 0;
};

// One pass over the words of the step. Bits 0-2 of a byte's index are its place in the
// word, bits 3-5 the word's place in its 64-byte line, bits 6 and up the line's number:
// one accumulator per word place and one total per line carry everything needed, so
// each word costs two XORs.
Parities StepParities(const std::uint8_t* data, unsigned lines) {
  std::uint64_t place[8] = {};
  std::uint64_t line[8] = {};
  for (unsigned b = 0; b < lines; ++b) {
    const std::uint8_t* p = data + 64 * b;
    std::uint64_t sum = 0;
    for (unsigned w = 0; w < 8; ++w) {
      const std::uint64_t v = LoadWord(p + 8 * w);
      place[w] ^= v;
      sum ^= v;
    }
    line[b] = sum;
  }
  std::uint64_t all = 0;
  for (const std::uint64_t v : place) all ^= v;

  Parities out;
  for (unsigned k = 0; k < 3; ++k) out.OddRows |= Parity(all & kOddBytes[k]) << k;
  for (unsigned k = 0; k < 3; ++k) {
    std::uint64_t x = 0;
    for (unsigned w = 0; w < 8; ++w)
      if (w & (1u << k)) x ^= place[w];
    out.OddRows |= Parity(x) << (3 + k);
  }
  for (unsigned k = 0; (1u << k) < lines; ++k) {
    std::uint64_t x = 0;
    for (unsigned b = 0; b < lines; ++b)
      if (b & (1u << k)) x ^= line[b];
    out.OddRows |= Parity(x) << (6 + k);
  }
  out.Total = Parity(all);
  std::uint64_t c = all ^ (all >> 32);
  c ^= c >> 16;
  c ^= c >> 8;
  out.Column = static_cast<std::uint8_t>(c);
  return out;
}

// Byte k of the SmartMedia arrangement holds the pairs (rp(2k+1), rp(2k)) of four address
// bits; spreading the odd parities to the odd bit places and completing each pair with
// the total parity gives the byte.
std::uint8_t RowByte(std::uint32_t oddRows, unsigned total) {
  std::uint8_t odd = 0;
  for (unsigned k = 0; k < 4; ++k) odd |= static_cast<std::uint8_t>(((oddRows >> k) & 1u) << (2 * k + 1));
  const std::uint8_t even = static_cast<std::uint8_t>((odd >> 1) ^ (total ? 0x55 : 0x00));
  return static_cast<std::uint8_t>(odd | even);
}

std::uint8_t ColumnParity(std::uint8_t column, std::uint8_t mask) {
  return static_cast<std::uint8_t>(std::popcount(static_cast<unsigned>(column & mask)) & 1);
}

// The odd bits 1, 3, 5, 7 of a byte, packed into bits 0-3.
unsigned OddBits(std::uint8_t s) {
  return ((s >> 1) & 1u) | ((s >> 2) & 2u) | ((s >> 3) & 4u) | ((s >> 4) & 8u);
}

bool PairsDiffer(std::uint8_t s, std::uint8_t pairs) {
  return ((s ^ (s >> 1)) & pairs) == pairs;
}

}  // namespace

EccCode ComputeEcc(const std::uint8_t* data, EccStep step, EccOrder order) {
  const bool wide = step == EccStep::Bytes512;
  const Parities p = StepParities(data, wide ? 8 : 4);
  std::uint8_t b0 = RowByte(p.OddRows, p.Total);
  std::uint8_t b1 = RowByte(p.OddRows >> 4, p.Total);
  const std::uint8_t c = p.Column;
  std::uint8_t b2 = static_cast<std::uint8_t>(
      (ColumnParity(c, 0xF0) << 7) | (ColumnParity(c, 0x0F) << 6) |
      (ColumnParity(c, 0xCC) << 5) | (ColumnParity(c, 0x33) << 4) |
      (ColumnParity(c, 0xAA) << 3) | (ColumnParity(c, 0x55) << 2));
  if (wide) {
    const unsigned rp17 = (p.OddRows >> 8) & 1u;
    b2 = static_cast<std::uint8_t>(b2 | (rp17 << 1) | ((rp17 ^ p.Total) & 1u));
  }
  // Stored inverted, so that erased flash reads as a valid code.
  b0 = static_cast<std::uint8_t>(~b0);
  b1 = static_cast<std::uint8_t>(~b1);
  b2 = static_cast<std::uint8_t>(~b2);
  if (!wide) b2 |= 0x03;
  if (order == EccOrder::Normal) return {b1, b0, b2};
  return {b0, b1, b2};
}

EccResult CheckAndCorrect(std::uint8_t* data, const EccCode& stored, EccStep step,
                          EccOrder order) {
  const EccCode computed = ComputeEcc(data, step, order);
  std::uint8_t s0 = static_cast<std::uint8_t>(stored[0] ^ computed[0]);
  std::uint8_t s1 = static_cast<std::uint8_t>(stored[1] ^ computed[1]);
  const std::uint8_t s2 = static_cast<std::uint8_t>(stored[2] ^ computed[2]);
  if (order == EccOrder::Normal) std::swap(s0, s1);
  if ((s0 | s1 | s2) == 0) return {};

  const bool wide = step == EccStep::Bytes512;
  if (PairsDiffer(s0, 0x55) && PairsDiffer(s1, 0x55) && PairsDiffer(s2, wide ? 0x55 : 0x54)) {
    unsigned byte = OddBits(s0) | (OddBits(s1) << 4);
    if (wide) byte |= ((s2 >> 1) & 1u) << 8;
    const unsigned bit = ((s2 >> 3) & 1u) | ((s2 >> 4) & 2u) | ((s2 >> 5) & 4u);
    data[byte] = static_cast<std::uint8_t>(data[byte] ^ (1u << bit));
    return {EccOutcome::DataCorrected, 8 * byte + bit};
  }
  const int set = std::popcount(static_cast<unsigned>(s0)) +
                  std::popcount(static_cast<unsigned>(s1)) +
                  std::popcount(static_cast<unsigned>(s2));
  if (set == 1) return {EccOutcome::CodeError, 0};
  return {EccOutcome::Uncorrectable, 0};
}

}  // namespace orvella::nand
