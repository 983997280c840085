#pragma once
// The work folder that plug-in and host share for their temporary and data files: the
// folder of the process's executable, or a per-user folder when that one is not
// writable or is a system folder (an installed program never writes beside itself,
// not even as root). Both sides call the same helper, so they always agree.

#include <functional>
#include <string>

namespace orvella {

// What the choice depends on, so it can be decided for any situation.
struct WorkFolderInputs {
  std::string ExecutablePath;                                // e.g. /proc/self/exe resolved
  std::function<bool(const std::string&)> IsWritable;        // folder test
  std::function<const char*(const char*)> Environment;       // getenv-like
  std::string InstallFolder;  // where an install puts the executables, e.g. /opt/x/bin
};

// True for the system's folders (under /usr/, /bin/ and /sbin/; on Windows under
// %SystemRoot% and the program folders) and for `installFolder`.
bool IsSystemFolder(const std::string& folder, const std::string& installFolder);

// Folder with a trailing separator. The per-user fallback is $XDG_DATA_HOME/orvella/ or
// ~/.local/share/orvella/ (on Windows %LOCALAPPDATA%\orvella\); it is not created here.
std::string ChooseWorkFolder(const WorkFolderInputs& inputs);

// The work folder of this process, created when it is the per-user fallback. Empty
// only when no folder could be made.
std::string WorkFolder();

}  // namespace orvella
