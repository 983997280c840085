// Runs the window suites inside one QApplication, with the per-user settings store in a
// temporary folder so no test touches the real one.

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  QTemporaryDir config;
  if (!config.isValid()) return 1;
  ::setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);

  // Every dialog is answered through the window's hooks in these tests; a real modal
  // dialog would wait forever offscreen. Fail the test and close it instead of hanging.
  QTimer watchdog;
  watchdog.setInterval(1000);
  QObject::connect(&watchdog, &QTimer::timeout, [] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    QString text = dialog->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) text += ": " + box->text();
    ADD_FAILURE() << "a real modal dialog opened: " << text.toStdString();
    dialog->reject();
  });
  watchdog.start();
  return RUN_ALL_TESTS();
}
