// PLACEHOLDER windows: a plain dialog with the two controls the frame hands to the host,
// so the frame can be loaded, opened and closed end to end. TReraradForm and THexForm
// replace this file by defining CreatePluginWindows themselves.

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QVBoxLayout>

#include "plugin/PluginWindows.h"

namespace orvella {

namespace {

class PlaceholderWindows final : public PluginWindows {
 public:
  PlaceholderWindows() : dialog_(std::make_unique<QDialog>()) {
    dialog_->setObjectName("ReraradForm");
    dialog_->setWindowTitle(
        "Processing Samsung i9000-like VESK Full Image Files. Plugin Version 1.04");
    auto* layout = new QVBoxLayout(dialog_.get());
    auto* note = new QLabel("Partition list and device buttons come with the main window.",
                            dialog_.get());
    memo_ = new QPlainTextEdit(dialog_.get());
    memo_->setObjectName("MyMemo");
    memo_->setReadOnly(true);
    gauge_ = new QProgressBar(dialog_.get());
    gauge_->setObjectName("MyGauge");
    gauge_->setValue(0);
    auto* status = new QStatusBar(dialog_.get());
    status->setObjectName("MyStatus");
    status->setSizeGripEnabled(false);
    for (int i = 0; i < 3; ++i) status->addWidget(new QLabel(dialog_.get()), i == 0 ? 2 : 1);
    layout->addWidget(note);
    layout->addWidget(memo_, 1);
    layout->addWidget(gauge_);
    layout->addWidget(status);
    dialog_->resize(760, 520);
  }

  void ReadSettings() override {}
  int MainWidth() const override { return dialog_->width(); }
  int MainHeight() const override { return dialog_->height(); }
  void MoveMain(int left, int top) override { dialog_->move(left, top); }
  QPlainTextEdit* Memo() override { return memo_; }
  QProgressBar* Gauge() override { return gauge_; }
  void SetStopFlagAddress(std::uint8_t* stopFlag) override { stopFlag_ = stopFlag; }
  void ExecMain() override { dialog_->exec(); }

 private:
  std::unique_ptr<QDialog> dialog_;
  QPlainTextEdit* memo_ = nullptr;   // owned by dialog_
  QProgressBar* gauge_ = nullptr;    // owned by dialog_
  std::uint8_t* stopFlag_ = nullptr;
};

}  // namespace

std::unique_ptr<PluginWindows> CreatePluginWindows(const PluginContext&) {
  return std::make_unique<PlaceholderWindows>();
}

}  // namespace orvella
