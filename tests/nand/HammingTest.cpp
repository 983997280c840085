// The Hamming codes against the reference vectors, and every single-bit fault of a step.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "nand/Hamming.h"
#include "nand/SectorCheck.h"
#include "nand/SpareLayout.h"

namespace orvella::nand {
namespace {

// The generator of the vectors' "seed:N" inputs.
std::vector<std::uint8_t> SeedBytes(std::uint32_t seed, std::size_t n) {
  std::vector<std::uint8_t> out(n);
  std::uint32_t x = seed;
  for (auto& b : out) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>((x >> 16) & 0xFF);
  }
  return out;
}

std::vector<std::uint8_t> Input(const std::string& name, std::size_t n) {
  if (name == "ff") return std::vector<std::uint8_t>(n, 0xFF);
  if (name == "00") return std::vector<std::uint8_t>(n, 0x00);
  return SeedBytes(static_cast<std::uint32_t>(std::stoul(name.substr(5))), n);
}

EccCode ParseCode(const std::string& hex) {
  EccCode c{};
  for (std::size_t i = 0; i < 3; ++i)
    c[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  return c;
}

void FlipDataBit(std::vector<std::uint8_t>& d, std::uint32_t bit) {
  d[bit / 8] = static_cast<std::uint8_t>(d[bit / 8] ^ (1u << (bit % 8)));
}

std::string Show(const EccResult& r) {
  switch (r.Outcome) {
    case EccOutcome::NoError: return "no_error";
    case EccOutcome::DataCorrected: return "corrected:b=" + std::to_string(r.Bit);
    case EccOutcome::CodeError: return "ecc_error";
    case EccOutcome::Uncorrectable: return "uncorrectable";
  }
  return "?";
}

TEST(Hamming, ReproducesEveryReferenceVector) {
  std::ifstream tsv(ORVELLA_NAND_DATA "/hamming-vectors.tsv");
  ASSERT_TRUE(tsv);
  std::string line;
  std::getline(tsv, line);  // header
  int eccRows = 0, correctRows = 0;
  while (std::getline(tsv, line)) {
    std::istringstream in(line);
    std::string kind, stepText, orderText, input, ecc, flip, result;
    ASSERT_TRUE(in >> kind >> stepText >> orderText >> input >> ecc >> flip >> result) << line;
    const std::size_t n = std::stoul(stepText);
    const EccStep step = n == 512 ? EccStep::Bytes512 : EccStep::Bytes256;
    const EccOrder order = orderText == "smc" ? EccOrder::SmartMedia : EccOrder::Normal;
    const std::vector<std::uint8_t> clean = Input(input, n);
    EccCode stored = ParseCode(ecc);
    SCOPED_TRACE(line);
    if (kind == "ecc") {
      EXPECT_EQ(ComputeEcc(clean.data(), step, order), stored);
      ++eccRows;
      continue;
    }
    std::vector<std::uint8_t> data = clean;
    if (flip.rfind("ecc:", 0) == 0) {
      unsigned byte = 0, bit = 0;
      ASSERT_EQ(std::sscanf(flip.c_str(), "ecc:byte=%u,bit=%u", &byte, &bit), 2);
      stored[byte] = static_cast<std::uint8_t>(stored[byte] ^ (1u << bit));
    } else {
      std::istringstream bits(flip.substr(5));
      std::string part;
      while (std::getline(bits, part, '+')) FlipDataBit(data, static_cast<std::uint32_t>(std::stoul(part.substr(2))));
    }
    const std::vector<std::uint8_t> damaged = data;
    const EccResult r = CheckAndCorrect(data.data(), stored, step, order);
    EXPECT_EQ(Show(r), result);
    EXPECT_EQ(data, r.Outcome == EccOutcome::DataCorrected ? clean : damaged);
    ++correctRows;
  }
  EXPECT_EQ(eccRows, 88);
  EXPECT_EQ(correctRows, 120);
}

// Every fault of one bit, and a sample of two-bit faults, for each code and order, on
// sectors beyond the listed seeds.
class EveryFlip : public testing::TestWithParam<std::tuple<EccStep, EccOrder>> {};

TEST_P(EveryFlip, OneBitIsRepairedTwoAreRefused) {
  const auto [step, order] = GetParam();
  const std::uint32_t n = static_cast<std::uint32_t>(step);
  for (std::uint32_t seed : {21u, 22u, 1000u}) {
    const std::vector<std::uint8_t> clean = SeedBytes(seed, n);
    const EccCode code = ComputeEcc(clean.data(), step, order);
    std::vector<std::uint8_t> data = clean;
    ASSERT_EQ(CheckAndCorrect(data.data(), code, step, order).Outcome, EccOutcome::NoError);

    for (std::uint32_t bit = 0; bit < 8 * n; ++bit) {
      FlipDataBit(data, bit);
      const EccResult r = CheckAndCorrect(data.data(), code, step, order);
      ASSERT_EQ(r.Outcome, EccOutcome::DataCorrected) << "seed " << seed << " bit " << bit;
      ASSERT_EQ(r.Bit, bit);
      ASSERT_EQ(data, clean) << "bit " << bit;
    }
    for (std::uint32_t bit = 0; bit < 24; ++bit) {
      EccCode bad = code;
      bad[bit / 8] = static_cast<std::uint8_t>(bad[bit / 8] ^ (1u << (bit % 8)));
      ASSERT_EQ(CheckAndCorrect(data.data(), bad, step, order).Outcome, EccOutcome::CodeError)
          << "code bit " << bit;
      ASSERT_EQ(data, clean);
    }
    for (std::uint32_t a = 0; a < 8 * n; a += 7) {
      const std::uint32_t b = (a * 2654435761u + seed) % (8 * n);
      if (a == b) continue;
      FlipDataBit(data, a);
      FlipDataBit(data, b);
      const std::vector<std::uint8_t> damaged = data;
      ASSERT_EQ(CheckAndCorrect(data.data(), code, step, order).Outcome, EccOutcome::Uncorrectable)
          << "bits " << a << " and " << b;
      ASSERT_EQ(data, damaged);
      FlipDataBit(data, a);
      FlipDataBit(data, b);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    CodesAndOrders, EveryFlip,
    testing::Combine(testing::Values(EccStep::Bytes256, EccStep::Bytes512),
                     testing::Values(EccOrder::Normal, EccOrder::SmartMedia)),
    [](const auto& p) {
      return std::string(std::get<0>(p.param) == EccStep::Bytes256 ? "Step256" : "Step512") +
             (std::get<1>(p.param) == EccOrder::Normal ? "Normal" : "Smc");
    });

// Each layout puts its codes exactly where the chips keep them, and the codes it writes
// are those of the bytes they cover.
TEST(SpareLayouts, CodesStandWhereTheChipsKeepThem) {
  const std::vector<std::tuple<std::string, std::set<unsigned>, BadBlockRule>> expected = {
      {"onenand-h512-normal", {8, 9, 10}, BadBlockRule::OneNandWord},
      {"onenand-h512-smc", {8, 9, 10}, BadBlockRule::OneNandWord},
      {"onenand-h256-normal", {8, 9, 10, 11, 12, 13}, BadBlockRule::OneNandWord},
      {"onenand-h256-smc", {8, 9, 10, 11, 12, 13}, BadBlockRule::OneNandWord},
      {"smallpage-normal", {0, 1, 2, 3, 6, 7}, BadBlockRule::SmallPageByte5},
      {"smallpage-smc", {0, 1, 2, 3, 6, 7}, BadBlockRule::SmallPageByte5},
  };
  ASSERT_EQ(KnownLayouts().size(), expected.size());
  EXPECT_EQ(FindLayout("onenand-h512"), nullptr);
  const std::vector<std::uint8_t> sector = SeedBytes(5, kSectorBytes);
  for (const auto& [name, bytes, rule] : expected) {
    SCOPED_TRACE(name);
    const SpareLayout* layout = FindLayout(name);
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->BadBlocks, rule);
    // Two fills of the untouched bytes show which bytes the codes land in.
    std::uint8_t a[kSpareBytes], b[kSpareBytes];
    std::fill(std::begin(a), std::end(a), 0x00);
    std::fill(std::begin(b), std::end(b), 0xFF);
    WriteSectorCodes(*layout, sector.data(), a);
    WriteSectorCodes(*layout, sector.data(), b);
    std::set<unsigned> written;
    for (unsigned i = 0; i < kSpareBytes; ++i)
      if (a[i] == b[i]) written.insert(i);
      else EXPECT_TRUE(a[i] == 0x00 && b[i] == 0xFF) << i;
    EXPECT_EQ(written, bytes);
    for (unsigned c = 0; c < layout->Codes; ++c) {
      const CodeSlot& slot = layout->Slots[c];
      const EccCode stored{b[slot.SpareAt[0]], b[slot.SpareAt[1]], b[slot.SpareAt[2]]};
      EXPECT_EQ(stored, ComputeEcc(sector.data() + slot.DataOffset, layout->Step, layout->Order));
    }
    EXPECT_EQ(layout->Codes * static_cast<unsigned>(layout->Step), kSectorBytes);
  }
}


// A sector's state from all its codes, and unwritten codes, which the decoder alone would
// take for one flipped bit over any data of odd parity.
TEST(SectorCheck, StatesOfSectorsAndUnwrittenCodes) {
  const SpareLayout& h256 = *FindLayout("onenand-h256-smc");
  const auto sectorOf = [](std::uint8_t fill) { return std::vector<std::uint8_t>(kSectorBytes, fill); };
  std::vector<std::uint8_t> erasedSpare(kSpareBytes, 0xFF);

  std::vector<std::uint8_t> s = sectorOf(0xFF), spare = erasedSpare;
  EXPECT_EQ(CheckSector(h256, s.data(), spare.data(), false).State, SectorState::Erased);
  FlipDataBit(s, 4000);  // a bit flip in an erased page is repaired
  SectorFinding f = CheckSector(h256, s.data(), spare.data(), false);
  EXPECT_EQ(f.State, SectorState::Corrected);
  EXPECT_EQ(f.Bits[0], 4000u);
  EXPECT_EQ(s, sectorOf(0xFF));
  s = sectorOf(0x00);
  EXPECT_EQ(CheckSector(h256, s.data(), spare.data(), false).State, SectorState::Clean);
  FlipDataBit(s, 17);
  EXPECT_EQ(CheckSector(h256, s.data(), spare.data(), false).State, SectorState::Corrected);

  int oddParity = 0;
  for (std::uint32_t seed = 1; seed <= 64; ++seed) {
    s = SeedBytes(seed, kSectorBytes);
    const std::vector<std::uint8_t> data = s;
    EccCode code = ComputeEcc(s.data(), EccStep::Bytes256, EccOrder::SmartMedia);
    oddParity += (code[0] ^ (code[0] >> 1)) & 1;
    f = CheckSector(h256, s.data(), spare.data(), true);
    ASSERT_EQ(f.State, SectorState::Uncorrectable) << "seed " << seed;
    ASSERT_EQ(s, data);
  }
  EXPECT_GT(oddParity, 16);  // the case the rule exists for did occur

  // One half corrected, the other's code repaired: corrected, with the code error noted
  // and the spare rewritten when asked.
  s = SeedBytes(99, kSectorBytes);
  const std::vector<std::uint8_t> good = s;
  spare = erasedSpare;
  WriteSectorCodes(h256, s.data(), spare.data());
  const std::vector<std::uint8_t> goodSpare = spare;
  FlipDataBit(s, 100);
  spare[12] ^= 0x10;
  f = CheckSector(h256, s.data(), spare.data(), true);
  EXPECT_EQ(f.State, SectorState::Corrected);
  EXPECT_TRUE(f.CodeError);
  EXPECT_EQ(f.Corrections, 1u);
  EXPECT_EQ(s, good);
  EXPECT_EQ(spare, goodSpare);

  // A 256-byte code's constant low bits are not looked at by the correction; one wrong
  // beside a flipped data bit is still repaired with the code.
  FlipDataBit(s, 1000);  // in the first half, whose code's third byte is spare byte 10
  spare[10] ^= 0x01;
  f = CheckSector(h256, s.data(), spare.data(), true);
  EXPECT_EQ(f.State, SectorState::Corrected);
  EXPECT_TRUE(f.CodeError);
  EXPECT_EQ(s, good);
  EXPECT_EQ(spare, goodSpare);

  // One half repairable (a data bit, or a code bit), the other not: the sector stays
  // exactly as read, code bytes too, and no correction is listed for it.
  for (const bool codeBit : {false, true}) {
    s = good;
    spare = goodSpare;
    if (codeBit) spare[8] ^= 0x40;      // the first half's code
    else FlipDataBit(s, 300);           // or its data
    FlipDataBit(s, 2048 + 5);           // second half: two bits
    FlipDataBit(s, 2048 + 900);
    const std::vector<std::uint8_t> asRead = s, spareAsRead = spare;
    f = CheckSector(h256, s.data(), spare.data(), true);
    EXPECT_EQ(f.State, SectorState::Uncorrectable) << codeBit;
    EXPECT_EQ(f.Corrections, 0u) << codeBit;
    EXPECT_FALSE(f.CodeError) << codeBit;
    EXPECT_EQ(s, asRead) << codeBit;
    EXPECT_EQ(spare, spareAsRead) << codeBit;
  }
}

}  // namespace
}  // namespace orvella::nand
