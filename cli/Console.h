#pragma once
// What the tool needs of its process and console, one back end per platform
// (ConsolePosix.cpp, ConsoleWin32.cpp).

#include <ctime>
#include <string>
#include <vector>

namespace orvella::cli {

// The command line's words after the program's name, in UTF-8.
std::vector<std::string> CommandLineWords(int argc, char** argv);
// Makes standard output and error carry bytes exactly as written (no newline
// translation) and a console show them as UTF-8.
void SetUpStandardStreams();
// Has an interrupt (SIGINT, SIGTERM, SIGHUP; Ctrl+C, Ctrl+Break or closing the console on
// Windows) remove every unfinished part file (PartFile) before the process ends as the
// interrupt ends it. A signal that the process was started with ignored stays ignored.
void InstallInterruptCleanup();
// True when standard error is a terminal (a console window on Windows), where the tool
// shows its progress.
bool StandardErrorIsTerminal();
// `when` in UTC; false when it cannot be expressed.
bool UtcTime(std::time_t when, std::tm& utc);

}  // namespace orvella::cli
