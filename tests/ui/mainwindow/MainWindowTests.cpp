// The main window driven through its controls by name: layout, load, marks and captions,
// popup, device-button freeze, resizing, exports and the blank check against the core.

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <map>

#include "Harness.h"
#include "image/BlankCheck.h"
#include "image/Export.h"
#include "files/FileIO.h"
#include "image/RecordingPort.h"
#include "support/EccImage.h"
#include "qtcontract/MemoLines.h"
#include "ui/Colors.h"
#include "ui/CoolListView.h"
#include "ui/ListDrawing.h"
#include "ui/ListSurface.h"

namespace orvella::testing {
namespace {

QImage ImageOf(const QIcon& icon) { return icon.pixmap(kGlyphSize, kGlyphSize).toImage(); }

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    image = dir.filePath("sample.bin").toStdString();
    std::string error;
    ASSERT_TRUE(WriteSampleImage(image, error)) << error;
    app = std::make_unique<PluginStartUp>(HostTable());
    w = app->Main.get();
    w->Hooks.ErrorBox = [this](const QString& text) { errorBoxes << text; };
    w->Hooks.Popup = [this](const QPoint& at) { popups.push_back(at); };
    w->Hooks.SaveDialog = [this](const SaveDialogRequest& r) -> std::optional<QString> {
      requests.push_back(r);
      if (answers.empty()) return std::nullopt;
      QString a = answers.front();
      answers.pop_front();
      return a;
    };
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  }

  // The host's service table the window gets; none by default.
  virtual const DeviceServiceTable* HostTable() { return nullptr; }

  void Load(const std::string& path) {
    w->ImageName->setText(QString::fromStdString(path));
    w->CreateList->click();
  }

  QPoint RowPoint(int row) const {
    const int pitch = w->ListView()->RowPitch();
    return {30, row * pitch + pitch / 2};
  }
  void ClickRow(int row, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(w->PaintBox00, button, {}, RowPoint(row));
  }
  // As the platform delivers it: press and release, then the second press as a double-click.
  void DoubleClickRow(int row) {
    QTest::mouseClick(w->PaintBox00, Qt::LeftButton, {}, RowPoint(row));
    QTest::mouseDClick(w->PaintBox00, Qt::LeftButton, {}, RowPoint(row));
  }

  std::vector<std::string> Captions() const {
    return {w->ReadSelectedBtn->text().toStdString(), w->FlashSelectedBtn->text().toStdString(),
            w->EraseSelectedBtn->text().toStdString()};
  }
  std::vector<bool> SelectionButtonsEnabled() const {
    return {w->ReadSelectedBtn->isEnabled(), w->FlashSelectedBtn->isEnabled(),
            w->EraseSelectedBtn->isEnabled()};
  }
  std::vector<bool> Marks() const {
    std::vector<bool> m;
    for (const auto& item : w->Model().PartitionItems.Items) m.push_back(item.Selected);
    return m;
  }
  int RowNamed(const std::string& name) const {
    const auto& rows = w->Model().PartitionRows;
    for (std::size_t k = 0; k < rows.size(); ++k)
      if (rows[k].PartitionName == name) return static_cast<int>(k);
    return -1;
  }

  QTemporaryDir dir;
  std::string image;
  std::unique_ptr<PluginStartUp> app;
  TReraradForm* w = nullptr;
  QStringList errorBoxes;
  std::vector<QPoint> popups;
  std::vector<SaveDialogRequest> requests;
  std::deque<QString> answers;
};

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
  };
  const QList<QAction*> actions = w->MyPopup->actions();
  ASSERT_EQ(actions.size(), 11);
  for (int i = 0; i < 11; ++i) {
    SCOPED_TRACE(items[i].Name);
    EXPECT_EQ(actions[i]->objectName(), items[i].Name);
    EXPECT_EQ(actions[i]->isSeparator(), items[i].Glyph < 0);
    if (items[i].Glyph < 0) continue;
    EXPECT_EQ(actions[i]->text(), items[i].Caption);
    EXPECT_EQ(ImageOf(actions[i]->icon()), w->GlyphImages().Pixmap(items[i].Glyph).toImage());
  }
}

