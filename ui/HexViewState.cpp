#include "ui/HexViewState.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "files/Utf8Text.h"

namespace orvella {

namespace {

constexpr std::int64_t kLine = HexViewState::kBytesInLine;

int HexDigit(char32_t c) {
  if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
  if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10;
  if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A') + 10;
  return -1;
}

// White space as the prompts' text knows it: ASCII's and Unicode's separators.
bool IsSpace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

// The text as characters; a broken sequence is U+FFFD.
std::u32string Characters(std::string_view text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Char c = DecodeUtf8At(text, i);
    out.push_back(c.Valid ? c.CodePoint : U'\uFFFD');
    i += c.Length;
  }
  return out;
}

std::u32string Trimmed(std::u32string t) {
  while (!t.empty() && IsSpace(t.back())) t.pop_back();
  std::size_t first = 0;
  while (first < t.size() && IsSpace(t[first])) ++first;
  return t.substr(first);
}

std::string Utf8(const std::u32string& text) {
  std::string out;
  for (const char32_t c : text) out += Utf8Of(c);
  return out;
}

bool StartsWith0x(const std::u32string& t) {
  return t.size() >= 2 && t[0] == U'0' && (t[1] == U'x' || t[1] == U'X');
}

}  // namespace

void HexViewState::Reset(std::int64_t chunkLength) {
  chunk_ = std::max<std::int64_t>(chunkLength, 0);
  position_ = 0;
  caret_ = 0;
  DropBlock();
  SetScreenLines(screenLines_);
}

void HexViewState::SetScreenLines(int screenLines) {
  screenLines_ = std::max(screenLines, 0);
  // A scroll bar counts in int; chunks of this system stay far below that many lines.
  const std::int64_t lines = chunk_ / kLine + (chunk_ % kLine != 0 ? 1 : 0);
  lines_ = static_cast<int>(std::min<std::int64_t>(lines, INT_MAX / 2));
  position_ = ClampTop(position_);
}

int HexViewState::MaxPosition() const { return std::max(lines_ - screenLines_, 0); }

int HexViewState::ClampTop(std::int64_t top) const {
  return static_cast<int>(std::clamp<std::int64_t>(top, 0, MaxPosition()));
}

bool HexViewState::InBlock(std::int64_t address) const {
  return marked_ && address >= std::min(blockBegin_, blockEnd_) &&
         address <= std::max(blockBegin_, blockEnd_);
}

std::optional<int> HexViewState::PositionShowingCaret() const {
  const std::int64_t line = CaretLine();
  if (line >= 0 && line < screenLines_) return std::nullopt;
  return ClampTop(caret_ / kLine);
}

void HexViewState::DropBlock() {
  marked_ = false;
  blockBegin_ = blockEnd_ = -1;
}

std::optional<int> HexViewState::MoveCaret(HexKey key, bool ctrl, bool shift) {
  const std::int64_t length = chunk_;
  if (length == 0) return std::nullopt;
  const std::int64_t page = std::max(screenLines_, 1);
  // With Shift the caret moves between byte boundaries (0 to the chunk's length), the
  // block lying between the anchor and the moving boundary; without, from byte to byte.
  if (shift && !marked_) anchor_ = moving_ = caret_;
  const std::int64_t from = shift ? moving_ : caret_;
  const std::int64_t last = shift ? length : length - 1;
  // Home and End keep to the line of the last byte marked (a boundary at a line's end
  // belongs to that line).
  const std::int64_t lineByte = std::min(shift && moving_ > anchor_ ? moving_ - 1 : from, length - 1);
  const std::int64_t lineStart = lineByte - lineByte % kLine;
  std::int64_t to = from;
  std::int64_t topShift = 0;
  switch (key) {
    case HexKey::Left: to = from - 1; break;
    case HexKey::Right: to = from + 1; break;
    case HexKey::Up: to = from - kLine; break;
    case HexKey::Down: to = from + kLine; break;
    case HexKey::PageUp: to = from - page * kLine; topShift = -page; break;
    case HexKey::PageDown: to = from + page * kLine; topShift = page; break;
    case HexKey::Home: to = ctrl ? 0 : lineStart; break;
    case HexKey::End: to = ctrl ? last : lineStart + (shift ? kLine : kLine - 1); break;
  }
  to = std::clamp<std::int64_t>(to, 0, last);

  if (shift) {
    moving_ = to;
    caret_ = std::min(to, length - 1);
    marked_ = to != anchor_;
    blockBegin_ = marked_ ? std::min(anchor_, to) : -1;
    blockEnd_ = marked_ ? std::max(anchor_, to) - 1 : -1;
  } else {
    DropBlock();
    caret_ = to;
  }
  std::int64_t top = position_ + topShift;
  // The caret's line stays on screen.
  const std::int64_t line = caret_ / kLine;
  if (line < top) top = line;
  if (line >= top + page) top = line - page + 1;
  return ClampTop(top);
}

