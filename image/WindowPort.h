#pragma once
// The one door from the core (image/, device/) to the window: the Qt main window
// implements it; tests and the command-line tool implement it with a recorder.

#include <cstdint>
#include <optional>
#include <string>

namespace orvella {

// Settings a command gives the save dialog before it opens.
struct SaveDialogRequest {
  std::string Filter;        // e.g. "Partition Name Prefix|"
  int FilterIndex = 1;
  std::string DefaultExt;    // may be empty
};

class WindowPort {
 public:
  virtual ~WindowPort() = default;

  // Log memo: a list of lines.
  virtual void LogClear() = 0;
  virtual void LogAdd(const std::string& line) = 0;
  // Replaces the last line; adds one when the log is empty.
  virtual void LogReplaceLast(const std::string& line) = 0;
  // Redraws the memo at once (after an in-place progress line).
  virtual void LogRedraw() {}

  // Progress gauge. The window scales the 64-bit values into its control.
  virtual void GaugeSetMax(std::int64_t maxValue) = 0;
  virtual void GaugeSetPos(std::int64_t position) = 0;
  virtual std::int64_t GaugeMax() const = 0;
  virtual std::int64_t GaugePos() const = 0;

  // Status bar panel text (panels 0 to 2).
  virtual void SetStatusText(int panel, const std::string& text) = 0;

  // Lets pending window messages run (repaints, clicks, a stop press).
  virtual void ProcessMessages() = 0;

  // Modal error box with an error icon and one OK button.
  virtual void ErrorBox(const std::string& text) = 0;

  // Shows the save dialog; the chosen full path, or nothing when cancelled.
  virtual std::optional<std::string> SaveDialog(const SaveDialogRequest& request) = 0;

  // Waits; the window keeps painting meanwhile where it can.
  virtual void Sleep(int milliseconds) = 0;

  // Asks for one line of text (a prompt with OK and Cancel); nothing when cancelled.
  // A window without prompts answers as cancelled.
  virtual std::optional<std::string> InputBox(const std::string& caption,
                                              const std::string& prompt,
                                              const std::string& initial) {
    (void)caption;
    (void)prompt;
    (void)initial;
    return std::nullopt;
  }
};

}  // namespace orvella
