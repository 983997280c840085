// The popup's phone's-view items: the decoded table and the bad-block layer into the
// log, the row's partition saved as the phone reads it, and the files of its volume
// extracted into a folder. The two long ones run as the ECC check does: the command
// buttons disabled, the gauge moving, window messages let through, Esc or the host's stop
// flag stopping them.

#include <QFileDialog>
#include <new>

#include "fat/Volume.h"
#include "files/FileIO.h"
#include "image/Export.h"
#include "phone/ImagePages.h"
#include "phone/PartitionBytes.h"
#include "phone/PhoneDump.h"
#include "phone/PhoneTexts.h"
#include "phone/VolumeCopy.h"
#include "phone/VolumeExtract.h"
#include "phone/Volumes.h"
#include "ui/MainUnit.h"
#include "ui/PathText.h"

namespace orvella {

namespace {

constexpr char kVolumeFilter[] = "Volume Image Files |*.img;*.rfs;*.bin|All Files |*";
constexpr char kStoppedText[] = "Stopped by User.";

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string RowText(const phone::PitEntry& e) { return "partition " + std::to_string(e.Position) + " " + Quoted(e.Name); }

// The image and the phone's reading of it; false with `error` when it cannot be read.
bool OpenPhoneDump(const std::string& image, phone::ImagePageSource& chip, phone::PhoneDump& dump, bool judgeContent,
                   std::string& error) {
  if (!chip.Open(image, error)) return false;
  dump = phone::ReadPhoneDump(chip, judgeContent);
  if (dump.TableFound) return true;
  error = Quoted(image) + " holds no partition table at block 1: " + dump.TableProblem;
  return false;
}

// The same for one row of the phone's reading of the table, which must be there.
bool OpenPhoneRow(const std::string& image, std::size_t row, phone::ImagePageSource& chip, phone::PhoneDump& dump,
                  std::string& error) {
  if (!OpenPhoneDump(image, chip, dump, false, error)) return false;
  if (row < dump.Table.Entries.size()) return true;
  error = "the phone's reading of the table has no row " + std::to_string(row + 1);
  return false;
}

// The extraction's lines in the log, its progress on the gauge, the stop it polls.
class LogExtraction : public phone::ExtractReporter {
 public:
  LogExtraction(WindowPort& port, std::function<bool()> stop) : port_(port), stop_(std::move(stop)) {}
  void Extracted(const fat::Entry& entry, const std::string& path) override {
    port_.LogAdd(entry.Path + ": " + std::to_string(entry.Size) + " bytes to " + Quoted(path));
  }
  void Note(const std::string& text) override { port_.LogAdd(text); }
  void Progress(std::uint64_t bytes) override {
    port_.GaugeSetPos(static_cast<std::int64_t>(bytes));
    port_.ProcessMessages();
  }
  bool Stop() override { return stop_(); }

