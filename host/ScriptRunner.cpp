#include "host/ScriptRunner.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QKeySequence>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QGuiApplication>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>
#include <QProgressBar>
#include <QStringList>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "contract/AutomationProtocol.h"

namespace orvella {

namespace {

using namespace orvella::automation;

constexpr int kPollMs = 20;
constexpr int kAbortPollMs = 50;
constexpr long kMaxRow = 1000000;
constexpr long kMaxSleepMs = 3600000;
constexpr const char* kDeviceButtons[] = {"FlashSelectedBtn", "ReadSelectedBtn",
                                          "EraseSelectedBtn", "ReadPartitionBtn"};
constexpr const char* kStopCaption = "&Stop";

std::string Trimmed(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  const std::size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// First word and the text after the single blank that follows it.
void SplitWord(const std::string& s, std::string& word, std::string& rest) {
  const std::size_t blank = s.find_first_of(" \t");
  if (blank == std::string::npos) {
    word = s;
    rest.clear();
    return;
  }
  word = s.substr(0, blank);
  rest = s.substr(blank + 1);
}

bool ParseNumber(const std::string& text, long min, long max, long& out) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  out = std::stol(text);
  return out >= min && out <= max;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string Quoted(const QString& s) { return ('"' + s + '"').toStdString(); }

QString AbsolutePath(const std::string& path) { return QDir::current().absoluteFilePath(Q(path)); }

QStringList LogLinesOf(const QPlainTextEdit* memo) {
  if (memo->document()->isEmpty()) return {};
  return memo->toPlainText().split(QLatin1Char('\n'));
}

// The text a control shows, for expect-text.
bool ControlText(QObject* control, QString& text) {
  if (auto* b = qobject_cast<QAbstractButton*>(control)) text = b->text();
  else if (auto* l = qobject_cast<QLabel*>(control)) text = l->text();
  else if (auto* e = qobject_cast<QLineEdit*>(control)) text = e->text();
  else if (auto* g = qobject_cast<QGroupBox*>(control)) text = g->title();
  else if (auto* a = qobject_cast<QAction*>(control)) text = a->text();
  else if (auto* p = qobject_cast<QPlainTextEdit*>(control)) text = p->toPlainText();
  else if (auto* w = qobject_cast<QWidget*>(control); w && w->isWindow()) text = w->windowTitle();
  else return false;
  return true;
}

// Keys in Qt's text form, separated by commas; empty when one of them is no key.
std::vector<QKeyCombination> ParseKeys(const std::string& text) {
  std::vector<QKeyCombination> keys;
  for (const QString& one : Q(text).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    const QKeySequence seq = QKeySequence::fromString(one.trimmed(), QKeySequence::PortableText);
    if (seq.count() != 1 || seq[0].key() == Qt::Key_unknown) return {};
    keys.push_back(seq[0]);
  }
  return keys;
}

bool ParseHex(const std::string& text, qlonglong& out) {
  std::string t = text;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
  if (t.empty() || t.size() > 15 || t.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return false;
  out = std::stoll(t, nullptr, 16);
  return true;
}

std::string Hex(qlonglong v) { return v < 0 ? "none" : QString::number(v, 16).toUpper().toStdString(); }

[[noreturn]] void DefaultHardExit(const std::string& message) {
  std::fprintf(stderr, "orvella-host: %s\n", message.c_str());
  std::fflush(stderr);
  std::_Exit(6);
}

}  // namespace

ScriptRunner::ScriptRunner(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
  if (!options_.HardExit) options_.HardExit = DefaultHardExit;
  stepTimer_.setSingleShot(true);
  connect(&stepTimer_, &QTimer::timeout, this, [this] {
    if (aborting_) AbortPoll(); else RunStep();
  });
  timeoutTimer_.setSingleShot(true);
  connect(&timeoutTimer_, &QTimer::timeout, this, [this] {
    Fail("the script timed out after " + std::to_string(options_.TimeoutMs) + " ms");
  });
}

ScriptRunner::~ScriptRunner() = default;

bool ScriptRunner::Load(const std::string& text, const std::string& scriptName, std::string& error) {
  std::vector<Command> parsed;
  int lineNumber = 0;
  bool closed = false;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string raw = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    const std::string line = Trimmed(raw);
    if (line.empty() || line[0] == '#') continue;

    Command c;
    c.Line = lineNumber;
    c.Text = line;
    std::string args;
    SplitWord(line, c.Verb, args);
    const auto bad = [&](const std::string& why) {
      error = scriptName + " line " + std::to_string(lineNumber) + " (" + line + "): " + why;
      return false;
    };
    if (closed) return bad("nothing may follow \"close\"");
    long n = 0;
    const std::string& v = c.Verb;
    if (v == "type" || v == "expect-text") {
      SplitWord(args, c.Word, c.Rest);
      if (c.Word.empty()) return bad(v + " needs a control name");
    } else if (v == "click") {
      c.Word = args;
      if (c.Word.empty() || c.Word.find_first_of(" \t") != std::string::npos)
        return bad("click needs one control name");
    } else if (v == "mark" || v == "cursor") {
      c.Word = args;
      if (!ParseNumber(args, 1, kMaxRow, n)) return bad(v + " needs a row number from 1");
    } else if (v == "sleep") {
      c.Word = args;
      if (!ParseNumber(args, 0, kMaxSleepMs, n)) return bad("sleep needs milliseconds");
    } else if (v == "expect-gauge") {
      c.Word = args;
      if (!ParseNumber(args, 0, std::numeric_limits<int>::max(), n))
        return bad("expect-gauge needs a position");
    } else if (v == "expect-status") {
      SplitWord(args, c.Word, c.Rest);
      if (!ParseNumber(c.Word, 0, 2, n)) return bad("expect-status needs a panel from 0 to 2");
    } else if (v == "answer-save" || v == "answer-open" || v == "save-log" ||
               v == "screenshot") {
      c.Rest = args;
      if (c.Rest.empty()) return bad(v + " needs a path");
    } else if (v == "answer-close") {
      c.Word = args;
      if (args != "save" && args != "discard" && args != "keep")
        return bad("answer-close needs save, discard or keep");
    } else if (v == "expect-log" || v == "answer-input" || v == "expect-clipboard") {
      c.Rest = args;
    } else if (v == "key") {
      SplitWord(args, c.Word, c.Rest);
      if (c.Word.empty() || ParseKeys(c.Rest).empty())
        return bad("key needs a control name and keys in Qt's text form (Ctrl+G, Shift+Down)");
    } else if (v == "expect-caret" || v == "expect-block") {
      SplitWord(args, c.Word, c.Rest);
      if (c.Word != "main" && c.Word != "spare") return bad(v + " needs main or spare");
      qlonglong a = 0;
      std::string first, last;
      SplitWord(c.Rest, first, last);
      const bool ok = v == "expect-caret" ? ParseHex(c.Rest, a)
                                           : (c.Rest == "none" || (ParseHex(first, a) && ParseHex(last, a)));
      if (!ok)
        return bad(v == "expect-caret" ? "expect-caret needs a hexadecimal address"
                                       : "expect-block needs two hexadecimal addresses or none");
    } else if (v == "wait" || v == "close") {
      if (!args.empty()) return bad(v + " takes no argument");
      closed = v == "close";
    } else {
      return bad("unknown command \"" + v + "\"");
    }
    parsed.push_back(std::move(c));
  }
  scriptName_ = scriptName;
  commands_.insert(commands_.end(), parsed.begin(), parsed.end());
  return true;
}

void ScriptRunner::AddStep(const std::string& description,
                           std::function<bool(std::string& error)> step) {
  Command c;
  c.Text = description;
  c.Verb = "step";
  c.Custom = std::move(step);
  commands_.push_back(std::move(c));
}

void ScriptRunner::Start() {
  timeoutTimer_.start(options_.TimeoutMs);
  Schedule(0);
}

QWidget* ScriptRunner::FindMainWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == QLatin1String(kMainWindowName)) return w;
  return nullptr;
}

