// DoPluginMain with the real windows: the controls the host gets, and a second opening.

#include <dlfcn.h>

#include <QApplication>
#include <QDialog>

#include "PluginOnPhone.h"
#include "host/HostServicesImpl.h"

namespace orvella::e2e {
namespace {

using PluginWindow = PluginOnPhone;

TEST_F(PluginWindow, DoPluginMainHandsTheWindowsMemoAndGaugeToTheHost) {
  Step("the host holds the window's own controls", [&] {
    QWidget* w = Window();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->isModal());
    EXPECT_EQ(w->windowTitle(),
              "Processing Samsung i9000-like VESK Full Image Files. Plugin Version 1.04");
    EXPECT_NE(HostMemo(), nullptr);
    EXPECT_EQ(HostMemo(), Control<QPlainTextEdit>("MyMemo"));
    EXPECT_NE(HostGauge(), nullptr);
    EXPECT_EQ(HostGauge(), Control<QProgressBar>("MyGauge"));
    // The hex window belongs to the modal main window, so the modality does not block it
    // (the desktop suite shows it taking real input); the host's window it does block.
    auto* hex = w->findChild<QWidget*>("HexForm");
    ASSERT_NE(hex, nullptr);
    EXPECT_TRUE(hex->isWindow());
    EXPECT_EQ(hex->parentWidget(), w);
    EXPECT_EQ(QApplication::activeModalWidget(), w);
    // The host's greeting went into that memo.
    ASSERT_FALSE(LogLines().isEmpty());
    EXPECT_TRUE(LogLines().front().startsWith("Host: virtual phone ")) << LogLines().front().toStdString();
  });
  Lines("close");
  RunWindow();
}

TEST_F(PluginWindow, SecondOpeningKeepsTheListAndTheLog) {
  QStringList firstLog;
  QPlainTextEdit* memo = nullptr;
  Lines("click ReadPartitionBtn\nwait\ncursor 3");
  Step("remember the first opening", [&] {
    firstLog = LogLines();
    memo = Control<QPlainTextEdit>("MyMemo");
    EXPECT_EQ(RowCount(), 7);
  });
  Lines("close");
  RunWindow();
  ASSERT_FALSE(firstLog.isEmpty());

  Step("the second opening", [&] {
    EXPECT_EQ(RowCount(), 7);
    EXPECT_EQ(Caption("ReadSelectedBtn"), "Read Partition3");
    const QStringList log = LogLines();
    ASSERT_GE(log.size(), firstLog.size());
    EXPECT_EQ(log.mid(0, firstLog.size()), firstLog);
    EXPECT_EQ(HostMemo(), memo);
    EXPECT_EQ(HostGauge(), Control<QProgressBar>("MyGauge"));
    // The temporary image of the table was deleted by the first close.
    EXPECT_FALSE(std::filesystem::exists(TempImage()));
  });
  Lines("close");
  RunWindow();
}

// A host may unload the plug-in and load it again in the same process. Qt keeps some
// of what the windows used (the font cache) beyond the unloading; the second life must
// not trip over what the first left there.
TEST_F(PluginWindow, UnloadedAndLoadedAgainTheWindowStillWorks) {
  Lines("click ReadPartitionBtn\nwait\nclose");
  RunWindow();
  plugin_.Unload();
  EXPECT_EQ(::dlopen(ORVELLA_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr) << "really unloaded";
  std::string error;
  ASSERT_TRUE(plugin_.Load(ORVELLA_PLUGIN_PATH, error)) << error;
  PluginInfo info;
  ASSERT_TRUE(plugin_.Negotiate(&HostFunctionFor, info, error)) << error;
  Lines("click ReadPartitionBtn\nwait");
  Step("a fresh window lists the table again", [&] { EXPECT_EQ(RowCount(), 7); });
  Lines("close");
  RunWindow();
}

}  // namespace
}  // namespace orvella::e2e
