#pragma once
// UTF-8, the encoding of every text the program hands around, decoded one character at
// a time; and Latin-1, the encoding of the table's names and of the settings file, to
// and from it.

#include <cstddef>
#include <string>
#include <string_view>

namespace orvella {

// The character that starts at byte `at` of `text`. A malformed sequence (a stray byte,
// one cut short, an overlong form, a surrogate, past U+10FFFF) gives Valid false and in
// Length the bytes to step over.
struct Utf8Char {
  char32_t CodePoint = 0;
  std::size_t Length = 1;
  bool Valid = false;
};
Utf8Char DecodeUtf8At(std::string_view text, std::size_t at);

// The Latin-1 bytes of UTF-8 `text`. False when it is not UTF-8 (`bad` = 0xFFFFFFFF) or
// holds a character outside Latin-1 (`bad` = that character).
inline constexpr char32_t kNotUtf8 = 0xFFFFFFFF;
bool Latin1FromUtf8(std::string_view text, std::string& latin1, char32_t& bad);

// The UTF-8 bytes of one character (at most U+10FFFF).
std::string Utf8Of(char32_t c);

// Latin-1 bytes as UTF-8 (every byte is a character).
std::string Utf8FromLatin1(std::string_view latin1);

// How many characters UTF-8 `text` holds, and the byte offset where character `n` starts
// (the text's size when it holds fewer); a malformed sequence counts as one character.
std::size_t Utf8Length(std::string_view text);
std::size_t Utf8Offset(std::string_view text, std::size_t n);

}  // namespace orvella
