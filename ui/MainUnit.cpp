#include "ui/MainUnit.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>
#include <new>

#include "image/BlankCheck.h"
#include "image/Export.h"
#include "files/FileIO.h"
#include "image/NandHealth.h"
#include "qtcontract/MemoLines.h"
#include "contract/WorkFolder.h"
#include "settings/SettsMng.h"
#include "settings/WindowSettings.h"
#include "ui/CoolListView.h"
#include "ui/HEXView.h"
#include "ui/HexWindowUnit.h"

namespace orvella {

namespace {

const char* const kCaption = "Processing Samsung i9000-like VESK Full Image Files. Plugin Version 1.04";

struct HeaderSection {
  const char* Text;
  int Glyph;
};
constexpr HeaderSection kHeaderSections[5] = {
    {"Position", GlyphList},
    {"Selected", GlyphSelected},
    {"Partition Name", GlyphName},
    {"Address (Blocks) Range", GlyphAddress},
    {"Size in Bytes (Blocks)", GlyphSize},
};
constexpr int kHeaderMinWidth = 50;
// Widths a stored value is held to, so a damaged store cannot hide or blow up a column.
constexpr int kHeaderMaxWidth = 10000;

const char* const kSavePartitionMainCaption = "Save partition (\"main\" data only) into file...";
const char* const kSavePartitionSpareCaption = "Save partition (\"spare\" data only) into file...";
const char* const kSavePartitionFullCaption = "Save partition (full - main and spare) into file...";

std::string PathBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString PathText(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

void SetupFileDialog(QFileDialog& dialog, const QString& filter, int filterIndex) {
  const QStringList filters = QtNameFilters(filter);
  dialog.setNameFilters(filters);
  if (filterIndex >= 1 && filterIndex <= filters.size()) dialog.selectNameFilter(filters[filterIndex - 1]);
}

}  // namespace

QStringList QtNameFilters(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList result;
  for (qsizetype i = 0; i + 1 < parts.size() || (i < parts.size() && !parts[i].isEmpty()); i += 2) {
    const QString name = parts[i].trimmed();
    QString pattern = i + 1 < parts.size() ? parts[i + 1].trimmed() : QString();
    if (pattern.isEmpty()) pattern = QStringLiteral("*");
    pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
    result << QStringLiteral("%1 (%2)").arg(name.isEmpty() ? QStringLiteral("Files") : name, pattern);
  }
  if (result.isEmpty()) result << QStringLiteral("All files (*)");
  return result;
}

TReraradForm::TReraradForm(const DeviceServiceTable* host, QWidget* parent)
    : QDialog(parent), fHost(host != nullptr ? host : &fNoHost) {
  setObjectName(QStringLiteral("ReraradForm"));
  setWindowTitle(QString::fromLatin1(kCaption));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  // Tahoma 8 points is an 11-pixel character height; the pixel size keeps it so at any DPI.
  // Not a literal: Qt's font cache keeps the family name after the plug-in is unloaded.
  QFont font(QString::fromLatin1("Liberation Sans"));
  font.setPixelSize(11);
  setFont(font);
  BuildControls();
  resize(kDesignClientWidth, kDesignClientHeight);
  fOuter = new TOuterFrame(*this);
  fOuter->SetMinimumOuterSize(QSize(kMinOuterWidth, kMinOuterHeight));
  FormCreate();
}

TReraradForm::~TReraradForm() {
  // Hiding moves the focus, and the list repaints on focus changes: let that happen while
  // the model still exists, then let nothing reach the members being destroyed.
  MemoGroupBox->removeEventFilter(this);
  hide();
  fListView->SetpCoolItemsList(nullptr);
  fListView->OnSelectionChange = nullptr;
  fListView->OnDoubleClick = nullptr;
}

// ---------------------------------------------------------------------------------------
// Layout

void TReraradForm::BuildControls() {
  auto* top = new QVBoxLayout(this);
  top->setContentsMargins(0, 0, 0, 0);
  top->setSpacing(0);
  top->addSpacing(10);

  BuildListPanel();
  auto* listRow = new QHBoxLayout;
  listRow->setContentsMargins(8, 0, 8, 0);
  listRow->addWidget(PartitionsListMainPanel);
  top->addLayout(listRow, 1);

  BuildMemoAndButtons();
  top->addWidget(MemoAndButtonsHolder);
  top->addSpacing(10);

  BuildStatusBar();
  top->addWidget(MyStatus);

  BuildPopup();

  setTabOrder(ReadSelectedBtn, FlashSelectedBtn);
  setTabOrder(FlashSelectedBtn, EraseSelectedBtn);
  setTabOrder(EraseSelectedBtn, CheckBlanks);
  setTabOrder(CheckBlanks, ShowHideHexBtn);
  setTabOrder(ShowHideHexBtn, CreateList);
  setTabOrder(CreateList, ReadPartitionBtn);
  setTabOrder(ReadPartitionBtn, InvertSelectedBtn);
}

void TReraradForm::BuildListPanel() {
  PartitionsListMainPanel = new QWidget(this);
  PartitionsListMainPanel->setObjectName(QStringLiteral("PartitionsListMainPanel"));
  auto* panelLayout = new QVBoxLayout(PartitionsListMainPanel);
  panelLayout->setContentsMargins(0, 0, 0, 0);

  GroupBox2 = new QGroupBox(QStringLiteral(" Partition Table "), PartitionsListMainPanel);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
  panelLayout->addWidget(GroupBox2);
  auto* groupLayout = new QVBoxLayout(GroupBox2);
  groupLayout->setContentsMargins(8, 8, 8, 9);

  Panel00 = new QFrame(GroupBox2);
  Panel00->setObjectName(QStringLiteral("Panel00"));
  Panel00->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel00->setLineWidth(1);
  groupLayout->addWidget(Panel00);
  auto* panel00Layout = new QVBoxLayout(Panel00);
  panel00Layout->setContentsMargins(0, 0, 0, 0);

  ScrollBox00 = new QWidget(Panel00);
  ScrollBox00->setObjectName(QStringLiteral("ScrollBox00"));
  ScrollBox00->setFocusPolicy(Qt::StrongFocus);
  panel00Layout->addWidget(ScrollBox00);
  auto* boxLayout = new QVBoxLayout(ScrollBox00);
  boxLayout->setContentsMargins(0, 0, 0, 0);
  boxLayout->setSpacing(0);

  HeaderControl00 = new QHeaderView(Qt::Horizontal, ScrollBox00);
  HeaderControl00->setObjectName(QStringLiteral("HeaderControl00"));
  fHeaderModel = new QStandardItemModel(0, 5, HeaderControl00);
  for (int i = 0; i < 5; ++i) {
    auto* item = new QStandardItem(fGlyphs.Icon(kHeaderSections[i].Glyph),
                                   QString::fromLatin1(kHeaderSections[i].Text));
    fHeaderModel->setHorizontalHeaderItem(i, item);
  }
  HeaderControl00->setModel(fHeaderModel);
  HeaderControl00->setFixedHeight(23);
  HeaderControl00->setSectionsClickable(false);
  HeaderControl00->setHighlightSections(false);
  HeaderControl00->setStretchLastSection(false);
  HeaderControl00->setMinimumSectionSize(kHeaderMinWidth);
  HeaderControl00->setSectionResizeMode(QHeaderView::Interactive);
  HeaderControl00->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (int i = 0; i < 5; ++i) HeaderControl00->resizeSection(i, kDesignColumnWidths[static_cast<std::size_t>(i)]);
  boxLayout->addWidget(HeaderControl00);

  auto* rowLayout = new QHBoxLayout;
  rowLayout->setContentsMargins(0, 0, 0, 0);
  rowLayout->setSpacing(0);
  PaintBox00 = new QWidget(ScrollBox00);
  PaintBox00->setObjectName(QStringLiteral("PaintBox00"));
  PaintBox00->setAttribute(Qt::WA_OpaquePaintEvent);
  rowLayout->addWidget(PaintBox00, 1);
  ScrollBar00 = new QScrollBar(Qt::Vertical, ScrollBox00);
  ScrollBar00->setObjectName(QStringLiteral("ScrollBar00"));
  ScrollBar00->setFixedWidth(17);
  // The list may be squeezed to its header at the minimum window height.
  ScrollBar00->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
  rowLayout->addWidget(ScrollBar00);
  boxLayout->addLayout(rowLayout, 1);
}

QPushButton* TReraradForm::MakeButton(QWidget* parent, const char* name, const QString& caption,
                                      int y, int glyph, bool enabled) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(10, y, 154, 23);
  button->setAutoDefault(false);
  button->setIconSize(QSize(kGlyphSize, kGlyphSize));
  SetButtonImage(button, glyph);
  button->setEnabled(enabled);
  return button;
}

void TReraradForm::BuildMemoAndButtons() {
  MemoAndButtonsHolder = new QWidget(this);
  MemoAndButtonsHolder->setObjectName(QStringLiteral("MemoAndButtonsHolder"));
  MemoAndButtonsHolder->setFixedHeight(347);
  auto* holderLayout = new QHBoxLayout(MemoAndButtonsHolder);
  holderLayout->setContentsMargins(8, 10, 8, 0);
  holderLayout->setSpacing(8);

  MemoGroupBox = new QGroupBox(MemoAndButtonsHolder);
  MemoGroupBox->setObjectName(QStringLiteral("MemoGroupBox"));
  MemoGroupBox->installEventFilter(this);
  holderLayout->addWidget(MemoGroupBox, 1);

  GroupBox1 = new QGroupBox(MemoAndButtonsHolder);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setFixedWidth(174);
  holderLayout->addWidget(GroupBox1);

  MyMemo = new QPlainTextEdit(MemoGroupBox);
  MyMemo->setObjectName(QStringLiteral("MyMemo"));
  MyMemo->setGeometry(6, 20, 812, 213);
  MyMemo->setReadOnly(true);
  MyMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  sLabel2 = new QLabel(QStringLiteral("Source Image File Name:"), MemoGroupBox);
  sLabel2->setObjectName(QStringLiteral("sLabel2"));
  sLabel2->move(10, 239);
  sLabel2->adjustSize();

  ImageName = new QLineEdit(MemoGroupBox);
  ImageName->setObjectName(QStringLiteral("ImageName"));
  ImageName->setGeometry(9, 256, 815, 20);

  Panel6 = new QFrame(MemoGroupBox);
  Panel6->setObjectName(QStringLiteral("Panel6"));
  Panel6->setGeometry(801, 258, 21, 16);
  Panel6->setAutoFillBackground(true);
  QPalette white = Panel6->palette();
  white.setColor(QPalette::Window, Qt::white);
  Panel6->setPalette(white);
  auto* panel6Layout = new QVBoxLayout(Panel6);
  panel6Layout->setContentsMargins(0, 0, 0, 0);
  SelectImageFile = new QPushButton(QStringLiteral("..."), Panel6);
  SelectImageFile->setObjectName(QStringLiteral("SelectImageFile"));
  SelectImageFile->setFocusPolicy(Qt::NoFocus);
  SelectImageFile->setAutoDefault(false);
  SelectImageFile->setMinimumSize(0, 0);
  SelectImageFile->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  SelectImageFile->setStyleSheet(QStringLiteral("QPushButton { padding: 0px; }"));
  panel6Layout->addWidget(SelectImageFile);
  Panel6->raise();

  GaugePanel = new QFrame(MemoGroupBox);
  GaugePanel->setObjectName(QStringLiteral("GaugePanel"));
  GaugePanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  GaugePanel->setLineWidth(1);
  GaugePanel->setGeometry(9, 282, 814, 19);
  auto* gaugeLayout = new QVBoxLayout(GaugePanel);
  gaugeLayout->setContentsMargins(0, 0, 0, 0);
  MyGauge = new QProgressBar(GaugePanel);
  MyGauge->setObjectName(QStringLiteral("MyGauge"));
  MyGauge->setRange(0, 1);
  MyGauge->setValue(0);
  MyGauge->setFormat(QStringLiteral("%p%"));
  MyGauge->setTextVisible(true);
  MyGauge->setAlignment(Qt::AlignCenter);
  MyGauge->setStyleSheet(QStringLiteral(
      "QProgressBar { background-color: black; color: blue; border: none; }"
      "QProgressBar::chunk { background-color: navy; }"));
  gaugeLayout->addWidget(MyGauge);

  EnableECCBtn = new QCheckBox(QStringLiteral("Enable ECC when Flashing"), MemoGroupBox);
  EnableECCBtn->setObjectName(QStringLiteral("EnableECCBtn"));
  EnableECCBtn->setGeometry(9, 314, 153, 17);
  // The design box is for Tahoma; it grows where this font's caption needs more room,
  // so no descender or letter is cut off.
  EnableECCBtn->resize(EnableECCBtn->size().expandedTo(EnableECCBtn->sizeHint()));
  EnableECCBtn->setChecked(false);

  ReadSelectedBtn = MakeButton(GroupBox1, "ReadSelectedBtn", QStringLiteral("Read Selected"), 116, GlyphReadMain, false);
  FlashSelectedBtn = MakeButton(GroupBox1, "FlashSelectedBtn", QStringLiteral("Flash Selected"), 141, GlyphFlash, false);
  EraseSelectedBtn = MakeButton(GroupBox1, "EraseSelectedBtn", QStringLiteral("Erase Selected"), 166, GlyphErase, false);
  CheckBlanks = MakeButton(GroupBox1, "CheckBlanks", QStringLiteral("Check for Blank"), 191, GlyphBlankCheck, false);
  InvertSelectedBtn = MakeButton(GroupBox1, "InvertSelectedBtn", QStringLiteral("Invert Selection"), 217, GlyphInvert, false);
  ShowHideHexBtn = MakeButton(GroupBox1, "ShowHideHexBtn", QStringLiteral("&Show/Hide HEX"), 254, GlyphHex, true);
  CreateList = MakeButton(GroupBox1, "CreateList", QStringLiteral("&Make Partitions from File"), 279, GlyphList, true);
  ReadPartitionBtn = MakeButton(GroupBox1, "ReadPartitionBtn", QStringLiteral("&Get Partitions from Device"), 304, GlyphDevice, true);

  connect(SelectImageFile, &QPushButton::clicked, this, [this] { SelectImageFileClick(); });
  connect(ReadSelectedBtn, &QPushButton::clicked, this, [this] { fDevice->ReadSelectedBtnClick(); });
  connect(FlashSelectedBtn, &QPushButton::clicked, this, [this] { fDevice->FlashSelectedBtnClick(); });
  connect(EraseSelectedBtn, &QPushButton::clicked, this, [this] { fDevice->EraseSelectedBtnClick(); });
  connect(ReadPartitionBtn, &QPushButton::clicked, this, [this] { fDevice->ReadPartitionBtnClick(); });
  connect(CreateList, &QPushButton::clicked, this, [this] { CreateListClick(CreateList); });
  connect(CheckBlanks, &QPushButton::clicked, this, [this] { CheckBlanksClick(); });
  connect(InvertSelectedBtn, &QPushButton::clicked, this, [this] { InvertSelectedBtnClick(); });
  connect(ShowHideHexBtn, &QPushButton::clicked, this, [this] { ShowHideHexBtnClick(); });
}

void TReraradForm::BuildStatusBar() {
  MyStatus = new QStatusBar(this);
  MyStatus->setObjectName(QStringLiteral("MyStatus"));
  MyStatus->setFixedHeight(21);
  MyStatus->setSizeGripEnabled(false);
  for (std::size_t i = 0; i < StatusPanels.size(); ++i) {
    auto* panel = new QLabel(MyStatus);
    panel->setObjectName(QStringLiteral("MyStatusPanel%1").arg(i));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setFixedWidth(kDesignStatusWidths[i]);
    panel->setContentsMargins(2, 0, 2, 0);
    MyStatus->addWidget(panel);
    StatusPanels[i] = panel;
  }
}

void TReraradForm::BuildPopup() {
  MyPopup = new QMenu(this);
  MyPopup->setObjectName(QStringLiteral("MyPopup"));
  // A popup is a window of its own and does not inherit the window's font.
  MyPopup->setFont(font());
  auto add = [this](const char* name, const char* caption, int glyph, void (TReraradForm::*handler)()) {
    QAction* action = MyPopup->addAction(fGlyphs.Icon(glyph), QString::fromLatin1(caption));
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    return action;
  };
  SavePartitionMainItem = add("SavePartitionMainItem", kSavePartitionMainCaption, GlyphReadMain,
                              &TReraradForm::SavePartitionMainItemClick);
  SavePartitionSpareOnlyItem = add("SavePartitionSpareOnlyItem", kSavePartitionSpareCaption,
                                   GlyphSaveSpare, &TReraradForm::SavePartitionSpareOnlyItemClick);
  SavePartitionFull = add("SavePartitionFull", kSavePartitionFullCaption, GlyphSaveFull,
                          &TReraradForm::SavePartitionFullClick);
  N1 = MyPopup->addSeparator();
  N1->setObjectName(QStringLiteral("N1"));
  SaveAllPartitionsMainItem = add("SaveAllPartitionsMainItem",
                                  "Save all paritions (\"main\" data only) into separate files...",
                                  GlyphReadMain, &TReraradForm::SaveAllPartitionsMainItemClick);
  SaveAllPartitionsSpareItem = add("SaveAllPartitionsSpareItem",
                                   "Save all paritions (\"spare\" data only) into separate files...",
                                   GlyphSaveSpare, &TReraradForm::SaveAllPartitionsSpareItemClick);
  SaveAllPartitionsFullItem = add("SaveAllPartitionsFullItem",
                                  "Save all paritions (full - main and spare) into separate files...",
                                  GlyphSaveFull, &TReraradForm::SaveAllPartitionsFullItemClick);
  N2 = MyPopup->addSeparator();
  N2->setObjectName(QStringLiteral("N2"));
  SaveAsImageFileIem = add("SaveAsImageFileIem", "Save as VESK FullFlash Image File...", GlyphReadMain,
                           &TReraradForm::SaveAsImageFileIemClick);
  N3 = MyPopup->addSeparator();
  N3->setObjectName(QStringLiteral("N3"));
  CheckEccItem = add("CheckEccItem", kCheckEccCaption, GlyphBlankCheck, &TReraradForm::CheckEccItemClick);
  fDesignPopupCaptions = {QString::fromLatin1(kSavePartitionMainCaption),
                          QString::fromLatin1(kSavePartitionSpareCaption),
                          QString::fromLatin1(kSavePartitionFullCaption)};
}

// ---------------------------------------------------------------------------------------
// Buttons

QPushButton* TReraradForm::DeviceButtonControl(DeviceButton which) const {
  switch (which) {
    case DeviceButton::FlashSelectedBtn: return FlashSelectedBtn;
    case DeviceButton::ReadSelectedBtn: return ReadSelectedBtn;
    case DeviceButton::EraseSelectedBtn: return EraseSelectedBtn;
    case DeviceButton::ReadPartitionBtn: return ReadPartitionBtn;
  }
  return nullptr;
}

void TReraradForm::SetButtonImage(QPushButton* button, int imageIndex) {
  button->setIcon(fGlyphs.Icon(imageIndex));
  button->setProperty("ImageIndex", imageIndex);
}

int TReraradForm::ButtonImage(const QPushButton* button) const {
  const QVariant v = button->property("ImageIndex");
  return v.isValid() ? v.toInt() : -1;
}

// ---------------------------------------------------------------------------------------
// Handlers

void TReraradForm::FormCreate() {
  // Qt paints every widget double-buffered already; nothing to switch on.
  fModel.PartitionItems.Count = 0;

  fListView = new TCoolListView(this, ScrollBox00, PaintBox00, ScrollBar00, HeaderControl00, 14,
                                QString::fromLatin1("Courier New"));
  fListView->OnSelectionChange = [this](int itemIndex, int button, int x, int y) {
    OnSelectionChange(itemIndex, button, x, y);
  };
  fListView->OnDoubleClick = [this](QObject* sender) { OnDoubleClick(sender); };
  fListView->SetMultiThreadRepaint(false);
  fListView->SetRowHeightIncrease(2);
  fListView->SetBottomTextMargin(0);

  QPalette memo = MyMemo->palette();
  memo.setColor(QPalette::Base, QColor(0x40, 0x40, 0x40));
  memo.setColor(QPalette::Text, QColor(0xE0, 0xE0, 0xE0));
  MyMemo->setPalette(memo);

  // The folder of the executable, or the per-user folder the host also falls back to.
  fWorkFolder = orvella::WorkFolder();
  if (fWorkFolder.empty()) fWorkFolder = PathBytes(QCoreApplication::applicationDirPath());
  if (fWorkFolder.empty() || fWorkFolder.back() != '/') fWorkFolder += '/';
  fTempImagePath = fWorkFolder + kTempImageName;

  fSettings = std::make_unique<TSettingsManager>();

  for (DeviceButton b : {DeviceButton::ReadPartitionBtn, DeviceButton::FlashSelectedBtn,
                         DeviceButton::ReadSelectedBtn, DeviceButton::EraseSelectedBtn}) {
    Idle(b).Caption = ButtonCaption(b);
    Idle(b).ImageIndex = ButtonImage(DeviceButtonControl(b));
  }
  fDevice = std::make_unique<DeviceCommands>(*this, *fHost);
}

void TReraradForm::FormShow() { CreateList->setFocus(); }

void TReraradForm::FormResize() {
  const int memoWidth = std::max(0, MemoGroupBox->width() - 2 * MyMemo->x() - 2);
  MyMemo->resize(memoWidth, MyMemo->height());
  GaugePanel->resize(memoWidth, GaugePanel->height());
  ImageName->resize(memoWidth, ImageName->height());
  Panel6->move(ImageName->x() + ImageName->width() - Panel6->width() - 2, Panel6->y());
  const int outerWidth = fOuter != nullptr ? fOuter->OuterGeometry().width() : width();
  StatusPanels[0]->setFixedWidth(
      std::max(0, outerWidth - StatusPanels[1]->width() - StatusPanels[2]->width() - 50));
}

bool TReraradForm::FormClose() {
  // The command writes into the working copy that closing deletes: stop it first. The
  // check reads it and runs on this window's stack.
  if (fDevice->CommandRunning() || fChecking) {
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
  for (QPushButton* b : {CreateList, CheckBlanks, InvertSelectedBtn, ReadPartitionBtn,
                         FlashSelectedBtn, EraseSelectedBtn, ReadSelectedBtn})
    b->setEnabled(false);
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
    CheckBlanks->setEnabled(true);
    CreateList->setEnabled(true);
    InvertSelectedBtn->setEnabled(true);
    ReadPartitionBtn->setEnabled(true);
    GaugeSetPos(0);
    fListView->Refresh();
    if (fromCreateList) CreateList->setFocus();
  } else {
    GaugeSetPos(0);
    CreateList->setEnabled(true);
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
  if (Button != mbRight || fChecking) return;

  fPopupRowIndex = ItemIndex;
  const QString quoted = QStringLiteral("\"%1\" ").arg(QString::fromStdString(fModel.PartitionRows[k].PartitionName));
  const std::array<QAction*, 3> items = {SavePartitionMainItem, SavePartitionSpareOnlyItem, SavePartitionFull};
  for (std::size_t i = 0; i < items.size(); ++i) {
    QString caption = fDesignPopupCaptions[i];  // "Save partition ..."
    caption.insert(5, quoted);
    items[i]->setText(caption);
  }
  // The check reads the working copy a device command may be writing.
  CheckEccItem->setEnabled(!fDevice->CommandRunning());
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
  // The check keeps the buttons disabled; it calls this when it ends.
  if (fChecking) return;
  const int cursor = ItemIndex();
  if (cursor == -1) {
    FlashSelectedBtn->setEnabled(false);
    EraseSelectedBtn->setEnabled(false);
    ReadSelectedBtn->setEnabled(false);
    return;
  }
  for (DeviceButton b : {DeviceButton::FlashSelectedBtn, DeviceButton::EraseSelectedBtn,
                         DeviceButton::ReadSelectedBtn})
    if (ButtonCaption(b) != Idle(b).Caption) return;
  FlashSelectedBtn->setEnabled(true);
  EraseSelectedBtn->setEnabled(true);
  ReadSelectedBtn->setEnabled(true);
  if (fModel.AnyMarked()) {
    ReadSelectedBtn->setText(QStringLiteral("Read Selected"));
    FlashSelectedBtn->setText(QStringLiteral("Flash Selected"));
    EraseSelectedBtn->setText(QStringLiteral("Erase Selected"));
  } else {
    const QString number = QString::number(cursor + 1);
    ReadSelectedBtn->setText(QStringLiteral("Read Partition") + number);
    FlashSelectedBtn->setText(QStringLiteral("Flash Partition") + number);
    EraseSelectedBtn->setText(QStringLiteral("Erase Partition") + number);
  }
  for (DeviceButton b : {DeviceButton::FlashSelectedBtn, DeviceButton::EraseSelectedBtn,
                         DeviceButton::ReadSelectedBtn})
    Idle(b).Caption = ButtonCaption(b);
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
  if (fChecking || fDevice->CommandRunning() || fModel.CurrentImageFile.empty()) return;
  const std::string path = fModel.CurrentImageFile;
  const std::array<QPushButton*, 7> buttons = {CreateList, CheckBlanks, InvertSelectedBtn,
                                               ReadPartitionBtn, FlashSelectedBtn,
                                               EraseSelectedBtn, ReadSelectedBtn};
  std::array<bool, 7> wasEnabled{};
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    wasEnabled[i] = buttons[i]->isEnabled();
    buttons[i]->setEnabled(false);
  }
  fChecking = true;
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
  fChecking = false;
  for (std::size_t i = 0; i < buttons.size(); ++i) buttons[i]->setEnabled(wasEnabled[i]);
  UpdateEnabledButtons();
}

// ---------------------------------------------------------------------------------------
// Device window

int TReraradForm::ItemIndex() const { return fListView != nullptr ? fListView->ItemIndex() : -1; }

std::string TReraradForm::ButtonCaption(DeviceButton button) const {
  return DeviceButtonControl(button)->text().toStdString();
}

void TReraradForm::SetButtonCaption(DeviceButton button, const std::string& caption) {
  DeviceButtonControl(button)->setText(QString::fromStdString(caption));
}

void TReraradForm::SetButtonImageIndex(DeviceButton button, int imageIndex) {
  SetButtonImage(DeviceButtonControl(button), imageIndex);
}

void TReraradForm::CreateListClick(DeviceButton sender) { CreateListClick(DeviceButtonControl(sender)); }

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

// ---------------------------------------------------------------------------------------
// Qt events

void TReraradForm::done(int result) {
  if (fClosing) return;
  fClosing = true;
  const bool close = FormClose();
  fClosing = false;
  if (close) QDialog::done(result);
}

void TReraradForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormResize();
  FormShow();
}

