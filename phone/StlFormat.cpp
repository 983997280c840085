#include "phone/StlFormat.h"

#include <array>
#include <bit>
#include <charconv>

namespace orvella::phone {
namespace {

constexpr std::array<std::uint8_t, 256> MakeZeroTable() {
  std::array<std::uint8_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) t[i] = static_cast<std::uint8_t>(8 - std::popcount(i));
  return t;
}
constexpr auto kZeroBits = MakeZeroTable();

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[i] = c;
  }
  return t;
}
constexpr auto kCrcTable = MakeCrcTable();

bool ParseNumber(std::string_view text, std::uint32_t& value) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc{} && end == text.data() + text.size();
}

}  // namespace

std::uint32_t ZeroBitCount(const std::uint8_t* data, std::size_t n) {
  std::uint32_t zeros = 0;
  for (std::size_t i = 0; i < n; ++i) zeros += kZeroBits[data[i]];
  return zeros;
}

bool ConfirmationHolds(const std::uint8_t* data, std::size_t n) {
  const std::uint32_t zbc = ZeroBitCount(data, n);
  return StlU32(data + n) == zbc && StlU32(data + n + 4) == (zbc ^ 0xFFFFFFFFu);
}

void PutConfirmation(std::uint8_t* data, std::size_t n) {
  const std::uint32_t zbc = ZeroBitCount(data, n);
  StlPut32(data + n, zbc);
  StlPut32(data + n + 4, zbc ^ 0xFFFFFFFFu);
}

std::uint32_t StlCrc32(const std::uint8_t* data, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) c = kCrcTable[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

bool StlGeometryForUnits(std::uint32_t units, StlGeometry& g, std::string& error) {
  g = StlGeometry{};
  g.Units = units;
  // Block counts are 16-bit fields and the sector count a 32-bit one.
  if (units > 0xFFFF) {
    error = std::to_string(units) + " units are more than a volume's 16-bit block fields can count";
    return false;
  }
  if (units <= g.RootBlocks) {
    error = std::to_string(units) + " units leave no room for a zone after the root blocks";
    return false;
  }
  g.ZoneBlocks = units - g.RootBlocks;
  std::uint32_t m = g.ZoneBlocks * 20 / 1000 + 1;
  m += m & 1;
  g.MetaBlocks = m < 3 ? 3 : (m > kStlMaxMetaBlocks ? kStlMaxMetaBlocks : m);
  if (g.ZoneBlocks <= g.MetaBlocks + g.FreeBlocks) {
    error = std::to_string(units) + " units hold no data block after " + std::to_string(g.RootBlocks) +
            " root, " + std::to_string(g.MetaBlocks) + " meta and " + std::to_string(g.FreeBlocks) +
            " free blocks";
    return false;
  }
  g.UserBlocks = g.ZoneBlocks - g.MetaBlocks - g.FreeBlocks;
  g.LocalAreas = (g.UserBlocks - 1) / kStlBlocksPerLa + 1;
  // The context keeps two words per local area and must stay within its 512 bytes.
  if (ContextChecked(g.LocalAreas) + 8 > kContextBytes) {
    error = std::to_string(units) + " units make " + std::to_string(g.LocalAreas) +
            " local areas, more than a context can list";
    return false;
  }
  g.PmtDir = g.UserBlocks < kStlMaxPmtDir ? g.UserBlocks : kStlMaxPmtDir;
  return true;
}

std::string StlHeaderLayout::Name() const {
  if (Old) return "old";
  return "new:" + std::to_string(PmtEntries) + "," + std::to_string(RctEntries) + "," +
         std::to_string(Pages) + (Aligned ? ",a" : "");
}

StlHeaderOffsets StlHeaderLayout::Offsets(std::uint32_t metaBlocks, std::uint32_t localAreasEven) const {
  StlHeaderOffsets o;
  const std::uint32_t e = Old ? kStlMaxPmtDir : PmtEntries;
  const std::uint32_t r = Old ? 0 : RctEntries;
  const std::uint32_t octets = (e + 7) / 8;
  o.IdleList = 0;
  o.ValidCounts = 2 * metaBlocks;
  o.EraseCounts = 4 * metaBlocks;
  o.BmtDir = 8 * metaBlocks;
  o.RctDir = o.BmtDir + 2 * localAreasEven;
  o.MergeFlags = o.RctDir + 2 * r;
  o.PmtDir = o.MergeFlags + octets;
  if (Aligned && !Old) o.PmtDir = (o.PmtDir + 3) / 4 * 4;
  o.WlGroups = o.PmtDir + 4 * e;
  o.Fixed = o.WlGroups + 8 * octets;
  o.End = o.Fixed + kDhFixedBytes;
  return o;
}

bool ParseStlHeaderLayout(std::string_view text, StlHeaderLayout& layout, std::string& error) {
  layout = StlHeaderLayout{};
  if (text == "old") return true;
  if (!text.starts_with("new:")) {
    error = "\"" + std::string(text) + "\" is not a header layout (take old or new:E,r,P)";
    return false;
  }
  std::string_view rest = text.substr(4);
  std::uint32_t v[3] = {};
  for (int i = 0; i < 3; ++i) {
    const std::size_t comma = rest.find(',');
    const std::string_view part = rest.substr(0, comma);
    if (!ParseNumber(part, v[i])) {
      error = "\"" + std::string(text) + "\": E, r and P must be decimal numbers";
      return false;
    }
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    if (comma == std::string_view::npos && i < 2) {
      error = "\"" + std::string(text) + "\" names fewer than three numbers (new:E,r,P)";
      return false;
    }
    if (i == 2 && comma != std::string_view::npos && rest != "a") {
      error = "\"" + std::string(text) + "\" ends in \"" + std::string(rest) + "\" (only \",a\" may follow P)";
      return false;
    }
    if (i == 2) layout.Aligned = comma != std::string_view::npos;
  }
  if (v[0] == 0 || v[0] > kStlMaxPmtDir || v[1] > 255 || v[2] == 0 || v[2] > 16) {
    error = "\"" + std::string(text) + "\": E must be 1 to 2048, r at most 255, P 1 to 16";
    return false;
  }
  layout.Old = false;
  layout.PmtEntries = v[0];
  layout.RctEntries = v[1];
  layout.Pages = v[2];
  return true;
}

}  // namespace orvella::phone
