#include "image/ImageBuilder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "files/FileIO.h"
#include "image/FullImage.h"
#include "image/Notation.h"
#include "files/Utf8Text.h"
#include "nand/SectorCheck.h"
#include "nand/SpareLayout.h"

namespace orvella {

std::uint8_t PatternByte(std::uint64_t o) {
  // Varies inside a block and between blocks, so misplaced copies show.
  return static_cast<std::uint8_t>((o * 131u) ^ (o >> 8) ^ (o >> 18) ^ 0x5A);
}

std::vector<std::uint8_t> BuildPitTable(const std::vector<PartitionSpec>& table) {
  std::vector<std::uint8_t> out(kPitHeaderSize + table.size() * kPitEntrySize, 0);
  const auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put32(0, kPitMagic);
  put32(4, static_cast<std::uint32_t>(table.size()));
  for (std::size_t k = 0; k < table.size(); ++k) {
    TGalaxyRawPartitionEntry e;
    e.SizeInBlocks = table[k].SizeInBlocks;
    const std::string& name = table[k].Name;
    std::copy_n(name.begin(), std::min<std::size_t>(name.size(), kEntryNameSize), e.EntryName.begin());
    PackRawEntry(e, out.data() + kPitHeaderSize + k * kPitEntrySize);
  }
  return out;
}

namespace {

std::string CodePointText(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

}  // namespace

bool ParseTableSpec(const std::string& text, std::vector<PartitionSpec>& table,
                    std::string& error) {
  table.clear();
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const std::size_t colon = item.rfind(':');
    if (item.empty() || colon == std::string::npos || colon == item.size() - 1) {
      error = "bad partition \"" + item + "\": expected NAME:BLOCKS";
      return false;
    }
    const std::string name = item.substr(0, colon);
    PartitionSpec p{{}, 0};
    const std::string size = item.substr(colon + 1);
    // The table is read as Latin-1: a UTF-8 name stored as it is would list as other text.
    if (char32_t bad = 0; !Latin1FromUtf8(name, p.Name, bad)) {
      error = "partition name \"" + name + "\" " +
              (bad == kNotUtf8 ? std::string("is not UTF-8 text")
                               : "holds a character outside Latin-1 (" + CodePointText(bad) +
                                     "), which the table cannot store");
      return false;
    }
    if (p.Name.size() > kEntryNameSize) {
      error = "partition name \"" + name + "\" is longer than 32 characters";
      return false;
    }
    if (size == "rest") {
      p.SizeInBlocks = 0xFFFFFFFFu;
    } else {
      if (size.find_first_not_of("0123456789") != std::string::npos || size.size() > 10) {
        error = "bad size \"" + size + "\" for partition " + name;
        return false;
      }
      const unsigned long long v = std::stoull(size);
      if (v > 0xFFFFFFFFull) {
        error = "size of partition " + name + " does not fit in 32 bits";
        return false;
      }
      p.SizeInBlocks = static_cast<std::uint32_t>(v);
    }
    table.push_back(p);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

bool TableFitsChip(const std::vector<PartitionSpec>& table, std::uint32_t chipBlocks,
                   std::string& error) {
  // Bases as the table's load makes them: the sum of the stored sizes before, modulo 2^32.
  std::uint32_t base = 0;
  for (const PartitionSpec& p : table) {
    const bool toEnd = p.SizeInBlocks == 0 || p.SizeInBlocks == 0xFFFFFFFFu;
    const std::string chip = ", past the chip, whose blocks are " + BlocksText(0, chipBlocks);
    if (base >= chipBlocks) {
      error = "partition " + p.Name + " would start at block " + std::to_string(base) + " (" +
              BlockText(base) + ")" + chip;
      return false;
    }
    if (const std::uint64_t end = std::uint64_t{base} + p.SizeInBlocks; !toEnd && end > chipBlocks) {
      error = "partition " + p.Name + " would end at block " + std::to_string(end - 1) + " (" +
              BlockText(end - 1) + ")" + chip;
      return false;
    }
    base += p.SizeInBlocks;
  }
  return true;
}

namespace {

// A fixed pseudo-random stream, eight bytes per step (splitmix64 of the word's index).
std::uint64_t NoiseWord(std::uint64_t index) {
  std::uint64_t z = index * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

bool SectorLeftErased(std::uint64_t sector, std::uint32_t percent) {
  return percent > 0 && NoiseWord(sector ^ 0xE5E5E5E5ull) % 100 < percent;
}

}  // namespace

void FillMainData(ImageFill fill, std::uint32_t erasedPercent, std::uint64_t at, std::uint8_t* main,
                  std::size_t n) {
  for (std::size_t i = 0; i < n; i += 8) {
    std::uint64_t w = ~std::uint64_t{0};
    if (fill == ImageFill::Zero) w = 0;
    if (fill == ImageFill::Noise) w = NoiseWord((at + i) / 8);
    std::memcpy(main + i, &w, 8);
  }
  if (fill == ImageFill::Pattern)
    for (std::size_t i = 0; i < n; ++i) main[i] = PatternByte(at + i);
  for (std::size_t s = 0; s < n; s += nand::kSectorBytes)
    if (SectorLeftErased((at + s) / nand::kSectorBytes, erasedPercent))
      std::memset(main + s, 0xFF, nand::kSectorBytes);
}

bool WriteFullImage(const std::string& path, const ImageSpec& spec, std::string& error,
                    const std::function<void(std::uint64_t, std::uint64_t)>& progress) {
  return WriteFullImage(path, spec, NandSpec{}, error, progress);
}

bool WriteFullImage(const std::string& path, const ImageSpec& spec, const NandSpec& nandSpec,
                    std::string& error,
                    const std::function<void(std::uint64_t, std::uint64_t)>& progress) {
  const std::uint64_t mainBytes = std::uint64_t{spec.ChipMiB} << 20;
  const std::uint64_t total = mainBytes + mainBytes / kSpareDivisor;
  if (mainBytes < 2ull * kBlockSize) {
    error = "the chip must hold at least two blocks (1 MiB or more)";
    return false;
  }
  const std::vector<std::uint8_t> pit = BuildPitTable(spec.Table);
  if (pit.size() > kBlockSize) {
    error = "the partition table (" + std::to_string(pit.size()) +
            " bytes) does not fit in block 1";
    return false;
  }
  const nand::SpareLayout* layout = nullptr;
  if (!nandSpec.EccLayout.empty() && !(layout = nand::FindLayout(nandSpec.EccLayout))) {
    error = "unknown spare layout \"" + nandSpec.EccLayout + "\"";
    return false;
  }
  const std::uint64_t blocks = mainBytes / kBlockSize;
  for (const std::uint32_t b : nandSpec.BadBlocks)
    if (b >= blocks) {
      error = "bad block " + std::to_string(b) + " is not on a chip of " + std::to_string(blocks) +
              " blocks";
      return false;
    }

  // Written under a temporary name: an image cut short never carries the name.
  PartFile part;
  if (!part.Create(path, error)) return false;
  File& out = part.Out();
  if (spec.Fill == ImageFill::Zero && !layout && nandSpec.BadBlocks.empty() && nandSpec.ErasedPercent == 0) {
    // Holes read as zero, so a zero image costs no disk space.
    if (!out.Resize(total, error)) return false;
    if (!out.Seek(kPitBlock * kBlockSize, error) || !out.WriteAll(pit.data(), pit.size(), error))
      return false;
    if (progress) progress(total, total);
    return part.Commit(error);
  }

  // Main data a chunk at a time, each followed by its spare data, so the codes can be
  // taken from the finished main data (table included).
  constexpr std::size_t kChunk = 1u << 20;
  constexpr std::size_t kSpareChunk = kChunk / kSpareDivisor;
  std::vector<std::uint8_t> main(kChunk), spare(kSpareChunk);
  const nand::BadBlockRule rule = layout ? layout->BadBlocks : nand::BadBlockRule::OneNandWord;
  for (std::uint64_t at = 0; at < mainBytes; at += kChunk) {
    FillMainData(spec.Fill, nandSpec.ErasedPercent, at, main.data(), kChunk);
    const std::uint64_t pitAt = std::uint64_t{kPitBlock} * kBlockSize;
    if (pitAt >= at && pitAt < at + kChunk) std::memcpy(main.data() + (pitAt - at), pit.data(), pit.size());

    const std::uint64_t spareAt = mainBytes + at / kSpareDivisor;
    for (std::size_t i = 0; i < kSpareChunk; ++i) {
      std::uint8_t v = 0xFF;
      if (!layout && spec.Fill == ImageFill::Zero) v = 0;
      if (!layout && spec.Fill == ImageFill::Pattern) v = PatternByte(spareAt + i);
      if (!layout && spec.Fill == ImageFill::Noise)
        v = static_cast<std::uint8_t>(NoiseWord((spareAt + i) / 8) >> (8 * ((spareAt + i) % 8)));
      spare[i] = v;
    }
    if (layout)
      for (std::size_t s = 0; s < kChunk / nand::kSectorBytes; ++s)
        nand::WriteSectorCodes(*layout, main.data() + s * nand::kSectorBytes,
                               spare.data() + s * nand::kSpareBytes);
    for (const std::uint32_t b : nandSpec.BadBlocks) {
      const std::uint64_t blockAt = std::uint64_t{b} * kBlockSize;
      if (blockAt < at || blockAt >= at + kChunk) continue;
      nand::MarkBadBlock(rule, spare.data() + (blockAt - at) / kSpareDivisor);
    }
    if (!out.Seek(at, error) || !out.WriteAll(main.data(), kChunk, error) ||
        !out.Seek(spareAt, error) || !out.WriteAll(spare.data(), kSpareChunk, error))
      return false;
    if (progress) progress((at + kChunk) / kChunk * (kChunk + kSpareChunk), total);
  }
  return part.Commit(error);
}

}  // namespace orvella
