// export, save-image and blank: the popup menu's export commands and the blank check,
// run on the same core as the plug-in through a recording window port whose save
// dialog answers with the path given on the command line.

#include <cstdio>
#include <optional>
#include <string>

#include "cli/Commands.h"
#include "cli/ConsolePort.h"
#include "image/BlankCheck.h"
#include "image/Export.h"
#include "image/FullImage.h"
#include "image/RecordingPort.h"

namespace orvella::cli {

namespace {

void PrintErrors(ConsolePort& port) {
  port.EndProgress();
  for (const auto& text : port.ErrorBoxes) std::fprintf(stderr, "orvella: %s\n", text.c_str());
}

// Names on standard error why a load failed: its error boxes, else its error lines.
void PrintLoadErrors(ConsolePort& port, const std::string& path) {
  PrintErrors(port);
  if (!port.ErrorBoxes.empty()) return;
  bool named = false;
  for (const auto& line : port.Log)
    if (line.rfind("ERROR: ", 0) == 0) {
      std::fprintf(stderr, "orvella: %s\n", line.c_str());
      named = true;
    }
  if (!named) std::fprintf(stderr, "orvella: cannot load \"%s\"\n", path.c_str());
}

bool LoadImage(ImageModel& model, ConsolePort& port, const std::string& path) {
  if (model.LoadImageFileAndProcessIt(path, port)) return true;
  PrintLoadErrors(port, path);
  return false;
}

int Finish(const ExportResult& result, ConsolePort& port) {
  port.EndProgress();
  for (const auto& file : result.FilesWritten) std::printf("%s\n", file.c_str());
  std::fflush(stdout);
  if (result.Outcome == ExportOutcome::Done) return 0;
  PrintErrors(port);
  return 1;
}

std::optional<std::uint32_t> ParseRow(const std::string& text) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const unsigned long long v = std::stoull(text);
  if (v == 0 || v > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<std::uint32_t>(v);
}

}  // namespace

int RunExport(const Args& args) {
  std::string image, mode, prefix, rowText;
  bool all = false, haveRow = false, havePrefix = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--mode" && hasValue) {
      mode = args[++i];
    } else if (a == "--row" && hasValue) {
      rowText = args[++i];
      haveRow = true;
    } else if (a == "--prefix" && hasValue) {
      prefix = args[++i];
      havePrefix = true;
    } else if (a == "--all") {
      all = true;
    } else if (image.empty() && !a.empty() && a.rfind("--", 0) != 0) {
      image = a;
    } else {
      return Usage("export: unexpected argument \"" + a + "\"");
    }
  }
  if (image.empty()) return Usage("export: no image file given");
  if (mode != "main" && mode != "spare" && mode != "full")
    return Usage("export: --mode must be main, spare or full");
  if (all == haveRow) return Usage("export: give either --row N or --all");
  if (!havePrefix) return Usage("export: no --prefix given");
  std::optional<std::uint32_t> row;
  if (haveRow && !(row = ParseRow(rowText)))
    return Usage("export: --row needs a row number counted from 1");
  const bool saveMain = mode != "spare";
  const bool saveRedu = mode != "main";

  ImageModel model;
  ConsolePort port("export");
  if (!LoadImage(model, port, image)) return 1;
  port.SaveAnswers.push_back(prefix);
  if (all) return Finish(SaveAllPartitionsDataIntoFile(model, port, saveMain, saveRedu), port);
  if (*row > model.PartitionRows.size()) {
    std::fprintf(stderr, "orvella: the image has %zu partitions; there is no row %u\n",
                 model.PartitionRows.size(), *row);
    return 1;
  }
  return Finish(SavePartitionDataIntoFile(model, port, *row - 1, saveMain, saveRedu), port);
}

int RunSaveImage(const Args& args) {
  if (args.size() != 2) return Usage("save-image: give IMAGE and OUT");
  ImageModel model;
  ConsolePort port("save-image");
  if (!LoadImage(model, port, args[0])) return 1;
  port.SaveAnswers.push_back(args[1]);
  return Finish(SaveAsImageFile(model, port), port);
}

int RunBlank(const Args& args) {
  if (args.size() != 1) return Usage("blank: give IMAGE");
  ImageModel model;
  ConsolePort port("blank");
  const bool loaded = model.LoadImageFileAndProcessIt(args[0], port);
  const bool checked = loaded && CheckBlanks(model, port);
  port.EndProgress();
  for (const auto& line : port.Log) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (!loaded) PrintLoadErrors(port, args[0]);
  else if (!checked) PrintErrors(port);
  return checked ? 0 : 1;
}

}  // namespace orvella::cli