TEST_F(MainWindowTest, MemoAndGaugeColours) {
  EXPECT_EQ(w->MyMemo->palette().color(QPalette::Base), QColor(0x40, 0x40, 0x40));
  EXPECT_EQ(w->MyMemo->palette().color(QPalette::Text), QColor(0xE0, 0xE0, 0xE0));
  EXPECT_TRUE(w->MyMemo->isReadOnly());

  w->GaugeSetMax(100);
  w->GaugeSetPos(50);
  const QImage g = w->MyGauge->grab().toImage();
  // Bar in navy on the left half, black background on the right half.
  EXPECT_EQ(QColor(g.pixel(3, g.height() / 2)), QColor(0, 0, 0x80));
  EXPECT_EQ(QColor(g.pixel(g.width() - 3, g.height() / 2)), QColor(Qt::black));
  int blue = 0;
  for (int x = 0; x < g.width(); ++x)
    for (int y = 0; y < g.height(); ++y) {
      const QColor c(g.pixel(x, y));
      if (c.blue() > 0xC0 && c.red() < 0x40 && c.green() < 0x40) ++blue;
    }
  EXPECT_GT(blue, 5) << "the percentage text is drawn in blue";
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

// ---------------------------------------------------------------------------------------
// Load

TEST_F(MainWindowTest, SuccessfulLoadEnablesButtonsAndPutsCursorOnRowZero) {
  Load(image);
  EXPECT_EQ(w->ItemIndex(), 0);
  EXPECT_EQ(w->Model().PartitionItems.Count, 6);
  EXPECT_EQ(w->ListView()->pCoolItemsList(), &w->Model().PartitionItems);
  for (QPushButton* b : {w->CheckBlanks, w->CreateList, w->InvertSelectedBtn, w->ReadPartitionBtn,
                         w->ReadSelectedBtn, w->FlashSelectedBtn, w->EraseSelectedBtn, w->ShowHideHexBtn})
    EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Read Partition1", "Flash Partition1", "Erase Partition1"}));
  EXPECT_EQ(w->GaugePos(), 0);
  EXPECT_EQ(w->focusWidget(), w->CreateList);
  EXPECT_TRUE(errorBoxes.isEmpty());
  // Both hex views show BOOT (blocks 0 and 1).
  EXPECT_EQ(app->Hex->MainView()->ChunkLength(), 2 * kBlockSize);
  EXPECT_EQ(app->Hex->SpareView()->ChunkLength(), 2 * kBlockSize / 32);
  // The log holds the load's lines only (the memo was cleared first).
  const QStringList log = w->LogLines();
  ASSERT_FALSE(log.isEmpty());
  EXPECT_EQ(log.first(), "Detected NAND Page = 0x1000 bytes");
}

struct FailedLoadCase {
  const char* Label;
  bool WriteFile;          // a file without a table; else no file at all
  const char* LogLine;     // expected last log line, or empty
  const char* ErrorBox;    // expected error box, or empty
};

class FailedLoadTest : public MainWindowTest, public ::testing::WithParamInterface<FailedLoadCase> {};

TEST_P(FailedLoadTest, LeavesListEmptyAndOnlyCreateListEnabled) {
  const FailedLoadCase& c = GetParam();
  Load(image);  // a successful load first: the failed one must not leave its rows behind
  ASSERT_EQ(w->ItemIndex(), 0);
  const std::string bad = dir.filePath("bad.bin").toStdString();
  if (c.WriteFile) {
    QFile f(QString::fromStdString(bad));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(3 * kBlockSize, '\0'));
  }
  Load(bad);
  EXPECT_EQ(w->ItemIndex(), -1);
  EXPECT_EQ(w->Model().PartitionItems.Count, 0);
  EXPECT_TRUE(w->Model().PartitionRows.empty());
  EXPECT_TRUE(w->Model().CurrentImageFile.empty());
  EXPECT_TRUE(w->CreateList->isEnabled());
  EXPECT_TRUE(w->ShowHideHexBtn->isEnabled());
  for (QPushButton* b : {w->CheckBlanks, w->InvertSelectedBtn, w->ReadPartitionBtn,
                         w->ReadSelectedBtn, w->FlashSelectedBtn, w->EraseSelectedBtn})
    EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
  EXPECT_EQ(w->focusWidget(), w->CreateList);
  EXPECT_EQ(w->GaugePos(), 0);
  EXPECT_EQ(app->Hex->MainView()->ChunkLength(), 0);
  EXPECT_EQ(app->Hex->SpareView()->ChunkLength(), 0);
  if (*c.LogLine != '\0') {
    ASSERT_FALSE(w->LogLines().isEmpty());
    EXPECT_EQ(w->LogLines().last(), c.LogLine);
  }
  if (*c.ErrorBox != '\0') {
    EXPECT_EQ(errorBoxes, QStringList{c.ErrorBox});
  } else {
    EXPECT_TRUE(errorBoxes.isEmpty());
  }
  // Marking and inverting an empty list changes nothing and does not crash.
  w->InvertSelectedBtnClick();
  w->OnDoubleClick(w->PaintBox00);
  EXPECT_TRUE(Marks().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Window, FailedLoadTest,
    ::testing::Values(FailedLoadCase{"missing", false, "ERROR: Specified file does not exist!!!", ""},
                      FailedLoadCase{"no_table", true, "", "ERROR: Cannot find PIT Partition Table."}),
    [](const ::testing::TestParamInfo<FailedLoadCase>& p) { return std::string(p.param.Label); });

TEST_F(MainWindowTest, SelectImageFileOnlyFillsTheName) {
  std::vector<std::pair<QString, int>> asked;
  std::optional<QString> answer = QStringLiteral("/chosen/image.bin");
  w->Hooks.OpenDialog = [&](const QString& filter, int index) {
    asked.emplace_back(filter, index);
    return answer;
  };
  w->SelectImageFile->click();
  EXPECT_EQ(w->ImageName->text(), "/chosen/image.bin");
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].first, "VESK Full Image Files |*.bin");
  EXPECT_EQ(asked[0].second, 1);
  EXPECT_EQ(w->Model().PartitionItems.Count, 0) << "nothing is loaded yet";
  answer.reset();
  w->SelectImageFileClick();
  EXPECT_EQ(w->ImageName->text(), "/chosen/image.bin") << "a cancelled dialog keeps the name";
}

TEST_F(MainWindowTest, LoadStartedByTheGetTableCommandKeepsLogAndPath) {
  w->ImageName->setText("/not/this/one.bin");
  w->Model().CurrentImageFile = image;
  w->LogAdd("from the device");
  w->ScrollBox00->setFocus();
  w->CreateListClick(DeviceButton::ReadPartitionBtn);
  EXPECT_EQ(w->LogLines().first(), "from the device");
  EXPECT_EQ(w->Model().CurrentImageFile, image);
  EXPECT_EQ(w->ItemIndex(), 0);
  EXPECT_EQ(w->focusWidget(), w->ScrollBox00) << "the focus goes back to CreateList only for its own press";
}

TEST(FileDialogFilters, CommandFiltersBecomeQtNameFilters) {
  EXPECT_EQ(QtNameFilters("Binary files |*.bin"), QStringList{"Binary files (*.bin)"});
  EXPECT_EQ(QtNameFilters("Partition Name Prefix|"), QStringList{"Partition Name Prefix (*)"});
  EXPECT_EQ(QtNameFilters("VESK BOX FullFlash Image Files |*.bin"),
            QStringList{"VESK BOX FullFlash Image Files (*.bin)"});
  EXPECT_EQ(QtNameFilters("A|*.a|B|*.b;*.c"), (QStringList{"A (*.a)", "B (*.b *.c)"}));
  EXPECT_EQ(QtNameFilters(""), QStringList{"All files (*)"});
}

// ---------------------------------------------------------------------------------------
// Marks and captions

