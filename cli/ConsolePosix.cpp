#include <signal.h>
#include <unistd.h>

#include "cli/Console.h"
#include "files/FileIO.h"

namespace orvella::cli {

namespace {

void OnInterrupt(int sig) {
  // Only what is safe in a signal handler: unlink, then the signal's own ending.
  PartFile::RemoveUnfinished(+[](const char* path) { ::unlink(path); });
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

}  // namespace

std::vector<std::string> CommandLineWords(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

void SetUpStandardStreams() {}

void InstallInterruptCleanup() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction before {};
    if (::sigaction(sig, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;  // nohup
    ::sigaction(sig, &action, nullptr);
  }
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool UtcTime(std::time_t when, std::tm& utc) { return ::gmtime_r(&when, &utc) != nullptr; }

}  // namespace orvella::cli
