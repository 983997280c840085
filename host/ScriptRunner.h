#pragma once
// Runs a script against the plug-in's window while it is open modally: one command a
// line, carried out by timers from inside the window's own modal loop, so a command
// that starts a device transfer lets the following lines run nested (a stop press, a
// wait). Controls are found by objectName; dialogs are answered through the window's
// automation port (contract/AutomationProtocol.h), never by a real dialog.
//
// Commands (rows count from 1, as the "Position" column and the button captions do):
//   type <objectName> <text>     set the text of an edit
//   click <objectName>           press a button, or trigger a menu action
//   mark <row>                   toggle the row's mark, as a double-click on it does
//   cursor <row>                 put the list cursor on the row, as a left click does
//   wait                         until no device command runs and the last click returned
//   answer-save <path>           the next save dialog returns this path
//   answer-open <path>           the next open dialog returns this path
//   answer-close save|discard|keep   the next question about unsaved device data (before closing, loading a file or getting the table) gets this answer
//   sleep <ms>                   let the window run for a while
//   save-log <path>              write the log memo's lines into a file
//   expect-log <text>            fail unless some log line equals the text
//   expect-text <objectName> <text>  fail unless the control's text equals the text
//   expect-status <panel> <text> fail unless the status panel (0 to 2) shows the text
//   expect-gauge <value>         fail unless the gauge control's position is the value
//   key <objectName> <keys>      press keys on a control, in Qt's text form, several
//                                separated by commas: "key ScrollBox01 Ctrl+G", "key
//                                ScrollBox02 Shift+Down, Shift+Right"
//   answer-input <text>          the next one-line prompt (go to, find) returns the text
//   expect-caret main|spare <hex>    fail unless the hex view's caret is on that byte
//   expect-block main|spare <hex-first> <hex-last>   fail unless the view marks exactly
//                                those bytes ("none": no block)
//   expect-clipboard <text>      fail unless the clipboard holds the text
//   screenshot <path>            save a PNG of the screen (of the window where there is
//                                no screen to grab)
//   close                        wait for the device commands, then close the window
// A line runs when the one before it is done; after a click (or a key), as soon as the click's
// handler returned or a device command it started waits for the host: lines after such a
// click run while the command runs (a second click on its button is the stop press), so
// "wait" belongs after every device command whose end matters.
// Lines whose first non-blank character is '#' are comments; blank lines are skipped;
// blanks at the ends of a line are dropped.
// Relative paths are taken from the current folder. At the end of the script the
// window is closed as by "close".

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QTimer>

class QWidget;

namespace orvella {

class ScriptRunner : public QObject {
  Q_OBJECT

 public:
  struct Options {
    // The whole run, from Start to the window's close.
    int TimeoutMs = 600000;
    // How long a failed run waits for a running command to stop and the window to close
    // before HardExit is called.
    int AbortGraceMs = 15000;
    // The host's stop flag, raised when a run fails while a device command runs.
    std::uint8_t* StopFlag = nullptr;
    // Called when the window cannot be closed after a failure; must not return. The
    // default prints the message and ends the process with exit code 6.
    std::function<void(const std::string& message)> HardExit;
  };

  explicit ScriptRunner(Options options, QObject* parent = nullptr);
  ~ScriptRunner() override;

  // Parses a script; on a syntax error `error` names the line and nothing is kept.
  bool Load(const std::string& text, const std::string& scriptName, std::string& error);
  // Appends a step written in C++ (tests): it returns false and sets `error` to fail.
  void AddStep(const std::string& description, std::function<bool(std::string& error)> step);

  // Waits for the plug-in's window to open modally, then runs the steps. Call before
  // DoPluginMain.
  void Start();

  // True once the window was closed after the last step, or after a failure.
  bool Finished() const { return finished_; }
  bool Failed() const { return !error_.empty(); }
  // "<script> line <n> (<line text>): <what went wrong>"
  const std::string& Error() const { return error_; }
  // Texts of the error boxes the window showed during the run.
  const std::vector<std::string>& ErrorBoxes() const { return errorBoxes_; }

  // The plug-in's main window while it exists.
  static QWidget* FindMainWindow();

 private:
  struct Command {
    int Line = 0;
    std::string Text;  // the line as written, for messages
    std::string Verb;
    std::string Word;  // first argument
    std::string Rest;  // text after the first argument (or the whole argument)
    std::function<bool(std::string&)> Custom;
  };
  enum class Outcome { Next, Again, Later, Handled, Fail };

  void RunStep();
  Outcome Execute(const Command& c, std::string& error, int& delayMs);
  void Schedule(int delayMs);
  // Runs `act` (a click, keys) with the next lines scheduled to run nested meanwhile.
  Outcome RunNested(const std::function<void()>& act);
  void Fail(const std::string& message);
  void Abort();
  void AbortPoll();
  bool CollectPortReports(std::string& problem);
  bool CommandRunning() const;
  QObject* Port() const;
  QObject* FindControl(const std::string& name) const;
  std::string DescribeCurrent() const;

  Options options_;
  std::vector<Command> commands_;
  std::string scriptName_;
  std::size_t index_ = 0;    // next command to start
  std::size_t current_ = 0;  // command started last, named in failures
  int clickDepth_ = 0;       // clicks whose handlers are still on the stack
  bool finished_ = false;
  bool aborting_ = false;
  std::string error_;
  std::vector<std::string> errorBoxes_;
  QPointer<QWidget> window_;
  QTimer stepTimer_;
  QTimer timeoutTimer_;
  qint64 abortStartedMs_ = 0;
};

}  // namespace orvella
