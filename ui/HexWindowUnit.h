#pragma once
// The window "Partition HEX Contents View ": the selected partition's main data in the
// upper hex view and its spare data in the lower one.

#include <QWidget>

#include <memory>

#include "ui/HEXView.h"
#include "ui/OuterFrame.h"

class QFrame;
class QScrollBar;

namespace orvella {

class THexForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* kCaption = "Partition HEX Contents View ";
  static constexpr const char* kGroupCaption = " Selected Partition (Main + Spare) ";
  static constexpr int kOuterWidth = 680;         // frame included
  static constexpr int kClientWidth = 664;        // as designed, frame excluded
  static constexpr int kClientHeight = 755;
  static constexpr int kSpareViewHeight = 185;
  static constexpr int kScrollBarWidth = 17;
  static constexpr int kLeftStripWidth = 4;

  // A window of its own; with a parent it belongs to that window (and is destroyed with
  // it unless destroyed first).
  explicit THexForm(QWidget* parent = nullptr);

  // The upper view: the partition's main (page) data.
  THEXView* MainView() const { return fMainView.get(); }
  // The lower view: the partition's spare data.
  THEXView* SpareView() const { return fSpareView.get(); }

  // Where both views send prompts, dialogs, status texts and the gauge (not owned).
  void SetPort(WindowPort* port);

  // Position and size with the frame, as the settings keep them.
  TOuterFrame& OuterFrame() { return *fOuter; }
  const TOuterFrame& OuterFrame() const { return *fOuter; }

 private:
  void FormCreate();
  // Builds one lowered panel with its scroll box, strip, paint box and scroll bar.
  QFrame* BuildViewPanel(const QString& suffix);

  TOuterFrame* fOuter = nullptr;  // child of this window

  // Members, so the views go before the controls they drive.
  std::unique_ptr<THEXView> fMainView;
  std::unique_ptr<THEXView> fSpareView;
};

}  // namespace orvella
