#pragma once
// The busy tag of a scroll bar a view moves itself: while the bar carries it, the view
// takes the bar's notifications for its own doing, not for the user's scrolling. The tag
// is a dynamic property, so a test (or a host) sees it on the bar itself.

#include <QPointer>
#include <QScrollBar>
#include <QVariant>

namespace orvella {

// The scroll bar's tag value while its view moves the bar.
inline constexpr int kScrollBusyTag = 0x1234;
// Name of the scroll bar's dynamic property that carries the tag.
inline constexpr const char* kScrollTagProperty = "Tag";

inline bool ScrollBarBusy(const QScrollBar* bar) {
  return bar != nullptr && bar->property(kScrollTagProperty).toInt() == kScrollBusyTag;
}

// Tags the bar busy for the guard's lifetime and gives it back the tag it had.
class TScrollBarBusy {
 public:
  explicit TScrollBarBusy(QScrollBar* bar) : fBar(bar) {
    if (!fBar) return;
    fPrevious = fBar->property(kScrollTagProperty);
    fBar->setProperty(kScrollTagProperty, kScrollBusyTag);
  }
  ~TScrollBarBusy() {
    if (fBar) fBar->setProperty(kScrollTagProperty, fPrevious.isValid() ? fPrevious : QVariant(0));
  }
  TScrollBarBusy(const TScrollBarBusy&) = delete;
  TScrollBarBusy& operator=(const TScrollBarBusy&) = delete;

 private:
  QPointer<QScrollBar> fBar;
  QVariant fPrevious;
};

// Moves the bar to `value` as the view's own doing.
inline void MoveScrollBar(QScrollBar* bar, int value) {
  if (!bar) return;
  TScrollBarBusy busy(bar);
  bar->setValue(value);
}

}  // namespace orvella
