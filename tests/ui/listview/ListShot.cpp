// Renders the partition list of a sample image with 22 partitions, two of them marked and
// the cursor on another, to the PNG file named on the command line.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>

#include "image/FullImage.h"
#include "image/ImageBuilder.h"
#include "image/RecordingPort.h"
#include "tests/ui/listview/ListHost.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: listview_shot OUT.png\n");
    return 2;
  }
  using namespace orvella;

  QTemporaryDir dir;
  const std::string path = QDir(dir.path()).filePath("sample.bin").toStdString();
  ImageSpec spec;
  spec.ChipMiB = 64;
  spec.Fill = ImageFill::Zero;
  const char* names[] = {"BOOT",     "PIT",      "EFS",     "SBL",      "SBL2",   "PARAM",
                         "KERNEL",   "RECOVERY", "FACTORYFS", "DBDATAFS", "CACHE", "MODEM",
                         "RESERVED1", "RESERVED2", "LOGS",   "NV_BACKUP", "RADIO",  "SPLASH",
                         "FOTA",     "MISC",     "A_VeryLongPartitionNameThatIsCut", "DATA"};
  const std::uint32_t sizes[] = {1, 1, 20, 5, 5, 20, 30, 30, 80, 40, 16, 12,
                                 3, 3,  4, 2, 6, 2, 8, 1, 2, 0xFFFFFFFFu};
  for (std::size_t i = 0; i < std::size(names); ++i) spec.Table.push_back({names[i], sizes[i]});
  std::string error;
  if (!WriteFullImage(path, spec, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  ImageModel model;
  RecordingPort port;
  if (!model.LoadImageFileAndProcessIt(path, port)) {
    std::fprintf(stderr, "load failed\n");
    return 1;
  }
  model.SetMarked(3, true);
  model.SetMarked(9, true);

  test::ListHost host({{"Position", 80},
                       {"Selected", 90},
                       {"Partition Name", 120},
                       {"Address (Blocks) Range", 420},
                       {"Size in Bytes (Blocks)", 2000}},
                      900);
  auto& view = host.Make(14, "Courier New");
  host.Other->hide();
  const int box = 20 * view.RowPitch() + view.RowPitch() / 2;
  host.Show(box);
  host.Window.resize(900, host.Header->height() + box);
  host.Attach(&model.PartitionItems, 0);
  view.SetItemIndex(6);
  host.ScrollBox->setFocus();
  test::Settle();

  if (!host.Window.grab().save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("rows %d, lines %d, pitch %d, font %s\n", model.PartitionItems.Count,
              view.ScreenLines(), view.RowPitch(),
              qPrintable(QFontInfo(view.ListFont()).family()));
  return 0;
}
