#pragma once
// The 48-byte spare buffer the phone's flash driver keeps per page, over the 128 spare
// bytes of the page as a dump holds them. The driver stores three 16-bit words per
// sector (spare bytes 0-5; bytes 6-15 belong to the chip's own ECC), sectors 0 to 7 in
// order, so buffer byte k lives in sector k / 6 at spare byte k % 6. Words are taken
// low byte first.

#include <array>
#include <cstdint>

namespace orvella::phone {

inline constexpr std::uint32_t kSpareBufferBytes = 48;

// Buffer offsets of the fields every page may carry.
inline constexpr std::uint32_t kBufBadMark = 0;    // u16, 0xFFFF on a good block
inline constexpr std::uint32_t kBufMetaMark = 2;   // u16, 0xA5A5 on bad-block layer meta pages
inline constexpr std::uint32_t kBufSData1 = 4;     // u32
inline constexpr std::uint32_t kBufSData2 = 8;     // u32
inline constexpr std::uint32_t kBufSData3 = 12;    // u32
inline constexpr std::uint32_t kBufExt0 = 16;      // u32 ext words e0..e7 at 16 + 4i

inline constexpr std::uint16_t kMetaMark = 0xA5A5;

class SpareBuffer {
 public:
  SpareBuffer() { bytes_.fill(0xFF); }
  // Gathers the buffer from a page's 128 spare bytes.
  static SpareBuffer FromPageSpare(const std::uint8_t* spare);
  // Scatters the buffer into a page's 128 spare bytes; bytes 6-15 of each sector are
  // left as they are.
  void ToPageSpare(std::uint8_t* spare) const;

  std::uint16_t U16(std::uint32_t offset) const;
  std::uint32_t U32(std::uint32_t offset) const;
  void SetU16(std::uint32_t offset, std::uint16_t value);
  void SetU32(std::uint32_t offset, std::uint32_t value);

  std::uint16_t BadMark() const { return U16(kBufBadMark); }
  std::uint16_t MetaMark() const { return U16(kBufMetaMark); }
  std::uint32_t SData1() const { return U32(kBufSData1); }
  std::uint32_t SData2() const { return U32(kBufSData2); }
  std::uint32_t SData3() const { return U32(kBufSData3); }
  std::uint32_t Ext(std::uint32_t i) const { return U32(kBufExt0 + 4 * i); }
  // True when all 48 bytes are 0xFF (nothing stored by the driver).
  bool AllErased() const;

  const std::array<std::uint8_t, kSpareBufferBytes>& Bytes() const { return bytes_; }

 private:
  std::array<std::uint8_t, kSpareBufferBytes> bytes_;
};

// Where buffer byte k lives among a page's 128 spare bytes.
constexpr std::uint32_t SpareOffsetOfBufferByte(std::uint32_t k) { return (k / 6) * 16 + k % 6; }

}  // namespace orvella::phone
