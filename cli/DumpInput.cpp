#include "cli/DumpInput.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>

#include "cli/Frame.h"
#include "files/FileIO.h"
#include "image/FullImage.h"

namespace orvella::cli {

namespace {

// Block 1, where the table stands: in a full image, and in a page or sector dump.
constexpr std::uint64_t kTableInFull = std::uint64_t{kPitBlock} * kDumpBlockMain;
constexpr std::uint64_t kTableInterleaved = std::uint64_t{kPitBlock} * kDumpBlockBytes;

// True when the table's magic stands at `at` of the file; false also when it cannot be read.
bool MagicAt(File& file, std::uint64_t at) {
  std::uint8_t word[4];
  std::string error;
  return file.Seek(at, error) && file.ReadExact(word, sizeof word, error) && ReadLE32(word) == kPitMagic;
}

}  // namespace

void AddDumpFormat(CLI::App& command, std::string& format, std::string& spare) {
  command.add_option("--format", format,
                     "the dump's format: full (main data, then spare data), page (each 4096-byte page "
                     "followed by its 128 spare bytes), sector (each 512-byte sector followed by its 16), "
                     "split (spare data in --spare FILE) or main (main data alone); found in the dump "
                     "when not given")
      ->type_name("FORMAT");
  command.add_option("--spare", spare, "the spare data of a split dump")->type_name("FILE");
}

bool ParseDumpFormat(const std::string& option, const std::string& text, DumpFormat& format,
                     std::string& problem) {
  if (const auto named = DumpFormatNamed(text)) {
    format = *named;
    return true;
  }
  problem = option + ": unknown format \"" + text + "\" (take" + DumpFormatNames() + ")";
  return false;
}

std::string RefusalText(const std::string& error, const std::string& option) {
  const std::string ask = "name the format";
  const bool asks = error.size() >= ask.size() && error.compare(error.size() - ask.size(), ask.size(), ask) == 0;
  return asks ? error + " with " + option : error;
}

void SayDetection(const std::string& command, const std::string& head, const DumpDetection& found) {
  std::fprintf(stderr, "orvella: %s: %s\n", command.c_str(), head.c_str());
  for (const std::string& line : found.Findings)
    if (line != head) std::fprintf(stderr, "  %s\n", line.c_str());
}

namespace {

// The format found in `image` when its table does not stand where a full image keeps it;
// nothing when it does, when nothing is found, or when the file cannot be read.
std::optional<DumpFormat> FoundFormat(const std::string& image, bool& interleaved, DumpDetection& found,
                                      std::string& error) {
  interleaved = false;
  File file;
  if (!file.OpenRead(image, error) || MagicAt(file, kTableInFull)) return std::nullopt;
  interleaved = MagicAt(file, kTableInterleaved);
  file.Close(error);
  if (!DetectDumpFormat(image, "", found, error)) return std::nullopt;
  return found.Format;
}

}  // namespace

void NoteOtherFormat(const std::string& command, const std::string& image) {
  bool interleaved = false;
  DumpDetection found;
  std::string error;
  const std::optional<DumpFormat> format = FoundFormat(image, interleaved, found, error);
  if (format && *format != DumpFormat::Full)
    std::fprintf(stderr, "orvella: %s: \"%s\" is not a full image but a %s dump (%s); %s reads it as a "
                         "full image all the same, so what it says of its areas and partitions does not "
                         "hold: convert it to full first\n",
                 command.c_str(), image.c_str(), std::string(DumpFormatName(*format)).c_str(),
                 found.Verdict.c_str(), command.c_str());
}

bool ChooseDumpFormat(const std::string& command, const std::string& image, const std::string& format,
                      const std::string& spare, int wrongUsage, int failure, DumpInput& input,
                      int& status) {
  input = DumpInput{};
  std::string problem;
  if (!format.empty() && !ParseDumpFormat("--format", format, input.Format, problem)) {
    status = UsageProblem(command, problem, wrongUsage);
    return false;
  }
  if (!format.empty() || !spare.empty()) {
    if (format.empty()) input.Format = DumpFormat::Split;
    if (input.Format == DumpFormat::Split && spare.empty()) {
      status = UsageProblem(command, "--format split needs --spare FILE, the file of the spare data", wrongUsage);
      return false;
    }
    if (input.Format != DumpFormat::Split && !spare.empty()) {
      status = UsageProblem(command, "--spare goes only with a split dump, not with --format " + format, wrongUsage);
      return false;
    }
    input.SparePath = spare;
    return true;
  }

  // A file that cannot be read is the command's to report, as for any image.
  bool interleaved = false;
  DumpDetection found;
  std::string error;
  if (const std::optional<DumpFormat> seen = FoundFormat(image, interleaved, found, error)) {
    input.Format = *seen;
    if (*seen != DumpFormat::Full)
      SayDetection(command, "\"" + image + "\": " + found.Verdict + "; read as such (--format names another)",
                   found);
    return true;
  }
  if (!interleaved) return true;
  SayDetection(command, RefusalText(error, "--format"), found);
  status = failure;
  return false;
}

}  // namespace orvella::cli
