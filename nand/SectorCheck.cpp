#include "nand/SectorCheck.h"

#include <cstring>

namespace orvella::nand {
namespace {

constexpr std::uint32_t kErasedCode = 0xFFFFFF;

// True when all n bytes are 0xFF or all are 0x00.
bool Uniform(const std::uint8_t* data, std::size_t n) {
  const std::uint8_t first = data[0];
  if (first != 0x00 && first != 0xFF) return false;
  for (std::size_t i = 1; i < n; ++i)
    if (data[i] != first) return false;
  return true;
}

std::uint32_t StoredCode(const CodeSlot& slot, const std::uint8_t* spare) {
  return std::uint32_t{spare[slot.SpareAt[0]]} | (std::uint32_t{spare[slot.SpareAt[1]]} << 8) |
         (std::uint32_t{spare[slot.SpareAt[2]]} << 16);
}

// Flips bit `bit` (8 * byte + bit) of `bytes`: a repair, or its undoing.
void FlipBit(std::uint8_t* bytes, std::uint32_t bit) {
  bytes[bit / 8] = static_cast<std::uint8_t>(bytes[bit / 8] ^ (1u << (bit % 8)));
}

void PutCode(const CodeSlot& slot, std::uint32_t code, std::uint8_t* spare) {
  for (unsigned i = 0; i < 3; ++i) spare[slot.SpareAt[i]] = static_cast<std::uint8_t>(code >> (8 * i));
}

}  // namespace

bool AllErased(const std::uint8_t* data, std::size_t n) {
  std::size_t i = 0;
  std::uint64_t acc = ~std::uint64_t{0};
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, data + i, sizeof w);
    acc &= w;
  }
  for (; i < n; ++i) acc &= 0xFFFFFFFFFFFFFF00ull | data[i];
  return acc == ~std::uint64_t{0};
}

bool IsErasedSector(const SpareLayout& layout, const std::uint8_t* sector,
                    const std::uint8_t* spare) {
  for (unsigned c = 0; c < layout.Codes; ++c)
    if (StoredCode(layout.Slots[c], spare) != kErasedCode) return false;
  return AllErased(sector, kSectorBytes);
}

SectorFinding CheckSector(const SpareLayout& layout, std::uint8_t* sector, std::uint8_t* spare,
                          bool rewriteCodes) {
  SectorFinding f;
  if (IsErasedSector(layout, sector, spare)) return f;
  bool uncorrectable = false;
  std::array<std::uint32_t, 2> storedCodes{};
  for (unsigned c = 0; c < layout.Codes; ++c) {
    const CodeSlot& slot = layout.Slots[c];
    std::uint8_t* data = sector + slot.DataOffset;
    const std::uint32_t stored = StoredCode(slot, spare);
    storedCodes[c] = stored;
    EccResult r = CheckAndCorrect(data, stored, layout.Step, layout.Order);
    // A code that was never written reads FF FF FF, and over data of odd parity that
    // looks exactly like one flipped bit: believed, it would "repair" sound data. Such a
    // repair is kept only where it leaves erased or zeroed flash, the data an unwritten
    // code truly belongs to (a bit flip in an erased page).
    if (r.Outcome == EccOutcome::DataCorrected && stored == kErasedCode &&
        !Uniform(data, static_cast<std::size_t>(layout.Step))) {
      FlipBit(data, r.Bit);
      r = {EccOutcome::Uncorrectable, 0};
    }
    switch (r.Outcome) {
      case EccOutcome::NoError: break;
      case EccOutcome::DataCorrected: {
        f.Bits[f.Corrections++] = 8u * slot.DataOffset + r.Bit;
        // The 256-byte code's two constant bits are not looked at by the correction;
        // a wrong one is still a code error, repaired with the code.
        const std::uint32_t good = PackedEcc(data, layout.Step, layout.Order);
        if (good != stored) {
          f.CodeError = true;
          if (rewriteCodes) PutCode(slot, good, spare);
        }
        break;
      }
      case EccOutcome::CodeError:
        f.CodeError = true;
        if (rewriteCodes) PutCode(slot, PackedEcc(data, layout.Step, layout.Order), spare);
        break;
      case EccOutcome::Uncorrectable: uncorrectable = true; break;
    }
  }
  // A sector that cannot be repaired whole stays as it was read, its other code's
  // repairs undone: half a repair would pass for a repaired sector in the output.
  if (uncorrectable) {
    for (unsigned i = 0; i < f.Corrections; ++i) FlipBit(sector, f.Bits[i]);
    if (rewriteCodes)
      for (unsigned c = 0; c < layout.Codes; ++c) PutCode(layout.Slots[c], storedCodes[c], spare);
    f.Corrections = 0;
    f.CodeError = false;
    f.Bits = {};
  }
  f.State = uncorrectable      ? SectorState::Uncorrectable
            : f.Corrections    ? SectorState::Corrected
            : f.CodeError      ? SectorState::CodeError
                               : SectorState::Clean;
  return f;
}

