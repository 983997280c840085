#pragma once
// Keeps every settings test away from the real user's configuration: the test main
// points XDG_CONFIG_HOME and HOME at a private temporary folder before anything runs.

#include <filesystem>
#include <string>

namespace orvella::test {

// The private folder the test main created (removed at exit).
const std::filesystem::path& TestRoot();

// Points XDG_CONFIG_HOME at a new, empty folder under TestRoot() and returns it, so
// no two tests share a store file.
std::filesystem::path FreshConfigHome();

// Reads a whole file as bytes; empty when missing.
std::string FileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace orvella::test
