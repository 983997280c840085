#include "plugin/AutomationPort.h"

#include <QLabel>
#include <QPoint>
#include <QPushButton>

#include "contract/AutomationProtocol.h"
#include "ui/CoolListView.h"
#include "ui/HEXView.h"
#include "ui/HexWindowUnit.h"
#include "ui/MainUnit.h"

namespace orvella {

namespace {

QString Take(std::deque<QString>& queue) {
  QString front = queue.front();
  queue.pop_front();
  return front;
}

}  // namespace

AutomationPort::AutomationPort(TReraradForm& form) : QObject(&form), form_(form) {
  setObjectName(QLatin1String(automation::kAutomationPortName));
}

void AutomationPort::enableScriptMode() {
  TWindowHooks& h = form_.Hooks;
  h.ErrorBox = [this](const QString& text) { errorBoxes_ << text; };
  h.SaveDialog = [this](const SaveDialogRequest& request) -> std::optional<QString> {
    if (!saveAnswers_.empty()) return Take(saveAnswers_);
    problems_ << QStringLiteral("a save dialog (filter \"%1\") opened with no answer given")
                     .arg(QString::fromStdString(request.Filter));
    return std::nullopt;
  };
  h.OpenDialog = [this](const QString& filter, int) -> std::optional<QString> {
    if (!openAnswers_.empty()) return Take(openAnswers_);
    problems_ << QStringLiteral("an open dialog (filter \"%1\") opened with no answer given")
                     .arg(filter);
    return std::nullopt;
  };
  h.InputBox = [this](const QString& caption, const QString&, const QString&) -> std::optional<QString> {
    if (!inputAnswers_.empty()) return Take(inputAnswers_);
    problems_ << QStringLiteral("the prompt \"%1\" opened with no answer given").arg(caption);
    return std::nullopt;
  };
  // A scripted right click would open the menu and leave it open; its actions are
  // triggered by name instead.
  h.Popup = [](const QPoint&) {};
  if (THexForm* hex = form_.HexForm()) {
    for (THEXView* view : {hex->MainView(), hex->SpareView()})
      view->PopupHook = [](QMenu&, const QPoint&) {};
  }
  h.CloseQuestion = [this](const QString&) {
    if (closeAnswers_.empty()) {
      problems_ << QStringLiteral(
          "the window asked before closing over unsaved device data with no answer given");
      return CloseAnswer::KeepOpen;
    }
    const QString a = Take(closeAnswers_);
    if (a == QLatin1String("save")) return CloseAnswer::SaveImage;
    if (a == QLatin1String("discard")) return CloseAnswer::Discard;
    return CloseAnswer::KeepOpen;
  };
}

void AutomationPort::queueSaveAnswer(const QString& path) { saveAnswers_.push_back(path); }

void AutomationPort::queueOpenAnswer(const QString& path) { openAnswers_.push_back(path); }

void AutomationPort::queueInputAnswer(const QString& text) { inputAnswers_.push_back(text); }

bool AutomationPort::queueCloseAnswer(const QString& answer) {
  if (answer != QLatin1String("save") && answer != QLatin1String("discard") &&
      answer != QLatin1String("keep"))
    return false;
  closeAnswers_.push_back(answer);
  return true;
}

bool AutomationPort::setCursorRow(int row) {
  if (row < 0 || row >= rowCount()) return false;
  form_.ListView()->SetItemIndex(row);
  return true;
}

bool AutomationPort::toggleRowMark(int row) {
  // A double-click first puts the cursor on the row, then toggles its mark.
  if (!setCursorRow(row)) return false;
  form_.OnDoubleClick(form_.PaintBox00);
  return true;
}

int AutomationPort::rowCount() const { return form_.Model().PartitionItems.Count; }

bool AutomationPort::commandRunning() const {
  return form_.Device().CommandRunning() || form_.CheckRunning();
}

QString AutomationPort::statusText(int panel) const {
  if (panel < 0 || panel >= static_cast<int>(form_.StatusPanels.size())) return {};
  return form_.StatusPanels[static_cast<std::size_t>(panel)]->text();
}

int AutomationPort::buttonGlyph(const QString& name) const {
  return form_.ButtonImage(form_.findChild<QPushButton*>(name));
}

THEXView* AutomationPort::HexView(const QString& view) const {
  THexForm* hex = form_.HexForm();
  if (hex == nullptr) return nullptr;
  if (view == QLatin1String("main")) return hex->MainView();
  if (view == QLatin1String("spare")) return hex->SpareView();
  return nullptr;
}

qlonglong AutomationPort::hexCaret(const QString& view) const {
  const THEXView* v = HexView(view);
  return v ? v->CaretAddress() : -1;
}

QList<qlonglong> AutomationPort::hexBlock(const QString& view) const {
  const THEXView* v = HexView(view);
  if (v == nullptr || !v->HasBlock()) return {};
  return {v->BlockBegin(), v->BlockEnd()};
}

QStringList AutomationPort::takeProblems() {
  QStringList out;
  out.swap(problems_);
  return out;
}

QStringList AutomationPort::takeErrorBoxes() {
  QStringList out;
  out.swap(errorBoxes_);
  return out;
}

}  // namespace orvella
