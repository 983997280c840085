#pragma once
// Runs the built `orvella` tool with its standard output and error caught in files.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/Platform.h"
#include "support/TestFiles.h"

namespace orvella::test {

struct ToolResult {
  int exitCode = -1;  // -1: did not exit normally
  std::string out;
  std::string err;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline ToolResult RunTool(const TempDir& dir, const std::vector<std::string>& args) {
  const std::string outPath = dir.File(".stdout");
  const std::string errPath = dir.File(".stderr");
  std::vector<std::string> words{ORVELLA_TOOL};
  words.insert(words.end(), args.begin(), args.end());
  ToolResult result;
  std::string problem;
  result.exitCode = RunProgram(words, outPath, errPath, problem);
  if (result.exitCode < 0 && !problem.empty()) ADD_FAILURE() << problem;
  result.out = ReadWholeFile(outPath);
  result.err = ReadWholeFile(errPath);
  return result;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace orvella::test
