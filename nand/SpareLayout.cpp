#include "nand/SpareLayout.h"

#include <algorithm>

namespace orvella::nand {
namespace {

constexpr CodeSlot kOneNandLow{0, {8, 9, 10}};
constexpr CodeSlot kOneNandHigh{256, {11, 12, 13}};
// The small-page kernel default: bytes 0-2 for the first half, 3, 6 and 7 for the second
// (4 is reserved, 5 the bad-block marker).
constexpr CodeSlot kSmallLow{0, {0, 1, 2}};
constexpr CodeSlot kSmallHigh{256, {3, 6, 7}};

constexpr SpareLayout kLayouts[] = {
    {"onenand-h512-normal", EccStep::Bytes512, EccOrder::Normal, 1, {kOneNandLow, {}},
     BadBlockRule::OneNandWord},
    {"onenand-h512-smc", EccStep::Bytes512, EccOrder::SmartMedia, 1, {kOneNandLow, {}},
     BadBlockRule::OneNandWord},
    {"onenand-h256-normal", EccStep::Bytes256, EccOrder::Normal, 2, {kOneNandLow, kOneNandHigh},
     BadBlockRule::OneNandWord},
    {"onenand-h256-smc", EccStep::Bytes256, EccOrder::SmartMedia, 2, {kOneNandLow, kOneNandHigh},
     BadBlockRule::OneNandWord},
    {"smallpage-normal", EccStep::Bytes256, EccOrder::Normal, 2, {kSmallLow, kSmallHigh},
     BadBlockRule::SmallPageByte5},
    {"smallpage-smc", EccStep::Bytes256, EccOrder::SmartMedia, 2, {kSmallLow, kSmallHigh},
     BadBlockRule::SmallPageByte5},
};

}  // namespace

std::span<const SpareLayout> KnownLayouts() { return kLayouts; }

const SpareLayout* FindLayout(std::string_view name) {
  const auto it = std::find_if(std::begin(kLayouts), std::end(kLayouts),
                               [&](const SpareLayout& l) { return l.Name == name; });
  return it == std::end(kLayouts) ? nullptr : &*it;
}

std::string KnownLayoutNames() {
  std::string names;
  for (const SpareLayout& l : KnownLayouts()) names += " " + std::string(l.Name);
  return names;
}

void WriteSectorCodes(const SpareLayout& layout, const std::uint8_t* sector,
                      std::uint8_t* spare) {
  for (unsigned c = 0; c < layout.Codes; ++c) {
    const CodeSlot& slot = layout.Slots[c];
    const EccCode code = ComputeEcc(sector + slot.DataOffset, layout.Step, layout.Order);
    for (unsigned i = 0; i < 3; ++i) spare[slot.SpareAt[i]] = code[i];
  }
}

}  // namespace orvella::nand