QObject* ScriptRunner::Port() const {
  return window_ ? window_->findChild<QObject*>(QLatin1String(kAutomationPortName)) : nullptr;
}

QObject* ScriptRunner::FindControl(const std::string& name) const {
  const QString n = Q(name);
  if (window_) {
    if (window_->objectName() == n) return window_;
    if (QObject* o = window_->findChild<QObject*>(n)) return o;
  }
  // The plug-in's other windows (the hex window).
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w == window_) continue;
    if (w->objectName() == n) return w;
    if (QObject* o = w->findChild<QObject*>(n)) return o;
  }
  return nullptr;
}

bool ScriptRunner::CommandRunning() const {
  if (QObject* port = Port()) {
    bool running = false;
    if (QMetaObject::invokeMethod(port, kCommandRunning, Qt::DirectConnection,
                                  Q_RETURN_ARG(bool, running)))
      return running;
  }
  for (const char* name : kDeviceButtons)
    if (auto* b = qobject_cast<QAbstractButton*>(FindControl(name));
        b && b->text() == QLatin1String(kStopCaption))
      return true;
  return false;
}

bool ScriptRunner::CollectPortReports(std::string& problem) {
  QObject* port = Port();
  if (!port) return true;
  QStringList boxes;
  if (QMetaObject::invokeMethod(port, kTakeErrorBoxes, Qt::DirectConnection,
                                Q_RETURN_ARG(QStringList, boxes)))
    for (const QString& b : boxes) errorBoxes_.push_back(b.toStdString());
  QStringList problems;
  if (QMetaObject::invokeMethod(port, kTakeProblems, Qt::DirectConnection,
                                Q_RETURN_ARG(QStringList, problems)) &&
      !problems.isEmpty()) {
    problem = problems.front().toStdString();
    return false;
  }
  return true;
}