HexViewState::Press HexViewState::MousePress(int x, int y, HexHit hit) {
  Press press;
  downX_ = x;
  downY_ = y;
  shownBegin_ = shownEnd_ = -1;
  if (marked_) {
    DropBlock();
    press.BlockDropped = true;
  }
  if (TopAddress() + hit.Offset >= chunk_) return press;
  charColumn_ = hit.InCharColumn;
  caret_ = TopAddress() + hit.Offset;
  anchor_ = caret_;
  mouseDown_ = true;
  press.OnData = true;
  return press;
}

HexViewState::Drag HexViewState::MouseMove(int x, int y, HexHit hit) {
  Drag drag;
  if (!mouseDown_ || chunk_ == 0) return drag;
  if (x == downX_ && y == downY_) return drag;
  if (!marked_) {
    marked_ = true;
    blockBegin_ = blockEnd_ = anchor_;
    drag.Started = true;
  }
  const std::int64_t pointer = TopAddress() + hit.Offset;
  std::int64_t begin = anchor_;
  std::int64_t end = pointer;
  if (pointer < anchor_) {
    begin = pointer;
    end = anchor_ - 1;
  }
  moving_ = pointer >= anchor_ ? pointer + 1 : pointer;
  if (begin != shownBegin_ || end != shownEnd_) {
    blockBegin_ = begin;
    blockEnd_ = end;
    caret_ = pointer;
    shownBegin_ = begin;
    shownEnd_ = end;
    drag.Changed = true;
  }
  return drag;
}

std::optional<int> HexViewState::TakeWheelStep() {
  if (wheel_ < kWheelNotch && wheel_ > -kWheelNotch) return std::nullopt;
  // High-resolution wheels report fractions of a notch; a step is a whole notch.
  if (wheel_ > 0) {
    wheel_ -= kWheelNotch;
    return position_ <= kWheelLines - 1 ? 0 : position_ - kWheelLines;
  }
  wheel_ += kWheelNotch;
  return std::min(position_ + kWheelLines, MaxPosition());
}

std::string HexViewState::GoTo(std::string_view typed, std::int64_t fileBase, int& top) {
  const std::int64_t length = chunk_;
  const auto offset = ParseHexOffset(typed);
  if (!offset) return "\"" + TrimmedText(typed) + "\" is not a hexadecimal offset.";
  const std::int64_t address = offset->FileOffset ? offset->Value - fileBase : offset->Value;
  if (address < 0 || address >= length) {
    if (offset->FileOffset)
      return "File offset " + HexAddressText(offset->Value) +
             " lies outside this partition, which holds file offsets " + HexAddressText(fileBase) +
             " to " + HexAddressText(fileBase + length - 1) + ".";
    return "Offset " + HexAddressText(offset->Value) +
           " lies outside this partition, which holds offsets " + HexAddressText(0) + " to " +
           HexAddressText(length - 1) + ".";
  }
  DropBlock();
  caret_ = address;
  const std::int64_t line = address / kLine;
  top = line >= position_ && line < position_ + std::max(screenLines_, 1) ? position_
                                                                          : ClampTop(line);
  return {};
}

int HexViewState::MarkFound(std::int64_t address, std::int64_t length) {
  marked_ = true;
  blockBegin_ = address;
  blockEnd_ = address + length - 1;
  anchor_ = address;
  moving_ = address + length;
  caret_ = address;
  // The run comes into view: its first line on top unless it is all on screen already.
  const std::int64_t page = std::max(screenLines_, 1);
  if (blockBegin_ / kLine < position_ || blockEnd_ / kLine >= position_ + page)
    return ClampTop(blockBegin_ / kLine);
  return position_;
}