TEST_F(MainWindowTest, CaptionsFollowMarksAndCursor) {
  Load(image);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Read Partition1", "Flash Partition1", "Erase Partition1"}));
  ClickRow(2);
  EXPECT_EQ(w->ItemIndex(), 2);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Read Partition3", "Flash Partition3", "Erase Partition3"}));

  DoubleClickRow(4);
  EXPECT_EQ(w->ItemIndex(), 4);
  EXPECT_EQ(Marks(), (std::vector<bool>{false, false, false, false, true, false}));
  EXPECT_EQ(w->Model().PartitionRows[4].CheckedType, "+");
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Read Selected", "Flash Selected", "Erase Selected"}));
  // The idle captions follow, so the run/stop cycle sees an idle button.
  EXPECT_EQ(w->Idle(DeviceButton::ReadSelectedBtn).Caption, "Read Selected");

  ClickRow(1);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Read Selected", "Flash Selected", "Erase Selected"}));

  ClickRow(4);
  DoubleClickRow(4);  // unmarks the last mark
  EXPECT_EQ(Marks(), std::vector<bool>(6, false));
  EXPECT_EQ(w->Model().PartitionRows[4].CheckedType, "");
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Read Partition5", "Flash Partition5", "Erase Partition5"}));
  EXPECT_EQ(w->Idle(DeviceButton::FlashSelectedBtn).Caption, "Flash Partition5");
  EXPECT_EQ(SelectionButtonsEnabled(), std::vector<bool>(3, true));
}

TEST_F(MainWindowTest, DoubleClickWithoutCursorChangesNothing) {
  Load(image);
  const int rows = w->Model().PartitionItems.Count;
  ClickRow(rows + 1);  // below the last row: no cursor
  ASSERT_EQ(w->ItemIndex(), -1);
  EXPECT_EQ(SelectionButtonsEnabled(), std::vector<bool>(3, false));
  const auto captions = Captions();
  DoubleClickRow(rows + 1);
  w->OnDoubleClick(w->PaintBox00);
  EXPECT_EQ(w->ItemIndex(), -1);
  EXPECT_EQ(Marks(), std::vector<bool>(6, false));
  EXPECT_EQ(Captions(), captions);
  EXPECT_EQ(SelectionButtonsEnabled(), std::vector<bool>(3, false));
}

TEST_F(MainWindowTest, InvertSelectionCaptionsTheButtonsForTheNewMarks) {
  Load(image);
  DoubleClickRow(0);
  DoubleClickRow(2);
  ASSERT_EQ(Marks(), (std::vector<bool>{true, false, true, false, false, false}));
  // Unmark both again through invert twice would hide the rule; start from marks 1 and 3.
  w->InvertSelectedBtn->click();
  EXPECT_EQ(Marks(), (std::vector<bool>{false, true, false, true, true, true}));
  std::vector<std::string> checked;
  for (const auto& row : w->Model().PartitionRows) checked.push_back(row.CheckedType);
  EXPECT_EQ(checked, (std::vector<std::string>{"", "+", "", "+", "+", "+"}));

  // From no marks inverting marks every row, and the buttons say so at once: an erase
  // now erases all of them, not the cursor's partition alone.
  for (int k = 0; k < 6; ++k) w->Model().SetMarked(static_cast<std::size_t>(k), false);
  ClickRow(1);
  ASSERT_EQ(Captions(), (std::vector<std::string>{"Read Partition2", "Flash Partition2", "Erase Partition2"}));
  w->InvertSelectedBtn->click();
  EXPECT_EQ(Marks(), std::vector<bool>(6, true));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Read Selected", "Flash Selected", "Erase Selected"}));
  // And back: no row marked names the cursor row again.
  w->InvertSelectedBtn->click();
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Read Partition2", "Flash Partition2", "Erase Partition2"}));
}

// ---------------------------------------------------------------------------------------
// Popup and hex views

TEST_F(MainWindowTest, RightClickOnEfsRenamesItemsAndRemembersTheRow) {
  Load(image);
  const int efs = RowNamed("EFS");
  ASSERT_EQ(efs, 3);
  ClickRow(efs, Qt::LeftButton);
  EXPECT_TRUE(popups.empty()) << "a left click opens no menu";

  ClickRow(efs, Qt::RightButton);
  ASSERT_EQ(popups.size(), 1u);
  EXPECT_EQ(w->PopupRowIndex(), efs);
  EXPECT_EQ(w->SavePartitionMainItem->text(), "Save \"EFS\" partition (\"main\" data only) into file...");
  EXPECT_EQ(w->SavePartitionSpareOnlyItem->text(), "Save \"EFS\" partition (\"spare\" data only) into file...");
  EXPECT_EQ(w->SavePartitionFull->text(), "Save \"EFS\" partition (full - main and spare) into file...");
  EXPECT_EQ(w->SaveAllPartitionsMainItem->text(), "Save all paritions (\"main\" data only) into separate files...");
  EXPECT_EQ(w->SaveAsImageFileIem->text(), "Save as VESK FullFlash Image File...");
  // EFS: blocks 9 to 16 on a 64-block chip.
  EXPECT_EQ(app->Hex->MainView()->ChunkLength(), 8 * kBlockSize);
  EXPECT_EQ(app->Hex->SpareView()->ChunkLength(), 8 * kBlockSize / 32);

  // Another row renames from the design captions, not from the previous names.
  ClickRow(0, Qt::RightButton);
  EXPECT_EQ(w->PopupRowIndex(), 0);
  EXPECT_EQ(w->SavePartitionMainItem->text(), "Save \"BOOT\" partition (\"main\" data only) into file...");
  EXPECT_EQ(popups.size(), 2u);
}

TEST_F(MainWindowTest, RightClickBelowTheLastRowEmptiesHexViewsAndOpensNoMenu) {
  Load(image);
  ASSERT_GT(app->Hex->MainView()->ChunkLength(), 0);
  const int rows = w->Model().PartitionItems.Count;
  ASSERT_LT(RowPoint(rows).y(), w->PaintBox00->height()) << "the paint box shows space below the rows";
  ClickRow(rows, Qt::RightButton);
  EXPECT_TRUE(popups.empty());
  EXPECT_EQ(w->ItemIndex(), -1);
  EXPECT_EQ(app->Hex->MainView()->ChunkLength(), 0);
  EXPECT_EQ(app->Hex->SpareView()->ChunkLength(), 0);
  EXPECT_EQ(w->PopupRowIndex(), -1);
}

