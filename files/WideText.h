#pragma once
// Windows only: UTF-8 (our side) to UTF-16 (the system's side) and back, the `\\?\` form
// of a path, and the system's text for an error code.

#include <string>

namespace orvella::platform {

// Empty when `utf8` is not UTF-8 (or is empty).
std::wstring Widen(const std::string& utf8);
// Unpaired surrogates become U+FFFD.
std::string Narrow(const std::wstring& wide);
// The absolute `\\?\C:\...` or `\\?\UNC\server\share\...` form of `path` (forward slashes
// turned, "." and ".." resolved), which the wide calls take at any length. Device names
// (`\\.\...`) and paths already in that form stay as they are. Empty when not UTF-8.
std::wstring LongPath(const std::string& path);
// FormatMessageW's text for a Win32 error code, in UTF-8, without the final full stop.
std::string SystemMessage(unsigned long code);

}  // namespace orvella::platform