void TReraradForm::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  FormResize();
}

void TReraradForm::keyPressEvent(QKeyEvent* event) {
  // The window closes only by its close box; Enter presses the focused button.
  if (event->key() == Qt::Key_Escape) {
    if (fChecking) StopByte() = 1;
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button != nullptr && button->isEnabled())
      button->click();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool TReraradForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == MemoGroupBox && event->type() == QEvent::Resize) FormResize();
  return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------
// Window port

// The host writes into the memo too; both go through contract/MemoLines.h.
QStringList TReraradForm::LogLines() const { return MemoLines(*MyMemo); }

void TReraradForm::LogClear() { MyMemo->clear(); }

void TReraradForm::LogAdd(const std::string& line) {
  MemoAddLine(*MyMemo, QString::fromStdString(line));
}

void TReraradForm::LogReplaceLast(const std::string& line) {
  MemoReplaceLastLine(*MyMemo, QString::fromStdString(line));
}

void TReraradForm::LogRedraw() { MyMemo->viewport()->repaint(); }

// The host moves the bar itself during a transfer, adding the bytes it moved to the
// bar's value and stopping at its maximum. So the bar counts in the same units as
// MaxValue: its range is MaxValue itself. Only a MaxValue beyond the bar's int range is
// halved until it fits (fGaugeShift); the host's byte steps are then not scaled and the
// bar fills early, which only totals of 2 GiB and more can cause. A MaxValue of 0 or
// less shows an empty bar (range 0 to 1; Qt would draw range 0 to 0 as busy).
void TReraradForm::ShowGauge() {
  const std::int64_t max = std::max<std::int64_t>(fGaugeMax, 0);
  fGaugeShift = 0;
  while ((max >> fGaugeShift) > std::numeric_limits<int>::max()) ++fGaugeShift;
  const int barMax = max > 0 ? static_cast<int>(max >> fGaugeShift) : 1;
  const std::int64_t pos = std::clamp<std::int64_t>(fGaugePos, 0, max);
  MyGauge->setRange(0, barMax);
  MyGauge->setValue(std::min(barMax, static_cast<int>(pos >> fGaugeShift)));
}

