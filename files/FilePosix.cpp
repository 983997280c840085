// File access on POSIX systems: positioned reads and writes on file descriptors, and the
// kernel's own copy between two files (copy_file_range) where the file system takes it.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/FilePlatform.h"

namespace orvella::platform {

namespace {

std::string Text(int err) { return std::strerror(err); }

int Fd(Handle handle) { return static_cast<int>(handle); }

// Answers that mean the kernel cannot copy between these two files at all (another file
// system, a kernel or file system without the call, a special file): the rest of the
// file is copied through the buffer. Any other failure is left to the buffered copy of
// the same bytes, which tells whether reading or writing failed and names that file.
bool KernelCannotCopy(int err) {
  return err == EXDEV || err == EOPNOTSUPP || err == ENOTSUP || err == ENOSYS ||
         err == EINVAL || err == EBADF || err == EPERM || err == ETXTBSY;
}

}  // namespace

Opened OpenFile(const std::string& path, Access access, Handle& handle, std::string& why) {
  const int flags = access == Access::Read     ? O_RDONLY
                    : access == Access::Create ? O_WRONLY | O_CREAT | O_TRUNC
                                               : O_RDWR;
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int err = errno;
    why = Text(err);
    return err == ENOENT || err == ENOTDIR ? Opened::Missing : Opened::No;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return Opened::Folder;
  }
  handle = fd;
  return Opened::Yes;
}

void CloseQuietly(Handle handle) { ::close(Fd(handle)); }

bool CloseFile(Handle handle, std::string& why) {
  if (::close(Fd(handle)) == 0) return true;
  why = Text(errno);
  return false;
}

bool SizeOf(Handle handle, std::uint64_t& size, std::string& why) {
  struct stat st {};
  if (::fstat(Fd(handle), &st) != 0) {
    why = Text(errno);
    return false;
  }
  size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool Resize(Handle handle, std::uint64_t size, std::string& why) {
  if (::ftruncate(Fd(handle), static_cast<off_t>(size)) == 0) return true;
  why = Text(errno);
  return false;
}

std::int64_t ReadSome(Handle handle, void* buffer, std::size_t n, std::uint64_t at,
                      std::string& why) {
  for (;;) {
    const ssize_t got = ::pread(Fd(handle), buffer, n, static_cast<off_t>(at));
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    why = Text(errno);
    return -1;
  }
}

std::int64_t WriteSome(Handle handle, const void* buffer, std::size_t n, std::uint64_t at,
                       std::string& why) {
  for (;;) {
    const ssize_t put = ::pwrite(Fd(handle), buffer, n, static_cast<off_t>(at));
    if (put >= 0) return put;
    if (errno == EINTR) continue;
    why = Text(errno);
    return -1;
  }
}

std::size_t CopyInSystem(Handle from, std::uint64_t fromAt, Handle to, std::uint64_t toAt,
                         std::size_t n, int refuse, bool& cannot) {
  std::size_t done = 0;
  while (done < n) {
    auto in = static_cast<loff_t>(fromAt + done);
    auto out = static_cast<loff_t>(toAt + done);
    ssize_t put = -1;
    if (refuse != 0)
      errno = refuse;
    else
      put = ::copy_file_range(Fd(from), &in, Fd(to), &out, n - done, 0);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    // 0 is the end of the source (or a file the kernel copies nothing from): the
    // buffered copy then reports the short read as it would anyway.
    if (put < 0 && KernelCannotCopy(errno)) cannot = true;
    break;
  }
  return done;
}

std::string_view ForbiddenInFileNames() { return "/"; }

bool IsFileNotFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsDeviceOrPipe(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

std::optional<FileId> IdOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool Remove(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool Rename(const std::string& from, const std::string& to, std::string& why) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  why = Text(errno);
  return false;
}

PathKind KindOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? PathKind::Missing : PathKind::Other;
  if (S_ISLNK(st.st_mode)) return PathKind::Link;
  if (S_ISDIR(st.st_mode)) return PathKind::Folder;
  return S_ISREG(st.st_mode) ? PathKind::File : PathKind::Other;
}

bool MakeFolder(const std::string& path, std::string& why) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  why = Text(errno);
  return false;
}

bool SetModifiedTime(const std::string& path, std::int64_t unixSeconds, std::string& why) {
  struct timespec times[2] {};
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(unixSeconds);
  // A link in its place is set itself, never the file it points at.
  if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0) return true;
  why = Text(errno);
  return false;
}

}  // namespace orvella::platform
