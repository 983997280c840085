// Photographs the main window under a real X server (xvfb-run): after loading a sample
// image with the cursor on row 3 and two rows marked, with the popup menu open on a row,
// and after a blank check. Usage: mainwindow_shots OUTPUT_FOLDER [NAME_PREFIX]

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "Harness.h"
#include "files/FileIO.h"
#include "image/FullImage.h"
#include "ui/CoolListView.h"

using namespace orvella;

namespace {

// The partition layout of a real phone on a 64 MiB chip; BOOT, CSC, KERNEL and
// FACTORYFS hold data, the others are erased.
bool WriteShotImage(const std::string& path, std::string& error) {
  ImageSpec spec;
  spec.ChipMiB = 64;
  spec.Fill = ImageFill::Erased;
  if (!ParseTableSpec("BOOT:2,PIT:1,CSC:6,EFS:8,SBL:4,PARAM:8,KERNEL:30,FACTORYFS:120,DBDATA:40,"
                      "CACHE:20,DATA:rest", spec.Table, error) ||
      !WriteFullImage(path, spec, error))
    return false;
  File file;
  if (!file.OpenReadWrite(path, error)) return false;
  std::vector<std::uint8_t> block(kBlockSize);
  // First blocks of CSC, KERNEL and FACTORYFS; BOOT holds the table in its block 1.
  for (std::uint32_t firstBlock : {3u, 29u, 59u}) {
    const std::uint64_t at = std::uint64_t{firstBlock} * kBlockSize;
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = PatternByte(at + i);
    if (!file.Seek(at, error) || !file.WriteAll(block.data(), block.size(), error)) return false;
  }
  return file.Close(error);
}

bool Save(const QPixmap& shot, const QString& folder, const QString& prefix, const char* name) {
  const QString path = QDir(folder).filePath(prefix + name);
  const bool ok = shot.save(path);
  std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(path), shot.width(), shot.height());
  return ok;
}

QPixmap GrabScreenArea(const QRect& area) {
  QCoreApplication::processEvents();
  QTest::qWait(200);
  return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
}

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir work;
  if (!work.isValid()) return 1;
  ::setenv("XDG_CONFIG_HOME", work.filePath("config").toLocal8Bit().constData(), 1);
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: mainwindow_shots OUTPUT_FOLDER [NAME_PREFIX]\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const QString prefix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
  QDir().mkpath(folder);

  const std::string image = work.filePath("phone-full-image.bin").toStdString();
  std::string error;
  if (!WriteShotImage(image, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }

  testing::PluginStartUp startUp;
  TReraradForm& w = *startUp.Main;
  w.move(40, 40);
  w.show();
  if (!QTest::qWaitForWindowExposed(&w)) return 1;
  w.activateWindow();
  if (!QTest::qWaitForWindowActive(&w)) std::fprintf(stderr, "window not active\n");
  w.ImageName->setText(QString::fromStdString(image));
  w.CreateList->click();

  TCoolListView& list = *w.ListView();
  const int pitch = list.RowPitch();
  auto rowPoint = [pitch](int row) { return QPoint(40, row * pitch + pitch / 2); };
  for (int row : {1, 5}) {
    QTest::mouseClick(w.PaintBox00, Qt::LeftButton, {}, rowPoint(row));
    QTest::mouseDClick(w.PaintBox00, Qt::LeftButton, {}, rowPoint(row));
  }
  // Screen row 2 is the row at Position 3.
  QTest::mouseClick(w.PaintBox00, Qt::LeftButton, {}, rowPoint(2));
  w.ScrollBox00->setFocus();
  QCoreApplication::processEvents();
  bool ok = Save(GrabScreenArea(w.frameGeometry()), folder, prefix, "main-loaded.png");

  // The popup opens where the pointer is; put the pointer on row 6 and right-click there.
  const QPoint inBox = rowPoint(6) + QPoint(260, 0);
  QCursor::setPos(w.PaintBox00->mapToGlobal(inBox));
  QTest::mouseClick(w.PaintBox00, Qt::RightButton, {}, inBox);
  QCoreApplication::processEvents();
  const QRect area = w.frameGeometry().united(w.MyPopup->frameGeometry());
  ok = Save(GrabScreenArea(area), folder, prefix, "main-popup.png") && ok;
  w.MyPopup->hide();

  w.CheckBlanks->click();
  ok = Save(GrabScreenArea(w.frameGeometry()), folder, prefix, "main-blank.png") && ok;
  return ok ? 0 : 1;
}
