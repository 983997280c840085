#pragma once
// Keeps a text file that says where every named control of the application's windows
// is on the screen and what it shows, for tools that drive the windows with real mouse
// and keyboard input (orvella-host --report-controls FILE). The file is rewritten, whole
// and by renaming, whenever what it would say changes.
//
// One line per widget that has an objectName, top-level windows first, tab-separated:
//   path  class  visible  enabled  x,y,w,h  value  text
// path: the objectNames of the widget and of its named ancestors, outermost first, joined
//   by '/' ("ReraradForm/GroupBox1/CreateList"); a window that belongs to another window
//   is named from its owner down.
// x,y,w,h: the widget's rectangle in screen coordinates; for a window its client area.
// value: a scroll bar's or slider's position, a check box's state (0 or 1), else "-".
// text: a window's title or a button's, label's or edit's text, or all the lines of a
//   log (a plain text edit), tabs and line breaks as spaces.
// A menu's window line is followed by one line for each of its named items, as
// "<menu path>/<item name>" of class QAction, with the item's rectangle on the screen.
// A window's line is followed by one "<path>#frame" line whose rectangle is its outer
// frame as the toolkit knows it.

#include <QObject>
#include <QString>
#include <QTimer>

namespace orvella {

class ControlReport : public QObject {
  Q_OBJECT

 public:
  ControlReport(const QString& path, int intervalMs, QObject* parent = nullptr);

  // The report as it would be written now.
  static QString Describe();

 private:
  void Update();

  QString path_;
  QString last_;
  QTimer timer_;
};

}  // namespace orvella
