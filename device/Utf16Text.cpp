#include "device/Utf16Text.h"

#include "files/Utf8Text.h"

namespace orvella {

std::u16string Utf16FromUtf8(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Char c = DecodeUtf8At(text, i);
    i += c.Length;
    if (!c.Valid) {
      out.push_back(u'\uFFFD');
    } else if (c.CodePoint >= 0x10000) {
      const char32_t v = c.CodePoint - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c.CodePoint));
    }
  }
  return out;
}

}  // namespace orvella
