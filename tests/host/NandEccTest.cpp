#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "host/NandEcc.h"

namespace {

using namespace orvella;

std::vector<std::uint8_t> RandomSector(unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> s(kEccSectorBytes);
  for (auto& b : s) b = static_cast<std::uint8_t>(rng());
  return s;
}

TEST(NandEcc, ErasedSectorHasAnErasedCode) {
  const std::vector<std::uint8_t> erased(kEccSectorBytes, 0xFF);
  EXPECT_EQ(ComputeSectorEcc(erased.data()), (EccCode{0xFF, 0xFF, 0xFF}));
}

TEST(NandEcc, LayoutOfTheCodeBits) {
  // Only bit number 0 set: every P(j) is 0, every P'(j) is 1 -> 0xAAAAAA, stored inverted.
  std::vector<std::uint8_t> s(kEccSectorBytes, 0);
  s[0] = 0x01;
  EXPECT_EQ(ComputeSectorEcc(s.data()), (EccCode{0x55, 0x55, 0x55}));
  // Bit number 4095 (last byte, top bit): every P(j) is 1 -> 0x555555, stored 0xAAAAAA.
  s[0] = 0;
  s[511] = 0x80;
  EXPECT_EQ(ComputeSectorEcc(s.data()), (EccCode{0xAA, 0xAA, 0xAA}));
}

TEST(NandEcc, CorrectsEverySingleFlippedDataBit) {
  const std::vector<std::uint8_t> good = RandomSector(7);
  const EccCode code = ComputeSectorEcc(good.data());
  for (std::uint32_t bit = 0; bit < kEccSectorBytes * 8; ++bit) {
    std::vector<std::uint8_t> s = good;
    s[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    std::uint32_t repaired = 0xFFFFFFFF;
    ASSERT_EQ(CorrectSector(s.data(), code, &repaired), EccResult::CorrectedData) << bit;
    ASSERT_EQ(repaired, bit);
    ASSERT_EQ(s, good) << bit;
  }
}

TEST(NandEcc, CleanSectorAndFlippedCodeBitLeaveTheDataAlone) {
  std::vector<std::uint8_t> s = RandomSector(11);
  const std::vector<std::uint8_t> good = s;
  const EccCode code = ComputeSectorEcc(s.data());
  EXPECT_EQ(CorrectSector(s.data(), code), EccResult::Clean);
  for (int bit = 0; bit < 24; ++bit) {
    EccCode bad = code;
    bad[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    EXPECT_EQ(CorrectSector(s.data(), bad), EccResult::CodeError) << bit;
    EXPECT_EQ(s, good);
  }
}

TEST(NandEcc, TwoFlippedBitsAreNotMistakenForOne) {
  const std::vector<std::uint8_t> good = RandomSector(3);
  const EccCode code = ComputeSectorEcc(good.data());
  std::mt19937 rng(5);
  for (int round = 0; round < 2000; ++round) {
    const std::uint32_t a = rng() % 4096;
    std::uint32_t b = rng() % 4096;
    if (a == b) b = (b + 1) % 4096;
    std::vector<std::uint8_t> s = good;
    s[a / 8] ^= static_cast<std::uint8_t>(1u << (a % 8));
    s[b / 8] ^= static_cast<std::uint8_t>(1u << (b % 8));
    const std::vector<std::uint8_t> damaged = s;
    ASSERT_EQ(CorrectSector(s.data(), code), EccResult::Uncorrectable) << a << " " << b;
    ASSERT_EQ(s, damaged);  // nothing "repaired"
  }
}

}  // namespace