// A table that places partitions past the end of a 16-block image, one of them beyond
// 4 GiB, where a 32-bit offset would wrap onto block 2: their hex views stay empty
// rather than show another partition's bytes.
TEST_F(MainWindowTest, PartitionsPastTheImageOrBeyond4GiBLeaveTheHexViewsEmpty) {
  const std::string odd = dir.filePath("odd.bin").toStdString();
  std::string error;
  ASSERT_TRUE(WriteFullImage(odd, ImageSpec{4, {{"A", 2}, {"B", 20}, {"W", 0x3FEC}, {"V", 1}},
                                            ImageFill::Pattern},
                             error))
      << error;
  Load(odd);
  ASSERT_EQ(w->Model().PartitionItems.Count, 4);
  ASSERT_EQ(w->Model().PartitionRows[3].BegBlock, 0x4002u);
  const struct {
    int row;
    std::int64_t main, spare;
  } kViews[] = {{0, 2 * kBlockSize, 2 * kBlockSize / 32}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}};
  for (const auto& v : kViews) {
    ClickRow(v.row);
    ASSERT_EQ(w->ItemIndex(), v.row);
    EXPECT_EQ(app->Hex->MainView()->ChunkLength(), v.main) << "row " << v.row;
    EXPECT_EQ(app->Hex->SpareView()->ChunkLength(), v.spare) << "row " << v.row;
  }
  EXPECT_TRUE(errorBoxes.isEmpty());
}

TEST_F(MainWindowTest, RealPopupOpensAtThePoint) {
  Load(image);
  w->Hooks.Popup = nullptr;
  const QPoint at = w->mapToGlobal(QPoint(100, 60));
  w->OnSelectionChange(3, mbRight, at.x(), at.y());
  EXPECT_TRUE(w->MyPopup->isVisible());
  EXPECT_EQ(w->MyPopup->pos(), at);
  w->MyPopup->hide();
}

TEST_F(MainWindowTest, ShowHideHexTogglesTheHexWindow) {
  EXPECT_FALSE(app->Hex->isVisible());
  w->ShowHideHexBtn->click();
  EXPECT_TRUE(app->Hex->isVisible());
  w->ShowHideHexBtn->click();
  EXPECT_FALSE(app->Hex->isVisible());
  // Enter presses the focused button; Escape does not close the window.
  w->ShowHideHexBtn->setFocus();
  QTest::keyClick(w, Qt::Key_Return);
  EXPECT_TRUE(app->Hex->isVisible());
  QTest::keyClick(w, Qt::Key_Escape);
  EXPECT_TRUE(w->isVisible());
}

// ---------------------------------------------------------------------------------------
// Resizing and closing

TEST_F(MainWindowTest, ResizeKeepsMemoRowInsideAndSizesStatusPanelZero) {
  const QSize frame = w->frameGeometry().size() - w->size();
  w->resize(1000 - frame.width(), 700 - frame.height());
  QCoreApplication::processEvents();
  ASSERT_EQ(w->frameGeometry().width(), 1000);
  EXPECT_EQ(w->StatusPanels[0]->width(), 730);
  EXPECT_EQ(w->StatusPanels[1]->width(), 170);
  EXPECT_EQ(w->StatusPanels[2]->width(), 50);
  EXPECT_EQ(w->MyMemo->width(), w->MemoGroupBox->width() - 2 * 6 - 2);
  EXPECT_EQ(w->ImageName->width(), w->MyMemo->width());
  EXPECT_EQ(w->GaugePanel->width(), w->MyMemo->width());
  EXPECT_EQ(w->Panel6->x() + w->Panel6->width(), w->ImageName->x() + w->ImageName->width() - 2);

  w->resize(300, 300);
  QCoreApplication::processEvents();
  EXPECT_GE(w->frameGeometry().width(), kMinOuterWidth);
  EXPECT_GE(w->frameGeometry().height(), kMinOuterHeight);
}

TEST_F(MainWindowTest, CloseHidesHexWindowAndDeletesTemporaryImage) {
  const QString temp = QString::fromStdString(w->TempImagePath());
  EXPECT_TRUE(temp.endsWith("/$tGL0Image.$$$"));
  EXPECT_TRUE(QString::fromStdString(w->WorkFolder()).endsWith('/'));
  {
    QFile f(temp);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
  }
  Load(image);
  w->LogAdd("kept");
  app->Hex->show();
  w->close();
  EXPECT_FALSE(w->isVisible());
  EXPECT_FALSE(app->Hex->isVisible());
  EXPECT_FALSE(QFile::exists(temp));
  // Closing releases nothing: the list and the log are there at the next showing.
  EXPECT_EQ(w->Model().PartitionItems.Count, 6);
  EXPECT_EQ(w->LogLines().last(), "kept");
  // A missing temporary image is no failure.
  w->show();
  w->close();
  EXPECT_FALSE(w->isVisible());
  EXPECT_TRUE(errorBoxes.isEmpty());
}

// ---------------------------------------------------------------------------------------
// Exports and blank check against the core driven by a recording port

struct CoreRun {
  ImageModel Model;
  RecordingPort Port;
};

std::map<QString, QByteArray> FilesIn(const QString& folder) {
  std::map<QString, QByteArray> files;
  for (const QString& name : QDir(folder).entryList(QDir::Files)) files[name] = ReadAll(folder + "/" + name);
  return files;
}

std::vector<std::string> Lines(const QStringList& l) {
  std::vector<std::string> v;
  for (const QString& s : l) v.push_back(s.toStdString());
  return v;
}

