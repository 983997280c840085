#pragma once
// The plug-in's main window: partition list, log memo, gauge, status bar, image-file
// row, command buttons and the partition popup menu. It owns the program-wide image
// model and is the window port through which loads, exports, the blank check and the
// device commands report. Its buttons' states and the gauge's scaling are plain members
// (ui/MainRules.h) that the widgets show. Built in MainUnit.cpp (layout, events,
// settings), MainHandlers.cpp (the handlers and the device window) and MainPort.cpp (the
// window port and its dialogs).

#include <QDialog>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "device/DeviceCommands.h"
#include "device/DeviceWindow.h"
#include "device/HostServiceTable.h"
#include "image/FullImage.h"
#include "image/WindowPort.h"
#include "ui/Glyphs.h"
#include "ui/MainRules.h"
#include "ui/OuterFrame.h"

class QAction;
class QCheckBox;
class QFileDialog;
class QFrame;
class QGroupBox;
class QHeaderView;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QStandardItemModel;
class QStatusBar;

namespace orvella {

class TCoolListView;
class THexForm;
class TSettingsManager;

// Every dialog and box the window opens. An empty function means the real dialog; tests
// put their own answers here.
struct TWindowHooks {
  std::function<void(const QString& text)> ErrorBox;
  // The chosen full path, or nothing when cancelled.
  std::function<std::optional<QString>(const SaveDialogRequest& request)> SaveDialog;
  std::function<std::optional<QString>(const QString& filter, int filterIndex)> OpenDialog;
  // Opens MyPopup at a screen point; the real one does not wait for the menu to close.
  std::function<void(const QPoint& screenPoint)> Popup;
  // The question before closing over unsaved device data.
  std::function<CloseAnswer(const QString& text)> CloseQuestion;
  std::function<void(int milliseconds)> Sleep;
  // A one-line prompt (caption, prompt, initial text); nothing when cancelled.
  std::function<std::optional<QString>(const QString&, const QString&, const QString&)> InputBox;
  // The folder "Extract Files..." writes into; nothing when cancelled.
  std::function<std::optional<QString>()> FolderDialog;
};

// Status text of a close refused while a device command runs.
inline constexpr const char* kCloseWhileRunningText = "Stop the running command before closing the window.";
inline constexpr const char* kCheckEccCaption = "Check ECC and Bad Blocks...";

// Design values the settings fall back to.
inline constexpr std::array<int, 5> kDesignColumnWidths = {80, 90, 120, 420, 2000};
inline constexpr int kDesignClientWidth = 1031;
inline constexpr int kDesignClientHeight = 590;
inline constexpr int kMinOuterWidth = 720;
inline constexpr int kMinOuterHeight = 600;
inline constexpr std::array<int, 3> kDesignStatusWidths = {730, 170, 50};

// A dialog filter as the commands give it ("Name |*.bin|Other|*.x;*.y") as Qt name
// filters; an entry without a pattern matches every file.
QStringList QtNameFilters(const QString& filter);
// Gives a file dialog those filters, the `filterIndex`-th (from 1) selected.
void SetupFileDialog(QFileDialog& dialog, const QString& filter, int filterIndex);

class TReraradForm : public QDialog, public DeviceWindow {
  Q_OBJECT

 public:
  // `host` is the host's service table, read at every device command; without one the
  // device commands end at their first host call.
  explicit TReraradForm(const DeviceServiceTable* host = nullptr, QWidget* parent = nullptr);
  ~TReraradForm() override;

  // The hex window whose two views follow the list cursor (created after this window).
  void SetHexForm(THexForm* hexForm) { fHexForm = hexForm; }
  THexForm* HexForm() const { return fHexForm; }

  ImageModel& Model() override { return fModel; }
  const ImageModel& Model() const { return fModel; }
  TCoolListView* ListView() const { return fListView; }
  DeviceCommands& Device() { return *fDevice; }
  const TGlyphList& GlyphImages() const { return fGlyphs; }
  int PopupRowIndex() const { return fPopupRowIndex; }
  // Position and size with the frame, as the settings and the centring speak of them.
  TOuterFrame& OuterFrame() { return *fOuter; }
  const TOuterFrame& OuterFrame() const { return *fOuter; }

