// export, save-image and blank: the popup menu's export commands and the blank check,
// run on the same core as the plug-in through a recording window port whose save
// dialog answers with the path given on the command line.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/ConsolePort.h"
#include "cli/DumpInput.h"
#include "cli/Frame.h"
#include "cli/Outputs.h"
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

}  // namespace

int RunExport(const ExportOptions& o) {
  if (o.Mode != "main" && o.Mode != "spare" && o.Mode != "full")
    return UsageProblem("export", "--mode takes main, spare or full, not \"" + o.Mode + "\"");
  if (o.All == !o.Row.empty()) return UsageProblem("export", "give either --row N|NAME or --all");
  const bool saveMain = o.Mode != "spare";
  const bool saveRedu = o.Mode != "main";

  ImageModel model;
  ConsolePort port("export");
  const DumpShape shape = NoteNotWhole("export", o.Image);
  NoteOtherFormat("export", o.Image);
  if (!LoadImage(model, port, o.Image)) return 1;
  // Without a whole spare area, what would be copied as spare data is something else
  // (main data, or nothing). Bytes after a whole spare area belong to no partition.
  if (saveRedu && (shape.Kind == DumpKind::NoSpare || shape.Kind == DumpKind::CutSpare)) {
    std::fprintf(stderr, "orvella: export: --mode %s refused: the spare data of \"%s\" are not all "
                         "there (%s); --mode main copies its main data\n",
                 o.Mode.c_str(), o.Image.c_str(), NotWholeText(shape).c_str());
    return 1;
  }
  std::vector<std::size_t> rows;
  if (o.All) {
    for (std::size_t k = 0; k < std::min(model.EntryCount(), model.PartitionRows.size()); ++k) rows.push_back(k);
  } else {
    std::size_t k = 0;
    std::string problem;
    if (!ResolveRow(model, o.Row, k, problem)) {
      std::fprintf(stderr, "orvella: export: %s\n", problem.c_str());
      return 1;
    }
    rows.push_back(k);
  }
  // Every file is looked at before the first is written, so a refusal leaves nothing half done.
  std::vector<std::string> outputs;
  for (const std::size_t k : rows)
    outputs.push_back(PartitionFileName(o.Prefix, model.RangeOf(k).MainOffset, model.PartitionRows[k].PartitionName));
  OutputGuard guard("export", o.Force);
  guard.Input(o.Image);
  if (!guard.AllowsAll(outputs)) return 1;

  port.SaveAnswers.push_back(o.Prefix);
  if (o.All)
    return Finish(SaveAllPartitionsDataIntoFile(model, port, saveMain, saveRedu, OutputWriting::Whole), port);
  return Finish(SavePartitionDataIntoFile(model, port, rows.front(), saveMain, saveRedu, OutputWriting::Whole),
                port);
}

int RunSaveImage(const SaveImageOptions& o) {
  ImageModel model;
  ConsolePort port("save-image");
  NoteNotWhole("save-image", o.Image);
  NoteOtherFormat("save-image", o.Image);
  if (!LoadImage(model, port, o.Image)) return 1;
  OutputGuard guard("save-image", o.Force);
  guard.Input(o.Image);
  if (!guard.Allows(o.Out)) return 1;
  port.SaveAnswers.push_back(o.Out);
  return Finish(SaveAsImageFile(model, port, OutputWriting::Whole), port);
}

int RunBlank(const BlankOptions& o) {
  ImageModel model;
  ConsolePort port("blank");
  NoteNotWhole("blank", o.Image);
  NoteOtherFormat("blank", o.Image);
  const bool loaded = model.LoadImageFileAndProcessIt(o.Image, port);
  const bool checked = loaded && CheckBlanks(model, port);
  port.EndProgress();
  for (const auto& line : port.Log) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (!loaded) PrintLoadErrors(port, o.Image);
  else if (!checked) PrintErrors(port);
  return checked ? 0 : 1;
}

}  // namespace orvella::cli