namespace {

// Sector 8 starts page 1 of a OneNAND block (4 KiB pages); small pages are sectors.
std::array<std::uint32_t, 2> MarkerSectors(BadBlockRule rule) {
  return rule == BadBlockRule::OneNandWord ? std::array<std::uint32_t, 2>{0, 8}
                                           : std::array<std::uint32_t, 2>{0, 1};
}

}  // namespace

bool IsBadBlock(BadBlockRule rule, const std::uint8_t* blockSpare) {
  for (const std::uint32_t s : MarkerSectors(rule)) {
    const std::uint8_t* spare = blockSpare + std::size_t{s} * kSpareBytes;
    if (rule == BadBlockRule::OneNandWord ? spare[0] != 0xFF || spare[1] != 0xFF : spare[5] != 0xFF)
      return true;
  }
  return false;
}

void MarkBadBlock(BadBlockRule rule, std::uint8_t* blockSpare) {
  for (const std::uint32_t s : MarkerSectors(rule)) {
    std::uint8_t* spare = blockSpare + std::size_t{s} * kSpareBytes;
    if (rule == BadBlockRule::OneNandWord) spare[0] = spare[1] = 0x00;
    else spare[5] = 0x00;
  }
}

void LayoutDetector::Add(const std::uint8_t* sector, const std::uint8_t* spare, bool badOneNand,
                         bool badSmallPage) {
  ++sectors_;
  const auto layouts = KnownLayouts();
  for (std::size_t k = 0; k < layouts.size() && k < scores_.size(); ++k) {
    const SpareLayout& layout = layouts[k];
    if (layout.BadBlocks == BadBlockRule::OneNandWord ? badOneNand : badSmallPage) continue;
    bool evidence = false, clean = true;
    for (unsigned c = 0; c < layout.Codes; ++c) {
      const CodeSlot& slot = layout.Slots[c];
      const std::uint32_t stored = StoredCode(slot, spare);
      const std::uint32_t computed = PackedEcc(sector + slot.DataOffset, layout.Step, layout.Order);
      if (stored != kErasedCode || computed != kErasedCode) evidence = true;
      if (stored != computed) clean = false;
    }
    if (!evidence) continue;
    ++scores_[k].Voters;
    if (clean) ++scores_[k].Clean;
  }
}

const SpareLayout* LayoutDetector::Best(double& share) const {
  const auto layouts = KnownLayouts();
  const SpareLayout* best = nullptr;
  share = 0;
  for (std::size_t k = 0; k < layouts.size() && k < scores_.size(); ++k) {
    if (scores_[k].Voters == 0 || scores_[k].Share() <= share) continue;
    share = scores_[k].Share();
    best = &layouts[k];
  }
  return share >= kMinCleanShare ? best : nullptr;
}

}  // namespace orvella::nand
