#pragma once
// The log memo as a list of lines, for both of its writers: the plug-in's window and the
// host that HostAttachLog handed it to. The memo is a QPlainTextEdit with one line per
// text block, but its document cannot tell an empty log from a log of one empty line,
// and appendPlainText puts a line into that lone empty line. So every writer goes
// through these helpers: a write stamps the memo's dynamic property
// kLogLinesRevisionProperty with the document's revision, and an empty document holds a
// line only while that stamp is current. Any later change of the document (a clear()
// among them, even of an empty one) moves the revision on and so ends it.

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QString>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVariant>

namespace orvella {

inline constexpr const char* kLogLinesRevisionProperty = "orvellaLogLinesRevision";

inline bool MemoHoldsLines(const QPlainTextEdit& memo) {
  const QTextDocument* doc = memo.document();
  if (!doc->isEmpty()) return true;
  const QVariant stamp = memo.property(kLogLinesRevisionProperty);
  return stamp.isValid() && stamp.toInt() == doc->revision();
}

inline void MemoStampLines(QPlainTextEdit& memo) {
  memo.setProperty(kLogLinesRevisionProperty, memo.document()->revision());
}

inline void MemoAddLine(QPlainTextEdit& memo, const QString& line) {
  QTextCursor cursor(memo.document());
  cursor.movePosition(QTextCursor::End);
  if (MemoHoldsLines(memo)) cursor.insertBlock();
  cursor.insertText(line);
  MemoStampLines(memo);
  memo.verticalScrollBar()->setValue(memo.verticalScrollBar()->maximum());
}

// Replaces the last line; adds one to an empty log.
inline void MemoReplaceLastLine(QPlainTextEdit& memo, const QString& line) {
  if (!MemoHoldsLines(memo)) {
    MemoAddLine(memo, line);
    return;
  }
  QTextCursor cursor(memo.document()->lastBlock());
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  cursor.insertText(line);
  MemoStampLines(memo);
}

inline QStringList MemoLines(const QPlainTextEdit& memo) {
  if (!MemoHoldsLines(memo)) return {};
  QStringList lines;
  for (QTextBlock b = memo.document()->begin(); b.isValid(); b = b.next()) lines << b.text();
  return lines;
}

}  // namespace orvella