void ScriptRunner::Schedule(int delayMs) { stepTimer_.start(delayMs); }

// A device command may run inside what `act` sets off (a click, a key): the next lines
// must be able to run nested, from the window messages the host lets through meanwhile.
ScriptRunner::Outcome ScriptRunner::RunNested(const std::function<void()>& act) {
  const std::size_t at = index_;
  ++index_;
  Schedule(0);
  ++clickDepth_;
  act();
  --clickDepth_;
  std::string problem;
  if (!finished_ && !aborting_ && !CollectPortReports(problem)) {
    current_ = at;
    Fail(problem);
  }
  return Outcome::Handled;
}

std::string ScriptRunner::DescribeCurrent() const {
  if (!window_) return scriptName_ + " (waiting for the plug-in's window)";
  if (current_ >= commands_.size()) return scriptName_ + " (at its end)";
  const Command& c = commands_[current_];
  if (c.Custom) return scriptName_ + " step \"" + c.Text + "\"";
  return scriptName_ + " line " + std::to_string(c.Line) + " (" + c.Text + ")";
}

void ScriptRunner::RunStep() {
  if (finished_ || aborting_) return;
  if (!window_) {
    QWidget* w = FindMainWindow();
    if (!w || !w->isVisible()) {
      Schedule(kPollMs);
      return;
    }
    window_ = w;
    if (QObject* port = Port())
      QMetaObject::invokeMethod(port, kEnableScriptMode, Qt::DirectConnection);
  }
  // A click whose handler is still on the stack lets the next line run only while a
  // device command waits for the host: that is when a person could press again.
  if (clickDepth_ > 0 && !CommandRunning()) {
    Schedule(kPollMs);
    return;
  }
  std::string problem;
  if (!CollectPortReports(problem)) {
    Fail(problem);
    return;
  }
  current_ = index_;
  if (index_ >= commands_.size()) {
    // The end of the script closes the window as "close" does.
    Command close;
    close.Verb = "close";
    int delay = 0;
    std::string error;
    switch (Execute(close, error, delay)) {
      case Outcome::Again: Schedule(delay); break;
      case Outcome::Fail: Fail(error); break;
      default: break;
    }
    return;
  }
  const std::size_t at = index_;
  int delay = 0;
  std::string error;
  switch (Execute(commands_[at], error, delay)) {
    case Outcome::Next:
      ++index_;
      Schedule(0);
      break;
    case Outcome::Later:
      ++index_;
      Schedule(delay);
      break;
    case Outcome::Again:
      Schedule(delay);
      break;
    case Outcome::Handled:
      break;
    case Outcome::Fail:
      index_ = at;
      current_ = at;
      Fail(error);
      break;
  }
}

