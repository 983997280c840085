#include "host/ControlReport.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QWidget>
#include <algorithm>

namespace orvella {

namespace {

QString OneLine(QString text) {
  text.replace(QLatin1Char('\t'), QLatin1Char(' '));
  text.replace(QLatin1Char('\n'), QLatin1Char(' '));
  text.replace(QLatin1Char('\r'), QLatin1Char(' '));
  return text;
}

QString PathOf(const QWidget* w) {
  // Through windows too: a window that belongs to another is named from its owner down.
  QStringList names;
  for (const QWidget* p = w; p != nullptr; p = p->parentWidget())
    if (!p->objectName().isEmpty()) names.prepend(p->objectName());
  return names.join(QLatin1Char('/'));
}

QString RectText(const QRect& r) {
  return QStringLiteral("%1,%2,%3,%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

QString ValueOf(const QWidget* w) {
  if (const auto* slider = qobject_cast<const QAbstractSlider*>(w)) return QString::number(slider->value());
  if (const auto* button = qobject_cast<const QAbstractButton*>(w); button && button->isCheckable())
    return button->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
  return QStringLiteral("-");
}

QString TextOf(const QWidget* w) {
  if (w->isWindow()) return OneLine(w->windowTitle());
  if (const auto* button = qobject_cast<const QAbstractButton*>(w)) return OneLine(button->text());
  if (const auto* label = qobject_cast<const QLabel*>(w)) return OneLine(label->text());
  if (const auto* edit = qobject_cast<const QLineEdit*>(w)) return OneLine(edit->text());
  if (const auto* memo = qobject_cast<const QPlainTextEdit*>(w)) return OneLine(memo->toPlainText());
  return {};
}

QString Line(const QWidget* w, const QString& path, const QRect& screenRect) {
  return QStringList{path, QString::fromLatin1(w->metaObject()->className()),
                     w->isVisible() ? QStringLiteral("1") : QStringLiteral("0"),
                     w->isEnabled() ? QStringLiteral("1") : QStringLiteral("0"),
                     RectText(screenRect), ValueOf(w), TextOf(w)}
             .join(QLatin1Char('\t'));
}

}  // namespace

ControlReport::ControlReport(const QString& path, int intervalMs, QObject* parent)
    : QObject(parent), path_(path) {
  timer_.setInterval(intervalMs);
  connect(&timer_, &QTimer::timeout, this, &ControlReport::Update);
  timer_.start();
  Update();
}

QString ControlReport::Describe() {
  QWidgetList windows = QApplication::topLevelWidgets();
  std::sort(windows.begin(), windows.end(),
            [](const QWidget* a, const QWidget* b) { return PathOf(a) < PathOf(b); });
  QStringList lines;
  for (const QWidget* window : windows) {
    if (window->objectName().isEmpty()) continue;
    const QString windowPath = PathOf(window);
    lines << Line(window, windowPath, window->geometry());
    lines << Line(window, windowPath + QStringLiteral("#frame"), window->frameGeometry());
    // A menu's named items, where they stand while it is open.
    if (const auto* menu = qobject_cast<const QMenu*>(window)) {
      for (QAction* action : menu->actions()) {
        if (action->objectName().isEmpty() || action->isSeparator()) continue;
        const QRect at = menu->actionGeometry(action);
        lines << QStringList{windowPath + QLatin1Char('/') + action->objectName(), QStringLiteral("QAction"),
                             menu->isVisible() && action->isVisible() ? QStringLiteral("1") : QStringLiteral("0"),
                             action->isEnabled() ? QStringLiteral("1") : QStringLiteral("0"),
                             RectText(QRect(menu->mapToGlobal(at.topLeft()), at.size())), QStringLiteral("-"),
                             OneLine(action->text())}
                     .join(QLatin1Char('\t'));
      }
    }
    for (const QWidget* child : window->findChildren<QWidget*>()) {
      // A window's own controls only: those of a window it owns come under that window.
      if (child->objectName().isEmpty() || child->window() != window) continue;
      lines << Line(child, PathOf(child), QRect(child->mapToGlobal(QPoint(0, 0)), child->size()));
    }
  }
  return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void ControlReport::Update() {
  const QString now = Describe();
  if (now == last_) return;
  QSaveFile file(path_);
  if (!file.open(QIODevice::WriteOnly)) return;
  file.write(now.toUtf8());
  if (file.commit()) last_ = now;
}

}  // namespace orvella
