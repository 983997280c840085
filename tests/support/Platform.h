#pragma once
// What the suites need to know of the system they run on, one back end per platform
// (PlatformPosix.cpp, PlatformWin32.cpp).

#include <string>
#include <vector>

namespace orvella::test {

#ifdef _WIN32
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

// The system's text for a file that is not there ("No such file or directory").
std::string NoSuchFileText();

// words[0] is the program. The exit code, or -1 when it could not start or did not end
// normally (`problem` then says why).
int RunProgram(const std::vector<std::string>& words, const std::string& outPath,
               const std::string& errPath, std::string& problem);

}  // namespace orvella::test
