#pragma once
// The window port of the tool's commands.

#include <cstdio>
#include <string>

#include "cli/Console.h"
#include "image/RecordingPort.h"

namespace orvella::cli {

// Records like the tests' port and, when standard error is a terminal, shows the
// gauge there as a percentage.
class ConsolePort : public RecordingPort {
 public:
  explicit ConsolePort(std::string label) : label_(std::move(label)) {
    if (StandardErrorIsTerminal()) OnPump = [this] { ShowProgress(); };
  }
  ConsolePort(const ConsolePort&) = delete;
  ConsolePort& operator=(const ConsolePort&) = delete;
  ~ConsolePort() override { EndProgress(); }

  // Ends the progress line so that what follows starts on a line of its own.
  void EndProgress() {
    if (shown_ >= 0) std::fputc('\n', stderr);
    shown_ = -1;
  }

 private:
  void ShowProgress() {
    const long long percent = Max > 0 ? (Pos > Max ? 100 : Pos * 100 / Max) : 0;
    if (percent == shown_) return;
    shown_ = percent;
    std::fprintf(stderr, "\r%s %3lld%%", label_.c_str(), percent);
    std::fflush(stderr);
  }

  std::string label_;
  long long shown_ = -1;
};

}  // namespace orvella::cli
