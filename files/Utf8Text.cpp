#include "files/Utf8Text.h"

#include <algorithm>

namespace orvella {

Utf8Char DecodeUtf8At(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char c = byte(at);
  Utf8Char r;
  std::size_t extra = 0;
  char32_t least = 0;
  if (c < 0x80) {
    return {c, 1, true};
  } else if ((c & 0xE0) == 0xC0) {
    r.CodePoint = c & 0x1F; extra = 1; least = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    r.CodePoint = c & 0x0F; extra = 2; least = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    r.CodePoint = c & 0x07; extra = 3; least = 0x10000;
  } else {
    return r;  // a stray continuation byte or no lead byte at all
  }
  for (std::size_t k = 1; k <= extra; ++k) {
    if (at + k >= text.size() || (byte(at + k) & 0xC0) != 0x80) {
      r.Length = k;  // the byte that broke the sequence starts the next character
      return r;
    }
    r.CodePoint = (r.CodePoint << 6) | (byte(at + k) & 0x3F);
  }
  r.Length = extra + 1;
  r.Valid = r.CodePoint >= least && r.CodePoint <= 0x10FFFF &&
            !(r.CodePoint >= 0xD800 && r.CodePoint <= 0xDFFF);
  return r;
}

bool Latin1FromUtf8(std::string_view text, std::string& latin1, char32_t& bad) {
  latin1.clear();
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Char c = DecodeUtf8At(text, i);
    if (!c.Valid || c.CodePoint > 0xFF) {
      bad = c.Valid ? c.CodePoint : kNotUtf8;
      return false;
    }
    latin1.push_back(static_cast<char>(c.CodePoint));
    i += c.Length;
  }
  return true;
}

std::string Utf8Of(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
  return out;
}

std::string Utf8FromLatin1(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (const char ch : latin1) out += Utf8Of(static_cast<unsigned char>(ch));
  return out;
}

std::size_t Utf8Length(std::string_view text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); i += DecodeUtf8At(text, i).Length) ++n;
  return n;
}

std::size_t Utf8Offset(std::string_view text, std::size_t n) {
  std::size_t i = 0;
  for (; i < text.size() && n > 0; --n) i += DecodeUtf8At(text, i).Length;
  return std::min(i, text.size());
}

}  // namespace orvella
