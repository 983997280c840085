// Renders the hex window with a sample partition to PNG files: main data with a marked
// block above, spare data with the caret below. Usage: hexwindow_shot OUT.png [...]
#include <QApplication>
#include <QMouseEvent>
#include <QPixmap>
#include <QTemporaryDir>

#include <cstdio>
#include <string>

#include "image/FullImage.h"
#include "image/ImageBuilder.h"
#include "image/RecordingPort.h"
#include "ui/HexWindowUnit.h"

namespace {

void Mouse(QWidget* paint, QEvent::Type type, QPoint p, Qt::MouseButtons held) {
  QMouseEvent e(type, QPointF(p), QPointF(paint->mapToGlobal(p)),
                type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                Qt::NoModifier);
  QApplication::sendEvent(paint, &e);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT.png [OUT2.png ...]\n", argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  using namespace orvella;

  QTemporaryDir dir;
  if (!dir.isValid()) return 1;
  const std::string image = dir.filePath(QStringLiteral("sample.bin")).toStdString();
  ImageSpec spec;
  spec.ChipMiB = 64;
  spec.Fill = ImageFill::Pattern;
  std::string error;
  if (!ParseTableSpec("BOOT:2,PIT:1,CSC:6,EFS:8,SBL:4,PARAM:8,KERNEL:30,DATA:rest", spec.Table,
                      error) ||
      !WriteFullImage(image, spec, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  RecordingPort port;
  ImageModel model;
  if (!model.LoadImageFileAndProcessIt(image, port)) return 1;

  THexForm form;
  form.show();
  QApplication::processEvents();
  const PartitionRange r = model.RangeOf(6);  // KERNEL
  form.MainView()->InitializeViewData(model.CurrentImageFile, r.MainOffset, r.MainLength);
  form.SpareView()->InitializeViewData(model.CurrentImageFile, r.SpareOffset, r.SpareLength);

  // Mark bytes 0x2A..0x5D of the main data, then click byte 0x13 of the spare data.
  const HexGeometry g = form.MainView()->Geometry();
  auto* paint1 = form.findChild<QWidget*>(QStringLiteral("PaintBox01"));
  auto* paint2 = form.findChild<QWidget*>(QStringLiteral("PaintBox02"));
  const auto at = [&](int addr) { return QPoint(g.HexX(addr % 16) + g.cx, addr / 16 * g.cy + g.cy / 2); };
  Mouse(paint1, QEvent::MouseButtonPress, at(0x2A), Qt::LeftButton);
  Mouse(paint1, QEvent::MouseMove, at(0x5D), Qt::LeftButton);
  Mouse(paint1, QEvent::MouseButtonRelease, at(0x5D), Qt::NoButton);
  Mouse(paint2, QEvent::MouseButtonPress, at(0x13), Qt::LeftButton);
  Mouse(paint2, QEvent::MouseButtonRelease, at(0x13), Qt::NoButton);
  QApplication::processEvents();

  const QPixmap shot = form.grab();
  for (int i = 1; i < argc; ++i) {
    if (!shot.save(QString::fromLocal8Bit(argv[i]))) {
      std::fprintf(stderr, "cannot write %s\n", argv[i]);
      return 1;
    }
  }
  std::printf("%dx%d, main block %lld..%lld, spare caret at byte %lld\n", shot.width(),
              shot.height(), static_cast<long long>(form.MainView()->BlockBegin()),
              static_cast<long long>(form.MainView()->BlockEnd()),
              static_cast<long long>(form.SpareView()->CaretAddress()));
  return 0;
}