TEST_F(MainWindowTest, PopupExportsMatchTheCoreCommands) {
  ASSERT_TRUE(QDir(dir.path()).mkpath("window"));
  ASSERT_TRUE(QDir(dir.path()).mkpath("core"));
  const QString wdir = dir.filePath("window"), cdir = dir.filePath("core");
  Load(image);
  ClickRow(3, Qt::RightButton);  // EFS
  answers = {wdir + "/all", wdir + "/one", wdir + "/spare", wdir + "/image.bin"};
  w->SaveAllPartitionsFullItem->trigger();
  w->SavePartitionMainItem->trigger();
  w->SavePartitionSpareOnlyItem->trigger();
  w->SaveAsImageFileIem->trigger();
  answers.clear();
  w->SaveAllPartitionsMainItem->trigger();  // cancelled: nothing written

  CoreRun core;
  ASSERT_TRUE(core.Model.LoadImageFileAndProcessIt(image, core.Port));
  for (const char* a : {"/all", "/one", "/spare", "/image.bin"})
    core.Port.SaveAnswers.push_back((cdir + a).toStdString());
  SaveAllPartitionsDataIntoFile(core.Model, core.Port, true, true);
  SavePartitionDataIntoFile(core.Model, core.Port, 3, true, false);
  SavePartitionDataIntoFile(core.Model, core.Port, 3, false, true);
  SaveAsImageFile(core.Model, core.Port);
  SaveAllPartitionsDataIntoFile(core.Model, core.Port, true, false);

  const auto windowFiles = FilesIn(wdir);
  EXPECT_EQ(windowFiles.size(), 6u + 1u + 1u + 1u);
  EXPECT_TRUE(windowFiles == FilesIn(cdir)) << "same names and contents";
  EXPECT_EQ(windowFiles.count("one000000240000_EFS.bin"), 1u);
  EXPECT_EQ(windowFiles.at("image.bin"), ReadAll(QString::fromStdString(image)));

  EXPECT_EQ(Lines(w->LogLines()), core.Port.Log);
  EXPECT_EQ(w->LogLines().last(), "Saving to File...OK");
  EXPECT_EQ(w->StatusPanels[0]->text().toStdString(), core.Port.Status[0]);
  EXPECT_EQ(w->GaugePos(), core.Port.Pos);
  ASSERT_EQ(requests.size(), core.Port.SaveRequests.size());
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].Filter, core.Port.SaveRequests[i].Filter);
    EXPECT_EQ(requests[i].FilterIndex, core.Port.SaveRequests[i].FilterIndex);
    EXPECT_EQ(requests[i].DefaultExt, core.Port.SaveRequests[i].DefaultExt);
  }
  EXPECT_TRUE(errorBoxes.isEmpty());
}

TEST_F(MainWindowTest, ExportFailureReachesTheErrorBox) {
  Load(image);
  ClickRow(1, Qt::RightButton);
  answers = {dir.filePath("no/such/folder/x")};
  w->SavePartitionFullClick();
  ASSERT_EQ(errorBoxes.size(), 1);
  EXPECT_TRUE(errorBoxes[0].contains("no/such/folder")) << errorBoxes[0].toStdString();
}

TEST_F(MainWindowTest, BlankCheckMatchesTheCoreCommand) {
  Load(image);
  w->CheckBlanks->click();

  CoreRun core;
  ASSERT_TRUE(core.Model.LoadImageFileAndProcessIt(image, core.Port));
  ASSERT_TRUE(CheckBlanks(core.Model, core.Port));

  EXPECT_EQ(Lines(w->LogLines()), core.Port.Log);
  const QStringList log = w->LogLines();
  const qsizetype at = log.indexOf("Checking which Partition is blank...COMPLETE!");
  ASSERT_GE(at, 1);
  EXPECT_EQ(log[at - 1], "");
  EXPECT_EQ(log.mid(at + 1),
            (QStringList{"Following partitions are found to be completely blank:",
                         "  Partition: PIT at " + QString::fromStdString(w->Model().PartitionRows[1].AddressRange),
                         "  Partition: EFS at " + QString::fromStdString(w->Model().PartitionRows[3].AddressRange),
                         "  Partition: DATA at " + QString::fromStdString(w->Model().PartitionRows[5].AddressRange)}));
  std::vector<bool> blank;
  for (const auto& row : w->Model().PartitionRows) blank.push_back(row.IsBlank);
  EXPECT_EQ(blank, (std::vector<bool>{false, true, false, true, false, true}));
  EXPECT_EQ(w->GaugePos(), 0);
  // The check changes no marks and no button.
  EXPECT_EQ(Marks(), std::vector<bool>(6, false));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Read Partition1", "Flash Partition1", "Erase Partition1"}));
}

// ---------------------------------------------------------------------------------------
// ECC and bad-block check

class CheckEccTest : public MainWindowTest {
 protected:
  // The sample table over data with ECC codes in the spare data, block 40 (in DATA)
  // marked bad, one bit flipped in CSC (block 3), two in one sector of SBL (block 17).
  void MakeWorn() {
    test::MakeEccImage(image, kSampleChipMiB, SampleTable(), "onenand-h512-normal", {40});
    test::FlipSectorBit(image, 3 * 512 + 10, 100);
    test::FlipSectorBit(image, 17 * 512 + 3, 5);
    test::FlipSectorBit(image, 17 * 512 + 3, 3000);
  }

  const DeviceServiceTable* HostTable() override {
    host.stopFlag = &hostStop;
    return &host;
  }

  std::vector<bool> ButtonsEnabled() const {
    std::vector<bool> on;
    for (QPushButton* b : {w->CreateList, w->CheckBlanks, w->InvertSelectedBtn, w->ReadPartitionBtn,
                           w->FlashSelectedBtn, w->EraseSelectedBtn, w->ReadSelectedBtn})
      on.push_back(b->isEnabled());
    return on;
  }

  DeviceServiceTable host;
  std::uint8_t hostStop = 0;

  struct Seen {
    std::vector<bool> Enabled;  // empty: the check never let messages run
    std::int64_t GaugeMax = 0;
    bool Popup = false;
  };

  // Chooses the item from the popup of the CSC row; `during` runs once inside the check,
  // at its first message pump, after a right click on another row.
  Seen RunCheck(const std::function<void()>& during = {}) {
    ClickRow(2, Qt::RightButton);
    Seen seen;
    bool once = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, w, [&] {
      if (!w->CheckRunning()) return;
      seen.GaugeMax = std::max(seen.GaugeMax, w->GaugeMax());
      if (once) return;
      once = true;
      seen.Enabled = ButtonsEnabled();
      const std::size_t opened = popups.size();
      ClickRow(4, Qt::RightButton);
      seen.Popup = popups.size() != opened;
      if (during) during();
    });
    watch.start(0);
    w->CheckEccItem->trigger();
    return seen;
  }
};

