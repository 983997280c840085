#pragma once
// The software Hamming code Linux's MTD layer writes into NAND spare areas: 3 bytes per
// step of 256 or 512 data bytes, correcting one flipped bit and detecting two. The bytes
// come in the kernel's default order ("normal") or in SmartMedia order, which swaps the
// first two. Data bits are numbered 8 * byte + bit, bit 0 the lowest.

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvella::nand {

enum class EccStep : std::uint16_t { Bytes256 = 256, Bytes512 = 512 };
enum class EccOrder : std::uint8_t { Normal, SmartMedia };

using EccCode = std::array<std::uint8_t, 3>;

// The stored code of one step (256 or 512 bytes at `data`).
EccCode ComputeEcc(const std::uint8_t* data, EccStep step, EccOrder order);

enum class EccOutcome : std::uint8_t {
  NoError,        // data and code agree
  DataCorrected,  // one data bit was flipped; it is flipped back in `data`
  CodeError,      // one bit of the stored code is wrong; the data are right
  Uncorrectable,  // more than one bit is wrong; the data are left alone
};

struct EccResult {
  EccOutcome Outcome = EccOutcome::NoError;
  std::uint32_t Bit = 0;  // with DataCorrected: the repaired bit's number in the step
};

// Checks a step against the code read with it and repairs a single flipped data bit.
EccResult CheckAndCorrect(std::uint8_t* data, const EccCode& stored, EccStep step,
                          EccOrder order);

// The same code and check with the three bytes in one number (byte i in bits 8i..8i+7),
// for the loops that run them over every sector: no byte array to assemble.
std::uint32_t PackedEcc(const std::uint8_t* data, EccStep step, EccOrder order);
EccResult CheckAndCorrect(std::uint8_t* data, std::uint32_t stored, EccStep step, EccOrder order);
inline std::uint32_t PackEcc(const EccCode& c) {
  return std::uint32_t{c[0]} | (std::uint32_t{c[1]} << 8) | (std::uint32_t{c[2]} << 16);
}

}  // namespace orvella::nand
