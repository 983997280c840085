#pragma once
// Names as a FAT volume stores them (the 8.3 short name in code page 437, the long name
// in UTF-16) turned into UTF-8, and the checks a name must pass before a file of that
// name is created inside an output folder.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvella::fat {

// UTF-8 of UTF-16 code units; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const char16_t* units, std::size_t n);

// Appends the UTF-8 of one byte of code page 437 (bytes below 0x80 are ASCII).
void AppendCp437(std::string& out, std::uint8_t byte);

// Why a file of this name could not be made safely inside an output folder on any
// system: "" when it can. Refused: an empty name, "." and "..", a path separator ("/" or
// "\"), a NUL character, a drive ("C:..."), a device name (CON, NUL, COM1, ...).
std::string UnsafeNameReason(std::string_view name);

// Why Windows cannot hold this name as a file name: "" when it can. Refused: a device
// name (also with an extension), one of < > : " / \ | ? *, a control character, a
// trailing dot or space.
std::string WindowsNameReason(std::string_view name);

}  // namespace orvella::fat
