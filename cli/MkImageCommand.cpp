#include <cstdio>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Frame.h"
#include "cli/Outputs.h"
#include "cli/Progress.h"
#include "image/FullImage.h"
#include "image/ImageBuilder.h"
#include "nand/SpareLayout.h"
#include "phone/BmlView.h"
#include "phone/BmlWriter.h"
#include "phone/ImagePages.h"
#include "phone/StlWriter.h"

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

struct StlContent {
  std::string Name;   // as the table holds it
  std::string File;
  std::uint64_t Bytes = 0;
  std::uint32_t First = 0, Units = 0;
};

// "NAME=FILE,NAME=FILE": the volumes to make.
bool ParseStlList(const std::string& text, std::vector<StlContent>& volumes, std::string& problem) {
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    const std::size_t equals = item.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == item.size()) {
      problem = "--stl takes NAME=FILE separated by commas, not \"" + item + "\"";
      return false;
    }
    StlContent v;
    v.Name = item.substr(0, equals);
    v.File = item.substr(equals + 1);
    for (const StlContent& earlier : volumes)
      if (earlier.Name == v.Name) {
        problem = "--stl names partition " + v.Name + " twice";
        return false;
      }
    volumes.push_back(std::move(v));
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

// "N" or "N:SEED".
bool ParseRewrites(const std::string& text, phone::StlWriteOptions& options) {
  const std::size_t colon = text.find(':');
  std::uint32_t seed = 1;
  if (!ParseNumber(text.substr(0, colon), options.RewritePages)) return false;
  if (colon != std::string::npos && !ParseNumber(text.substr(colon + 1), seed)) return false;
  options.Seed = seed;
  return true;
}

// The volume contents' sizes, read before anything is written; false after saying why.
bool SizeContents(std::vector<StlContent>& volumes) {
  for (StlContent& v : volumes) {
    File file;
    std::string error;
    if (!file.OpenRead(v.File, error) || !file.Size(v.Bytes, error)) {
      std::fprintf(stderr, "orvella: mkimage: --stl %s: %s\n", v.Name.c_str(), error.c_str());
      return false;
    }
  }
  return true;
}

// Reads a volume's contents, at most `limit` bytes: the file may have grown since it was sized.
bool ReadContents(const StlContent& v, std::uint64_t limit, std::vector<std::uint8_t>& bytes, std::string& error) {
  File file;
  std::uint64_t size = 0;
  if (!file.OpenRead(v.File, error) || !file.Size(size, error)) return false;
  if (size > limit) {
    error = "\"" + v.File + "\" now holds " + std::to_string(size) + " bytes, more than the volume's " +
            std::to_string(limit);
    return false;
  }
  bytes.resize(static_cast<std::size_t>(size));
  return file.ReadExact(bytes.data(), bytes.size(), error);
}

