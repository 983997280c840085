#include "ui/HexWindowUnit.h"

#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QScrollBar>

#include <gtest/gtest.h>

#include "HexTestFiles.h"
#include "image/FullImage.h"
#include "image/ImageBuilder.h"
#include "image/RecordingPort.h"

namespace orvella {
namespace {

using hextest::ScratchDir;

template <typename T = QWidget>
T* Child(const THexForm& form, const char* name) {
  T* w = form.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(w, nullptr) << name;
  return w;
}

TEST(THexForm, CaptionFrameAndControls) {
  THexForm form;
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Partition HEX Contents View "));
  EXPECT_TRUE(form.isWindow());
  const Qt::WindowFlags flags = form.windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(form.minimumWidth(), form.maximumWidth());
  EXPECT_EQ(form.size(), QSize(THexForm::kClientWidth, THexForm::kClientHeight));

  auto* group = Child<QGroupBox>(form, "GroupBox");
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->title(), QStringLiteral(" Selected Partition (Main + Spare) "));
  for (const char* suffix : {"01", "02"}) {
    SCOPED_TRACE(suffix);
    const std::string s(suffix);
    auto* panel = Child<QFrame>(form, ("Panel" + s).c_str());
    auto* box = Child(form, ("ScrollBox" + s).c_str());
    auto* strip = Child(form, ("Strip" + s).c_str());
    auto* paint = Child(form, ("PaintBox" + s).c_str());
    auto* bar = Child<QScrollBar>(form, ("ScrollBar" + s).c_str());
    ASSERT_TRUE(panel && box && strip && paint && bar);
    EXPECT_EQ(panel->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(box->parentWidget(), panel);
    EXPECT_EQ(paint->parentWidget(), box);
    EXPECT_EQ(bar->parentWidget(), box);
    EXPECT_EQ(bar->orientation(), Qt::Vertical);
    EXPECT_EQ(bar->width(), THexForm::kScrollBarWidth);
    EXPECT_EQ(strip->width(), THexForm::kLeftStripWidth);
    EXPECT_EQ(box->palette().color(QPalette::Window), QColor(Qt::white));
    // Emptied at creation: no data, a visible but disabled bar.
    EXPECT_FALSE(bar->isEnabled());
    EXPECT_FALSE(bar->isHidden());
  }
  ASSERT_NE(form.MainView(), nullptr);
  ASSERT_NE(form.SpareView(), nullptr);
  EXPECT_EQ(form.MainView()->ChunkLength(), 0);
  EXPECT_EQ(form.SpareView()->ChunkLength(), 0);
}

TEST(THexForm, LayoutFollowsTheDesign) {
  THexForm form;
  form.show();
  QApplication::processEvents();
  // The outer width, frame included, is fixed at 680 once the frame is known.
  const int frame = form.frameGeometry().width() - form.width();
  EXPECT_EQ(form.width(), frame > 0 ? THexForm::kOuterWidth - frame : THexForm::kClientWidth);
  EXPECT_EQ(form.minimumWidth(), form.width());
  EXPECT_EQ(form.maximumWidth(), form.width());

  auto* group = Child<QGroupBox>(form, "GroupBox");
  auto* upper = Child<QFrame>(form, "Panel01");
  auto* lower = Child<QFrame>(form, "Panel02");
  ASSERT_TRUE(group && upper && lower);
  EXPECT_EQ(group->geometry(), QRect(8, 10, form.width() - 16, form.height() - 20));
  EXPECT_EQ(lower->height(), THexForm::kSpareViewHeight);
  // Spacers inside the group box's frame and caption.
  const QRect inside = group->contentsRect();
  EXPECT_EQ(upper->x() - inside.left(), 8);
  EXPECT_EQ(upper->width(), inside.width() - 16);
  EXPECT_EQ(upper->y() - inside.top(), 10);
  EXPECT_EQ(lower->y() - upper->geometry().bottom() - 1, 10);
  EXPECT_EQ(inside.bottom() - lower->geometry().bottom(), 10);
  EXPECT_GT(upper->height(), lower->height());

  // Each view draws on its own paint box, at the paint box's size.
  auto* paint1 = Child(form, "PaintBox01");
  auto* paint2 = Child(form, "PaintBox02");
  EXPECT_EQ(form.MainView()->Surface().size(), paint1->size());
  EXPECT_EQ(form.SpareView()->Surface().size(), paint2->size());
  EXPECT_EQ(paint1->x(), THexForm::kLeftStripWidth);
  EXPECT_EQ(paint1->width() + THexForm::kLeftStripWidth + THexForm::kScrollBarWidth,
            Child(form, "ScrollBox01")->width());

  // A taller window gives the upper view more lines; the lower keeps its height.
  const int lines = form.MainView()->ScreenLines();
  form.resize(form.width(), form.height() + 200);
  QApplication::processEvents();
  EXPECT_GT(form.MainView()->ScreenLines(), lines);
  EXPECT_EQ(lower->height(), THexForm::kSpareViewHeight);
  EXPECT_EQ(form.MainView()->Surface().size(), paint1->size());
}

class THexFormImage : public testing::Test {
 protected:
  void SetUp() override {
    image = dir.File("full.bin");
    ImageSpec spec;
    spec.ChipMiB = 8;
    spec.Fill = ImageFill::Pattern;
    std::string error;
    ASSERT_TRUE(ParseTableSpec("BOOT:2,PIT:1,KERNEL:5,DATA:rest", spec.Table, error)) << error;
    ASSERT_TRUE(WriteFullImage(image, spec, error)) << error;
    ASSERT_TRUE(model.LoadImageFileAndProcessIt(image, port));
  }

