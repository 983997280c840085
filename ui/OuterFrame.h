#pragma once
// The outer geometry of a top-level window: its position and size with the frame the
// window system draws around it, which is what the window settings keep and what the
// centring on the work area uses. Qt sizes the client area, and a window's frame is
// known only once the window system has framed the shown window; until then this keeps
// the outer values asked for and applies them when the frame arrives. So a stored outer
// size comes back as that outer size, with or without a window manager, and never grows
// from one start to the next.

#include <QMargins>
#include <QObject>
#include <QRect>
#include <QSize>

#include <functional>
#include <optional>

class QWidget;

namespace orvella {

class TOuterFrame : public QObject {
  Q_OBJECT

 public:
  // Watches `window` (a top-level widget) and becomes its child.
  explicit TOuterFrame(QWidget& window);

  // The smallest outer size; the client gets it less the frame, once that is known.
  void SetMinimumOuterSize(QSize size);
  // A fixed outer width; until the frame is known the client is `provisionalClientWidth`.
  void SetFixedOuterWidth(int width, int provisionalClientWidth);

  // Moves the frame's top-left corner and sets the outer size; a missing value keeps
  // the current one.
  void SetOuterGeometry(std::optional<int> left, std::optional<int> top,
                        std::optional<int> width, std::optional<int> height);

  // The outer rectangle in screen coordinates. Before the frame is known: the position
  // and outer size asked for, else the client size with the frame another window of the
  // process was given.
  QRect OuterGeometry() const;
  bool FrameKnown() const { return fKnown; }

  // Called once, when the frame first becomes known (after the outer size is applied).
  std::function<void()> OnFrameKnown;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The frame as known, or the best guess before that.
  QMargins Frame() const;
  void FrameArrived();
  void ApplyLimits();
  void ResizeOuter(QSize outer);

  QWidget& fWindow;
  bool fKnown = false;
  bool fWatchingHandle = false;
  QMargins fFrame;
  // An outer size asked for before the frame was known, and the client size it was given
  // meanwhile; a later resize of the client by anyone else replaces it.
  struct Pending {
    QSize Outer;
    QSize Client;
  };
  std::optional<Pending> fPending;
  const Pending* ValidPending() const;
  QSize fMinimumOuter;
  int fFixedOuterWidth = -1;
  int fProvisionalClientWidth = -1;
};

}  // namespace orvella