  // The command buttons' states, as the widgets show them.
  const TMainButtons& Buttons() const { return fButtons; }
  QPushButton* ButtonControl(FormButton which) const;
  // The glyph a button shows, as an index into the glyph list; -1 for another widget.
  int ButtonImage(const QPushButton* button) const;

  // Device window.
  int ItemIndex() const override;
  std::string ButtonCaption(DeviceButton button) const override;
  void SetButtonCaption(DeviceButton button, const std::string& caption) override;
  void SetButtonImageIndex(DeviceButton button, int imageIndex) override;
  IdleLook& Idle(DeviceButton button) override { return fButtons.Idle(button); }
  void CreateListClick(DeviceButton sender) override;
  bool EccEnabled() const override;
  WindowGeometry Geometry() const override;
  void* GaugeControl() override;
  // Folder of the running executable with a trailing separator, and the temporary image.
  std::string WorkFolder() const override { return fWorkFolder; }
  std::string TempImagePath() const override { return fTempImagePath; }
  CloseAnswer AskBeforeClose(const std::string& question) override;
  bool SaveWholeImage() override;

  // Handlers.
  void FormCreate();
  void FormShow();
  void FormResize();
  // Saves the settings, closes the hex window, deletes the temporary image. False when
  // the window stays open (a device command runs, or the user kept unsaved device data).
  bool FormClose();
  void SelectImageFileClick();
  // `sender` is the CreateList button, or another button when a command lists a table.
  void CreateListClick(QObject* sender);
  void OnSelectionChange(int ItemIndex, int Button, int X, int Y) override;
  void OnDoubleClick(QObject* sender);
  void InvertSelectedBtnClick();
  void ShowHideHexBtnClick();
  void UpdateEnabledButtons() override;
  void CheckBlanksClick();
  void SavePartitionMainItemClick();
  void SavePartitionSpareOnlyItemClick();
  void SavePartitionFullClick();
  void SaveAllPartitionsMainItemClick();
  void SaveAllPartitionsSpareItemClick();
  void SaveAllPartitionsFullItemClick();
  void SaveAsImageFileIemClick();
  // Checks the ECC and the bad-block markers of the whole image into the log. While it
  // runs the command buttons are disabled and Esc or the host's stop flag stops it.
  void CheckEccItemClick();
  bool CheckRunning() const { return fButtons.Checking(); }
  // The phone's view of the popup row's partition: the decoded table with what each
  // partition holds and the bad-block layer, into the log.
  void PhoneTableItemClick();
  // Saves the popup row's partition as the phone reads it (its STL volume, else its bml
  // view) into a file chosen in the save dialog; Esc or the host's stop flag stops it.
  void PhoneVolumeItemClick();
  // Extracts every file of the popup row's volume into a folder chosen in a folder
  // dialog, one log line per file; Esc or the host's stop flag stops it.
  void ExtractFilesItemClick();

  // Window settings in the per-user store.
  void ReadSettings();
  void SaveSettings();

  // The log memo as lines.
  QStringList LogLines() const;

  // Window port.
  void LogClear() override;
  void LogAdd(const std::string& line) override;
  void LogReplaceLast(const std::string& line) override;
  void LogRedraw() override;
  void GaugeSetMax(std::int64_t maxValue) override;
  void GaugeSetPos(std::int64_t position) override;
  std::int64_t GaugeMax() const override { return fGauge.Max(); }
  // The bar's position in MaxValue's units, including the host's steps.
  std::int64_t GaugePos() const override;
  void SetStatusText(int panel, const std::string& text) override;
  void ProcessMessages() override;
  void ErrorBox(const std::string& text) override;
  std::optional<std::string> SaveDialog(const SaveDialogRequest& request) override;
  void Sleep(int milliseconds) override;
  std::optional<std::string> InputBox(const std::string& caption, const std::string& prompt,
                                      const std::string& initial) override;

  TWindowHooks Hooks;

