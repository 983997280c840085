// The main window under device commands: the frozen captions, a close refused while a
// command runs, the question before unsaved device data are lost; and the glyph list.

#include "MainWindowFixture.h"

namespace orvella::testing {
namespace {

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

int gMoveCursorTo = 2;

std::uint32_t ORVELLA_STDCALL ConnectMovingTheCursor(const TPluginDescriptor*) {
  ++gSeen.Calls;
  // The host keeps messages flowing: the user moves the cursor meanwhile.
  gWindow->ListView()->SetItemIndex(gMoveCursorTo);
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

// Where the user puts the cursor while Read runs, and what the three buttons show then
// and after the command.
struct CursorCase {
  int moveTo;
  std::vector<bool> enabledDuring;
  std::vector<std::string> captionsAfter;
  bool enabledAfter;
};

class CursorDuringACommand : public ::testing::TestWithParam<CursorCase> {};

// The three captions stay frozen while the command runs; without a cursor Flash and
// Erase are disabled, but not the button that reads "&Stop": it is how the user stops
// the command.
TEST_P(CursorDuringACommand, RunningCommandFreezesTheThreeCaptions) {
  const CursorCase& c = GetParam();
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
  gMoveCursorTo = c.moveTo;
  w->show();
  w->ImageName->setText(QString::fromStdString(image));
  w->CreateList->click();
  ASSERT_EQ(w->ReadSelectedBtn->text(), "Read Partition1");

  w->ReadSelectedBtn->click();
  ASSERT_EQ(gSeen.Calls, 1);
  EXPECT_EQ(gSeen.Captions, (std::vector<std::string>{"&Stop", "Flash Partition1", "Erase Partition1"}));
  EXPECT_EQ(gSeen.Enabled, c.enabledDuring);
  EXPECT_EQ(gSeen.ReadImage, GlyphStop);
  EXPECT_FALSE(gSeen.CheckEccEnabled);
  // Afterwards the frame restores the button and the captions name the new cursor row.
  EXPECT_EQ(w->ItemIndex(), c.moveTo);
  EXPECT_EQ(w->ReadSelectedBtn->text().toStdString(), c.captionsAfter[0]);
  EXPECT_EQ(w->FlashSelectedBtn->text().toStdString(), c.captionsAfter[1]);
  EXPECT_EQ(w->ReadSelectedBtn->isEnabled(), c.enabledAfter);
  EXPECT_EQ(w->ButtonImage(w->ReadSelectedBtn), 3);
  EXPECT_EQ(gEndSessions, 2);
  EXPECT_EQ(stopFlag, 0);
  EXPECT_EQ(w->StatusPanels[0]->text(), "");
  w->OnSelectionChange(2, mbRight, 0, 0);
  EXPECT_TRUE(w->CheckEccItem->isEnabled());
  gWindow = nullptr;
}

INSTANTIATE_TEST_SUITE_P(
    MainWindowDevice, CursorDuringACommand,
    ::testing::Values(CursorCase{2, {true, true, true}, {"Read Partition3", "Flash Partition3"}, true},
                      CursorCase{-1, {true, false, false}, {"Read Partition1", "Flash Partition1"}, false}));

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
