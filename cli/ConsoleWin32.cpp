// The command line comes from the wide-character call (the narrow argv holds the
// system's code page, which cannot spell every file name); the standard streams are
// binary, so that the tool writes the same bytes as on Linux.

#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <memory>

#include "cli/Console.h"
#include "files/FileIO.h"
#include "files/WideText.h"

namespace orvella::cli {

namespace {

// The status Windows gives a console program that Ctrl+C ends.
constexpr UINT kEndedByControlC = 0xC000013A;

// Runs on a thread of its own while the command goes on. The part files were opened with
// delete sharing, so deleting them now takes them away once the process has ended.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      PartFile::RemoveUnfinished(+[](const char* path) { DeleteFileAt(path); });
      ::ExitProcess(kEndedByControlC);
  }
  return FALSE;
}

}  // namespace

std::vector<std::string> CommandLineWords(int, char**) {
  int n = 0;
  const std::unique_ptr<LPWSTR, decltype(&::LocalFree)> words(
      ::CommandLineToArgvW(::GetCommandLineW(), &n), &::LocalFree);
  std::vector<std::string> out;
  for (int i = 1; words && i < n; ++i) out.push_back(platform::Narrow(words.get()[i]));
  return out;
}

void SetUpStandardStreams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  ::SetConsoleOutputCP(CP_UTF8);
}

void InstallInterruptCleanup() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool StandardErrorIsTerminal() {
  // _isatty is true for the NUL device as well; only a console has a console mode.
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool UtcTime(std::time_t when, std::tm& utc) { return ::gmtime_s(&utc, &when) == 0; }

}  // namespace orvella::cli
