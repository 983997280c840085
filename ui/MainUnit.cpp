#include "ui/MainUnit.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>

#include "contract/WorkFolder.h"
#include "settings/SettsMng.h"
#include "settings/WindowSettings.h"
#include "ui/CoolListView.h"
#include "ui/HexWindowUnit.h"
#include "ui/PathText.h"

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

}  // namespace

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

QPushButton* TReraradForm::MakeButton(QWidget* parent, FormButton which, const char* name, int y) {
  auto* button = new QPushButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(10, y, 154, 23);
  button->setAutoDefault(false);
  button->setIconSize(QSize(kGlyphSize, kGlyphSize));
  fButtonControls[static_cast<std::size_t>(which)] = button;
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
  // The platform's own look: its text stays readable over the empty and the filled bar.
  gaugeLayout->addWidget(MyGauge);

  EnableECCBtn = new QCheckBox(QStringLiteral("Enable ECC when Flashing"), MemoGroupBox);
  EnableECCBtn->setObjectName(QStringLiteral("EnableECCBtn"));
  EnableECCBtn->setGeometry(9, 314, 153, 17);
  // The design box is for Tahoma; it grows where this font's caption needs more room,
  // so no descender or letter is cut off.
  EnableECCBtn->resize(EnableECCBtn->size().expandedTo(EnableECCBtn->sizeHint()));
  EnableECCBtn->setChecked(false);

  ReadSelectedBtn = MakeButton(GroupBox1, FormButton::ReadSelected, "ReadSelectedBtn", 116);
  FlashSelectedBtn = MakeButton(GroupBox1, FormButton::FlashSelected, "FlashSelectedBtn", 141);
  EraseSelectedBtn = MakeButton(GroupBox1, FormButton::EraseSelected, "EraseSelectedBtn", 166);
  CheckBlanks = MakeButton(GroupBox1, FormButton::CheckBlanks, "CheckBlanks", 191);
  InvertSelectedBtn = MakeButton(GroupBox1, FormButton::InvertSelected, "InvertSelectedBtn", 217);
  ShowHideHexBtn = MakeButton(GroupBox1, FormButton::ShowHideHex, "ShowHideHexBtn", 254);
  CreateList = MakeButton(GroupBox1, FormButton::CreateList, "CreateList", 279);
  ReadPartitionBtn = MakeButton(GroupBox1, FormButton::ReadPartition, "ReadPartitionBtn", 304);
  ShowButtons();

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
  SavePartitionMainItem = add("SavePartitionMainItem", PartitionItemCaption(0).c_str(), GlyphReadMain,
                              &TReraradForm::SavePartitionMainItemClick);
  SavePartitionSpareOnlyItem = add("SavePartitionSpareOnlyItem", PartitionItemCaption(1).c_str(),
                                   GlyphSaveSpare, &TReraradForm::SavePartitionSpareOnlyItemClick);
  SavePartitionFull = add("SavePartitionFull", PartitionItemCaption(2).c_str(), GlyphSaveFull,
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
  N4 = MyPopup->addSeparator();
  N4->setObjectName(QStringLiteral("N4"));
  PhoneTableItem = add("PhoneTableItem", PhoneItemCaption(PhoneItem::Table).c_str(), GlyphList,
                       &TReraradForm::PhoneTableItemClick);
  PhoneVolumeItem = add("PhoneVolumeItem", PhoneItemCaption(PhoneItem::Volume).c_str(), GlyphReadMain,
                        &TReraradForm::PhoneVolumeItemClick);
  ExtractFilesItem = add("ExtractFilesItem", PhoneItemCaption(PhoneItem::Files).c_str(), GlyphSaveFull,
                         &TReraradForm::ExtractFilesItemClick);
}


// ---------------------------------------------------------------------------------------
// Start-up

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
    if (fButtons.Checking()) StopByte() = 1;
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
