#include "cli/Outputs.h"

#include <cstdio>

namespace orvella::cli {

bool OutputGuard::Allows(const std::string& output) const {
  for (const std::string& input : inputs_) {
    std::string how;
    if (SameFile(output, input))
      how = "is";
    else if (SameFile(PartFile::PartName(output), input))
      how = "is written as \"" + PartFile::PartName(output) + "\" first, which is";
    else
      continue;
    std::fprintf(stderr, "orvella: %s: \"%s\" %s \"%s\", a file this command reads; it never "
                         "writes a file it reads\n",
                 command_.c_str(), output.c_str(), how.c_str(), input.c_str());
    return false;
  }
  if (!FileExists(output) && IdOfFile(output)) {  // refused now, not after all the reading
    std::fprintf(stderr, "orvella: %s: cannot create \"%s\": it is a folder\n", command_.c_str(),
                 output.c_str());
    return false;
  }
  if (!force_ && FileExists(output)) {
    std::fprintf(stderr, "orvella: %s: \"%s\" already exists; give --force to replace it\n",
                 command_.c_str(), output.c_str());
    return false;
  }
  return true;
}

bool OutputGuard::AllowsAll(const std::vector<std::string>& outputs) const {
  bool all = true;
  for (const std::string& output : outputs) all = Allows(output) && all;
  return all;
}

bool OutputGuard::Write(const std::string& output,
                        const std::function<bool(File&, std::string&)>& write, std::string& error) {
  PartFile file;
  return file.Create(output, error) && write(file.Out(), error) && file.Commit(error);
}

}  // namespace orvella::cli
