#pragma once
// A window port that keeps everything in memory: the log as the memo would hold it,
// the gauge, the status panels and every error box. The command-line tool prints from
// it; tests read it and script the save dialog's answers.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image/WindowPort.h"

namespace orvella {

class RecordingPort : public WindowPort {
 public:
  std::vector<std::string> Log;
  std::vector<std::string> ErrorBoxes;
  std::vector<SaveDialogRequest> SaveRequests;
  // Answers of the save dialog, used in order; an empty queue cancels.
  std::deque<std::optional<std::string>> SaveAnswers;
  // Prompts asked (caption, then prompt), and their answers in order; none left cancels.
  std::vector<std::string> InputPrompts;
  std::deque<std::optional<std::string>> InputAnswers;
  std::string Status[3];
  std::int64_t Max = 0;
  std::int64_t Pos = 0;
  std::int64_t HighestPos = 0;   // the highest gauge position seen since creation
  long MessagePumps = 0;
  long SleptMs = 0;
  // Called on every gauge change and message pump (progress display, test hooks).
  std::function<void()> OnPump;

  void LogClear() override { Log.clear(); }
  void LogAdd(const std::string& line) override { Log.push_back(line); }
  void LogReplaceLast(const std::string& line) override {
    if (Log.empty()) Log.push_back(line); else Log.back() = line;
  }
  void GaugeSetMax(std::int64_t maxValue) override { Max = maxValue; }
  void GaugeSetPos(std::int64_t position) override {
    Pos = position;
    if (Pos > HighestPos) HighestPos = Pos;
  }
  std::int64_t GaugeMax() const override { return Max; }
  std::int64_t GaugePos() const override { return Pos; }
  void SetStatusText(int panel, const std::string& text) override {
    if (panel >= 0 && panel < 3) Status[panel] = text;
  }
  void ProcessMessages() override {
    ++MessagePumps;
    if (OnPump) OnPump();
  }
  void ErrorBox(const std::string& text) override { ErrorBoxes.push_back(text); }
  std::optional<std::string> SaveDialog(const SaveDialogRequest& request) override {
    SaveRequests.push_back(request);
    if (SaveAnswers.empty()) return std::nullopt;
    auto answer = SaveAnswers.front();
    SaveAnswers.pop_front();
    return answer;
  }
  void Sleep(int milliseconds) override { SleptMs += milliseconds; }
  std::optional<std::string> InputBox(const std::string& caption, const std::string& prompt,
                                      const std::string&) override {
    InputPrompts.push_back(caption + ": " + prompt);
    if (InputAnswers.empty()) return std::nullopt;
    auto answer = InputAnswers.front();
    InputAnswers.pop_front();
    return answer;
  }
};

}  // namespace orvella