TEST_F(CheckEccTest, WornImageReportsLayoutTotalsPartitionsAndBadBlocks) {
  MakeWorn();
  Load(image);
  const std::vector<bool> before = ButtonsEnabled();
  const Seen seen = RunCheck();

  EXPECT_EQ(seen.Enabled, std::vector<bool>(7, false)) << "every command button waits for the check";
  EXPECT_FALSE(seen.Popup) << "no popup while the check runs";
  EXPECT_GT(seen.GaugeMax, 0);
  EXPECT_EQ(ButtonsEnabled(), before);
  EXPECT_EQ(w->GaugePos(), 0);
  EXPECT_TRUE(errorBoxes.isEmpty());
  EXPECT_EQ(w->StatusPanels[0]->text(), "ECC and bad-block check: done.");

  QStringList log = w->LogLines();
  const qsizetype at = log.indexOf("Checking ECC and bad blocks of \"" + QString::fromStdString(image) + "\": done.");
  ASSERT_GE(at, 1) << log.join('\n').toStdString();
  EXPECT_EQ(log[at - 1], "");
  log = log.mid(at + 1);
  ASSERT_EQ(log.size(), 7) << log.join('\n').toStdString();
  EXPECT_TRUE(log[0].startsWith("ECC layout: onenand-h512-normal (found: ")) << log[0].toStdString();
  EXPECT_EQ(log[1], "Sectors: 32768 sectors (32768 written, 0 erased); 32254 clean, 1 corrected, "
                    "0 code errors, 1 uncorrectable, 512 not checked (bad blocks)");
  EXPECT_EQ(log.mid(2), (QStringList{"Partition 3 \"CSC\" (blocks 0x0003..0x0008): 1 corrected",
                                     "Partition 5 \"SBL\" (blocks 0x0011..0x0014): 1 uncorrectable",
                                     "Partition 6 \"DATA\" (blocks 0x0015..0x003F): 1 bad block",
                                     "Bad blocks (1): 0x0028", "Uncorrectable sectors (1): 8707 at 0x00440600"}));
}

// Esc in the window, or the host's stop flag (as a host's stop press raises it).
class CheckEccStop : public CheckEccTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CheckEccStop, StopsTheCheckAndCloseIsRefusedWhileItRuns) {
  const bool byEsc = GetParam();
  MakeWorn();
  Load(image);
  const std::vector<bool> before = ButtonsEnabled();
  QString statusAfterClose;
  bool visibleAfterClose = false;
  RunCheck([&] {
    w->close();
    visibleAfterClose = w->isVisible();
    statusAfterClose = w->StatusPanels[0]->text();
    if (byEsc) QTest::keyClick(w, Qt::Key_Escape); else hostStop = 1;
  });
  EXPECT_TRUE(visibleAfterClose);
  EXPECT_EQ(statusAfterClose, kCloseWhileRunningText);
  EXPECT_TRUE(w->isVisible()) << "the stop ends the check, not the window";
  EXPECT_TRUE(w->LogLines().last().endsWith("\": stopped.")) << w->LogLines().last().toStdString();
  EXPECT_EQ(w->StatusPanels[0]->text(), "Stopped by User.");
  EXPECT_TRUE(errorBoxes.isEmpty());
  EXPECT_EQ(ButtonsEnabled(), before);
  EXPECT_EQ(hostStop, 0) << "the stop is not left raised for the next command";
  RunCheck();
  EXPECT_EQ(w->LogLines().last(), "Uncorrectable sectors (1): 8707 at 0x00440600");
}

INSTANTIATE_TEST_SUITE_P(How, CheckEccStop, ::testing::Values(true, false),
                         [](const auto& p) { return std::string(p.param ? "Esc" : "HostStopFlag"); });

TEST_F(CheckEccTest, UnreadableImageReachesLogAndErrorBox) {
  Load(image);
  ASSERT_TRUE(QFile::remove(QString::fromStdString(image)));
  RunCheck();
  ASSERT_EQ(errorBoxes.size(), 1);
  EXPECT_EQ(w->LogLines().last(), "ERROR: " + errorBoxes[0]);
  EXPECT_TRUE(errorBoxes[0].contains(QString::fromStdString(image))) << errorBoxes[0].toStdString();
  EXPECT_EQ(w->StatusPanels[0]->text(), "ECC and bad-block check failed.");
  EXPECT_FALSE(w->CheckRunning());
}

// ---------------------------------------------------------------------------------------
// Device buttons

TReraradForm* gWindow = nullptr;
struct SeenDuringCommand {
  std::vector<std::string> Captions;
  std::vector<bool> Enabled;
  int ReadImage = -1;
  int Calls = 0;
  bool CheckEccEnabled = true;
} gSeen;
int gEndSessions = 0;

std::uint32_t ORVELLA_STDCALL ConnectMovingTheCursor(const TPluginDescriptor*) {
  ++gSeen.Calls;
  // The host keeps messages flowing: the user moves the cursor meanwhile.
  gWindow->ListView()->SetItemIndex(2);
  gSeen.Captions = {gWindow->ReadSelectedBtn->text().toStdString(),
                    gWindow->FlashSelectedBtn->text().toStdString(),
                    gWindow->EraseSelectedBtn->text().toStdString()};
  gSeen.Enabled = {gWindow->ReadSelectedBtn->isEnabled(), gWindow->FlashSelectedBtn->isEnabled(),
                   gWindow->EraseSelectedBtn->isEnabled()};
  gSeen.ReadImage = gWindow->ButtonImage(gWindow->ReadSelectedBtn);
  // A popup opened meanwhile does not offer the ECC check of the image being worked on.
  gWindow->OnSelectionChange(2, mbRight, 0, 0);
  gSeen.CheckEccEnabled = gWindow->CheckEccItem->isEnabled();
  return 0;  // the connection fails: the command ends silently
}

std::uint32_t ORVELLA_STDCALL CountEndSession() {
  ++gEndSessions;
  return 1;
}

