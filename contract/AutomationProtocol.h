#pragma once
// How a host drives the plug-in's window without a person: the main window carries a
// child QObject named kAutomationPortName whose invokable methods (called by name through
// Qt's meta-object system, so no plug-in symbol is needed) answer the window's dialogs,
// move the list cursor and mark rows. Everything else is driven through the controls'
// object names. Header only, shared by the plug-in and the stand-in host.

namespace orvella::automation {

// objectName of the main window and of its automation port.
inline constexpr const char* kMainWindowName = "ReraradForm";
inline constexpr const char* kAutomationPortName = "AutomationPort";

// Invokable methods of the port (argument and result types in the comments).
// From the call on, every dialog of the window is answered by the port: a queued answer,
// or, with none queued, "cancelled" plus a problem report. No real dialog opens.
inline constexpr const char* kEnableScriptMode = "enableScriptMode";      // ()
inline constexpr const char* kQueueSaveAnswer = "queueSaveAnswer";        // (QString path)
inline constexpr const char* kQueueOpenAnswer = "queueOpenAnswer";        // (QString path)
// The next one-line prompt (go to, find) returns the text.
inline constexpr const char* kQueueInputAnswer = "queueInputAnswer";      // (QString text)
// "save", "discard" or "keep"; false for any other text.
inline constexpr const char* kQueueCloseAnswer = "queueCloseAnswer";      // (QString) -> bool
// Rows counted from 0; false when there is no such row.
inline constexpr const char* kSetCursorRow = "setCursorRow";              // (int) -> bool
inline constexpr const char* kToggleRowMark = "toggleRowMark";            // (int) -> bool
inline constexpr const char* kRowCount = "rowCount";                      // () -> int
inline constexpr const char* kCommandRunning = "commandRunning";          // () -> bool
inline constexpr const char* kStatusText = "statusText";                  // (int) -> QString
// The glyph number a command button shows, by its control name; -1 for no such button.
inline constexpr const char* kButtonGlyph = "buttonGlyph";                // (QString) -> int
// The hex views, "main" (upper) or "spare" (lower): the caret's chunk address, or -1 for
// no such view; the marked block as {first, last}, empty when none is marked.
inline constexpr const char* kHexCaret = "hexCaret";                      // (QString) -> qlonglong
inline constexpr const char* kHexBlock = "hexBlock";                      // (QString) -> QList<qlonglong>
// Dialogs that opened with no answer queued since the last call, one text each.
inline constexpr const char* kTakeProblems = "takeProblems";              // () -> QStringList
// Texts of the error boxes shown since the last call.
inline constexpr const char* kTakeErrorBoxes = "takeErrorBoxes";          // () -> QStringList

}  // namespace orvella::automation