  // Controls, named as their objectName.
  QWidget* PartitionsListMainPanel = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QFrame* Panel00 = nullptr;
  QWidget* ScrollBox00 = nullptr;
  QHeaderView* HeaderControl00 = nullptr;
  QWidget* PaintBox00 = nullptr;
  QScrollBar* ScrollBar00 = nullptr;
  QWidget* MemoAndButtonsHolder = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QGroupBox* MemoGroupBox = nullptr;
  QPlainTextEdit* MyMemo = nullptr;
  QLabel* sLabel2 = nullptr;
  QLineEdit* ImageName = nullptr;
  QFrame* Panel6 = nullptr;
  QPushButton* SelectImageFile = nullptr;
  QFrame* GaugePanel = nullptr;
  QProgressBar* MyGauge = nullptr;
  QCheckBox* EnableECCBtn = nullptr;
  QPushButton* ReadSelectedBtn = nullptr;
  QPushButton* FlashSelectedBtn = nullptr;
  QPushButton* EraseSelectedBtn = nullptr;
  QPushButton* CheckBlanks = nullptr;
  QPushButton* InvertSelectedBtn = nullptr;
  QPushButton* ShowHideHexBtn = nullptr;
  QPushButton* CreateList = nullptr;
  QPushButton* ReadPartitionBtn = nullptr;
  QStatusBar* MyStatus = nullptr;
  std::array<QLabel*, 3> StatusPanels{};
  QMenu* MyPopup = nullptr;
  QAction* SavePartitionMainItem = nullptr;
  QAction* SavePartitionSpareOnlyItem = nullptr;
  QAction* SavePartitionFull = nullptr;
  QAction* N1 = nullptr;
  QAction* SaveAllPartitionsMainItem = nullptr;
  QAction* SaveAllPartitionsSpareItem = nullptr;
  QAction* SaveAllPartitionsFullItem = nullptr;
  QAction* N2 = nullptr;
  QAction* SaveAsImageFileIem = nullptr;
  QAction* N3 = nullptr;
  QAction* CheckEccItem = nullptr;
  QAction* N4 = nullptr;
  QAction* PhoneTableItem = nullptr;
  QAction* PhoneVolumeItem = nullptr;
  QAction* ExtractFilesItem = nullptr;

 public slots:
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildListPanel();
  void BuildMemoAndButtons();
  void BuildStatusBar();
  void BuildPopup();
  QPushButton* MakeButton(QWidget* parent, FormButton which, const char* name, int y);
  // The widgets take the states of TMainButtons and TGaugeScale.
  void ShowButtons();
  void ShowGauge();
  void SetMarkedFlag(std::size_t row, bool marked);
  void SavePartition(bool saveMain, bool saveRedu);
  void SaveAllPartitions(bool saveMain, bool saveRedu);
  // The chosen folder, or nothing when cancelled.
  std::optional<std::string> FolderDialog();
  // Starts and ends one of the window's own long commands (the ECC check, a phone
  // save or extraction): the command buttons are disabled meanwhile, Esc stops it.
  void WindowCommandStarted(const std::string& status);
  void WindowCommandEnded();
  // The popup row as a row of the loaded table, when there is one.
  std::optional<std::size_t> PopupRow() const;
  // The host's stop byte, or the window's own when the host gave none.
  std::uint8_t& StopByte();

  ImageModel fModel;
  TGlyphList fGlyphs;
  TCoolListView* fListView = nullptr;  // child of this window
  THexForm* fHexForm = nullptr;        // not owned
  TOuterFrame* fOuter = nullptr;       // child of this window
  std::unique_ptr<TSettingsManager> fSettings;
  DeviceServiceTable fNoHost;
  const DeviceServiceTable* fHost = nullptr;
  std::unique_ptr<DeviceCommands> fDevice;
  QStandardItemModel* fHeaderModel = nullptr;
  std::string fWorkFolder;
  std::string fTempImagePath;
  TMainButtons fButtons;
  TGaugeScale fGauge;
  std::array<QPushButton*, kFormButtonCount> fButtonControls{};
  int fPopupRowIndex = -1;
  bool fClosing = false;
  std::uint8_t fOwnStop = 0;
};

}  // namespace orvella
