#pragma once
// Texts handed to the host as zero-terminated UTF-16.

#include <string>

namespace orvella {

// UTF-8 to UTF-16 (the terminator comes from c_str()); malformed bytes become U+FFFD.
std::u16string Utf16FromUtf8(const std::string& text);

}  // namespace orvella
