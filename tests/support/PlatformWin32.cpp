#include "support/Platform.h"

#include <windows.h>

#include "files/WideText.h"

namespace orvella::test {

namespace {

// One word of a command line as the C run-time's parser splits it again: quoted, with
// backslashes doubled only where a quote follows them.
std::wstring Quote(const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\"") == std::wstring::npos) return word;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE && h != nullptr) ::CloseHandle(h);
  }
};

HANDLE OutputFile(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return ::CreateFileW(platform::LongPath(path).c_str(), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string NoSuchFileText() { return platform::SystemMessage(ERROR_FILE_NOT_FOUND); }

int RunProgram(const std::vector<std::string>& words, const std::string& outPath,
               const std::string& errPath, std::string& problem) {
  std::wstring line;
  for (const auto& w : words) line += (line.empty() ? L"" : L" ") + Quote(platform::Widen(w));
  Handle out{OutputFile(outPath)}, err{OutputFile(errPath)}, in;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  in.h = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       OPEN_EXISTING, 0, nullptr);
  if (out.h == INVALID_HANDLE_VALUE || err.h == INVALID_HANDLE_VALUE) {
    problem = "cannot create the output files";
    return -1;
  }
  STARTUPINFOW start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = in.h;
  start.hStdOutput = out.h;
  start.hStdError = err.h;
  PROCESS_INFORMATION process{};
  // Wine now and then fails to start a process with ERROR_INTERNAL_ERROR while another
  // test program starts or ends beside this one (its server is busy setting up or
  // tearing down a process). Nothing of the program under test has run by then, so a
  // few more tries are safe; any other failure, or the same one repeated, stands.
  for (int attempt = 1;; ++attempt) {
    if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                         &start, &process))
      break;
    const DWORD error = ::GetLastError();
    if (error != ERROR_INTERNAL_ERROR || attempt == 5) {
      problem = "cannot run " + words.front() + ": " + platform::SystemMessage(error);
      return -1;
    }
    ::Sleep(200 * attempt);
  }
  Handle thread{process.hThread}, child{process.hProcess};
  DWORD code = 0;
  if (::WaitForSingleObject(child.h, INFINITE) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(child.h, &code)) {
    problem = "cannot wait for " + words.front();
    return -1;
  }
  return static_cast<int>(code);
}

}  // namespace orvella::test