TEST(MainWindowDevice, RunningCommandFreezesTheThreeCaptions) {
  QTemporaryDir dir;
  const std::string image = dir.filePath("sample.bin").toStdString();
  std::string error;
  ASSERT_TRUE(WriteSampleImage(image, error)) << error;
  std::uint8_t stopFlag = 0;
  DeviceServiceTable host;
  host.connect = ConnectMovingTheCursor;
  host.endSession = CountEndSession;
  host.stopFlag = &stopFlag;
  PluginStartUp app(&host);
  TReraradForm* w = app.Main.get();
  w->Hooks.Popup = [](const QPoint&) {};
  gWindow = w;
  gSeen = {};
  gEndSessions = 0;
  w->show();
  w->ImageName->setText(QString::fromStdString(image));
  w->CreateList->click();
  ASSERT_EQ(w->ReadSelectedBtn->text(), "Read Partition1");

  w->ReadSelectedBtn->click();
  ASSERT_EQ(gSeen.Calls, 1);
  EXPECT_EQ(gSeen.Captions, (std::vector<std::string>{"&Stop", "Flash Partition1", "Erase Partition1"}));
  EXPECT_EQ(gSeen.Enabled, std::vector<bool>(3, true));
  EXPECT_EQ(gSeen.ReadImage, GlyphStop);
  EXPECT_FALSE(gSeen.CheckEccEnabled);
  // Afterwards the frame restores the button and the captions name the new cursor row.
  EXPECT_EQ(w->ItemIndex(), 2);
  EXPECT_EQ(w->ReadSelectedBtn->text(), "Read Partition3");
  EXPECT_EQ(w->FlashSelectedBtn->text(), "Flash Partition3");
  EXPECT_EQ(w->ButtonImage(w->ReadSelectedBtn), 3);
  EXPECT_EQ(gEndSessions, 2);
  EXPECT_EQ(stopFlag, 0);
  EXPECT_EQ(w->StatusPanels[0]->text(), "");
  w->OnSelectionChange(2, mbRight, 0, 0);
  EXPECT_TRUE(w->CheckEccItem->isEnabled());
  gWindow = nullptr;
}

// A host that reads every range as zero bytes into its data files.
std::uint32_t ORVELLA_STDCALL ConnectOk(const TPluginDescriptor*) { return 1; }
std::uint32_t ORVELLA_STDCALL IdentifyChip(std::uint32_t, TFlashInfo* info) {
  info->PageSize = 0x1000;
  info->EraseBlockSize = kBlockSize;
  return 1;
}
std::uint32_t ORVELLA_STDCALL ReadAsZeros(std::uint32_t, std::uint32_t, std::uint32_t length,
                                          std::uint32_t, std::uint32_t, const char*, std::uint8_t*,
                                          std::int32_t, void*, std::uint32_t, StatusTextCallback,
                                          std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
  const QString folder = QString::fromStdString(gWindow->WorkFolder());
  QFile main(folder + kHostMainFileName);
  QFile spare(folder + kHostSpareFileName);
  if (!main.open(QIODevice::WriteOnly) || !spare.open(QIODevice::WriteOnly)) return 0;
  main.write(QByteArray(static_cast<qsizetype>(length), '\0'));
  spare.write(QByteArray(static_cast<qsizetype>(length / 32), '\0'));
  return 1;
}

// A host that connects, knows the chip and reads every range as zeros.
DeviceServiceTable ReadingHost(std::uint8_t& stopFlag) {
  DeviceServiceTable host;
  host.connect = ConnectOk;
  host.identify = IdentifyChip;
  host.readRange = ReadAsZeros;
  host.endSession = CountEndSession;
  host.stopFlag = &stopFlag;
  return host;
}

// The user closes the window while the host reads: what the window shows meanwhile.
struct {
  bool Visible = false;
  QString Status;
} gDuringClose;
std::uint32_t ORVELLA_STDCALL ReadWhileClosing(std::uint32_t a, std::uint32_t b, std::uint32_t length,
                                               std::uint32_t c, std::uint32_t d, const char* e,
                                               std::uint8_t* f, std::int32_t g, void* h, std::uint32_t i,
                                               StatusTextCallback j, std::int32_t k, std::int32_t l,
                                               std::int32_t m, std::int32_t n) {
  gWindow->close();
  gDuringClose = {gWindow->isVisible(), gWindow->StatusPanels[0]->text()};
  return ReadAsZeros(a, b, length, c, d, e, f, g, h, i, j, k, l, m, n);
}

TEST(MainWindowDevice, ClosingWhileACommandRunsIsRefusedWithTheReason) {
  QTemporaryDir dir;
  const std::string image = dir.filePath("sample.bin").toStdString();
  std::string error;
  ASSERT_TRUE(WriteSampleImage(image, error)) << error;
  std::uint8_t stopFlag = 0;
  DeviceServiceTable host = ReadingHost(stopFlag);
  host.readRange = ReadWhileClosing;
  PluginStartUp app(&host);
  TReraradForm* w = app.Main.get();
  gWindow = w;
  w->Hooks.CloseQuestion = [](const QString&) { return CloseAnswer::Discard; };
  w->show();
  w->ImageName->setText(QString::fromStdString(image));
  w->CreateList->click();
  w->ReadSelectedBtn->click();
  EXPECT_TRUE(gDuringClose.Visible);
  EXPECT_EQ(gDuringClose.Status.toStdString(), kCloseWhileRunningText);
  EXPECT_TRUE(w->isVisible()) << "the command ended, the window is still open";
  w->close();
  EXPECT_FALSE(w->isVisible());
  gWindow = nullptr;
}

class CloseQuestionTest : public ::testing::TestWithParam<CloseAnswer> {};

