// The hex view's commands: the keys, go to, find, copy, save block and the right-click
// menu. The rules and texts are HexViewState's; here they meet the port and the clipboard.

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>

#include "image/WindowPort.h"
#include "ui/HEXView.h"
#include "ui/HexSearch.h"

namespace orvella {

namespace {

// The right-click menu's entries: objectName stem, caption.
struct MenuEntry {
  const char* Name;
  const char* Caption;
};
constexpr MenuEntry kMenuEntries[] = {
    {"HexGoToItem", "&Go to...\tCtrl+G"},      {"HexFindItem", "&Find...\tCtrl+F"},
    {"HexFindNextItem", "Find &next\tF3"},     {"HexCopyHexItem", "Copy as &hex\tCtrl+C"},
    {"HexCopyTextItem", "Copy as &text"},      {"HexSaveBlockItem", "&Save block as..."},
};

std::optional<HexKey> CaretKey(int key) {
  switch (key) {
    case Qt::Key_Left: return HexKey::Left;
    case Qt::Key_Right: return HexKey::Right;
    case Qt::Key_Up: return HexKey::Up;
    case Qt::Key_Down: return HexKey::Down;
    case Qt::Key_PageUp: return HexKey::PageUp;
    case Qt::Key_PageDown: return HexKey::PageDown;
    case Qt::Key_Home: return HexKey::Home;
    case Qt::Key_End: return HexKey::End;
    default: return std::nullopt;
  }
}

}  // namespace

bool THEXView::KeyPress(const QKeyEvent& e) {
  if (fSearching) {
    // A long search lets the window run; only Esc reaches the view meanwhile.
    if (e.key() == Qt::Key_Escape) fStopSearch = true;
    return true;
  }
  const bool ctrl = e.modifiers().testFlag(Qt::ControlModifier);
  const bool shift = e.modifiers().testFlag(Qt::ShiftModifier);
  if (const auto key = CaretKey(e.key())) {
    if (const auto top = fState.MoveCaret(*key, ctrl, shift)) ShowTop(*top);
    return true;
  }
  switch (e.key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      // Tab stays in the view: it moves the caret between the two columns.
      fState.ToggleColumn();
      if (CaretShown()) PlaceCaret(false);
      return true;
    case Qt::Key_G:
      if (!ctrl) return false;
      GoToPrompt();
      return true;
    case Qt::Key_F:
      if (!ctrl) return false;
      FindPrompt();
      return true;
    case Qt::Key_F3:
      FindAgain(!shift);
      return true;
    case Qt::Key_C:
      if (!ctrl) return false;
      CopyBlock(fState.CharColumn());
      return true;
    case Qt::Key_Menu:
      ShowMenu(MyPanel ? MyPanel->mapToGlobal(CaretPosition()) : QPoint());
      return true;
    case Qt::Key_F10:
      if (!shift) return false;
      ShowMenu(MyPanel ? MyPanel->mapToGlobal(CaretPosition()) : QPoint());
      return true;
    default:
      return false;
  }
}

void THEXView::Status(const std::string& text) {
  if (fPort) fPort->SetStatusText(0, text);
}

void THEXView::Refuse(const std::string& text) {
  if (fPort) fPort->ErrorBox(text);
}

void THEXView::GoToPrompt() {
  if (!fPort || ChunkLength() == 0 || fSearching) return;
  const auto answer = fPort->InputBox(
      "Go to offset",
      "Hexadecimal offset in the partition (1A2B, 0x1A2B), or @ and a file offset:", "");
  if (!answer) return;
  int top = 0;
  const std::string refusal = fState.GoTo(*answer, fData.desc().StartingOffset, top);
  if (!refusal.empty()) {
    Refuse(refusal);
    return;
  }
  ShowTop(top);
}

void THEXView::FindPrompt() {
  if (!fPort || ChunkLength() == 0 || fSearching) return;
  const auto answer = fPort->InputBox(
      "Find", "Hexadecimal bytes (DE AD BE EF) or text in double quotes:", fPatternText);
  if (!answer) return;
  const std::string typed = TrimmedText(*answer);
  std::string error;
  std::vector<std::uint8_t> pattern = ParseFindPattern(typed, error);
  if (pattern.empty()) {
    Refuse(error);
    return;
  }
  fPattern = std::move(pattern);
  fPatternText = typed;
  FindAgain(true);
}

void THEXView::FindAgain(bool forward) {
  if (!fPort || ChunkLength() == 0 || fSearching) return;
  if (fPattern.empty()) {
    FindPrompt();
    return;
  }
  const std::int64_t origin = fState.FindOrigin(forward);
  const THexDataBlockDesc desc = fData.desc();
  const long generation = fGeneration;
  const bool long_ = desc.ChunkLength > kLongSearch;
  QPointer<THEXView> self(this);
  fSearching = true;
  fStopSearch = false;
  if (long_) {
    fPort->GaugeSetMax(desc.ChunkLength);
    fPort->GaugeSetPos(0);
    Status("Searching for " + fPatternText + " (Esc stops)");
  }
  WindowPort* port = fPort;
  const FindProgress progress = [&](std::int64_t done, std::int64_t) {
    if (!long_) return true;
    port->GaugeSetPos(done);
    port->ProcessMessages();
    return self && !fStopSearch && fGeneration == generation;
  };
  // Copies: the window runs during a long search, and the view may even go meanwhile.
  const std::vector<std::uint8_t> pattern = fPattern;
  const std::string patternText = fPatternText;
  const FindResult r = FindInChunk(desc, pattern, origin, forward, progress, fFindBlock);
  if (!self) return;
  fSearching = false;
  if (long_) port->GaugeSetPos(0);
  // The view now shows another chunk (or none): the result belongs to the old one.
  if (fGeneration != generation) return;
  if (r.What == FindResult::Kind::Found)
    ShowTop(fState.MarkFound(r.Address, static_cast<std::int64_t>(pattern.size())));
  Status(FindStatusText(r, forward, patternText));
  if (r.What == FindResult::Kind::ReadFailed)
    Refuse("The search could not read the image: " + r.Error);
}

void THEXView::CopyBlock(bool asText) {
  std::int64_t from = 0;
  std::int64_t n = 0;
  fState.Selection(from, n);
  if (n <= 0 || fSearching) return;
  if (n > kMaxCopy) {
    Refuse("The block holds " + std::to_string(n) + " bytes; at most " + std::to_string(kMaxCopy) +
           " go into the clipboard. Save it as a file instead.");
    return;
  }
  std::vector<std::uint8_t> bytes;
  std::string error;
  if (!ReadChunkBytes(fData.desc(), from, n, bytes, error)) {
    Refuse("The block could not be read: " + error);
    return;
  }
  QGuiApplication::clipboard()->setText(
      QString::fromStdString(asText ? CharBytesText(bytes) : HexBytesText(bytes)));
  Status(std::to_string(n) + " bytes copied as " + (asText ? "text" : "hex"));
}

void THEXView::SaveBlockAs() {
  std::int64_t from = 0;
  std::int64_t n = 0;
  fState.Selection(from, n);
  if (!fPort || n <= 0 || fSearching) return;
  SaveDialogRequest request;
  request.Filter = "Binary files (*.bin)|*.bin|All files|*";
  request.FilterIndex = 1;
  request.DefaultExt = "bin";
  const auto path = fPort->SaveDialog(request);
  if (!path) return;
  std::string error;
  if (!SaveChunkBytes(fData.desc(), from, n, *path, error)) {
    Refuse("The block was not saved: " + error);
    return;
  }
  Status(std::to_string(n) + " bytes saved to " + *path);
}

void THEXView::BuildMenu() {
  if (!MyPanel) return;
  fMenu = new QMenu(MyPanel);
  QString suffix = MyPanel->objectName();
  suffix.remove(QLatin1String("ScrollBox"));
  fMenu->setObjectName(QStringLiteral("HexPopup") + suffix);
  const std::function<void()> commands[] = {
      [this] { GoToPrompt(); },       [this] { FindPrompt(); },
      [this] { FindAgain(true); },    [this] { CopyBlock(false); },
      [this] { CopyBlock(true); },    [this] { SaveBlockAs(); },
  };
  for (std::size_t i = 0; i < std::size(kMenuEntries); ++i) {
    QAction* action = fMenu->addAction(QString::fromLatin1(kMenuEntries[i].Caption));
    action->setObjectName(QString::fromLatin1(kMenuEntries[i].Name) + suffix);
    connect(action, &QAction::triggered, this, commands[i]);
    if (i == 1 || i == 2 || i == 4) fMenu->addSeparator();
  }
  connect(fMenu, &QMenu::aboutToShow, this, [this] {
    const bool data = ChunkLength() > 0;
    for (QAction* a : fMenu->actions()) a->setEnabled(data);
  });
}

void THEXView::ShowMenu(const QPoint& global) {
  if (!fMenu || fSearching) return;
  if (PopupHook) PopupHook(*fMenu, global); else fMenu->popup(global);
}

}  // namespace orvella
