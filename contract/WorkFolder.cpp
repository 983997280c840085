#include "contract/WorkFolder.h"

#include <cstdlib>

#include "contract/WorkFolderPlatform.h"

namespace orvella {

namespace {

std::string FolderOf(const std::string& path) {
  for (std::size_t i = path.size(); i > 0; --i)
    if (platform::IsFolderSeparator(path[i - 1])) return path.substr(0, i);
  return {};
}

std::string WithSeparator(std::string folder) {
  if (folder.empty() || !platform::IsFolderSeparator(folder.back()))
    folder += platform::FolderSeparator();
  return folder;
}

}  // namespace

bool IsSystemFolder(const std::string& folder, const std::string& installFolder) {
  const std::string f = WithSeparator(folder);
  return platform::IsSystemRoot(f) ||
         (!installFolder.empty() && f == WithSeparator(installFolder));
}

std::string ChooseWorkFolder(const WorkFolderInputs& in) {
  const std::string exeFolder = FolderOf(in.ExecutablePath);
  if (!exeFolder.empty() && !IsSystemFolder(exeFolder, in.InstallFolder) && in.IsWritable &&
      in.IsWritable(exeFolder))
    return exeFolder;
  return platform::PerUserFolder(in.Environment);
}

std::string WorkFolder() {
  WorkFolderInputs in;
  in.ExecutablePath = platform::ExecutablePath();
  in.IsWritable = platform::FolderWritable;
  in.Environment = [](const char* name) -> const char* { return std::getenv(name); };
#ifdef ORVELLA_INSTALL_BINDIR
  in.InstallFolder = ORVELLA_INSTALL_BINDIR;
#endif
  const std::string folder = ChooseWorkFolder(in);
  if (folder.empty()) return {};
  if (folder == FolderOf(in.ExecutablePath)) return folder;
  return platform::MakeFolders(folder) ? folder : std::string();
}

}  // namespace orvella
