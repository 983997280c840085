#include "fat/Names.h"

#include <array>
#include <cstdio>

namespace orvella::fat {
namespace {

// Code page 437, bytes 0x80 to 0xFF.
constexpr std::array<char16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

void AppendCodePoint(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

// The device a name opens on Windows whatever its extension ("nul.txt", "COM1 "), or "".
std::string DeviceName(std::string_view name) {
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  static constexpr std::array<std::string_view, 6> kPlain = {"CON", "PRN", "AUX", "NUL",
                                                             "CONIN$", "CONOUT$"};
  for (std::string_view d : kPlain)
    if (EqualsNoCase(base, d)) return std::string(d);
  if (base.size() == 4 && base[3] >= '1' && base[3] <= '9' &&
      (EqualsNoCase(base.substr(0, 3), "COM") || EqualsNoCase(base.substr(0, 3), "LPT"))) {
    std::string d(base);
    for (char& c : d) c = AsciiUpper(c);
    return d;
  }
  return {};
}

std::string CodePointText(unsigned char c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

}  // namespace

std::string Utf16ToUtf8(const char16_t* units, std::size_t n) {
  std::string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      AppendCodePoint(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{units[i + 1]} - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendCodePoint(out, 0xFFFD);
    } else {
      AppendCodePoint(out, u);
    }
  }
  return out;
}

void AppendCp437(std::string& out, std::uint8_t byte) {
  if (byte < 0x80)
    out += static_cast<char>(byte);
  else
    AppendCodePoint(out, kCp437High[byte - 0x80]);
}

std::string UnsafeNameReason(std::string_view name) {
  if (name.empty()) return "the name is empty";
  if (name == ".") return "\".\" names the folder itself";
  if (name == "..") return "\"..\" names the folder above";
  for (char c : name) {
    if (c == '/' || c == '\\') return std::string("it holds \"") + c + "\", a path separator";
    if (c == '\0') return "it holds a NUL character";
  }
  if (name.size() >= 2 && name[1] == ':' && AsciiUpper(name[0]) >= 'A' && AsciiUpper(name[0]) <= 'Z')
    return "it begins with the drive \"" + std::string(name.substr(0, 2)) + "\"";
  const std::string device = DeviceName(name);
  if (!device.empty()) return "\"" + device + "\" is a device name";
  return {};
}

std::string WindowsNameReason(std::string_view name) {
  if (name.empty()) return "the name is empty";
  if (name == "." || name == "..") return "\"" + std::string(name) + "\" names a folder, not a file";
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20) return "it holds the control character " + CodePointText(u);
    if (std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos)
      return std::string("it holds \"") + c + "\", which Windows does not allow in a file name";
  }
  if (name.back() == '.') return "it ends with \".\", which Windows drops from a file name";
  if (name.back() == ' ') return "it ends with a space, which Windows drops from a file name";
  const std::string device = DeviceName(name);
  if (!device.empty()) return "\"" + device + "\" is a device name on Windows";
  return {};
}

}  // namespace orvella::fat
