// A long command's progress on standard error as "\rWHAT: NN%", shown only when standard
// error is a terminal; the line is ended once, when the work ends or the object goes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "cli/Console.h"

namespace orvella::cli {

class TerminalProgress {
 public:
  // `worthShowing` false keeps it silent (work too short to show).
  explicit TerminalProgress(std::string what, bool worthShowing = true)
      : what_(std::move(what)), shown_(worthShowing && StandardErrorIsTerminal() ? kNone : kOff) {}
  ~TerminalProgress() { End(); }
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  bool Active() const { return shown_ != kOff; }

  void operator()(std::uint64_t done, std::uint64_t total) {
    if (shown_ == kOff || total == 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == shown_) return;
    shown_ = percent;
    std::fprintf(stderr, "\r%s: %3d%%", what_.c_str(), percent);
  }

  // For the core's progress callbacks; this object must outlive the work.
  std::function<void(std::uint64_t, std::uint64_t)> Callback() {
    return [this](std::uint64_t done, std::uint64_t total) { (*this)(done, total); };
  }

  void End() {
    if (shown_ >= 0) std::fputc('\n', stderr);
    if (shown_ != kOff) shown_ = kNone;
  }

 private:
  static constexpr int kOff = -2;
  static constexpr int kNone = -1;
  std::string what_;
  int shown_;
};

}  // namespace orvella::cli