ScriptRunner::Outcome ScriptRunner::Execute(const Command& c, std::string& error, int& delayMs) {
  const std::string& v = c.Verb;
  const auto fail = [&](const std::string& why) {
    error = why;
    return Outcome::Fail;
  };
  QObject* port = Port();
  const auto needPort = [&]() {
    error = "the plug-in's window has no automation port";
    return port != nullptr;
  };

  if (c.Custom) {
    return c.Custom(error) ? Outcome::Next : Outcome::Fail;
  }
  if (v == "type") {
    QObject* o = FindControl(c.Word);
    if (!o) return fail("no control named \"" + c.Word + "\"");
    auto* w = qobject_cast<QWidget*>(o);
    if (w && !w->isEnabled()) return fail("\"" + c.Word + "\" is disabled");
    if (auto* e = qobject_cast<QLineEdit*>(o)) e->setText(Q(c.Rest));
    else if (auto* p = qobject_cast<QPlainTextEdit*>(o)) p->setPlainText(Q(c.Rest));
    else return fail("\"" + c.Word + "\" is not an edit");
    return Outcome::Next;
  }
  if (v == "click") {
    QObject* o = FindControl(c.Word);
    if (!o) return fail("no control named \"" + c.Word + "\"");
    auto* button = qobject_cast<QAbstractButton*>(o);
    auto* action = qobject_cast<QAction*>(o);
    if (!button && !action) return fail("\"" + c.Word + "\" is neither a button nor a menu action");
    if (button ? !button->isEnabled() : !action->isEnabled())
      return fail("\"" + c.Word + "\" is disabled");
    return RunNested([&] {
      if (button) button->click(); else action->trigger();
    });
  }
  if (v == "key") {
    auto* w = qobject_cast<QWidget*>(FindControl(c.Word));
    if (!w) return fail("no control named \"" + c.Word + "\"");
    if (!w->isEnabled()) return fail("\"" + c.Word + "\" is disabled");
    // As a click: what a key starts (a search that lets the window run) may let the next
    // lines run nested only when a device command waits.
    QPointer<QWidget> target(w);
    const auto keys = ParseKeys(c.Rest);
    return RunNested([&] {
      for (const QKeyCombination k : keys) {
        if (!target) break;
        QKeyEvent press(QEvent::KeyPress, k.key(), k.keyboardModifiers());
        QApplication::sendEvent(target, &press);
        if (!target) break;
        QKeyEvent release(QEvent::KeyRelease, k.key(), k.keyboardModifiers());
        QApplication::sendEvent(target, &release);
      }
    });
  }
  if (v == "answer-input") {
    if (!needPort()) return Outcome::Fail;
    QMetaObject::invokeMethod(port, kQueueInputAnswer, Qt::DirectConnection, Q_ARG(QString, Q(c.Rest)));
    return Outcome::Next;
  }
  if (v == "expect-caret" || v == "expect-block") {
    if (!needPort()) return Outcome::Fail;
    if (v == "expect-caret") {
      qlonglong caret = -1;
      QMetaObject::invokeMethod(port, kHexCaret, Qt::DirectConnection, Q_RETURN_ARG(qlonglong, caret),
                                Q_ARG(QString, Q(c.Word)));
      qlonglong want = 0;
      ParseHex(c.Rest, want);
      if (caret == want) return Outcome::Next;
      return fail("the " + c.Word + " view's caret is on " + Hex(caret) + ", not " + Hex(want));
    }
    QList<qlonglong> block;
    QMetaObject::invokeMethod(port, kHexBlock, Qt::DirectConnection,
                              Q_RETURN_ARG(QList<qlonglong>, block), Q_ARG(QString, Q(c.Word)));
    const std::string have = block.size() == 2 ? Hex(block[0]) + " " + Hex(block[1]) : "none";
    std::string want = "none";
    if (c.Rest != "none") {
      std::string first, last;
      SplitWord(c.Rest, first, last);
      qlonglong a = 0, b = 0;
      ParseHex(first, a);
      ParseHex(last, b);
      want = Hex(a) + " " + Hex(b);
    }
    if (have == want) return Outcome::Next;
    return fail("the " + c.Word + " view marks " + have + ", not " + want);
  }
  if (v == "expect-clipboard") {
    const QString text = QGuiApplication::clipboard()->text();
    if (text == Q(c.Rest)) return Outcome::Next;
    return fail("the clipboard holds " + Quoted(text) + ", not \"" + c.Rest + "\"");
  }
  if (v == "mark" || v == "cursor") {
    if (!needPort()) return Outcome::Fail;
    const int row = std::stoi(c.Word) - 1;
    bool ok = false;
    QMetaObject::invokeMethod(port, v == "mark" ? kToggleRowMark : kSetCursorRow,
                              Qt::DirectConnection, Q_RETURN_ARG(bool, ok), Q_ARG(int, row));
    if (!ok) return fail("there is no row " + c.Word);
    return Outcome::Next;
  }
  if (v == "wait") {
    if (clickDepth_ > 0 || CommandRunning()) {
      delayMs = kPollMs;
      return Outcome::Again;
    }
    return Outcome::Next;
  }
  if (v == "answer-save" || v == "answer-open") {
    if (!needPort()) return Outcome::Fail;
    QMetaObject::invokeMethod(port, v == "answer-save" ? kQueueSaveAnswer : kQueueOpenAnswer,
                              Qt::DirectConnection, Q_ARG(QString, AbsolutePath(c.Rest)));
    return Outcome::Next;
  }
  if (v == "answer-close") {
    if (!needPort()) return Outcome::Fail;
    bool ok = false;
    QMetaObject::invokeMethod(port, kQueueCloseAnswer, Qt::DirectConnection,
                              Q_RETURN_ARG(bool, ok), Q_ARG(QString, Q(c.Word)));
    if (!ok) return fail("the window does not take the answer \"" + c.Word + "\"");
    return Outcome::Next;
  }
  if (v == "sleep") {
    delayMs = std::stoi(c.Word);
    return Outcome::Later;
  }
  if (v == "save-log" || v == "expect-log") {
    auto* memo = qobject_cast<QPlainTextEdit*>(FindControl("MyMemo"));
    if (!memo) return fail("no log memo named \"MyMemo\"");
    const QStringList lines = LogLinesOf(memo);
    if (v == "save-log") {
      QFile out(AbsolutePath(c.Rest));
      if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail("cannot write the log to \"" + c.Rest + "\": " + out.errorString().toStdString());
      QByteArray bytes;
      for (const QString& l : lines) bytes += l.toUtf8() + '\n';
      if (out.write(bytes) != bytes.size() || !out.flush())
        return fail("cannot write the log to \"" + c.Rest + "\": " + out.errorString().toStdString());
      return Outcome::Next;
    }
    if (lines.contains(Q(c.Rest))) return Outcome::Next;
    return fail("no log line equals \"" + c.Rest + "\"; the log has " +
                std::to_string(lines.size()) + " lines" +
                (lines.isEmpty() ? std::string() : ", the last " + Quoted(lines.back())));
  }
  if (v == "expect-text") {
    QObject* o = FindControl(c.Word);
    if (!o) return fail("no control named \"" + c.Word + "\"");
    QString text;
    if (!ControlText(o, text)) return fail("\"" + c.Word + "\" shows no text");
    if (text == Q(c.Rest)) return Outcome::Next;
    return fail("\"" + c.Word + "\" shows " + Quoted(text) + ", not \"" + c.Rest + "\"");
  }
  if (v == "expect-status") {
    if (!needPort()) return Outcome::Fail;
    QString text;
    QMetaObject::invokeMethod(port, kStatusText, Qt::DirectConnection,
                              Q_RETURN_ARG(QString, text), Q_ARG(int, std::stoi(c.Word)));
    if (text == Q(c.Rest)) return Outcome::Next;
    return fail("status panel " + c.Word + " shows " + Quoted(text) + ", not \"" + c.Rest + "\"");
  }
  if (v == "expect-gauge") {
    auto* gauge = qobject_cast<QProgressBar*>(FindControl("MyGauge"));
    if (!gauge) return fail("no gauge named \"MyGauge\"");
    if (gauge->value() == std::stoi(c.Word)) return Outcome::Next;
    return fail("the gauge stands at " + std::to_string(gauge->value()) + ", not " + c.Word);
  }
  if (v == "screenshot") {
    // The whole screen where there is one (host and plug-in windows together), else the
    // window alone.
    QPixmap shot;
    if (QScreen* screen = QGuiApplication::primaryScreen()) shot = screen->grabWindow(0);
    if (shot.isNull() || shot.size().isEmpty()) shot = window_->grab();
    if (!shot.save(AbsolutePath(c.Rest), "PNG"))
      return fail("cannot write the screenshot \"" + c.Rest + "\"");
    return Outcome::Next;
  }
  if (v == "close") {
    if (!window_) return fail("the window is gone");
    if (clickDepth_ > 0 || CommandRunning()) {
      delayMs = kPollMs;
      return Outcome::Again;
    }
    window_->close();
    if (window_ && window_->isVisible()) {
      // Most likely it asked a question that had no answer.
      std::string problem;
      if (!CollectPortReports(problem)) return fail(problem);
      return fail("the window did not close");
    }
    finished_ = true;
    stepTimer_.stop();
    timeoutTimer_.stop();
    return Outcome::Handled;
  }
  return fail("unknown command \"" + v + "\"");
}

