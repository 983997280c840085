#include "nand/Hamming.h"

#include <bit>
#include <cstring>
#include <utility>

// The vector code reads little-endian words: byte l of a word is bits 8l..8l+7.
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define ORVELLA_VECTOR_WORDS 1
#endif

namespace orvella::nand {
namespace {

#if !defined(ORVELLA_VECTOR_WORDS)
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
#endif

constexpr unsigned ByteParity(unsigned b) {
  b ^= b >> 4;
  b ^= b >> 2;
  b ^= b >> 1;
  return b & 1u;
}

// The column parities cp5..cp0 in bits 7..2, from the XOR of all bytes.
constexpr std::array<std::uint8_t, 256> MakeColumnTable() {
  std::array<std::uint8_t, 256> t{};
  for (unsigned c = 0; c < 256; ++c)
    t[c] = static_cast<std::uint8_t>((ByteParity(c & 0xF0) << 7) | (ByteParity(c & 0x0F) << 6) |
                                     (ByteParity(c & 0xCC) << 5) | (ByteParity(c & 0x33) << 4) |
                                     (ByteParity(c & 0xAA) << 3) | (ByteParity(c & 0x55) << 2));
  return t;
}
constexpr std::array<std::uint8_t, 256> kColumn = MakeColumnTable();

// Bytes of a word whose index within the word has bit 0, 1 or 2 set.
constexpr std::uint64_t kOddBytes0 = 0xFF00FF00FF00FF00ull;
constexpr std::uint64_t kOddBytes1 = 0xFFFF0000FFFF0000ull;
constexpr std::uint64_t kOddBytes2 = 0xFFFFFFFF00000000ull;

// The parities of one step, before inversion. Bit k of `OddRows` is the parity of the
// bytes whose index has bit k set; `Total` the parity of all bits; `Column` the column
// parities as they stand in the third code byte.
struct Parities {
  std::uint32_t OddRows = 0;
  unsigned Total = 0;
  std::uint8_t Column = 0;
};

// XORs of the step's 64-bit words: All of every word; Place[k] of the words whose place
// in their 64-byte line has bit k set; Line[k] of the words of the lines whose number has
// bit k set. Bits 0-2 of a byte's index are its place in a word, bits 3-5 the word's
// place in its line, bits 6 and up the line's number, so these nine words hold every
// row parity.
struct Sums {
  std::uint64_t All = 0;
  std::uint64_t Place[3] = {};
  std::uint64_t Line[3] = {};
};

// Inlined into each copy of the step functions below, so each copy's instructions apply.
#if defined(__GNUC__)
#define ORVELLA_INLINE [[gnu::always_inline]] inline
#else
#define ORVELLA_INLINE inline
#endif

#if defined(ORVELLA_VECTOR_WORDS)
// Four words at a time in the compiler's vector type: two SSE2 operations in the
// baseline copy, one in the AVX2 copy picked at load time.
using Words4 = std::uint64_t __attribute__((vector_size(32)));

template <unsigned kLines>
ORVELLA_INLINE Sums Accumulate(const std::uint8_t* data) {
  // a0 holds words 0-3 of every line XORed together, a1 words 4-7.
  Words4 a0 = {}, a1 = {}, l0 = {}, l1 = {}, l2 = {};
  for (unsigned b = 0; b < kLines; ++b) {
    Words4 v0, v1;  // no function takes or returns one: that would depend on the copy's ISA
    std::memcpy(&v0, data + 64 * b, sizeof v0);
    std::memcpy(&v1, data + 64 * b + 32, sizeof v1);
    a0 ^= v0;
    a1 ^= v1;
    const Words4 line = v0 ^ v1;
    if (b & 1) l0 ^= line;
    if (b & 2) l1 ^= line;
    if (b & 4) l2 ^= line;
  }
  const Words4 all = a0 ^ a1;
  Sums s;
  s.All = all[0] ^ all[1] ^ all[2] ^ all[3];
  s.Place[0] = all[1] ^ all[3];
  s.Place[1] = all[2] ^ all[3];
  s.Place[2] = a1[0] ^ a1[1] ^ a1[2] ^ a1[3];
  s.Line[0] = l0[0] ^ l0[1] ^ l0[2] ^ l0[3];
  s.Line[1] = l1[0] ^ l1[1] ^ l1[2] ^ l1[3];
  s.Line[2] = l2[0] ^ l2[1] ^ l2[2] ^ l2[3];
  return s;
}
#else
template <unsigned kLines>
Sums Accumulate(const std::uint8_t* data) {
  Sums s;
  for (unsigned b = 0; b < kLines; ++b) {
    std::uint64_t line = 0;
    for (unsigned w = 0; w < 8; ++w) {
      const std::uint64_t v = LoadWord(data + 64 * b + 8 * w);
      line ^= v;
      for (unsigned k = 0; k < 3; ++k)
        if (w & (1u << k)) s.Place[k] ^= v;
    }
    s.All ^= line;
    for (unsigned k = 0; k < 3; ++k)
      if (b & (1u << k)) s.Line[k] ^= line;
  }
  return s;
}
#endif

// Where the processor has AVX2 or a population count instruction, a copy that uses them
// is picked at load time (where the executable format can pick: not in a
// Windows exe, not under the address sanitizer).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__) && !defined(_WIN32)
#define ORVELLA_PARITY_CLONES __attribute__((target_clones("avx2", "popcnt", "default")))
#else
#define ORVELLA_PARITY_CLONES
#endif

template <unsigned kLines>
ORVELLA_INLINE Parities Finish(const Sums& s) {
  const auto parity = [](std::uint64_t v) {
#if defined(__GNUC__)
    return static_cast<std::uint32_t>(__builtin_parityll(v));
#else
    return static_cast<std::uint32_t>(std::popcount(v) & 1);
#endif
  };
  Parities out;
  out.OddRows = parity(s.All & kOddBytes0) | (parity(s.All & kOddBytes1) << 1) |
                (parity(s.All & kOddBytes2) << 2) | (parity(s.Place[0]) << 3) |
                (parity(s.Place[1]) << 4) | (parity(s.Place[2]) << 5) | (parity(s.Line[0]) << 6) |
                (parity(s.Line[1]) << 7);
  if constexpr (kLines == 8) out.OddRows |= parity(s.Line[2]) << 8;
  out.Total = parity(s.All);
  std::uint64_t c = s.All ^ (s.All >> 32);
  c ^= c >> 16;
  c ^= c >> 8;
  out.Column = kColumn[c & 0xFF];
  return out;
}

ORVELLA_PARITY_CLONES
Parities StepParities512(const std::uint8_t* data) { return Finish<8>(Accumulate<8>(data)); }
ORVELLA_PARITY_CLONES
Parities StepParities256(const std::uint8_t* data) { return Finish<4>(Accumulate<4>(data)); }

// Byte k of the SmartMedia arrangement holds the pairs (rp(2k+1), rp(2k)) of four address
// bits: the odd parities at the odd bit places, each completed by the total parity. The
// table gives the stored (inverted) byte for four odd parities and the total in bit 4.
constexpr std::array<std::uint8_t, 32> MakeRowTable() {
  std::array<std::uint8_t, 32> t{};
  for (unsigned i = 0; i < 32; ++i) {
    unsigned odd = 0;
    for (unsigned k = 0; k < 4; ++k) odd |= ((i >> k) & 1u) << (2 * k + 1);
    const unsigned even = (odd >> 1) ^ ((i & 16u) ? 0x55u : 0x00u);
    t[i] = static_cast<std::uint8_t>(~(odd | even));
  }
  return t;
}
constexpr std::array<std::uint8_t, 32> kRow = MakeRowTable();

// The odd bits 1, 3, 5, 7 of a byte, packed into bits 0-3.
unsigned OddBits(std::uint8_t s) {
  return ((s >> 1) & 1u) | ((s >> 2) & 2u) | ((s >> 3) & 4u) | ((s >> 4) & 8u);
}

bool PairsDiffer(std::uint8_t s, std::uint8_t pairs) {
  return ((s ^ (s >> 1)) & pairs) == pairs;
}

}  // namespace

std::uint32_t PackedEcc(const std::uint8_t* data, EccStep step, EccOrder order) {
  const bool wide = step == EccStep::Bytes512;
  const Parities p = wide ? StepParities512(data) : StepParities256(data);
  const unsigned total = p.Total << 4;
  const std::uint32_t low = kRow[(p.OddRows & 15u) | total];
  const std::uint32_t high = kRow[((p.OddRows >> 4) & 15u) | total];
  std::uint32_t third = p.Column;
  if (wide) {
    const unsigned rp17 = (p.OddRows >> 8) & 1u;
    third |= (rp17 << 1) | ((rp17 ^ p.Total) & 1u);
  }
  // Stored inverted, so that erased flash reads as a valid code.
  third = (~third & 0xFFu) | (wide ? 0u : 0x03u);
  return order == EccOrder::Normal ? high | (low << 8) | (third << 16)
                                   : low | (high << 8) | (third << 16);
}

EccCode ComputeEcc(const std::uint8_t* data, EccStep step, EccOrder order) {
  const std::uint32_t c = PackedEcc(data, step, order);
  return {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
          static_cast<std::uint8_t>(c >> 16)};
}

EccResult CheckAndCorrect(std::uint8_t* data, const EccCode& stored, EccStep step,
                          EccOrder order) {
  return CheckAndCorrect(data, PackEcc(stored), step, order);
}

EccResult CheckAndCorrect(std::uint8_t* data, std::uint32_t stored, EccStep step, EccOrder order) {
  const std::uint32_t syndrome = stored ^ PackedEcc(data, step, order);
  if (syndrome == 0) return {};
  // In SmartMedia order: s0 = rp7..rp0, s1 = rp15..rp8, s2 = the column byte.
  std::uint8_t s0 = static_cast<std::uint8_t>(syndrome);
  std::uint8_t s1 = static_cast<std::uint8_t>(syndrome >> 8);
  const std::uint8_t s2 = static_cast<std::uint8_t>(syndrome >> 16);
  if (order == EccOrder::Normal) std::swap(s0, s1);

  const bool wide = step == EccStep::Bytes512;
  if (PairsDiffer(s0, 0x55) && PairsDiffer(s1, 0x55) && PairsDiffer(s2, wide ? 0x55 : 0x54)) {
    unsigned byte = OddBits(s0) | (OddBits(s1) << 4);
    if (wide) byte |= ((s2 >> 1) & 1u) << 8;
    const unsigned bit = ((s2 >> 3) & 1u) | ((s2 >> 4) & 2u) | ((s2 >> 5) & 4u);
    data[byte] = static_cast<std::uint8_t>(data[byte] ^ (1u << bit));
    return {EccOutcome::DataCorrected, 8 * byte + bit};
  }
  if (std::has_single_bit(syndrome)) return {EccOutcome::CodeError, 0};
  return {EccOutcome::Uncorrectable, 0};
}

}  // namespace orvella::nand
