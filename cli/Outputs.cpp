#include "cli/Outputs.h"

#include <cstdio>

namespace orvella::cli {

bool OutputGuard::Allows(const std::string& output) const {
  const std::string refusal = OutputRefusal(output, inputs_, force_, "; give --force to replace it");
  if (refusal.empty()) return true;
  std::fprintf(stderr, "orvella: %s: %s\n", command_.c_str(), refusal.c_str());
  return false;
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
