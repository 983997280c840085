#pragma once
// Runs a shell command line and keeps what it printed and how it ended.

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace orvella::test {

struct CommandRun {
  int exitCode = -1;   // -1 when the command could not start or did not exit normally
  std::string output;  // standard output (append " 2>&1" to the command for both)
};

inline CommandRun RunCommand(const std::string& commandLine) {
  CommandRun r;
  FILE* pipe = ::popen(commandLine.c_str(), "r");
  if (!pipe) return r;
  char buf[512];
  while (std::fgets(buf, sizeof buf, pipe)) r.output += buf;
  const int status = ::pclose(pipe);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

}  // namespace orvella::test
