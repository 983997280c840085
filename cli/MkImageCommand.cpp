#include <cstdio>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Frame.h"
#include "cli/Outputs.h"
#include "image/FullImage.h"
#include "image/ImageBuilder.h"
#include "nand/SpareLayout.h"

namespace orvella::cli {

namespace {

// Largest chip whose full image (main data plus a 32nd for spare) stays below 4 GiB,
// the largest image the tool can list.
constexpr std::uint64_t kMaxChipMiB =
    kMaxImageFileSize / ((std::uint64_t{1} << 20) + ((std::uint64_t{1} << 20) / kSpareDivisor));

// Images at least this large show progress when standard error is a terminal.
constexpr std::uint64_t kProgressThreshold = std::uint64_t{64} << 20;

bool ParseChipMiB(const std::string& text, std::uint32_t& mib) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const unsigned long v = std::stoul(text);
  if (v < 1 || v > kMaxChipMiB) return false;
  mib = static_cast<std::uint32_t>(v);
  return true;
}

bool ParseFill(const std::string& text, ImageFill& fill) {
  if (text == "ff") fill = ImageFill::Erased;
  else if (text == "zero") fill = ImageFill::Zero;
  else if (text == "pattern") fill = ImageFill::Pattern;
  else if (text == "noise") fill = ImageFill::Noise;
  else return false;
  return true;
}

bool ParseNumber(const std::string& text, std::uint32_t& v) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  v = static_cast<std::uint32_t>(std::stoul(text));
  return true;
}

bool ParseBlockList(const std::string& text, std::vector<std::uint32_t>& blocks) {
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    std::uint32_t b = 0;
    if (!ParseNumber(text.substr(start, comma == std::string::npos ? comma : comma - start), b))
      return false;
    blocks.push_back(b);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

}  // namespace

int RunMkImage(const MkImageOptions& o) {
  const auto usage = [](const std::string& problem) { return UsageProblem("mkimage", problem); };
  ImageSpec spec;
  NandSpec dump;
  const std::string& out = o.Out;
  if (!ParseChipMiB(o.ChipMiB, spec.ChipMiB))
    return usage("--chip-mib takes a whole number of MiB from 1 to " + std::to_string(kMaxChipMiB) +
                 ", not \"" + o.ChipMiB + "\"");
  std::string error;
  if (!ParseTableSpec(o.Table, spec.Table, error)) return usage(error);
  if (!ParseFill(o.Fill, spec.Fill))
    return usage("--fill takes ff, zero, pattern or noise, not \"" + o.Fill + "\"");
  dump.EccLayout = o.Ecc;
  if (!dump.EccLayout.empty() && !nand::FindLayout(dump.EccLayout))
    return usage("--ecc takes a layout name (" + nand::KnownLayoutNames().substr(1) + "), not \"" +
                 dump.EccLayout + "\"");
  if (!o.ErasedPercent.empty() &&
      (!ParseNumber(o.ErasedPercent, dump.ErasedPercent) || dump.ErasedPercent > 100))
    return usage("--erased-percent takes a number from 0 to 100, not \"" + o.ErasedPercent + "\"");
  if (!o.BadBlocks.empty() && !ParseBlockList(o.BadBlocks, dump.BadBlocks))
    return usage("--bad-blocks takes block numbers separated by commas, not \"" + o.BadBlocks + "\"");
  const std::size_t tableBytes = kPitHeaderSize + spec.Table.size() * std::size_t{kPitEntrySize};
  if (tableBytes > kBlockSize)
    return usage("a table of " + std::to_string(spec.Table.size()) +
                 " partitions does not fit in block 1 (at most " +
                 std::to_string((kBlockSize - kPitHeaderSize) / kPitEntrySize) + ")");
  // A table that runs past the chip would list partitions that end before they begin.
  if (!TableFitsChip(spec.Table, spec.ChipMiB * (std::uint32_t{1 << 20} / kBlockSize), error))
    return usage(error);

  // The file at OUT may well be somebody's only dump of a phone.
  const OutputGuard guard("mkimage", o.Force);
  if (!guard.Allows(out)) return 1;

  const std::uint64_t mainBytes = std::uint64_t{spec.ChipMiB} << 20;
  const std::uint64_t totalBytes = mainBytes + mainBytes / kSpareDivisor;
  const bool showProgress = totalBytes >= kProgressThreshold && StandardErrorIsTerminal();
  int shownPercent = -1;
  const auto progress = [&](std::uint64_t done, std::uint64_t total) {
    if (!showProgress || total == 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == shownPercent) return;
    shownPercent = percent;
    std::fprintf(stderr, "\rWriting %s: %3d%%", out.c_str(), percent);
    if (done >= total) std::fputc('\n', stderr);
  };

  // Written as OUT.part and renamed: OUT stays as it was until the image is complete.
  if (!WriteFullImage(out, spec, dump, error, progress)) {
    if (shownPercent >= 0 && shownPercent < 100) std::fputc('\n', stderr);
    std::fprintf(stderr, "orvella: mkimage: %s\n", error.c_str());
    return 1;
  }
  std::printf("Wrote %s: %llu bytes, a %u MiB chip with %zu partition%s\n", out.c_str(),
              static_cast<unsigned long long>(totalBytes), spec.ChipMiB, spec.Table.size(),
              spec.Table.size() == 1 ? "" : "s");
  return 0;
}

}  // namespace orvella::cli
