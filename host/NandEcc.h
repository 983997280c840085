#pragma once
// The error-correcting code the virtual phone's host writes into the spare bytes when it
// flashes with ECC: a Hamming code over each 512-byte sector that corrects one flipped
// bit and detects two.
//
// The 4096 data bits of a sector are numbered i = 8 * byte + bit (bit 0 the lowest).
// For each of the 12 bits j of that number the code keeps two parities: P(j), over all
// data bits whose number has bit j set, and P'(j), over those whose number has it clear.
// Code bit 2j holds P(j), code bit 2j+1 holds P'(j); the 24 bits are stored inverted,
// little-endian, in 3 bytes, so an erased sector (all 0xFF) has the code FF FF FF. The
// code takes bytes 8, 9 and 10 of the sector's 16 spare bytes.

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvella {

inline constexpr std::size_t kEccSectorBytes = 512;
inline constexpr std::size_t kEccSpareBytes = 16;     // spare bytes per sector
inline constexpr std::size_t kEccOffsetInSpare = 8;   // first code byte in them
inline constexpr std::size_t kEccCodeBytes = 3;

using EccCode = std::array<std::uint8_t, kEccCodeBytes>;

// The stored code of one 512-byte sector.
EccCode ComputeSectorEcc(const std::uint8_t* sector);

enum class EccResult {
  Clean,           // data and code agree
  CorrectedData,   // one data bit was flipped and is now repaired
  CodeError,       // the code itself has one flipped bit; the data are right
  Uncorrectable,   // more than one bit is wrong
};

// Checks a sector against its stored code and repairs a single flipped data bit in place.
// `bitNumber`, when given, receives the repaired bit's number.
EccResult CorrectSector(std::uint8_t* sector, const EccCode& stored,
                        std::uint32_t* bitNumber = nullptr);

}  // namespace orvella
