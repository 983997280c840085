// The main window's layout as designed, and the window port: log, gauge, status panels.

#include "MainWindowFixture.h"

namespace orvella::testing {
namespace {

// ---------------------------------------------------------------------------------------
// Layout

TEST_F(MainWindowTest, WindowCaptionFontAndTitleBarButtons) {
  EXPECT_EQ(w->windowTitle(), "Processing Samsung i9000-like VESK Full Image Files. Plugin Version 1.04");
  EXPECT_TRUE(w->windowFlags().testFlag(Qt::WindowCloseButtonHint));
  EXPECT_TRUE(w->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(w->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_EQ(w->font().family(), "Liberation Sans");
  EXPECT_EQ(w->font().pixelSize(), 11);
  // The popup is a window of its own; it shows the window's font all the same.
  EXPECT_EQ(w->MyPopup->font(), w->font());
  // The designed client size, unless the minimum outer height asks for more (a thin frame).
  const int frameHeight = w->frameGeometry().height() - w->height();
  EXPECT_EQ(w->size(), QSize(1031, std::max(590, kMinOuterHeight - frameHeight)));
  EXPECT_EQ(w->PartitionsListMainPanel->height(), w->height() - 10 - 347 - 10 - 21);
  EXPECT_EQ(w->HeaderControl00->height(), 23);
  EXPECT_EQ(w->ScrollBar00->width(), 17);
  EXPECT_EQ(w->MemoAndButtonsHolder->height(), 347);
  EXPECT_EQ(w->GroupBox1->width(), 174);
  EXPECT_EQ(w->MyStatus->height(), 21);
  EXPECT_EQ(w->GroupBox2->title(), " Partition Table ");
  // Spacers: 10 at the top and above the status bar, 8 at the sides.
  EXPECT_EQ(w->PartitionsListMainPanel->geometry().topLeft(), QPoint(8, 10));
  EXPECT_EQ(w->PartitionsListMainPanel->width(), 1031 - 16);
  EXPECT_EQ(w->MyStatus->y() - (w->MemoAndButtonsHolder->y() + 347), 10);
  EXPECT_EQ(w->MemoGroupBox->x(), 8);
  EXPECT_EQ(w->GroupBox1->x() + 174 + 8, 1031);
  EXPECT_EQ(w->GroupBox1->x() - (w->MemoGroupBox->x() + w->MemoGroupBox->width()), 8);
}

TEST_F(MainWindowTest, EveryControlCarriesItsName) {
  const std::map<QString, const char*> expected = {
      {"PartitionsListMainPanel", "QWidget"}, {"GroupBox2", "QGroupBox"},
      {"Panel00", "QFrame"}, {"ScrollBox00", "QWidget"}, {"HeaderControl00", "QHeaderView"},
      {"PaintBox00", "QWidget"}, {"ScrollBar00", "QScrollBar"},
      {"MemoAndButtonsHolder", "QWidget"}, {"GroupBox1", "QGroupBox"},
      {"MemoGroupBox", "QGroupBox"}, {"MyMemo", "QPlainTextEdit"}, {"sLabel2", "QLabel"},
      {"ImageName", "QLineEdit"}, {"Panel6", "QFrame"}, {"SelectImageFile", "QPushButton"},
      {"GaugePanel", "QFrame"}, {"MyGauge", "QProgressBar"}, {"EnableECCBtn", "QCheckBox"},
      {"MyStatus", "QStatusBar"}, {"MyPopup", "QMenu"}};
  for (const auto& [name, type] : expected) {
    QObject* o = w->findChild<QObject*>(name);
    ASSERT_NE(o, nullptr) << name.toStdString();
    EXPECT_TRUE(o->inherits(type)) << name.toStdString() << " is " << o->metaObject()->className();
  }
  EXPECT_EQ(w->sLabel2->text(), "Source Image File Name:");
  EXPECT_EQ(w->SelectImageFile->text(), "...");
  EXPECT_EQ(w->SelectImageFile->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(w->EnableECCBtn->text(), "Enable ECC when Flashing");
  EXPECT_FALSE(w->EnableECCBtn->isChecked());
  // The design box, grown where its caption needs more in this font: the descender of
  // "Flashing" is not cut off.
  EXPECT_EQ(w->EnableECCBtn->pos(), QPoint(9, 314));
  EXPECT_GE(w->EnableECCBtn->width(), std::max(153, w->EnableECCBtn->sizeHint().width()));
  EXPECT_GE(w->EnableECCBtn->height(), std::max(17, w->EnableECCBtn->sizeHint().height()));
  EXPECT_EQ(w->MyMemo->geometry().topLeft(), QPoint(6, 20));
  EXPECT_EQ(w->ImageName->geometry().topLeft(), QPoint(9, 256));
  EXPECT_EQ(w->GaugePanel->geometry().topLeft(), QPoint(9, 282));
  EXPECT_EQ(w->sLabel2->pos(), QPoint(10, 239));
  EXPECT_EQ(w->Panel6->size(), QSize(21, 16));
  EXPECT_EQ(w->Panel6->y(), 258);
}

struct ButtonRow {
  const char* Name;
  const char* Caption;
  int Y;
  int Glyph;
  bool Enabled;
};

TEST_F(MainWindowTest, CommandButtonsAsDesigned) {
  const ButtonRow rows[] = {
      {"ReadSelectedBtn", "Read Selected", 116, 3, false},
      {"FlashSelectedBtn", "Flash Selected", 141, 12, false},
      {"EraseSelectedBtn", "Erase Selected", 166, 9, false},
      {"CheckBlanks", "Check for Blank", 191, 21, false},
      {"InvertSelectedBtn", "Invert Selection", 217, 32, false},
      {"ShowHideHexBtn", "&Show/Hide HEX", 254, 50, true},
      {"CreateList", "&Make Partitions from File", 279, 40, true},
      {"ReadPartitionBtn", "&Get Partitions from Device", 304, 42, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    auto* b = w->GroupBox1->findChild<QPushButton*>(row.Name);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->text(), row.Caption);
    EXPECT_EQ(b->geometry(), QRect(10, row.Y, 154, 23));
    EXPECT_EQ(w->ButtonImage(b), row.Glyph);
    EXPECT_EQ(ImageOf(b->icon()), w->GlyphImages().Pixmap(row.Glyph).toImage());
    EXPECT_EQ(b->isEnabled(), row.Enabled);
  }
  // Tab order.
  const std::vector<QString> order = {"ReadSelectedBtn", "FlashSelectedBtn", "EraseSelectedBtn",
                                      "CheckBlanks", "ShowHideHexBtn", "CreateList",
                                      "ReadPartitionBtn", "InvertSelectedBtn"};
  std::vector<QString> seen;
  QWidget* at = w->ReadSelectedBtn;
  do {
    if (qobject_cast<QPushButton*>(at) != nullptr && at->focusPolicy() != Qt::NoFocus)
      seen.push_back(at->objectName());
    at = at->nextInFocusChain();
  } while (at != w->ReadSelectedBtn && seen.size() < order.size());
  EXPECT_EQ(seen, order);
  // The idle looks remembered at creation.
  EXPECT_EQ(w->Idle(DeviceButton::ReadPartitionBtn).Caption, "&Get Partitions from Device");
  EXPECT_EQ(w->Idle(DeviceButton::ReadPartitionBtn).ImageIndex, 42);
  EXPECT_EQ(w->Idle(DeviceButton::FlashSelectedBtn).ImageIndex, 12);
  EXPECT_EQ(w->Idle(DeviceButton::ReadSelectedBtn).ImageIndex, 3);
  EXPECT_EQ(w->Idle(DeviceButton::EraseSelectedBtn).Caption, "Erase Selected");
}

// The list font is sized by its character cell, so the columns hold what they were
// designed for: every range reads whole at the design width of 420 pixels, measured in
// the font the list draws with, and no glyph crosses the grid line between two rows.
TEST_F(MainWindowTest, AddressColumnShowsWholeValuesAndTextStaysInItsRowBand) {
  Load(image);
  const TCoolListView& list = *w->ListView();
  ASSERT_EQ(w->HeaderControl00->sectionSize(3), 420);
  QImage scratch(8, 8, QImage::Format_RGB32);
  const TImageSurface metrics(scratch, list.ListFont());
  const auto& rows = w->Model().PartitionRows;
  ASSERT_FALSE(rows.empty());
  for (const auto& row : rows) {
    QString shown;
    for (const auto& piece : LayoutHexCell(9, row.AddressRange, 0, 420, ExtraWidthsFor(12), metrics))
      shown += QString::fromStdString(piece.Text);
    EXPECT_TRUE(shown.startsWith("0x") && shown.endsWith(")") && !shown.contains("..."))
        << row.PartitionName << ": " << shown.toStdString();
  }

  const QImage& surface = list.Surface();
  const int pitch = list.RowPitch();
  ASSERT_GE(list.WholeLines(), static_cast<int>(rows.size()));
  for (int line = 1; line <= static_cast<int>(rows.size()); ++line) {
    int ink = 0;
    for (int x = 0; x < surface.width(); ++x)
      if (surface.pixelColor(x, line * pitch) != ColorFromRef(kColorBacklines)) ++ink;
    EXPECT_EQ(ink, 0) << "text crosses the grid line below row " << line;
  }
}

TEST_F(MainWindowTest, HeaderSectionsAndPopupItems) {
  const char* texts[] = {"Position", "Selected", "Partition Name", "Address (Blocks) Range",
                         "Size in Bytes (Blocks)"};
  const int glyphs[] = {40, 39, 38, 43, 41};
  QAbstractItemModel* model = w->HeaderControl00->model();
  ASSERT_EQ(w->HeaderControl00->count(), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(model->headerData(i, Qt::Horizontal).toString(), texts[i]);
    EXPECT_EQ(ImageOf(model->headerData(i, Qt::Horizontal, Qt::DecorationRole).value<QIcon>()),
              w->GlyphImages().Pixmap(glyphs[i]).toImage());
    EXPECT_EQ(w->HeaderControl00->sectionSize(i), kDesignColumnWidths[static_cast<std::size_t>(i)]);
  }
  EXPECT_EQ(w->HeaderControl00->minimumSectionSize(), 50);

  struct Item {
    const char* Name;
    const char* Caption;
    int Glyph;
  };
  const Item items[] = {
      {"SavePartitionMainItem", "Save partition (\"main\" data only) into file...", 3},
      {"SavePartitionSpareOnlyItem", "Save partition (\"spare\" data only) into file...", 5},
      {"SavePartitionFull", "Save partition (full - main and spare) into file...", 4},
      {"N1", "", -1},
      {"SaveAllPartitionsMainItem", "Save all paritions (\"main\" data only) into separate files...", 3},
      {"SaveAllPartitionsSpareItem", "Save all paritions (\"spare\" data only) into separate files...", 5},
      {"SaveAllPartitionsFullItem", "Save all paritions (full - main and spare) into separate files...", 4},
      {"N2", "", -1},
      {"SaveAsImageFileIem", "Save as VESK FullFlash Image File...", 3},
      {"N3", "", -1},
      {"CheckEccItem", "Check ECC and Bad Blocks...", 21},
      {"N4", "", -1},
      {"PhoneTableItem", "Show Table and Bad-Block Map", 40},
      {"PhoneVolumeItem", "Save Partition as the Phone Reads It...", 3},
      {"ExtractFilesItem", "Extract Files...", 4},
  };
  const QList<QAction*> actions = w->MyPopup->actions();
  ASSERT_EQ(actions.size(), static_cast<qsizetype>(std::size(items)));
  for (int i = 0; i < static_cast<int>(std::size(items)); ++i) {
    SCOPED_TRACE(items[i].Name);
    EXPECT_EQ(actions[i]->objectName(), items[i].Name);
    EXPECT_EQ(actions[i]->isSeparator(), items[i].Glyph < 0);
    if (items[i].Glyph < 0) continue;
    EXPECT_EQ(actions[i]->text(), items[i].Caption);
    EXPECT_EQ(ImageOf(actions[i]->icon()), w->GlyphImages().Pixmap(items[i].Glyph).toImage());
  }
}

// The luminance of a pixel, 0 to 255.
int Luminance(QRgb c) { return (qRed(c) * 299 + qGreen(c) * 587 + qBlue(c) * 114) / 1000; }

// The strongest contrast between the gauge's percentage text and the bar under it: the
// bar drawn with and without its text, compared where the text changed pixels.
int TextContrast(QProgressBar& gauge) {
  gauge.setTextVisible(false);
  const QImage bare = gauge.grab().toImage();
  gauge.setTextVisible(true);
  const QImage text = gauge.grab().toImage();
  int contrast = 0;
  for (int y = 0; y < text.height(); ++y)
    for (int x = 0; x < text.width(); ++x)
      contrast = std::max(contrast, std::abs(Luminance(text.pixel(x, y)) - Luminance(bare.pixel(x, y))));
  return contrast;
}

TEST_F(MainWindowTest, MemoColoursAndAGaugeInThePlatformsLook) {
  EXPECT_EQ(w->MyMemo->palette().color(QPalette::Base), QColor(0x40, 0x40, 0x40));
  EXPECT_EQ(w->MyMemo->palette().color(QPalette::Text), QColor(0xE0, 0xE0, 0xE0));
  EXPECT_TRUE(w->MyMemo->isReadOnly());

  // No colours of its own: the platform's style draws the bar and its text, which stays
  // readable over the empty bar, over the filled one and across both.
  EXPECT_TRUE(w->MyGauge->styleSheet().isEmpty());
  EXPECT_TRUE(w->MyGauge->isTextVisible());
  w->GaugeSetMax(100);
  for (const int percent : {0, 50, 100}) {
    w->GaugeSetPos(percent);
    EXPECT_EQ(w->MyGauge->text(), QStringLiteral("%1%").arg(percent));
    EXPECT_GE(TextContrast(*w->MyGauge), 128) << percent << "%";
  }
}

// ---------------------------------------------------------------------------------------
// Window port

TEST_F(MainWindowTest, LogKeepsLinesIncludingEmptyOnes) {
  w->LogClear();
  EXPECT_TRUE(w->LogLines().isEmpty());
  w->LogReplaceLast("first");
  EXPECT_EQ(w->LogLines(), QStringList{"first"});
  w->LogClear();
  w->LogAdd("");
  EXPECT_EQ(w->LogLines(), QStringList{""});
  w->LogAdd("Checking...");
  w->LogReplaceLast("Checking...3/16");
  EXPECT_EQ(w->LogLines(), (QStringList{"", "Checking...3/16"}));
  w->LogAdd("");
  w->LogReplaceLast("x");
  EXPECT_EQ(w->LogLines(), (QStringList{"", "Checking...3/16", "x"}));
}

// The host writes into the same memo (contract/MemoLines.h): a lone empty line of the
// window stays a line of its own, and a clear by anyone empties the log.
TEST_F(MainWindowTest, LogSharedWithTheHostKeepsItsEmptyLine) {
  w->LogClear();
  w->LogAdd("");
  MemoAddLine(*w->MyMemo, "Erasing 0x00100000 bytes at 0x00080000...");
  MemoReplaceLastLine(*w->MyMemo, "Erasing 0x00100000 bytes at 0x00080000: done.");
  EXPECT_EQ(w->LogLines(), (QStringList{"", "Erasing 0x00100000 bytes at 0x00080000: done."}));
  w->LogClear();
  w->LogAdd("");
  w->MyMemo->clear();
  EXPECT_TRUE(w->LogLines().isEmpty());
  w->LogAdd("after");
  EXPECT_EQ(w->LogLines(), QStringList{"after"});
}

// The host adds the bytes it moved to the bar's value, up to its maximum: the bar counts
// in MaxValue's units, and the window reads the host's steps back.
TEST_F(MainWindowTest, GaugeCountsInMaxValueUnitsForTheHost) {
  w->GaugeSetPos(0);
  w->GaugeSetMax(0x18C000);
  EXPECT_EQ(w->MyGauge->maximum(), 0x18C000);
  w->MyGauge->setValue(w->MyGauge->value() + 0x10800);
  EXPECT_EQ(w->GaugePos(), 0x10800);
  EXPECT_EQ(w->MyGauge->text(), "4%");
  w->GaugeSetPos(0);
  EXPECT_EQ(w->MyGauge->value(), 0);
  // Beyond the bar's int range the maximum is halved until it fits.
  const std::int64_t big = std::int64_t{1} << 32;
  w->GaugeSetMax(big);
  EXPECT_EQ(w->MyGauge->maximum(), 1 << 30);
  w->GaugeSetPos(big / 2);
  EXPECT_EQ(w->GaugePos(), big / 2);
  EXPECT_EQ(w->MyGauge->text(), "50%");
}

struct GaugeCase {
  std::int64_t Max;
  std::int64_t Pos;
  int Percent;
};

TEST_F(MainWindowTest, GaugeScalesSixtyFourBitValues) {
  const GaugeCase cases[] = {{0, 0, 0},     {100, 50, 50},   {std::int64_t{1} << 40, std::int64_t{1} << 39, 50},
                             {10, 20, 100}, {10, -5, 0},     {3, 1, 33}};
  for (const auto& c : cases) {
    w->GaugeSetMax(c.Max);
    w->GaugeSetPos(c.Pos);
    EXPECT_EQ(w->GaugeMax(), c.Max);
    EXPECT_EQ(w->GaugePos(), c.Pos);
    EXPECT_EQ(w->MyGauge->text(), QStringLiteral("%1%").arg(c.Percent)) << c.Max << " " << c.Pos;
    EXPECT_NEAR(w->MyGauge->value() * 100.0 / w->MyGauge->maximum(), c.Percent, 1.0);
  }
}

TEST_F(MainWindowTest, StatusPanelsTakeTexts) {
  w->SetStatusText(0, "Complete OK");
  w->SetStatusText(2, "x");
  w->SetStatusText(3, "ignored");
  w->SetStatusText(-1, "ignored");
  EXPECT_EQ(w->StatusPanels[0]->text(), "Complete OK");
  EXPECT_EQ(w->StatusPanels[1]->text(), "");
  EXPECT_EQ(w->StatusPanels[2]->text(), "x");
}

}  // namespace
}  // namespace orvella::testing
