#include "image/ImageBuilder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "image/FileIO.h"
#include "image/FullImage.h"
#include "image/Utf8Text.h"

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

bool WriteFullImage(const std::string& path, const ImageSpec& spec, std::string& error,
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

  File out;
  if (!out.Create(path, error)) return false;
  constexpr std::size_t kChunk = 1u << 20;
  if (spec.Fill == ImageFill::Zero) {
    // Holes read as zero, so a zero image costs no disk space.
    if (!out.Resize(total, error)) return false;
    if (progress) progress(total, total);
  } else {
    std::vector<std::uint8_t> buf(kChunk, 0xFF);
    for (std::uint64_t done = 0; done < total;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, total - done));
      if (spec.Fill == ImageFill::Pattern)
        for (std::size_t i = 0; i < n; ++i) buf[i] = PatternByte(done + i);
      if (!out.WriteAll(buf.data(), n, error)) return false;
      done += n;
      if (progress) progress(done, total);
    }
  }
  if (!out.Seek(kPitBlock * kBlockSize, error) || !out.WriteAll(pit.data(), pit.size(), error))
    return false;
  return out.Close(error);
}

}  // namespace orvella
