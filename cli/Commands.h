#pragma once
// The commands of the `orvella` tool. Each takes the words after the command name and
// returns the process exit status: 0 success, 1 failure, 2 wrong usage.

#include <string>
#include <vector>

namespace orvella::cli {

using Args = std::vector<std::string>;

int RunList(const Args& args);       // list IMAGE [--json]
int RunMkImage(const Args& args);    // mkimage OUT --chip-mib N --table ... [--fill ...]
int RunExport(const Args& args);     // export IMAGE --mode ... (--row N | --all) --prefix P
int RunSaveImage(const Args& args);  // save-image IMAGE OUT
int RunBlank(const Args& args);      // blank IMAGE

// Prints the usage text to standard error and returns 2.
int Usage(const std::string& problem);

}  // namespace orvella::cli
