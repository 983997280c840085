// File access on Windows: wide-character Win32 calls on UTF-8 paths turned into UTF-16,
// `\\?\` paths so that no 260-character limit applies, positioned reads and writes
// through OVERLAPPED offsets, and share modes that let other programs keep the image
// open (or open it after us) for reading, writing or deleting. Errors carry the text
// Windows gives for them.

#include <windows.h>

#include <climits>

#include "files/FilePlatform.h"
#include "files/WideText.h"

namespace orvella::platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// ReadFile and WriteFile move a DWORD's worth at most; 1 GiB keeps well below it.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

HANDLE H(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The path for the wide calls, or an empty one (with `why`) for a name that is not UTF-8.
std::wstring Native(const std::string& path, std::string& why) {
  std::wstring wide = LongPath(path);
  if (wide.empty()) why = "the name is not UTF-8 text";
  return wide;
}

}  // namespace

Opened OpenFile(const std::string& path, Access access, Handle& handle, std::string& why) {
  const std::wstring wide = Native(path, why);
  if (wide.empty()) return Opened::No;
  const DWORD desired = access == Access::Read     ? GENERIC_READ
                        : access == Access::Create ? GENERIC_WRITE
                                                   : GENERIC_READ | GENERIC_WRITE;
  const DWORD disposition = access == Access::Create ? CREATE_ALWAYS : OPEN_EXISTING;
  // Opening a folder needs FILE_FLAG_BACKUP_SEMANTICS; without it the open fails, and
  // the attributes tell whether a folder was the reason.
  const HANDLE h = ::CreateFileW(wide.c_str(), desired, kShareAll, nullptr, disposition,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = ::GetLastError();
    if (IsFolder(wide)) return Opened::Folder;
    why = SystemMessage(err);
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? Opened::Missing
                                                                      : Opened::No;
  }
  handle = reinterpret_cast<Handle>(h);
  return Opened::Yes;
}

void CloseQuietly(Handle handle) { ::CloseHandle(H(handle)); }

bool CloseFile(Handle handle, std::string& why) {
  if (::CloseHandle(H(handle))) return true;
  why = SystemMessage(::GetLastError());
  return false;
}

bool SizeOf(Handle handle, std::uint64_t& size, std::string& why) {
  LARGE_INTEGER n{};
  if (!::GetFileSizeEx(H(handle), &n)) {
    why = SystemMessage(::GetLastError());
    return false;
  }
  size = static_cast<std::uint64_t>(n.QuadPart);
  return true;
}

bool Resize(Handle handle, std::uint64_t size, std::string& why) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (::SetFileInformationByHandle(H(handle), FileEndOfFileInfo, &end, sizeof end)) return true;
  why = SystemMessage(::GetLastError());
  return false;
}

std::int64_t ReadSome(Handle handle, void* buffer, std::size_t n, std::uint64_t at,
                      std::string& why) {
  OVERLAPPED where = At(at);
  DWORD got = 0;
  const auto ask = static_cast<DWORD>(n < kMaxTransfer ? n : kMaxTransfer);
  if (::ReadFile(H(handle), buffer, ask, &got, &where)) return got;
  const DWORD err = ::GetLastError();
  if (err == ERROR_HANDLE_EOF) return 0;
  why = SystemMessage(err);
  return -1;
}

std::int64_t WriteSome(Handle handle, const void* buffer, std::size_t n, std::uint64_t at,
                       std::string& why) {
  OVERLAPPED where = At(at);
  DWORD put = 0;
  const auto ask = static_cast<DWORD>(n < kMaxTransfer ? n : kMaxTransfer);
  if (::WriteFile(H(handle), buffer, ask, &put, &where)) return put;
  why = SystemMessage(::GetLastError());
  return -1;
}

std::size_t CopyInSystem(Handle, std::uint64_t, Handle, std::uint64_t, std::size_t, int,
                         bool& cannot) {
  // Windows has no positioned copy between two open files; the buffer does it.
  cannot = true;
  return 0;
}

std::string_view ForbiddenInFileNames() {
  static constexpr char kForbidden[] =
      "/\\:*?\"<>|\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F"
      "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1A\x1B\x1C\x1D\x1E\x1F";
  return kForbidden;
}

bool IsFileNotFolder(const std::string& path) {
  const std::wstring wide = LongPath(path);
  if (wide.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDeviceOrPipe(const std::string& path) {
  const std::wstring wide = LongPath(path);
  if (wide.empty()) return false;
  const HANDLE h = ::CreateFileW(wide.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const DWORD type = ::GetFileType(h);
  ::CloseHandle(h);
  return type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
}

std::optional<FileId> IdOf(const std::string& path) {
  const std::wstring wide = LongPath(path);
  if (wide.empty()) return std::nullopt;
  // No access asked: only the file's identity is read, so even a file another program
  // holds without sharing can be told apart.
  const HANDLE h = ::CreateFileW(wide.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = ::GetFileInformationByHandle(h, &info);
  ::CloseHandle(h);
  if (!ok) return std::nullopt;
  return FileId{info.dwVolumeSerialNumber,
                (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

bool Remove(const std::string& path) {
  const std::wstring wide = LongPath(path);
  return !wide.empty() && ::DeleteFileW(wide.c_str());
}

bool Rename(const std::string& from, const std::string& to, std::string& why) {
  const std::wstring a = Native(from, why), b = Native(to, why);
  if (a.empty() || b.empty()) return false;
  if (::MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  why = SystemMessage(::GetLastError());
  return false;
}

PathKind KindOf(const std::string& path) {
  const std::wstring wide = LongPath(path);
  if (wide.empty()) return PathKind::Other;
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD err = ::GetLastError();
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? PathKind::Missing : PathKind::Other;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::Link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Folder;
  return IsDeviceOrPipe(path) ? PathKind::Other : PathKind::File;
}

bool MakeFolder(const std::string& path, std::string& why) {
  const std::wstring wide = Native(path, why);
  if (wide.empty()) return false;
  if (::CreateDirectoryW(wide.c_str(), nullptr)) return true;
  why = SystemMessage(::GetLastError());
  return false;
}

bool SetModifiedTime(const std::string& path, std::int64_t unixSeconds, std::string& why) {
  const std::wstring wide = Native(path, why);
  if (wide.empty()) return false;
  // FILETIME counts 100 ns from 1601; a reparse point is set itself, never its target.
  const HANDLE h = ::CreateFileW(wide.c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    why = SystemMessage(::GetLastError());
    return false;
  }
  const auto ticks = static_cast<std::uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
  FILETIME modified{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  const bool ok = ::SetFileTime(h, nullptr, nullptr, &modified);
  if (!ok) why = SystemMessage(::GetLastError());
  ::CloseHandle(h);
  return ok;
}

}  // namespace orvella::platform
