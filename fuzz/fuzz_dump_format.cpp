// Any bytes as a dump in any of the formats: the format's detection, the reader, and the
// conversion to a full image and back.
//
// Input format:
//
//   byte 0       bits 0-1: the chip's erase blocks minus 1 (1 to 4); bit 2: the file's
//                fill is 0x00 instead of 0xFF; bit 3: a spare file is given beside it;
//                bits 4-6: the format it is read as (0 full, 1 page, 2 sector, 3 split,
//                4 main), 5 to 7: found by detection
//   bytes 1..2   D, 16-bit little-endian: the file is the blocks' main and spare bytes plus
//                D - 32768 (so it may be cut short, or longer)
//   byte 3       E: the spare file is the blocks' spare bytes plus E - 128
//   bytes 4..    patches: a 24-bit little-endian offset (taken modulo the file's size), a
//                length byte, then that many bytes written there (a patch past the end of
//                the input is cut); every third patch goes to the spare file when there is
//                one
//
// Checked: a refusal always says why; the inputs are never written; a reader opened on
// the dump gives the same bytes by sector as by offset; a conversion either fails and
// leaves no file behind, or gives a full image from which the same conversion back gives
// the input again, byte for byte (a main dump's too: its spare data is only filled in).

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/DumpConvert.h"
#include "image/DumpDetect.h"
#include "image/DumpFormat.h"

namespace {

using namespace orvella;

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_dump_format: %s\n", what);
  std::abort();
}

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void Spill(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

const std::string& Folder() {
  static const std::string dir = [] {
    const auto d = std::filesystem::temp_directory_path() / ("fuzz-dump-" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    return d.string();
  }();
  return dir;
}

void RemoveOutputs(const std::vector<std::string>& paths) {
  for (const std::string& p : paths) {
    std::filesystem::remove(p);
    std::filesystem::remove(p + ".part");
  }
}

bool LeftNothing(const std::vector<std::string>& paths) {
  for (const std::string& p : paths)
    if (std::filesystem::exists(p) || std::filesystem::exists(p + ".part")) return false;
  return true;
}

// Reads every whole sector the reader says it holds, by sector and by offset, and
// checks both give the same bytes.
void ReadThrough(DumpReader& reader) {
  constexpr std::size_t kSectors = 64;
  std::vector<std::uint8_t> main(kSectors * 512), spare(kSectors * 16), again(kSectors * 512);
  const std::uint64_t sectors = std::uint64_t{reader.ReadableBlocks()} * (kDumpBlockMain / 512);
  std::string error;
  for (std::uint64_t first = 0; first < sectors; first += kSectors * 7) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kSectors, sectors - first));
    Require(reader.ReadSectors(first, n, main.data(), spare.data(), error), "a readable sector cannot be read");
    Require(reader.ReadMain(first * 512, again.data(), n * 512, error), "readable main data cannot be read");
    Require(std::memcmp(main.data(), again.data(), n * 512) == 0, "main data differs by sector and by offset");
    Require(reader.ReadSpare(first * 16, again.data(), n * 16, error), "readable spare data cannot be read");
    Require(std::memcmp(spare.data(), again.data(), n * 16) == 0, "spare data differs by sector and by offset");
  }
  // Past the end: refused with a reason, never read.
  error.clear();
  Require(!reader.ReadMain(reader.MainSize(), main.data(), 1, error) && !error.empty(),
          "a read past the main area was not refused");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::uint32_t blocks = 1 + (data[0] & 3);
  const char fill = (data[0] & 4) ? '\0' : '\xFF';
  const bool withSpare = data[0] & 8;
  const unsigned pick = (data[0] >> 4) & 7;
  const std::int64_t d = static_cast<std::int64_t>(data[1] | (data[2] << 8)) - 32768;
  const std::int64_t e = static_cast<std::int64_t>(data[3]) - 128;
  const std::int64_t whole = static_cast<std::int64_t>(blocks * kDumpBlockBytes);
  std::string bytes(static_cast<std::size_t>(std::max<std::int64_t>(0, whole + d)), fill);
  std::string spareBytes(static_cast<std::size_t>(std::max<std::int64_t>(0, blocks * kDumpBlockSpare + e)), fill);
  std::size_t at = 4;
  for (int patch = 0; at + 4 <= size; ++patch) {
    const std::uint32_t offset = data[at] | (data[at + 1] << 8) | (data[at + 2] << 16);
    const std::size_t n = std::min<std::size_t>(data[at + 3], size - at - 4);
    std::string& target = withSpare && patch % 3 == 2 ? spareBytes : bytes;
    if (!target.empty())
      for (std::size_t i = 0; i < n; ++i) target[(offset + i) % target.size()] = static_cast<char>(data[at + 4 + i]);
    at += 4 + n;
  }

  const std::string dir = Folder();
  const std::string dump = dir + "/dump.bin", spare = dir + "/dump.spare";
  const std::string full = dir + "/full.bin", back = dir + "/back.bin", backSpare = dir + "/back.spare";
  Spill(dump, bytes);
  if (withSpare) Spill(spare, spareBytes);
  else std::filesystem::remove(spare);
  const std::vector<std::string> outputs = {full, back, backSpare};
  RemoveOutputs(outputs);
  const std::string sparePath = withSpare ? spare : "";

  DumpFormat format = DumpFormat::Full;
  std::string error;
  if (pick < kDumpFormats.size()) {
    format = kDumpFormats[pick];
  } else {
    DumpDetection found;
    const bool named = DetectDumpFormat(dump, sparePath, found, error);
    Require(named || !error.empty(), "detection refused without a reason");
    Require(!found.Findings.empty(), "detection says nothing of what it saw");
    if (!named) return 0;
    Require(!found.Verdict.empty(), "a format named without a reason");
    format = found.Format;
  }

  {
    DumpReader reader;
    const bool opened = reader.Open(dump, format, {format == DumpFormat::Split ? sparePath : "", 0}, error);
    Require(opened || !error.empty(), "a dump refused without a reason");
    if (opened) ReadThrough(reader);
  }

  // To a full image and back to the dump's own format.
  const DumpFiles in{dump, format, format == DumpFormat::Split ? sparePath : ""};
  ConvertResult result;
  error.clear();
  const bool converted = ConvertDump(in, {full, DumpFormat::Full, ""}, {}, result, error);
  Require(converted || !error.empty(), "a conversion failed without a reason");
  if (converted) {
    Require(std::filesystem::file_size(full) == std::uint64_t{result.Blocks} * kDumpBlockBytes,
            "the full image is not as long as its blocks");
    const DumpFiles out{back, format, format == DumpFormat::Split ? backSpare : ""};
    ConvertResult again;
    Require(ConvertDump({full, DumpFormat::Full, ""}, out, {}, again, error), "a full image made here does not convert back");
    Require(Slurp(back) == bytes, "the round trip is not exact");
    if (format == DumpFormat::Split) Require(Slurp(backSpare) == spareBytes, "the spare file's round trip is not exact");
  } else {
    Require(LeftNothing(outputs), "a failed conversion left a file behind");
  }
  Require(Slurp(dump) == bytes, "the dump was written");
  if (withSpare) Require(Slurp(spare) == spareBytes, "the spare file was written");
  RemoveOutputs(outputs);
  return 0;
}
