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
int RunHash(const Args& args);       // hash IMAGE [--algo LIST] [--json]
int RunDiff(const Args& args);       // diff A B [--json] [--main-only]; 0 same, 1 differ, 2 trouble
int RunReport(const Args& args);     // report IMAGE -o REPORT.html [--compare B] [--algo LIST]
// check IMAGE [--layout auto|NAME] [--json] [--repair OUT]; exit bits 4 uncorrectable
// sectors, 8 cannot read, 16 wrong usage.
int RunCheck(const Args& args);

// Prints the usage text to standard error and returns 2.
int Usage(const std::string& problem);

}  // namespace orvella::cli
