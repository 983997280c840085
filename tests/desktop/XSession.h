#pragma once
// A private X server for tests that use windows as a person does: Xvfb on a display it
// picks itself, optionally with the openbox window manager, and child processes that
// end with the test. Pointer input, window lookups and screenshots go through xdotool,
// xwininfo, xprop and ImageMagick's import.

#include <sys/types.h>
#include <unistd.h>

#include <QImage>
#include <QMargins>
#include <QPoint>
#include <QRect>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/TestFiles.h"

namespace orvella::test {

// A process started with extra environment entries (NAME=value, replacing inherited
// ones); sent SIGTERM, then SIGKILL, and reaped when destroyed.
class Child {
 public:
  Child() = default;
  ~Child() { Stop(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // `keepFd` is handed to the child as file descriptor 3; output goes to `logPath`.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& logPath, int keepFd = -1);
  bool Running();
  // The exit code (-1 when ended by a signal), or nothing when still running at the end.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout);
  void Signal(int signal);
  void Stop();

 private:
  pid_t pid_ = -1;
  std::optional<int> exit_;
};

// A window as the X server and the window manager see it.
struct XWindow {
  unsigned long Id = 0;
  QRect Client;    // screen coordinates
  QMargins Frame;  // _NET_FRAME_EXTENTS; none without a window manager
  QRect Outer() const { return Client.marginsAdded(Frame); }
};

class XServer {
 public:
  static constexpr int kWidth = 1600;
  static constexpr int kHeight = 1200;

  // Starts Xvfb (and openbox when `windowManager`); false with `error` when it cannot.
  bool Start(bool windowManager, std::string& error);
  const std::string& Display() const { return display_; }
  bool HasWindowManager() const { return windowManager_; }

  // A command line run with this display; its output, or nothing when it failed.
  std::optional<std::string> Run(const std::string& commandLine) const;
  // xdotool with these arguments; false when it failed.
  bool Xdotool(const std::string& arguments) const;
  void Click(QPoint at, int button = 1, int repeat = 1) const;
  // Presses the left button at `from`, moves to `to` in steps, and releases it there.
  void Drag(QPoint from, QPoint to) const;
  void Wheel(QPoint at, bool down, int notches) const;
  // The viewable window whose title matches `titleRegex`.
  std::optional<XWindow> FindWindow(const std::string& titleRegex) const;
  // The centre of the close box the window manager draws on the window's title bar.
  static QPoint CloseBox(const XWindow& w);
  // The whole screen, also saved as a PNG at `path`.
  QImage Screenshot(const std::string& path) const;

 private:
  TempDir home_;  // the window manager's configuration folder: the defaults
  std::string display_;
  bool windowManager_ = false;
  Child xvfb_;
  Child wm_;
};

// Polls `condition` every 20 ms until it holds or `timeout` passes; its last answer.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return condition();
    ::usleep(20000);
  }
  return true;
}

}  // namespace orvella::test