std::int64_t TReraradForm::GaugePos() const {
  // The host may have moved the bar since the window last set it.
  const int shown = MyGauge->value();
  const std::int64_t max = std::max<std::int64_t>(fGaugeMax, 0);
  const std::int64_t mine = std::clamp<std::int64_t>(fGaugePos, 0, max) >> fGaugeShift;
  if (shown == std::min<std::int64_t>(mine, MyGauge->maximum())) return fGaugePos;
  return std::int64_t{std::max(shown, 0)} << fGaugeShift;
}

void TReraradForm::GaugeSetMax(std::int64_t maxValue) {
  fGaugePos = GaugePos();
  fGaugeMax = maxValue;
  ShowGauge();
}

void TReraradForm::GaugeSetPos(std::int64_t position) {
  fGaugePos = position;
  ShowGauge();
}

void TReraradForm::SetStatusText(int panel, const std::string& text) {
  if (panel < 0 || panel >= static_cast<int>(StatusPanels.size())) return;
  StatusPanels[static_cast<std::size_t>(panel)]->setText(QString::fromStdString(text));
}

void TReraradForm::ProcessMessages() { QCoreApplication::processEvents(); }

void TReraradForm::ErrorBox(const std::string& text) {
  const QString message = QString::fromStdString(text);
  if (Hooks.ErrorBox) {
    Hooks.ErrorBox(message);
    return;
  }
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), message, QMessageBox::Ok, this);
  box.exec();
}

