#pragma once
// The one owner of a command's output files. Before anything is written it refuses an
// output that exists unless --force was given, a folder, and any output that is one of
// the command's inputs (or whose part file would be), however the names are spelled; it
// names each refused file on standard error. Files are then written through PartFile:
// under OUT.part, renamed to OUT once complete, removed on a failure and, through the
// handler the tool installs (Console.h), on an interrupt.

#include <functional>
#include <string>
#include <vector>

#include "files/FileIO.h"

namespace orvella::cli {

class OutputGuard {
 public:
  OutputGuard(std::string command, bool force) : command_(std::move(command)), force_(force) {}

  // A file the command reads.
  void Input(const std::string& path) { inputs_.push_back(path); }
  // True when `output` may be written; false, after saying why, when it is refused.
  bool Allows(const std::string& output) const;
  // True when every one of `outputs` may be written; names every one that may not.
  bool AllowsAll(const std::vector<std::string>& outputs) const;
  // Writes `output` through PartFile: `write` fills the open file and returns false
  // (with `error` filled) on a failure; the file takes its name only when it succeeded.
  // The caller asked Allows first.
  static bool Write(const std::string& output, const std::function<bool(File&, std::string&)>& write,
                    std::string& error);

 private:
  std::string command_;
  bool force_;
  std::vector<std::string> inputs_;
};

}  // namespace orvella::cli
