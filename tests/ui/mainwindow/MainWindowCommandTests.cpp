// The main window's commands: resizing and closing, the popup's exports and the blank
// check against the core driven by a recording port, the ECC and bad-block check.

#include "MainWindowFixture.h"

namespace orvella::testing {
namespace {

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

}  // namespace
}  // namespace orvella::testing
