#pragma once
// The main window's automation port (contract/AutomationProtocol.h): a child QObject a
// host finds by name and calls through Qt's meta-object system to answer the window's
// dialogs, move the list cursor and mark rows, so the whole plug-in runs without a
// person and without a display.

#include <QObject>
#include <QString>
#include <QList>
#include <QStringList>
#include <deque>

namespace orvella {

class TReraradForm;
class THEXView;

class AutomationPort : public QObject {
  Q_OBJECT

 public:
  // Becomes a child of the form.
  explicit AutomationPort(TReraradForm& form);

  Q_INVOKABLE void enableScriptMode();
  Q_INVOKABLE void queueSaveAnswer(const QString& path);
  Q_INVOKABLE void queueOpenAnswer(const QString& path);
  Q_INVOKABLE void queueInputAnswer(const QString& text);
  Q_INVOKABLE bool queueCloseAnswer(const QString& answer);
  Q_INVOKABLE bool setCursorRow(int row);
  Q_INVOKABLE bool toggleRowMark(int row);
  Q_INVOKABLE int rowCount() const;
  Q_INVOKABLE bool commandRunning() const;
  Q_INVOKABLE QString statusText(int panel) const;
  Q_INVOKABLE int buttonGlyph(const QString& name) const;
  Q_INVOKABLE qlonglong hexCaret(const QString& view) const;
  Q_INVOKABLE QList<qlonglong> hexBlock(const QString& view) const;
  Q_INVOKABLE QStringList takeProblems();
  Q_INVOKABLE QStringList takeErrorBoxes();

 private:
  THEXView* HexView(const QString& view) const;

  TReraradForm& form_;
  std::deque<QString> saveAnswers_;
  std::deque<QString> openAnswers_;
  std::deque<QString> inputAnswers_;
  std::deque<QString> closeAnswers_;
  QStringList problems_;
  QStringList errorBoxes_;
};

}  // namespace orvella