std::int64_t HexViewState::FindOrigin(bool forward) const {
  return marked_ ? (forward ? blockBegin_ + 1 : blockBegin_) : caret_;
}

void HexViewState::Selection(std::int64_t& from, std::int64_t& n) const {
  if (marked_) {
    // A drag may reach past the data; only existing bytes count.
    from = std::clamp<std::int64_t>(blockBegin_, 0, chunk_);
    n = std::clamp<std::int64_t>(blockEnd_ + 1, 0, chunk_) - from;
  } else {
    from = std::clamp<std::int64_t>(caret_, 0, chunk_);
    n = from < chunk_ ? 1 : 0;
  }
}

std::optional<HexOffsetInput> ParseHexOffset(std::string_view text) {
  std::u32string t = Trimmed(Characters(text));
  HexOffsetInput out;
  if (!t.empty() && t[0] == U'@') {
    out.FileOffset = true;
    t = Trimmed(t.substr(1));
  }
  if (StartsWith0x(t)) t = t.substr(2);
  // Fifteen digits stay below 2^63.
  if (t.empty() || t.size() > 15) return std::nullopt;
  for (const char32_t c : t) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    out.Value = out.Value * 16 + d;
  }
  return out;
}

std::vector<std::uint8_t> ParseFindPattern(std::string_view text, std::string& error) {
  std::vector<std::uint8_t> out;
  const std::u32string t = Trimmed(Characters(text));
  const std::string shown = Utf8(t);
  if (t.size() >= 2 && t.front() == U'"' && t.back() == U'"') {
    for (const char32_t c : t.substr(1, t.size() - 2)) {
      if (c > 0xFF) {
        error = "The character \"" + Utf8Of(c) +
                "\" has no single-byte code; text can hold characters up to U+00FF.";
        return {};
      }
      out.push_back(static_cast<std::uint8_t>(c));
    }
  } else {
    std::u32string digits;
    for (const char32_t c : t)
      if (!IsSpace(c)) digits += c;
    if (StartsWith0x(digits)) digits = digits.substr(2);
    if (digits.size() % 2 != 0) {
      error = "\"" + shown + "\" has an odd number of hexadecimal digits.";
      return {};
    }
    for (std::size_t i = 0; i < digits.size(); i += 2) {
      const int hi = HexDigit(digits[i]);
      const int lo = HexDigit(digits[i + 1]);
      if (hi < 0 || lo < 0) {
        error = "\"" + shown + "\" is neither hexadecimal bytes (DE AD BE EF) nor text in double quotes.";
        return {};
      }
      out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
  }
  if (out.empty()) {
    error = "There is nothing to search for.";
  } else if (out.size() > kMaxFindPattern) {
    error = "A search takes at most " + std::to_string(kMaxFindPattern) + " bytes.";
    out.clear();
  }
  return out;
}

std::string HexCharText(std::uint8_t b) {
  // Control characters (C0, DEL and C1) have no glyph of their own.
  if (b < 0x20 || (b >= 0x7F && b <= 0x9F)) return ".";
  return Utf8Of(b);
}

std::string HexBytesText(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (const std::uint8_t b : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

std::string CharBytesText(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const std::uint8_t b : bytes) out += HexCharText(b);
  return out;
}

std::string HexAddressText(std::int64_t address) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(address));
  return buf;
}

std::string TrimmedText(std::string_view text) { return Utf8(Trimmed(Characters(text))); }

std::string FindStatusText(const FindResult& r, bool forward, const std::string& patternText) {
  switch (r.What) {
    case FindResult::Kind::Found:
      if (!r.Wrapped) return patternText + " found at " + HexAddressText(r.Address);
      return std::string(forward ? "Passed the end of the partition; "
                                 : "Passed the start of the partition; ") +
             patternText + " found at " + HexAddressText(r.Address);
    case FindResult::Kind::NotFound:
      return patternText + " not found in this partition";
    case FindResult::Kind::Stopped:
      return "Search stopped at " + HexAddressText(r.StoppedAt);
    case FindResult::Kind::ReadFailed:
      break;
  }
  return {};
}

}  // namespace orvella
