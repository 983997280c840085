// The main window and its list: loading a table, marks and the buttons' captions, the
// popup and the hex views that follow the cursor.

#include "MainWindowFixture.h"

namespace orvella::testing {
namespace {

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

}  // namespace
}  // namespace orvella::testing