 private:
  WindowPort& port_;
  std::function<bool()> stop_;
};

}  // namespace

std::optional<std::size_t> TReraradForm::PopupRow() const {
  if (fPopupRowIndex < 0 || static_cast<std::size_t>(fPopupRowIndex) >= fModel.EntryCount() ||
      fModel.CurrentImageFile.empty())
    return std::nullopt;
  return static_cast<std::size_t>(fPopupRowIndex);
}

void TReraradForm::WindowCommandStarted(const std::string& status) {
  fButtons.CheckStarted();
  ShowButtons();
  StopByte() = 0;
  SetStatusText(0, status);
  GaugeSetPos(0);
}

void TReraradForm::WindowCommandEnded() {
  GaugeSetPos(0);
  StopByte() = 0;
  fButtons.CheckEnded();
  UpdateEnabledButtons();
}

std::optional<std::string> TReraradForm::FolderDialog() {
  std::optional<QString> chosen;
  if (Hooks.FolderDialog) {
    chosen = Hooks.FolderDialog();
  } else {
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("FolderDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) chosen = dialog.selectedFiles().first();
  }
  if (!chosen) return std::nullopt;
  return PathBytes(*chosen);
}

void TReraradForm::PhoneTableItemClick() {
  if (fButtons.Checking() || fDevice->CommandRunning() || fModel.CurrentImageFile.empty()) return;
  const std::string image = fModel.CurrentImageFile;
  LogAdd("");
  LogAdd("The table and the bad-block map of " + Quoted(image) + " as the phone reads them:");
  phone::ImagePageSource chip;
  phone::PhoneDump dump;
  std::string error;
  bool read = false;
  try {
    read = chip.Open(image, error);
    if (read) dump = phone::ReadPhoneDump(chip, true);
    if (read && dump.TableFound) {
      std::vector<phone::VolumeState> volumes;
      for (std::size_t k = 0; k < dump.Table.Entries.size(); ++k) volumes.push_back(phone::CheckVolume(chip, dump, k));
      for (const std::string& line : phone::PitTextLines(dump, volumes)) LogAdd(line);
    } else if (read) {
      LogAdd("ERROR: " + dump.TableProblem);
    }
  } catch (const std::bad_alloc&) {
    read = false;
    error = "Out of memory while reading the table as the phone reads it.";
  }
  if (!read) {
    LogAdd("ERROR: " + error);
    SetStatusText(0, "The table could not be read.");
    ErrorBox(error);
    return;
  }
  // Nothing is made up for a dump without the layer: one line says why there is none.
  if (dump.Bml.Structure == phone::BmlStructure::None) {
    LogAdd("Bad-block layer: none: " + dump.Bml.NoStructure);
  } else {
    for (const std::string& line : phone::BmlTextLines(dump.Bml)) LogAdd(line);
  }
  SetStatusText(0, "Table and bad-block map: done.");
}

void TReraradForm::PhoneVolumeItemClick() {
  if (fButtons.Checking() || fDevice->CommandRunning()) return;
  const std::optional<std::size_t> row = PopupRow();
  if (!row) return;
  ProcessMessages();
  const std::optional<std::string> output = SaveDialog({kVolumeFilter, 1, ""});
  if (!output) return;
  const std::string image = fModel.CurrentImageFile;
  const auto fail = [&](const std::string& error) {
    LogAdd("ERROR: " + error);
    SetStatusText(0, "Saving the partition as the phone reads it failed.");
    ErrorBox(error);
  };
  std::string error;
  LogAdd("");
  if (!CheckNotTheImage(*output, image, error) || !CheckNotTheImage(PartFile::PartName(*output), image, error)) {
    fail(error);
    return;
  }

  phone::ImagePageSource chip;
  phone::PhoneDump dump;
  phone::VolumeCopy copy;
  if (!OpenPhoneRow(image, *row, chip, dump, error)) {
    fail(error);
    return;
  }
  const phone::PitEntry entry = dump.Table.Entries[*row];
  const phone::VolumeLayer layer = entry.InDump ? phone::DefaultLayer(chip, dump, *row) : phone::VolumeLayer::Bml;
  // A refused volume is refused before the output is made: nothing is left behind.
  if (!copy.Open(chip, dump, *row, layer, error)) {
    fail(RowText(entry) + ": " + error + "; nothing written");
    return;
  }

  // A dump without the bad-block layer does not say how the phone numbers its devices.
  const std::string word = phone::VolumeLayerWord(copy.Layer());
  const bool numbered = copy.Device() != word;
  const std::string line = "Saving " + RowText(entry) + " as the phone's " + (numbered ? copy.Device() : word + " device") +
                           " reads it to " + Quoted(*output);
  LogAdd(line + "...");
  for (const phone::StlFinding& f : copy.Stl().Findings)
    LogAdd("Note: " + phone::StlFindingPlace(f) + ": " + f.Text);
  WindowCommandStarted("Saving the partition as the phone reads it (Esc stops)");
  GaugeSetMax(static_cast<std::int64_t>(copy.Bytes()));
  int shownPercent = -1;
  const auto progress = [&](std::uint64_t done, std::uint64_t total) {
    GaugeSetPos(static_cast<std::int64_t>(done));
    const int percent = total ? static_cast<int>(done * 100 / total) : 100;
    if (percent != shownPercent) {
      shownPercent = percent;
      LogReplaceLast(line + ": " + std::to_string(percent) + "%");
    }
    ProcessMessages();
  };
  const auto stop = [this] {
    ProcessMessages();
    return StopByte() != 0;
  };
  bool written = false;
  try {
    PartFile out;
    written = out.Create(*output, error) && copy.Write(out.Out(), error, progress, stop) && out.Commit(error);
  } catch (const std::bad_alloc&) {
    error = "Out of memory while saving the partition.";
  }
  if (written) {
    LogReplaceLast(line + ": done.");
    const std::string saved = numbered ? copy.Device() : "the " + word + " layer";
    LogAdd("Saved " + saved + ": " + std::to_string(copy.Bytes()) + " bytes into " + Quoted(*output));
    SetStatusText(0, "Complete OK");
  } else if (StopByte() != 0) {
    LogReplaceLast(line + ": stopped; nothing written.");
    SetStatusText(0, kStoppedText);
  } else {
    LogReplaceLast(line + ": failed.");
    fail(error);
  }
  WindowCommandEnded();
}

void TReraradForm::ExtractFilesItemClick() {
  if (fButtons.Checking() || fDevice->CommandRunning()) return;
  const std::optional<std::size_t> row = PopupRow();
  if (!row) return;
  ProcessMessages();
  const std::optional<std::string> folder = FolderDialog();
  if (!folder) return;
  const std::string image = fModel.CurrentImageFile;
  const auto fail = [&](const std::string& error) {
    LogAdd("ERROR: " + error);
    SetStatusText(0, "Extracting files failed.");
    ErrorBox(error);
  };

  phone::ImagePageSource chip;
  phone::PhoneDump dump;
  phone::PartitionBytes bytes;
  std::string error;
  LogAdd("");
  if (!OpenPhoneRow(image, *row, chip, dump, error)) {
    fail(error);
    return;
  }
  const phone::PitEntry entry = dump.Table.Entries[*row];
  if (!bytes.Open(chip, dump, *row, error)) {
    fail(RowText(entry) + ": " + error);
    return;
  }
  if (!bytes.StlRefusal().empty())
    LogAdd(RowText(entry) + ": its STL volume was refused (" + bytes.StlRefusal() +
           "); the partition is read as the phone's bml device reads it");
  std::unique_ptr<fat::Volume> volume = fat::Volume::Open(bytes, error);
  if (!volume) {
    fail("no FAT volume in " + RowText(entry) + ", " + bytes.LayerText() + ": " + error);
    return;
  }

  LogAdd("Extracting the files of " + RowText(entry) + ", " + bytes.LayerText() + ", into " + Quoted(*folder) + ":");
  WindowCommandStarted("Extracting files (Esc stops)");
  // The gauge counts the bytes of the files; a listing without following their chains
  // gives the total at once.
  const fat::WalkTotals listed = volume->Walk([](const fat::Entry&) { return fat::WalkStep::Continue; },
                                              [](const fat::Finding&) {}, fat::WalkOptions{false});
  GaugeSetMax(static_cast<std::int64_t>(listed.Bytes));
  phone::ExtractRequest request;
  request.Folder = *folder;
  request.ReplaceHint = "; nothing is written over it";
  request.Inputs = {image};
  LogExtraction log(*this, [this] {
    ProcessMessages();
    return StopByte() != 0;
  });
  phone::ExtractTotals totals;
  try {
    totals = phone::ExtractFiles(*volume, request, log);
  } catch (const std::bad_alloc&) {
    WindowCommandEnded();
    fail("Out of memory while extracting files.");
    return;
  }
  WindowCommandEnded();
  if (totals.NoFolder) {
    fail("nothing extracted into " + Quoted(*folder));
    return;
  }
  LogAdd(phone::ExtractTotalText(totals, *folder) + (totals.Stopped ? "; stopped" : ""));
  if (totals.Stopped)
    SetStatusText(0, kStoppedText);
  else
    SetStatusText(0, totals.Failed ? "Extracting files: " + std::to_string(totals.Failed) + " not extracted."
                                   : std::string("Complete OK"));
}

}  // namespace orvella
