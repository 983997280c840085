#include "fat/Directory.h"

#include <cstdio>
#include <cstring>

#include "fat/BootSector.h"
#include "fat/Names.h"

namespace orvella::fat {
namespace {

unsigned DaysIn(unsigned month, unsigned year) {
  static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) return 29;
  return kDays[month - 1];
}

void AppendField(std::string& out, const std::uint8_t* p, unsigned n, bool lower, bool first) {
  while (n > 0 && p[n - 1] == ' ') --n;
  for (unsigned i = 0; i < n; ++i) {
    std::uint8_t b = p[i];
    if (first && i == 0 && b == kEntryE5) b = kEntryDeleted;
    if (lower && b >= 'A' && b <= 'Z') b = static_cast<std::uint8_t>(b - 'A' + 'a');
    AppendCp437(out, b);
  }
}

}  // namespace

bool DosTimestamp::Valid() const {
  const unsigned month = Month();
  if (month < 1 || month > 12 || Day() < 1 || Day() > DaysIn(month, Year())) return false;
  return Hour() < 24 && Minute() < 60 && (Time & 0x1F) < 30 && Centis < 200;
}

std::string DosTimestamp::Text() const {
  if (!Valid()) return {};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", Year(), Month(), Day(), Hour(),
                Minute(), Second());
  return buf;
}

std::uint8_t ShortNameChecksum(const std::uint8_t* entry) {
  std::uint8_t sum = 0;
  for (unsigned i = 0; i < 11; ++i)
    sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry[i]);
  return sum;
}

std::string ShortNameText(const std::uint8_t* entry) {
  const std::uint8_t flags = entry[kEntFlags];
  std::string out;
  AppendField(out, entry + kEntName, 8, flags & kFlagLowerBase, true);
  std::string ext;
  AppendField(ext, entry + kEntExt, 3, flags & kFlagLowerExt, false);
  if (!ext.empty()) out += "." + ext;
  return out;
}

bool IsDotEntry(const std::uint8_t* entry) {
  if (entry[0] != '.') return false;
  const unsigned dots = entry[1] == '.' ? 2 : 1;
  for (unsigned i = dots; i < 11; ++i)
    if (entry[i] != ' ') return false;
  return true;
}

void LongNameAssembler::Add(const std::uint8_t* entry) {
  const std::uint8_t order = entry[kLfnOrder];
  const std::uint8_t part = order & 0x1F;
  if (order & kLfnLastPart) {
    Reset();
    parts_ = part;
    expected_ = part;
    checksum_ = entry[kLfnChecksum];
    broken_ = part == 0 || part > 20 || (order & 0x20);
  } else if (parts_ == 0 || part != expected_ || entry[kLfnChecksum] != checksum_) {
    broken_ = true;
  }
  if (broken_ || part == 0) return;
  char16_t* dst = units_.data() + (part - 1) * kLfnUnitsPerEntry;
  auto take = [&](std::uint32_t at, unsigned n) {
    for (unsigned i = 0; i < n; ++i) *dst++ = static_cast<char16_t>(Le16(entry + at + 2 * i));
  };
  take(kLfnUnits1, 5);
  take(kLfnUnits2, 6);
  take(kLfnUnits3, 2);
  expected_ = static_cast<std::uint8_t>(part - 1);
}

std::optional<std::u16string> LongNameAssembler::Take(std::uint8_t shortChecksum, bool& hadParts) {
  hadParts = Pending();
  std::optional<std::u16string> name;
  if (!broken_ && parts_ != 0 && expected_ == 0 && checksum_ == shortChecksum) {
    const std::size_t limit = std::size_t{parts_} * kLfnUnitsPerEntry;
    std::size_t n = 0;
    while (n < limit && units_[n] != 0) ++n;
    if (n >= 1 && n <= kLfnMaxUnits) name.emplace(units_.data(), n);
  }
  Reset();
  return name;
}

void LongNameAssembler::Reset() {
  parts_ = 0;
  expected_ = 0;
  checksum_ = 0;
  broken_ = false;
}

std::optional<ExtendedEntry> ParseExtendedEntry(const std::uint8_t* entry,
                                                std::uint8_t shortChecksum) {
  if (entry[kEntAttr] != kAttrExtended ||
      std::memcmp(entry + kXdeSignature, kXdeSignatureText, 10) != 0 ||
      entry[kXdeSfnChecksum] != shortChecksum)
    return std::nullopt;
  return ExtendedEntry{Le16(entry + kXdeMode), Le32(entry + kXdeUid), Le32(entry + kXdeGid)};
}

}  // namespace orvella::fat
