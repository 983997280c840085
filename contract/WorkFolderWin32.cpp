// The work folder's system side on Windows: the executable from the module table, the
// per-user folder under %LOCALAPPDATA%, and the folders of the system and of installed
// programs from their environment variables.

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "contract/WorkFolderPlatform.h"
#include "files/WideText.h"

namespace orvella::platform {

namespace {

// Longest path the wide functions take.
constexpr DWORD kMaxWidePath = 32768;

// "C:\..." or "\\server\...": a folder the variable may name.
bool IsAbsolute(const char* path) {
  if (path == nullptr) return false;
  const std::string p = path;
  if (p.size() >= 3 && p[1] == ':' && IsFolderSeparator(p[2])) return true;
  return p.size() >= 2 && IsFolderSeparator(p[0]) && IsFolderSeparator(p[1]);
}

std::string WithBackslash(std::string folder) {
  if (folder.empty() || !IsFolderSeparator(folder.back())) folder += '\\';
  return folder;
}

// Folder names compare without case and with either separator.
std::string Folded(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return path;
}

}  // namespace

bool IsFolderSeparator(char c) { return c == '\\' || c == '/'; }

char FolderSeparator() { return '\\'; }

bool IsSystemRoot(const std::string& folder) {
  const std::string f = Folded(folder);
  for (const char* variable : {"SystemRoot", "ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"}) {
    const char* root = std::getenv(variable);
    if (!IsAbsolute(root)) continue;
    const std::string r = Folded(WithBackslash(root));
    if (f.rfind(r, 0) == 0) return true;
  }
  return false;
}

std::string PerUserFolder(const Environment& environment) {
  for (const char* variable : {"LOCALAPPDATA", "TEMP", "TMP"}) {
    const char* folder = environment ? environment(variable) : nullptr;
    if (IsAbsolute(folder)) return WithBackslash(folder) + "orvella\\";
  }
  return {};
}

std::string ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return Narrow(std::wstring(buffer.data(), n));
    if (buffer.size() >= kMaxWidePath) return {};
    buffer.resize(std::min<std::size_t>(buffer.size() * 2, kMaxWidePath));
  }
}

bool FolderWritable(const std::string& folder) {
  // Access rights on Windows come from the folder's ACL, which no attribute shows: a file
  // that is made and deleted at once answers for them.
  const std::wstring probe = Widen(WithBackslash(folder) + "orvella-probe-" +
                                  std::to_string(::GetCurrentProcessId()) + ".tmp");
  if (probe.empty()) return false;
  const HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

bool MakeFolders(const std::string& folder) {
  const std::wstring wide = Widen(folder);
  if (wide.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(wide), ec);
  return std::filesystem::is_directory(std::filesystem::path(wide), ec);
}

}  // namespace orvella::platform
