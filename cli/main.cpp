#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "cli/Commands.h"
#include "cli/Console.h"

namespace orvella::cli {

namespace {

struct Command {
  const char* name;
  int (*run)(const Args&);
};

constexpr Command kCommands[] = {
    {"list", RunList},       {"mkimage", RunMkImage}, {"export", RunExport},
    {"save-image", RunSaveImage}, {"blank", RunBlank},  {"hash", RunHash},
    {"diff", RunDiff},       {"report", RunReport}, {"check", RunCheck},
};

constexpr const char* kUsage =
    "usage:\n"
    "  orvella list IMAGE [--json]\n"
    "  orvella mkimage OUT --chip-mib N --table NAME:BLOCKS[,NAME:BLOCKS...] [--fill ff|zero|pattern|noise]\n"
    "                  [--ecc LAYOUT] [--erased-percent P] [--bad-blocks B[,B...]] [--force]\n"
    "  orvella export IMAGE --mode main|spare|full (--row N | --all) --prefix PREFIX\n"
    "  orvella save-image IMAGE OUT\n"
    "  orvella blank IMAGE\n"
    "  orvella hash IMAGE [--algo md5,sha1,sha256] [--json]\n"
    "  orvella diff A B [--json] [--main-only]      (exit 0 identical, 1 different, 2 trouble)\n"
    "  orvella report IMAGE -o REPORT.html [--compare B] [--algo md5,sha1,sha256]\n"
    "  orvella check IMAGE [--layout auto|NAME] [--json] [--repair OUT]\n"
    "                (exit 0 sound, 4 uncorrectable sectors, 8 not readable, 16 wrong usage)\n"
    "  orvella --version\n";

}  // namespace

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "orvella: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace orvella::cli

int main(int argc, char** argv) {
  using namespace orvella::cli;
  SetUpStandardStreams();
  const std::vector<std::string> words = CommandLineWords(argc, argv);
  if (words.empty()) return Usage("");
  const std::string& name = words[0];
  if (name == "--version") {
    std::printf("orvella %s\n", ORVELLA_VERSION);
    return 0;
  }
  if (name == "--help" || name == "-h") {
    Usage("");
    return 0;
  }
  const Args args(words.begin() + 1, words.end());
  for (const auto& c : kCommands) {
    if (name != c.name) continue;
    // Memory that cannot be had ends the command with its message, never with an abort.
    try {
      return c.run(args);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "orvella: %s: %s\n", c.name, e.what());
      return name == "diff" ? 2 : 1;  // diff keeps 1 for "different"
    }
  }
  return Usage("unknown command \"" + name + "\"");
}
