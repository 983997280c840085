// The main window as the window port: the log memo, the gauge, the status panels and the
// dialogs, each behind a hook that tests and the automation port answer.

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTimer>

#include "qtcontract/MemoLines.h"
#include "ui/HexWindowUnit.h"
#include "ui/MainUnit.h"
#include "ui/PathText.h"

namespace orvella {

void SetupFileDialog(QFileDialog& dialog, const QString& filter, int filterIndex) {
  const QStringList filters = QtNameFilters(filter);
  dialog.setNameFilters(filters);
  if (filterIndex >= 1 && filterIndex <= filters.size()) dialog.selectNameFilter(filters[filterIndex - 1]);
}

QStringList QtNameFilters(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList result;
  for (qsizetype i = 0; i + 1 < parts.size() || (i < parts.size() && !parts[i].isEmpty()); i += 2) {
    const QString name = parts[i].trimmed();
    QString pattern = i + 1 < parts.size() ? parts[i + 1].trimmed() : QString();
    if (pattern.isEmpty()) pattern = QStringLiteral("*");
    pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
    result << QStringLiteral("%1 (%2)").arg(name.isEmpty() ? QStringLiteral("Files") : name, pattern);
  }
  if (result.isEmpty()) result << QStringLiteral("All files (*)");
  return result;
}

// ---------------------------------------------------------------------------------------
// Window port

// The host writes into the memo too; both go through qtcontract/MemoLines.h.
QStringList TReraradForm::LogLines() const { return MemoLines(*MyMemo); }

void TReraradForm::LogClear() { MyMemo->clear(); }

void TReraradForm::LogAdd(const std::string& line) {
  MemoAddLine(*MyMemo, QString::fromStdString(line));
}

void TReraradForm::LogReplaceLast(const std::string& line) {
  MemoReplaceLastLine(*MyMemo, QString::fromStdString(line));
}

void TReraradForm::LogRedraw() { MyMemo->viewport()->repaint(); }

void TReraradForm::ShowGauge() {
  MyGauge->setRange(0, fGauge.BarMaximum());
  MyGauge->setValue(fGauge.BarValue());
}

// The host may have moved the bar since the window last set it.
std::int64_t TReraradForm::GaugePos() const { return fGauge.Position(MyGauge->value()); }

void TReraradForm::GaugeSetMax(std::int64_t maxValue) {
  fGauge.SetMax(maxValue, MyGauge->value());
  ShowGauge();
}

void TReraradForm::GaugeSetPos(std::int64_t position) {
  fGauge.SetPos(position);
  ShowGauge();
}

void TReraradForm::SetStatusText(int panel, const std::string& text) {
  if (panel < 0 || panel >= static_cast<int>(StatusPanels.size())) return;
  StatusPanels[static_cast<std::size_t>(panel)]->setText(QString::fromStdString(text));
}

void TReraradForm::ProcessMessages() { QCoreApplication::processEvents(); }

void TReraradForm::ErrorBox(const std::string& text) {
  const QString message = QString::fromStdString(text);
  if (Hooks.ErrorBox) {
    Hooks.ErrorBox(message);
    return;
  }
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), message, QMessageBox::Ok, this);
  box.exec();
}

std::optional<std::string> TReraradForm::SaveDialog(const SaveDialogRequest& request) {
  std::optional<QString> chosen;
  if (Hooks.SaveDialog) {
    chosen = Hooks.SaveDialog(request);
  } else {
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("SaveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setSizeGripEnabled(true);
    SetupFileDialog(dialog, QString::fromStdString(request.Filter), request.FilterIndex);
    QString suffix = QString::fromStdString(request.DefaultExt);
    if (suffix.startsWith(QStringLiteral("*."))) suffix.remove(0, 2);
    if (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      chosen = dialog.selectedFiles().first();
  }
  if (!chosen) return std::nullopt;
  return PathBytes(*chosen);
}

std::optional<std::string> TReraradForm::InputBox(const std::string& caption,
                                                  const std::string& prompt,
                                                  const std::string& initial) {
  const QString c = QString::fromStdString(caption);
  const QString p = QString::fromStdString(prompt);
  const QString i = QString::fromStdString(initial);
  if (Hooks.InputBox) {
    const std::optional<QString> answer = Hooks.InputBox(c, p, i);
    if (!answer) return std::nullopt;
    return answer->toStdString();
  }
  // Over the window the user works in: the hex window asks from its views.
  QWidget* parent = this;
  if (fHexForm != nullptr && fHexForm->isActiveWindow()) parent = fHexForm;
  bool ok = false;
  const QString text = QInputDialog::getText(parent, c, p, QLineEdit::Normal, i, &ok);
  if (!ok) return std::nullopt;
  return text.toStdString();
}

void TReraradForm::Sleep(int milliseconds) {
  if (Hooks.Sleep) {
    Hooks.Sleep(milliseconds);
    return;
  }
  if (milliseconds <= 0) return;
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace orvella
