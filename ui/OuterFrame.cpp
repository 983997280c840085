#include "ui/OuterFrame.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace orvella {

namespace {

// The frame the window system last gave a window of this process: the best guess for
// a window not yet shown (the hex window, once the main window has been shown).
std::optional<QMargins> g_lastFrame;

}  // namespace

TOuterFrame::TOuterFrame(QWidget& window) : QObject(&window), fWindow(window) {
  fWindow.installEventFilter(this);
}

QMargins TOuterFrame::Frame() const {
  if (fKnown) return fFrame;
  return g_lastFrame.value_or(QMargins());
}

void TOuterFrame::SetMinimumOuterSize(QSize size) {
  fMinimumOuter = size;
  ApplyLimits();
}

void TOuterFrame::SetFixedOuterWidth(int width, int provisionalClientWidth) {
  fFixedOuterWidth = width;
  fProvisionalClientWidth = provisionalClientWidth;
  ApplyLimits();
}

void TOuterFrame::ApplyLimits() {
  // Before any frame is known a minimum outer size cannot be turned into a client size:
  // applying it as one would make the first showing larger than designed.
  const bool frameKnown = fKnown || g_lastFrame.has_value();
  const QMargins f = Frame();
  // Meanwhile a token minimum keeps Qt from taking the layout's minimum instead, which
  // would stretch a stored outer size at the first showing.
  if (fMinimumOuter.isValid())
    fWindow.setMinimumSize(
        frameKnown ? QSize(std::max(1, fMinimumOuter.width() - f.left() - f.right()),
                           std::max(1, fMinimumOuter.height() - f.top() - f.bottom()))
                   : QSize(1, 1));
  if (fFixedOuterWidth > 0)
    fWindow.setFixedWidth(frameKnown ? std::max(1, fFixedOuterWidth - f.left() - f.right())
                                     : fProvisionalClientWidth);
}

void TOuterFrame::ResizeOuter(QSize outer) {
  const QMargins f = Frame();
  fWindow.resize(std::max(1, outer.width() - f.left() - f.right()),
                 std::max(1, outer.height() - f.top() - f.bottom()));
}

const TOuterFrame::Pending* TOuterFrame::ValidPending() const {
  return fPending && fWindow.size() == fPending->Client ? &*fPending : nullptr;
}

void TOuterFrame::SetOuterGeometry(std::optional<int> left, std::optional<int> top,
                                   std::optional<int> width, std::optional<int> height) {
  const QRect now = OuterGeometry();
  // For a window, move() places the frame's corner, also before the frame is known.
  if (left || top) fWindow.move(left.value_or(now.x()), top.value_or(now.y()));
  if (!width && !height) return;
  const QSize outer(width.value_or(now.width()), height.value_or(now.height()));
  ResizeOuter(outer);
  if (!fKnown) fPending = Pending{outer, fWindow.size()};
}

QRect TOuterFrame::OuterGeometry() const {
  const QMargins f = Frame();
  QRect outer = fWindow.geometry().marginsAdded(f);
  // Before the frame is known, pos() is where the frame's corner was asked to be.
  if (!fKnown) outer.moveTopLeft(fWindow.pos());
  if (const Pending* p = fKnown ? nullptr : ValidPending()) outer.setSize(p->Outer);
  if (fFixedOuterWidth > 0) outer.setWidth(fFixedOuterWidth);
  return outer;
}

void TOuterFrame::FrameArrived() {
  const QWindow* handle = fWindow.windowHandle();
  fFrame = handle != nullptr ? handle->frameMargins() : QMargins();
  fKnown = true;
  g_lastFrame = fFrame;
  const Pending* pending = ValidPending();
  const std::optional<QSize> outer = pending ? std::optional<QSize>(pending->Outer) : std::nullopt;
  fPending.reset();
  ApplyLimits();
  if (outer) ResizeOuter(*outer);
  if (OnFrameKnown) {
    const std::function<void()> once = std::move(OnFrameKnown);
    OnFrameKnown = nullptr;
    once();
  }
}

bool TOuterFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &fWindow) {
    switch (event->type()) {
      case QEvent::Show:
        // The platform window exists from the first showing on; its first exposure comes
        // after the window system has framed it (or found no one to frame it).
        if (!fWatchingHandle && fWindow.windowHandle() != nullptr) {
          fWindow.windowHandle()->installEventFilter(this);
          fWatchingHandle = true;
        }
        break;
      case QEvent::Move:
      case QEvent::Resize:
        // A window manager may change the frame later (another theme, a restart).
        if (fKnown && fWindow.isVisible() && fWindow.windowHandle() != nullptr &&
            fWindow.windowHandle()->frameMargins() != fFrame) {
          fFrame = fWindow.windowHandle()->frameMargins();
          g_lastFrame = fFrame;
          ApplyLimits();
        }
        break;
      default:
        break;
    }
  } else if (event->type() == QEvent::Expose && !fKnown) {
    const auto* handle = static_cast<const QWindow*>(watched);
    if (handle->isExposed()) FrameArrived();
  }
  return false;
}

}  // namespace orvella