  // What the main window does when the list cursor moves to row k.
  void Select(THexForm& form, std::size_t k) {
    const PartitionRange r = model.RangeOf(k);
    form.MainView()->InitializeViewData(model.CurrentImageFile, r.MainOffset, r.MainLength);
    form.SpareView()->InitializeViewData(model.CurrentImageFile, r.SpareOffset, r.SpareLength);
  }

  ScratchDir dir;
  std::string image;
  RecordingPort port;
  ImageModel model;
};

TEST_F(THexFormImage, ShowsThePartitionsMainAndSpareData) {
  THexForm form;
  Select(form, 2);  // KERNEL
  const PartitionRange r = model.RangeOf(2);
  const HexDataWindow& main = form.MainView()->DataWindow();
  const HexDataWindow& spare = form.SpareView()->DataWindow();
  ASSERT_EQ(form.MainView()->ChunkLength(), 5 * kBlockSize);
  ASSERT_EQ(form.SpareView()->ChunkLength(), 5 * kBlockSize / 32);
  ASSERT_EQ(main.length(), 16384);
  for (std::int64_t i = 0; i < main.length(); i += 97)
    ASSERT_EQ(main.bytes()[i], PatternByte(r.MainOffset + i)) << i;
  for (std::int64_t i = 0; i < spare.length(); i += 97)
    ASSERT_EQ(spare.bytes()[i], PatternByte(r.SpareOffset + i)) << i;
  EXPECT_TRUE(Child<QScrollBar>(form, "ScrollBar01")->isEnabled());
  EXPECT_TRUE(Child<QScrollBar>(form, "ScrollBar02")->isEnabled());
}

TEST_F(THexFormImage, ATruncatedImageLeavesTheSpareViewEmpty) {
  // Cut the file inside the spare data of the last partition.
  const PartitionRange last = model.RangeOf(model.EntryCount() - 1);
  hextest::TruncateFile(image, last.SpareOffset + 100);
  THexForm form;
  Select(form, model.EntryCount() - 1);
  EXPECT_EQ(form.MainView()->ChunkLength(), last.MainLength);
  EXPECT_EQ(form.SpareView()->ChunkLength(), 0);
  EXPECT_FALSE(Child<QScrollBar>(form, "ScrollBar02")->isEnabled());
  // Back on a partition whose spare data is whole, both views show data again.
  Select(form, 0);
  EXPECT_GT(form.SpareView()->ChunkLength(), 0);
}

}  // namespace
}  // namespace orvella
