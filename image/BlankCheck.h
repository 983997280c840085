#pragma once
// The blank check: which partitions hold nothing but erased flash (0xFF) in their main
// data and in bytes 0 to 13 of every 16-byte group of their spare data.

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/ChunkBuffer.h"
#include "files/FileIO.h"
#include "image/FullImage.h"
#include "image/WindowPort.h"

namespace orvella {

// True when all n bytes are 0xFF. Word-wide and vectorised, so it runs at cache speed.
bool IsErased(const std::uint8_t* data, std::size_t n);

// True when bytes 0 to 13 of every 16-byte group from `data` on are 0xFF; bytes 14 and
// 15 of each group are not examined (a last, shorter group: its first 14 at most).
bool IsSpareErased(const std::uint8_t* data, std::size_t n);

enum class RangeVerdict { Blank, NotBlank, Failed };

// Tests Leng bytes of `imageFile` from file offset Addr: opens the file read-only, reads
// in chunks of at most BlockSize into `buffer` (sized here), stops at the first chunk
// that is not erased. Failed fills `error` with the I/O failure; Leng 0 is Blank.
RangeVerdict CheckMainImageRangeToBeBlank(const std::string& imageFile, std::uint32_t Addr,
                                          std::uint32_t Leng, ChunkBuffer& buffer,
                                          std::string& error);
// The same for spare data, with the 16-byte-group rule applied within each chunk.
RangeVerdict CheckReduImageRangeToBeBlank(const std::string& imageFile, std::uint32_t Addr,
                                          std::uint32_t Leng, ChunkBuffer& buffer,
                                          std::string& error);
// Both tests on an image file the caller holds open for reading.
RangeVerdict CheckMainImageRangeToBeBlank(File& image, std::uint32_t Addr, std::uint32_t Leng,
                                          ChunkBuffer& buffer, std::string& error);
RangeVerdict CheckReduImageRangeToBeBlank(File& image, std::uint32_t Addr, std::uint32_t Leng,
                                          ChunkBuffer& buffer, std::string& error);

// The "Check for Blank" command: sets every row's IsBlank and writes the report into the
// log. Returns false after an I/O failure, which it reported in an error box.
bool CheckBlanks(ImageModel& model, WindowPort& port);

}  // namespace orvella