std::optional<std::string> TReraradForm::SaveDialog(const SaveDialogRequest& request) {
  std::optional<QString> chosen;
  if (Hooks.SaveDialog) {
    chosen = Hooks.SaveDialog(request);
  } else {
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("SaveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setSizeGripEnabled(true);
    SetupFileDialog(dialog, QString::fromStdString(request.Filter), request.FilterIndex);
    QString suffix = QString::fromStdString(request.DefaultExt);
    if (suffix.startsWith(QStringLiteral("*."))) suffix.remove(0, 2);
    if (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      chosen = dialog.selectedFiles().first();
  }
  if (!chosen) return std::nullopt;
  return PathBytes(*chosen);
}

std::optional<std::string> TReraradForm::InputBox(const std::string& caption,
                                                  const std::string& prompt,
                                                  const std::string& initial) {
  const QString c = QString::fromStdString(caption);
  const QString p = QString::fromStdString(prompt);
  const QString i = QString::fromStdString(initial);
  if (Hooks.InputBox) {
    const std::optional<QString> answer = Hooks.InputBox(c, p, i);
    if (!answer) return std::nullopt;
    return answer->toStdString();
  }
  // Over the window the user works in: the hex window asks from its views.
  QWidget* parent = this;
  if (fHexForm != nullptr && fHexForm->isActiveWindow()) parent = fHexForm;
  bool ok = false;
  const QString text = QInputDialog::getText(parent, c, p, QLineEdit::Normal, i, &ok);
  if (!ok) return std::nullopt;
  return text.toStdString();
}

void TReraradForm::Sleep(int milliseconds) {
  if (Hooks.Sleep) {
    Hooks.Sleep(milliseconds);
    return;
  }
  if (milliseconds <= 0) return;
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

// ---------------------------------------------------------------------------------------
// Settings

void TReraradForm::ReadSettings() {
  const int sections = HeaderControl00->count();
  const WindowGeometryValues v = ReadWindowSettings(*fSettings, sections);
  if (v.SourceFile) ImageName->setText(QString::fromStdString(*v.SourceFile));
  fOuter->SetOuterGeometry(v.FormX, v.FormY, v.FormW, v.FormH);
  if (fHexForm != nullptr)
    fHexForm->OuterFrame().SetOuterGeometry(v.HexFormX, v.HexFormY, v.HexFormW, v.HexFormH);
  for (int i = 0; i < sections && static_cast<std::size_t>(i) < v.HeaderWidths.size(); ++i) {
    if (const auto width = v.HeaderWidths[static_cast<std::size_t>(i)])
      HeaderControl00->resizeSection(i, std::clamp(*width, kHeaderMinWidth, kHeaderMaxWidth));
  }
}

void TReraradForm::SaveSettings() {
  ConfigureWindowSettingsStore(*fSettings);
  WindowGeometryValues v;
  v.SourceFile = ImageName->text().toStdString();
  const QRect main = fOuter->OuterGeometry();
  v.FormX = main.x();
  v.FormY = main.y();
  v.FormW = main.width();
  v.FormH = main.height();
  if (fHexForm != nullptr) {
    const QRect hex = fHexForm->OuterFrame().OuterGeometry();
    v.HexFormX = hex.x();
    v.HexFormY = hex.y();
    v.HexFormW = hex.width();
    v.HexFormH = hex.height();
  }
  for (int i = 0; i < HeaderControl00->count(); ++i) v.HeaderWidths.push_back(HeaderControl00->sectionSize(i));
  WriteWindowSettings(*fSettings, v);
}

}  // namespace orvella