void ScriptRunner::Fail(const std::string& message) {
  if (finished_ || aborting_) return;
  error_ = DescribeCurrent() + ": " + message;
  Abort();
}

void ScriptRunner::Abort() {
  aborting_ = true;
  timeoutTimer_.stop();
  abortStartedMs_ = QDateTime::currentMSecsSinceEpoch();
  if (QObject* port = Port()) {
    // Closing over unread device data would otherwise ask; the run is over.
    bool ok = false;
    QMetaObject::invokeMethod(port, kQueueCloseAnswer, Qt::DirectConnection,
                              Q_RETURN_ARG(bool, ok), Q_ARG(QString, QStringLiteral("discard")));
  }
  stepTimer_.start(0);
}

void ScriptRunner::AbortPoll() {
  if (finished_) return;
  if (!window_) {
    QWidget* w = FindMainWindow();
    if (w && w->isVisible()) window_ = w;
  }
  if (window_ && window_->isVisible()) {
    if (CommandRunning()) {
      if (options_.StopFlag) *options_.StopFlag = 1;
    } else {
      window_->close();
      if (!window_ || !window_->isVisible()) {
        finished_ = true;
        return;
      }
    }
  } else if (window_) {
    finished_ = true;  // closed meanwhile
    return;
  }
  if (QDateTime::currentMSecsSinceEpoch() - abortStartedMs_ > options_.AbortGraceMs) {
    finished_ = true;
    options_.HardExit(error_ + (window_ ? " (and the window could not be closed)"
                                        : " (and the plug-in's window never opened)"));
    return;
  }
  stepTimer_.start(kAbortPollMs);
}

}  // namespace orvella
