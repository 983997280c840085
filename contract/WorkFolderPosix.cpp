// The work folder's system side on POSIX systems: the executable from /proc, the
// XDG base-directory rules for the per-user folder.

#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

#include "contract/WorkFolderPlatform.h"

namespace orvella::platform {

namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

bool IsFolderSeparator(char c) { return c == '/'; }

char FolderSeparator() { return '/'; }

bool IsSystemRoot(const std::string& folder) {
  for (const char* root : {"/usr/", "/bin/", "/sbin/"})
    if (folder.rfind(root, 0) == 0) return true;
  return false;
}

std::string PerUserFolder(const Environment& environment) {
  const char* xdg = environment ? environment("XDG_DATA_HOME") : nullptr;
  // A relative XDG_DATA_HOME is invalid by the base-directory rules and is ignored.
  if (xdg && xdg[0] == '/') return WithSlash(xdg) + "orvella/";
  const char* home = environment ? environment("HOME") : nullptr;
  if (home && home[0] == '/') return WithSlash(home) + ".local/share/orvella/";
  return "/tmp/orvella-" + std::to_string(::getuid()) + "/";
}

std::string ExecutablePath() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

bool FolderWritable(const std::string& folder) {
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool MakeFolders(const std::string& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return std::filesystem::is_directory(folder, ec);
}

}  // namespace orvella::platform
