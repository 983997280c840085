#pragma once
// The main window as a test sees it: started as the plug-in starts it, on the sample
// image, with every dialog answered through its hooks and every popup recorded.

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

inline QImage ImageOf(const QIcon& icon) { return icon.pixmap(kGlyphSize, kGlyphSize).toImage(); }

inline QByteArray ReadAll(const QString& path) {
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

}  // namespace orvella::testing
