#pragma once
// What the work folder's choice needs of the operating system, one back end per platform
// (WorkFolderPosix.cpp, WorkFolderWin32.cpp). Paths are UTF-8.

#include <functional>
#include <string>

namespace orvella::platform {

using Environment = std::function<const char*(const char*)>;

// Whether `c` separates the folders of a path here.
bool IsFolderSeparator(char c);
// The separator this platform writes after a folder.
char FolderSeparator();
// True for folders of the operating system and of installed programs.
bool IsSystemRoot(const std::string& folder);
// The per-user work folder the environment names, with its trailing separator; empty
// when it names none.
std::string PerUserFolder(const Environment& environment);
// The running executable's full path; empty when the system does not say.
std::string ExecutablePath();
bool FolderWritable(const std::string& folder);
// Creates `folder` and the folders above it; true when it exists afterwards.
bool MakeFolders(const std::string& folder);

}  // namespace orvella::platform
