// The main window's handlers: loading a table, the list's selection and marks, the
// popup and its exports, the blank and ECC checks, closing; and the device window the
// device commands drive. The buttons' states live in TMainButtons; ShowButtons shows them.

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <new>

#include "files/FileIO.h"
#include "image/BlankCheck.h"
#include "image/Export.h"
#include "image/NandHealth.h"
#include "ui/CoolListView.h"
#include "ui/HEXView.h"
#include "ui/HexWindowUnit.h"
#include "ui/MainUnit.h"
#include "ui/PathText.h"

namespace orvella {

// ---------------------------------------------------------------------------------------
// Buttons

QPushButton* TReraradForm::ButtonControl(FormButton which) const {
  return fButtonControls[static_cast<std::size_t>(which)];
}

int TReraradForm::ButtonImage(const QPushButton* button) const {
  for (std::size_t i = 0; i < kFormButtonCount; ++i)
    if (fButtonControls[i] == button) return fButtons.Look(static_cast<FormButton>(i)).Glyph;
  return -1;
}

void TReraradForm::ShowButtons() {
  for (std::size_t i = 0; i < kFormButtonCount; ++i) {
    QPushButton* button = fButtonControls[i];
    if (button == nullptr) continue;
    const TButtonLook& look = fButtons.Look(static_cast<FormButton>(i));
    const QString caption = QString::fromStdString(look.Caption);
    if (button->text() != caption) button->setText(caption);
    button->setIcon(fGlyphs.Icon(look.Glyph));
    button->setEnabled(look.Enabled);
  }
}

// ---------------------------------------------------------------------------------------
// Handlers

bool TReraradForm::FormClose() {
  // The command writes into the working copy that closing deletes: stop it first. The
  // check reads it and runs on this window's stack.
  if (fDevice->CommandRunning() || fButtons.Checking()) {
    SetStatusText(0, kCloseWhileRunningText);
    return false;
  }
  if (!fDevice->CanCloseWindow()) return false;
  SaveSettings();
  if (fHexForm != nullptr && fHexForm->isVisible()) fHexForm->close();
  DeleteFileAt(fTempImagePath);
  return true;
}

void TReraradForm::SelectImageFileClick() {
  ProcessMessages();
  const QString filter = QStringLiteral("VESK Full Image Files |*.bin");
  std::optional<QString> chosen;
  if (Hooks.OpenDialog) {
    chosen = Hooks.OpenDialog(filter, 1);
  } else {
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("OpenDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    SetupFileDialog(dialog, filter, 1);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      chosen = dialog.selectedFiles().first();
  }
  if (chosen) ImageName->setText(*chosen);
}

void TReraradForm::CreateListClick(QObject* sender) {
  const bool fromCreateList = sender == CreateList;
  if (fromCreateList) {
    // Loading a file leaves the working copy behind, to be replaced by the next read:
    // unsaved device data in it are asked about first, and the load waits for the answer.
    if (!fDevice->MayLoseDeviceData(kUnsavedBeforeLoadQuestion)) return;
    LogClear();
    fModel.CurrentImageFile = PathBytes(ImageName->text());
    fDevice->NoteImageReloaded();
  }
  fButtons.LoadStarted();
  ShowButtons();
  ScrollBox00->setFocus();

  fModel.PartitionRows.clear();
  fListView->FreeDataFields();
  fModel.ClearRows();
  // The rows are rebuilt in place while the load runs (it lets messages run); the list
  // shows no model until they are complete.
  fListView->SetpCoolItemsList(nullptr);

  fListView->SetItemIndex(-1);
  OnSelectionChange(-1, mbLeft, 0, 0);
  fListView->Refresh();

  // The load clears CurrentImageFile first, so it gets its own copy of the path.
  const std::string path = fModel.CurrentImageFile;
  if (fModel.LoadImageFileAndProcessIt(path, *this)) {
    fListView->SetpCoolItemsList(&fModel.PartitionItems);
    fListView->SetItemIndex(0);
    fButtons.LoadEnded(true);
    ShowButtons();
    GaugeSetPos(0);
    fListView->Refresh();
    if (fromCreateList) CreateList->setFocus();
  } else {
    GaugeSetPos(0);
    fButtons.LoadEnded(false);
    ShowButtons();
    CreateList->setFocus();
  }
}

void TReraradForm::OnSelectionChange(int ItemIndex, int Button, int X, int Y) {
  UpdateEnabledButtons();
  const bool onRow = ItemIndex >= 0 && static_cast<std::size_t>(ItemIndex) < fModel.EntryCount() &&
                     static_cast<std::size_t>(ItemIndex) < fModel.PartitionRows.size();
  if (!onRow) {
    if (fHexForm != nullptr) {
      fHexForm->MainView()->InitializeViewData(QString(), 0, 0);
      fHexForm->SpareView()->InitializeViewData(QString(), 0, 0);
    }
    return;
  }
  const auto k = static_cast<std::size_t>(ItemIndex);
  if (fHexForm != nullptr) {
    // Unwrapped: a table that reaches past 4 GiB must not show another partition's bytes.
    const WideRange r = WideRangeOf(fModel, k);
    const QString image = PathText(fModel.CurrentImageFile);
    fHexForm->MainView()->InitializeViewData(image, static_cast<std::int64_t>(r.MainOffset),
                                             static_cast<std::int64_t>(r.MainLength));
    fHexForm->SpareView()->InitializeViewData(image, static_cast<std::int64_t>(r.SpareOffset),
                                              static_cast<std::int64_t>(r.SpareLength));
  }
  // One check at a time; its popup would also offer exports of the image it reads.
  if (Button != mbRight || fButtons.Checking()) return;

  fPopupRowIndex = ItemIndex;
  const std::array<QAction*, 3> items = {SavePartitionMainItem, SavePartitionSpareOnlyItem, SavePartitionFull};
  for (std::size_t i = 0; i < items.size(); ++i)
    items[i]->setText(QString::fromStdString(
        PartitionItemCaption(static_cast<int>(i), fModel.PartitionRows[k].PartitionName)));
  // The check and the phone's items read the working copy a device command may be writing.
  const bool enabled = ImageItemEnabled(fDevice->CommandRunning(), !fModel.CurrentImageFile.empty(), fButtons.Checking());
  for (QAction* item : {CheckEccItem, PhoneTableItem, PhoneVolumeItem, ExtractFilesItem}) item->setEnabled(enabled);
  const QPoint at(X, Y);
  if (Hooks.Popup) Hooks.Popup(at); else MyPopup->popup(at);
}

void TReraradForm::OnDoubleClick(QObject*) {
  const int cursor = ItemIndex();
  if (cursor < 0) return;
  const auto k = static_cast<std::size_t>(cursor);
  if (k >= fModel.PartitionItems.Items.size() || k >= fModel.PartitionRows.size()) return;
  SetMarkedFlag(k, !fModel.PartitionItems.Items[k].Selected);
  UpdateEnabledButtons();
  fListView->Refresh();
}

void TReraradForm::SetMarkedFlag(std::size_t row, bool marked) { fModel.SetMarked(row, marked); }

void TReraradForm::InvertSelectedBtnClick() {
  const auto count = static_cast<std::size_t>(std::max(0, fModel.PartitionItems.Count));
  for (std::size_t k = 0; k < count; ++k) {
    if (k >= fModel.PartitionItems.Items.size() || k >= fModel.PartitionRows.size()) break;
    SetMarkedFlag(k, !fModel.PartitionItems.Items[k].Selected);
  }
  // The captions must say what Read, Flash and Erase will now act on: after an invert
  // from no marks, every row, not the cursor row alone.
  UpdateEnabledButtons();
  fListView->Refresh();
}

void TReraradForm::ShowHideHexBtnClick() {
  if (fHexForm == nullptr) return;
  if (fHexForm->isVisible()) fHexForm->hide(); else fHexForm->show();
}

void TReraradForm::UpdateEnabledButtons() {
  fButtons.FollowSelection(ItemIndex(), fModel.AnyMarked());
  ShowButtons();
}

void TReraradForm::CheckBlanksClick() { orvella::CheckBlanks(fModel, *this); }

void TReraradForm::SavePartition(bool saveMain, bool saveRedu) {
  if (fPopupRowIndex < 0 || static_cast<std::size_t>(fPopupRowIndex) >= fModel.EntryCount()) return;
  SavePartitionDataIntoFile(fModel, *this, static_cast<std::size_t>(fPopupRowIndex), saveMain, saveRedu);
}

void TReraradForm::SaveAllPartitions(bool saveMain, bool saveRedu) {
  SaveAllPartitionsDataIntoFile(fModel, *this, saveMain, saveRedu);
}

void TReraradForm::SavePartitionMainItemClick() { SavePartition(true, false); }
void TReraradForm::SavePartitionSpareOnlyItemClick() { SavePartition(false, true); }
void TReraradForm::SavePartitionFullClick() { SavePartition(true, true); }
void TReraradForm::SaveAllPartitionsMainItemClick() { SaveAllPartitions(true, false); }
void TReraradForm::SaveAllPartitionsSpareItemClick() { SaveAllPartitions(false, true); }
void TReraradForm::SaveAllPartitionsFullItemClick() { SaveAllPartitions(true, true); }
void TReraradForm::SaveAsImageFileIemClick() { SaveWholeImage(); }

std::uint8_t& TReraradForm::StopByte() { return fHost->stopFlag ? *fHost->stopFlag : fOwnStop; }

void TReraradForm::CheckEccItemClick() {
  if (fButtons.Checking() || fDevice->CommandRunning() || fModel.CurrentImageFile.empty()) return;
  const std::string path = fModel.CurrentImageFile;
  fButtons.CheckStarted();
  ShowButtons();
  StopByte() = 0;

  const std::string line = "Checking ECC and bad blocks of \"" + path + "\"";
  LogAdd("");
  LogAdd(line + "...");
  SetStatusText(0, "Checking ECC and bad blocks (Esc stops)");
  GaugeSetPos(0);
  GaugeSetMax(0);
  NandCheckOptions options;
  std::uint64_t shownPercent = 101;
  options.Progress = [&](std::uint64_t done, std::uint64_t total) {
    if (GaugeMax() != static_cast<std::int64_t>(total)) GaugeSetMax(static_cast<std::int64_t>(total));
    GaugeSetPos(static_cast<std::int64_t>(done));
    const std::uint64_t percent = total ? done * 100 / total : 100;
    if (percent != shownPercent) {
      shownPercent = percent;
      LogReplaceLast(line + ": " + std::to_string(percent) + "%");
      SetStatusText(0, "Checking ECC and bad blocks: " + std::to_string(percent) + "% (Esc stops)");
    }
    ProcessMessages();
  };
  options.Stop = [this] {
    ProcessMessages();
    return StopByte() != 0;
  };

  NandHealthReport report;
  std::string error;
  bool ok = false;
  try {
    ok = CheckNandHealth(path, options, report, error);
  } catch (const std::bad_alloc&) {
    error = "Out of memory while checking ECC and bad blocks.";
  }
  if (ok) {
    LogReplaceLast(line + ": done.");
    for (const std::string& text : NandHealthLogLines(report)) LogAdd(text);
    SetStatusText(0, "ECC and bad-block check: done.");
  } else if (StopByte() != 0) {
    LogReplaceLast(line + ": stopped.");
    SetStatusText(0, "Stopped by User.");
  } else {
    LogReplaceLast(line + ": failed.");
    LogAdd("ERROR: " + error);
    SetStatusText(0, "ECC and bad-block check failed.");
    ErrorBox(error);
  }
  GaugeSetPos(0);
  StopByte() = 0;
  fButtons.CheckEnded();
  UpdateEnabledButtons();
}

// ---------------------------------------------------------------------------------------
// Device window

int TReraradForm::ItemIndex() const { return fListView != nullptr ? fListView->ItemIndex() : -1; }

std::string TReraradForm::ButtonCaption(DeviceButton button) const {
  return fButtons.Look(FormButtonOf(button)).Caption;
}

void TReraradForm::SetButtonCaption(DeviceButton button, const std::string& caption) {
  fButtons.SetCaption(FormButtonOf(button), caption);
  ShowButtons();
}

void TReraradForm::SetButtonImageIndex(DeviceButton button, int imageIndex) {
  fButtons.SetGlyph(FormButtonOf(button), imageIndex);
  ShowButtons();
}

void TReraradForm::CreateListClick(DeviceButton sender) {
  CreateListClick(ButtonControl(FormButtonOf(sender)));
}

bool TReraradForm::EccEnabled() const { return EnableECCBtn->isChecked(); }

WindowGeometry TReraradForm::Geometry() const {
  const QRect outer = fOuter->OuterGeometry();
  return {outer.x(), outer.width(), outer.height(), outer.y()};
}

void* TReraradForm::GaugeControl() { return MyGauge; }

CloseAnswer TReraradForm::AskBeforeClose(const std::string& question) {
  const QString text = QString::fromStdString(question);
  if (Hooks.CloseQuestion) return Hooks.CloseQuestion(text);
  QMessageBox box(QMessageBox::Warning, windowTitle(), text,
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
  box.setDefaultButton(QMessageBox::Save);
  switch (box.exec()) {
    case QMessageBox::Save: return CloseAnswer::SaveImage;
    case QMessageBox::Discard: return CloseAnswer::Discard;
    default: return CloseAnswer::KeepOpen;
  }
}

bool TReraradForm::SaveWholeImage() {
  if (SaveAsImageFile(fModel, *this).Outcome != ExportOutcome::Done) return false;
  fDevice->NoteImageSaved();
  return true;
}


}  // namespace orvella
