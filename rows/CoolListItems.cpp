#include "rows/CoolListItems.h"

#include <cstdio>

namespace orvella {

namespace {

std::string Hex(std::uint32_t v, int minDigits, bool prefixed) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", minDigits, v);
  return prefixed ? std::string("0x") + buf : std::string(buf);
}

}  // namespace

std::string FormatCellText(std::uint32_t typeCode, const TCellRef& value) {
  const std::uint32_t code = typeCode & 0xFFu;
  const auto* number = std::get_if<const std::uint32_t*>(&value);
  const auto* text = std::get_if<const std::string*>(&value);
  const bool haveNumber = number != nullptr && *number != nullptr;
  const bool haveText = text != nullptr && *text != nullptr;

  switch (code) {
    case ctDecimal:
      return haveNumber ? std::to_string(**number) : std::string();
    case ctText:
    case ctHexField:
    case ctAddressRange:
    case ctSizeField:
      return haveText ? **text : std::string();
    case ctHex2:
    case ctHex4:
    case ctHex8:
    case ctHex2Prefixed:
    case ctHex4Prefixed:
    case ctHex8Prefixed: {
      if (!haveNumber) return {};
      static constexpr int kDigits[] = {2, 4, 8};
      const int digits = kDigits[(code - ctHex2) % 3];
      return Hex(**number, digits, code >= ctHex2Prefixed);
    }
    default:
      return {};
  }
}

}  // namespace orvella
