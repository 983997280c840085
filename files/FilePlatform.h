#pragma once
// The system calls behind File, one back end per platform (FilePosix.cpp, FileWin32.cpp).
// Paths are UTF-8; every failure comes back as the system's own text for it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "files/FileIO.h"

namespace orvella::platform {

using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

enum class Access { Read, Create, ReadWrite };
enum class Opened { Yes, No, Folder, Missing };

// Folder: the path names a folder (nothing is left open); Missing: nothing is there (or a
// folder on its way is missing); No: another failure. `why` says what failed.
Opened OpenFile(const std::string& path, Access access, Handle& handle, std::string& why);
void CloseQuietly(Handle handle);
bool CloseFile(Handle handle, std::string& why);
bool SizeOf(Handle handle, std::uint64_t& size, std::string& why);
bool Resize(Handle handle, std::uint64_t size, std::string& why);
// Positioned transfers of at most n bytes: the count moved (0 for a read at the end of
// the file), or -1 with `why` filled. Interrupted calls are repeated here.
std::int64_t ReadSome(Handle handle, void* buffer, std::size_t n, std::uint64_t at, std::string& why);
std::int64_t WriteSome(Handle handle, const void* buffer, std::size_t n, std::uint64_t at,
                       std::string& why);
// Has the system copy up to n bytes between two files without passing them through the
// program; returns how many it copied. `cannot` is set when it will never copy between
// these two (the caller then copies through its buffer). `refuse` (a test's errno) makes
// the call fail as a file system without the feature would.
std::size_t CopyInSystem(Handle from, std::uint64_t fromAt, Handle to, std::uint64_t toAt,
                         std::size_t n, int refuse, bool& cannot);

// The characters one file name cannot hold here: "/" on POSIX; on Windows also
// \ : * ? " < > | and the control characters (":" would name a stream of another file).
std::string_view ForbiddenInFileNames();

bool IsFileNotFolder(const std::string& path);
// True for an existing device, pipe or socket: a name that a rename must not replace.
bool IsDeviceOrPipe(const std::string& path);
std::optional<FileId> IdOf(const std::string& path);
bool Remove(const std::string& path);
bool Rename(const std::string& from, const std::string& to, std::string& why);
// The kind of `path` without following a link there.
PathKind KindOf(const std::string& path);
bool MakeFolder(const std::string& path, std::string& why);
bool SetModifiedTime(const std::string& path, std::int64_t unixSeconds, std::string& why);

}  // namespace orvella::platform
