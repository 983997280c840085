#include <unistd.h>

#include "cli/Console.h"

namespace orvella::cli {

std::vector<std::string> CommandLineWords(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

void SetUpStandardStreams() {}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool UtcTime(std::time_t when, std::tm& utc) { return ::gmtime_r(&when, &utc) != nullptr; }

}  // namespace orvella::cli
