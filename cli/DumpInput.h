#pragma once
// Dumps in other tools' formats as the commands that read one take them: named with
// --format (and --spare for a split dump), or found in the dump as `convert` finds them
// and said on standard error.

#include <string>

#include "image/DumpDetect.h"
#include "image/DumpFormat.h"

namespace CLI {
class App;
}

namespace orvella::cli {

struct DumpInput {
  DumpFormat Format = DumpFormat::Full;
  std::string SparePath;  // split only
};

// Adds --format FORMAT and --spare FILE to a command that reads one dump.
void AddDumpFormat(CLI::App& command, std::string& format, std::string& spare);

// The format that --from, --to or --format names; false with `problem` naming the mistake.
bool ParseDumpFormat(const std::string& option, const std::string& text, DumpFormat& format,
                     std::string& problem);

// The format `image` is read in. --format names it (split needs --spare), and --spare
// alone means split. Without either, a file whose partition table stands where a full
// image keeps it is a full image, as it always was, and nothing more is read; any other
// is looked at as `convert` looks at it. A format other than full found that way is said
// on standard error. When nothing is found, a file whose table stands where page and
// sector dumps keep it is refused with the reason, and any other is read as a full image.
// False after saying why, with `status` set to `wrongUsage` or `failure`.
bool ChooseDumpFormat(const std::string& command, const std::string& image, const std::string& format,
                      const std::string& spare, int wrongUsage, int failure, DumpInput& input,
                      int& status);

// For the commands that read full images only: says on standard error when `image` is
// found to be a dump in another format, which they would misread.
void NoteOtherFormat(const std::string& command, const std::string& image);

// A refusal of DetectDumpFormat that asks for the format, told which option names it.
std::string RefusalText(const std::string& error, const std::string& option);

// What the look at a dump found, on standard error: `head` after the command's name, then
// every finding indented on a line of its own.
void SayDetection(const std::string& command, const std::string& head, const DumpDetection& found);

}  // namespace orvella::cli