int MakeBmlImage(const MkImageOptions& o, const ImageSpec& image, const NandSpec& nand) {
  const auto usage = [](const std::string& problem) { return UsageProblem("mkimage", problem); };
  std::vector<std::uint32_t> remaps;
  if (!o.Remap.empty() && !ParseBlockList(o.Remap, remaps))
    return usage("--remap takes block numbers separated by commas, not \"" + o.Remap + "\"");
  std::vector<StlContent> volumes;
  std::string error;
  if (!o.Stl.empty() && !ParseStlList(o.Stl, volumes, error)) return usage(error);
  phone::StlWriteOptions stlOptions;
  if (!phone::ParseStlHeaderLayout(o.StlHeader, stlOptions.Layout, error)) return usage("--stl-header: " + error);
  if (!o.StlRewrites.empty() && !ParseRewrites(o.StlRewrites, stlOptions))
    return usage("--stl-rewrites takes N or N:SEED, whole numbers, not \"" + o.StlRewrites + "\"");
  if (volumes.empty() && (o.StlHeader != "old" || !o.StlRewrites.empty()))
    return usage("--stl-header and --stl-rewrites shape the volumes --stl makes; give --stl NAME=FILE");

  std::vector<std::string> stlNames;
  for (const StlContent& v : volumes) stlNames.push_back(v.Name);
  phone::BmlDumpSpec spec;
  phone::BmlDumpPlan plan;
  if (!phone::BmlSpecFromImageSpec(image, nand, remaps, spec, error, stlNames) ||
      !phone::PlanBmlDump(spec, plan, error))
    return usage(error);

  OutputGuard guard("mkimage", o.Force);
  for (const StlContent& v : volumes) guard.Input(v.File);
  if (!guard.Allows(o.Out)) return 1;
  if (!SizeContents(volumes)) return 1;
  // Every volume is checked before the first byte is written.
  for (StlContent& v : volumes) {
    for (std::size_t k = 0; k < spec.Table.size(); ++k)
      if (spec.Table[k].Name == v.Name) {
        v.First = plan.First[k];
        v.Units = spec.Table[k].Blocks;
      }
    phone::StlGeometry geometry;
    if (!phone::CheckStlWrite(v.Units, v.Bytes, stlOptions, geometry, error))
      return usage("--stl " + v.Name + "=" + v.File + ": " + error);
  }

  const std::uint64_t totalBytes = std::uint64_t{phone::kBmlChipBlocks} * phone::kBlockFileBytes;
  TerminalProgress progress("Writing " + o.Out);
  const bool written = OutputGuard::Write(
      o.Out,
      [&](File& out, std::string& why) {
        if (!phone::WriteBmlDump(out, plan, why, progress.Callback())) return false;
        phone::FilePageSink chip(out, phone::kBmlChipBlocks);
        for (const StlContent& v : volumes) {
          // The volume's units as the phone's driver programs them: through the remap.
          std::vector<std::uint32_t> physical;
          for (std::uint32_t u = 0; u < v.Units; ++u) {
            std::uint32_t b = v.First + u;
            for (const auto& [original, replacement] : plan.Pairs)
              if (original == b) b = replacement;
            physical.push_back(b);
          }
          phone::BmlPartitionSink sink(chip, physical, plan.Layout);
          std::vector<std::uint8_t> bytes;
          phone::StlWriteResult result;
          if (!ReadContents(v, v.Bytes, bytes, why) || !phone::WriteStlVolume(sink, bytes, stlOptions, result, why)) {
            why = "--stl " + v.Name + ": " + why;
            return false;
          }
        }
        return true;
      },
      error);
  progress.End();
  if (!written) {
    std::fprintf(stderr, "orvella: mkimage: %s\n", error.c_str());
    return 1;
  }
  std::string volumesText;
  for (const StlContent& v : volumes)
    volumesText += (volumesText.empty() ? "" : ", ") + v.Name + " (" + std::to_string(v.Bytes) + " bytes of " + v.File + ")";
  std::printf("Wrote %s: %llu bytes, a %u MiB chip with %zu partition%s and the bad-block layer (%zu block%s "
              "replaced)%s%s\n",
              o.Out.c_str(), static_cast<unsigned long long>(totalBytes), image.ChipMiB, spec.Table.size(),
              spec.Table.size() == 1 ? "" : "s", plan.Pairs.size(), plan.Pairs.size() == 1 ? "" : "s",
              volumes.empty() ? "" : "; STL volumes: ", volumesText.c_str());
  if (stlOptions.RewritePages)
    std::printf("Rewrote %u logical page%s of each volume through its log blocks (seed %llu)\n",
                stlOptions.RewritePages, stlOptions.RewritePages == 1 ? "" : "s",
                static_cast<unsigned long long>(stlOptions.Seed));
  return 0;
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
  if (o.Bml) return MakeBmlImage(o, spec, dump);
  if (!o.Remap.empty() || !o.Stl.empty() || o.StlHeader != "old" || !o.StlRewrites.empty())
    return usage("--remap, --stl, --stl-header and --stl-rewrites shape the phone's bad-block layer; give --bml");
  // A table that runs past the chip would list partitions that end before they begin.
  if (!TableFitsChip(spec.Table, spec.ChipMiB * (std::uint32_t{1 << 20} / kBlockSize), error))
    return usage(error);

  // The file at OUT may well be somebody's only dump of a phone.
  const OutputGuard guard("mkimage", o.Force);
  if (!guard.Allows(out)) return 1;

  const std::uint64_t mainBytes = std::uint64_t{spec.ChipMiB} << 20;
  const std::uint64_t totalBytes = mainBytes + mainBytes / kSpareDivisor;
  TerminalProgress progress("Writing " + out, totalBytes >= kProgressThreshold);

  // Written as OUT.part and renamed: OUT stays as it was until the image is complete.
  const bool wrote = WriteFullImage(out, spec, dump, error, progress.Callback());
  progress.End();
  if (!wrote) {
    std::fprintf(stderr, "orvella: mkimage: %s\n", error.c_str());
    return 1;
  }
  std::printf("Wrote %s: %llu bytes, a %u MiB chip with %zu partition%s\n", out.c_str(),
              static_cast<unsigned long long>(totalBytes), spec.ChipMiB, spec.Table.size(),
              spec.Table.size() == 1 ? "" : "s");
  return 0;
}

}  // namespace orvella::cli
