#include "contract/WorkFolder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace orvella {

namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string PerUserFolder(const WorkFolderInputs& in) {
  const char* xdg = in.Environment ? in.Environment("XDG_DATA_HOME") : nullptr;
  // A relative XDG_DATA_HOME is invalid by the base-directory rules and is ignored.
  if (xdg && xdg[0] == '/') return WithSlash(xdg) + "orvella/";
  const char* home = in.Environment ? in.Environment("HOME") : nullptr;
  if (home && home[0] == '/') return WithSlash(home) + ".local/share/orvella/";
  return "/tmp/orvella-" + std::to_string(::getuid()) + "/";
}

}  // namespace

bool IsSystemFolder(const std::string& folder, const std::string& installFolder) {
  const std::string f = WithSlash(folder);
  for (const char* root : {"/usr/", "/bin/", "/sbin/"})
    if (f.rfind(root, 0) == 0) return true;
  return !installFolder.empty() && f == WithSlash(installFolder);
}

std::string ChooseWorkFolder(const WorkFolderInputs& in) {
  const std::string exeFolder = FolderOf(in.ExecutablePath);
  if (!exeFolder.empty() && !IsSystemFolder(exeFolder, in.InstallFolder) && in.IsWritable &&
      in.IsWritable(exeFolder))
    return exeFolder;
  return PerUserFolder(in);
}

std::string WorkFolder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  WorkFolderInputs in;
  if (!ec) in.ExecutablePath = exe.string();
  in.IsWritable = [](const std::string& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
  };
  in.Environment = [](const char* name) -> const char* { return std::getenv(name); };
#ifdef ORVELLA_INSTALL_BINDIR
  in.InstallFolder = ORVELLA_INSTALL_BINDIR;
#endif
  const std::string folder = ChooseWorkFolder(in);
  if (folder == FolderOf(in.ExecutablePath)) return folder;
  std::filesystem::create_directories(folder, ec);
  if (ec && !std::filesystem::is_directory(folder)) return {};
  return folder;
}

}  // namespace orvella