TEST_P(CloseQuestionTest, UnsavedDeviceDataAskBeforeClosing) {
  QTemporaryDir dir;
  const std::string image = dir.filePath("sample.bin").toStdString();
  std::string error;
  ASSERT_TRUE(WriteSampleImage(image, error)) << error;
  const QByteArray original = ReadAll(QString::fromStdString(image));
  std::uint8_t stopFlag = 0;
  const DeviceServiceTable host = ReadingHost(stopFlag);
  PluginStartUp app(&host);
  TReraradForm* w = app.Main.get();
  gWindow = w;
  std::vector<QString> questions;
  w->Hooks.CloseQuestion = [&](const QString& q) {
    questions.push_back(q);
    return GetParam();
  };
  const QString saved = dir.filePath("saved.bin");
  w->Hooks.SaveDialog = [&](const SaveDialogRequest&) -> std::optional<QString> { return saved; };
  w->show();
  w->ImageName->setText(QString::fromStdString(image));
  w->CreateList->click();
  w->ReadSelectedBtn->click();  // reads BOOT (row 1) into the working copy
  const QString temp = QString::fromStdString(w->TempImagePath());
  ASSERT_EQ(w->Model().CurrentImageFile, w->TempImagePath());
  ASSERT_TRUE(w->Device().HoldsUnsavedDeviceData());

  w->close();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].toStdString(), kUnsavedDeviceDataQuestion);
  EXPECT_EQ(ReadAll(QString::fromStdString(image)), original) << "the user's image is never written";
  switch (GetParam()) {
    case CloseAnswer::KeepOpen:
      EXPECT_TRUE(w->isVisible());
      EXPECT_TRUE(QFile::exists(temp));
      w->Hooks.CloseQuestion = [](const QString&) { return CloseAnswer::Discard; };
      w->close();
      break;
    case CloseAnswer::SaveImage: {
      EXPECT_FALSE(w->isVisible());
      // BOOT's main and spare data as read, the rest as in the user's image.
      QByteArray expected = original;
      const qsizetype spareStart = qsizetype{kSampleChipMiB} * 1024 * 1024;
      expected.replace(0, 2 * kBlockSize, QByteArray(2 * kBlockSize, '\0'));
      expected.replace(spareStart, 2 * kBlockSize / 32, QByteArray(2 * kBlockSize / 32, '\0'));
      EXPECT_TRUE(ReadAll(saved) == expected);
      break;
    }
    case CloseAnswer::Discard:
      EXPECT_FALSE(QFile::exists(saved));
      break;
  }
  EXPECT_FALSE(w->isVisible());
  EXPECT_FALSE(QFile::exists(temp));
  gWindow = nullptr;
}

// "&Make Partitions from File" leaves the working copy to be replaced by the next read:
// it asks first, and "keep" leaves everything as it was.
TEST(MainWindowDevice, ReloadAsksBeforeLeavingUnsavedDeviceData) {
  QTemporaryDir dir;
  const std::string image = dir.filePath("sample.bin").toStdString();
  std::string error;
  ASSERT_TRUE(WriteSampleImage(image, error)) << error;
  std::uint8_t stopFlag = 0;
  const DeviceServiceTable host = ReadingHost(stopFlag);
  PluginStartUp app(&host);
  TReraradForm* w = app.Main.get();
  gWindow = w;
  std::vector<std::string> questions;
  CloseAnswer answer = CloseAnswer::KeepOpen;
  w->Hooks.CloseQuestion = [&](const QString& q) {
    questions.push_back(q.toStdString());
    return answer;
  };
  w->show();
  w->ImageName->setText(QString::fromStdString(image));
  w->CreateList->click();
  w->ReadSelectedBtn->click();
  ASSERT_TRUE(w->Device().HoldsUnsavedDeviceData());
  const QStringList logBefore = w->MyMemo->toPlainText().split('\n');

  w->CreateList->click();
  ASSERT_EQ(questions, std::vector<std::string>{kUnsavedBeforeLoadQuestion});
  EXPECT_EQ(w->Model().CurrentImageFile, w->TempImagePath()) << "the load did not start";
  EXPECT_EQ(w->MyMemo->toPlainText().split('\n'), logBefore);
  EXPECT_TRUE(w->CreateList->isEnabled());
  EXPECT_TRUE(w->Device().HoldsUnsavedDeviceData());

  answer = CloseAnswer::Discard;
  w->CreateList->click();
  EXPECT_EQ(questions.size(), 2u);
  EXPECT_EQ(w->Model().CurrentImageFile, image);
  EXPECT_FALSE(w->Device().HoldsUnsavedDeviceData());
  w->close();
  EXPECT_EQ(questions.size(), 2u) << "nothing more to ask at close";
  gWindow = nullptr;
}

INSTANTIATE_TEST_SUITE_P(MainWindowDevice, CloseQuestionTest,
                         ::testing::Values(CloseAnswer::SaveImage, CloseAnswer::Discard,
                                           CloseAnswer::KeepOpen));

TEST(MainWindowDevice, DeviceWindowAnswersFromItsControls) {
  PluginStartUp app;
  TReraradForm* w = app.Main.get();
  w->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  w->resize(900, 650);
  w->move(40, 30);
  QCoreApplication::processEvents();
  w->EnableECCBtn->setChecked(true);
  EXPECT_TRUE(w->EccEnabled());
  const WindowGeometry g = w->Geometry();
  EXPECT_EQ(g.Left, w->frameGeometry().x());
  EXPECT_EQ(g.Top, w->frameGeometry().y());
  EXPECT_EQ(g.Width, w->frameGeometry().width());
  EXPECT_EQ(g.Height, w->frameGeometry().height());
  EXPECT_EQ(w->GaugeControl(), static_cast<void*>(w->MyGauge));
  w->SetButtonCaption(DeviceButton::ReadPartitionBtn, "&Stop");
  w->SetButtonImageIndex(DeviceButton::ReadPartitionBtn, 20);
  EXPECT_EQ(w->ReadPartitionBtn->text(), "&Stop");
  EXPECT_EQ(w->ButtonCaption(DeviceButton::ReadPartitionBtn), "&Stop");
  EXPECT_EQ(ImageOf(w->ReadPartitionBtn->icon()), w->GlyphImages().Pixmap(20).toImage());
}

// ---------------------------------------------------------------------------------------
// Glyph list

TEST(Glyphs, FiftyOneDistinctVisiblePictures) {
  TGlyphList glyphs;
  ASSERT_EQ(glyphs.Count(), 51);
  std::vector<QImage> images;
  for (int i = 0; i < glyphs.Count(); ++i) {
    const QImage img = glyphs.Pixmap(i).toImage();
    ASSERT_EQ(img.size(), QSize(16, 16)) << i;
    int opaque = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) opaque += qAlpha(img.pixel(x, y)) > 128 ? 1 : 0;
    EXPECT_GT(opaque, 20) << "glyph " << i << " shows something";
    images.push_back(img);
  }
  const int used[] = {3, 4, 5, 9, 12, 20, 21, 32, 38, 39, 40, 41, 42, 43, 50};
  for (int a : used) {
    for (int b : used) {
      if (a < b) {
        EXPECT_NE(images[static_cast<std::size_t>(a)], images[static_cast<std::size_t>(b)]) << a << " " << b;
      }
    }
  }
  EXPECT_TRUE(glyphs.Pixmap(51).isNull());
  EXPECT_TRUE(glyphs.Icon(-1).isNull());
}

}  // namespace
}  // namespace orvella::testing
