#include "image/FileIO.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvella {

namespace {

long g_failReadAt = -1;
long g_failWriteAt = -1;
long g_reads = 0;
long g_writes = 0;
int g_refuseKernelCopy = 0;
long g_kernelCopies = 0;

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string SystemError(int err) { return std::strerror(err); }

// Answers that mean the kernel cannot copy between these two files at all (another file
// system, a kernel or file system without the call, a special file): the rest of the
// file is copied through the buffer. Any other failure is left to the buffered copy of
// the same bytes, which tells whether reading or writing failed and names that file.
bool KernelCannotCopy(int err) {
  return err == EXDEV || err == EOPNOTSUPP || err == ENOTSUP || err == ENOSYS ||
         err == EINVAL || err == EBADF || err == EPERM || err == ETXTBSY;
}

}  // namespace

void FileFaults::ArmRead(long nth) { g_failReadAt = nth; g_reads = 0; }
void FileFaults::ArmWrite(long nth) { g_failWriteAt = nth; g_writes = 0; }
void FileFaults::RefuseKernelCopy(int err) { g_refuseKernelCopy = err; }
void FileFaults::Disarm() {
  g_failReadAt = g_failWriteAt = -1;
  g_reads = g_writes = 0;
  g_refuseKernelCopy = 0;
  g_kernelCopies = 0;
}
long FileFaults::Reads() { return g_reads; }
long FileFaults::Writes() { return g_writes; }
long FileFaults::KernelCopies() { return g_kernelCopies; }

File::File(File&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), position_(other.position_),
      kernelCopy_(other.kernelCopy_) {
  other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    position_ = other.position_;
    kernelCopy_ = other.kernelCopy_;
    other.fd_ = -1;
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

static bool OpenWith(int& fd, const std::string& path, int flags, const char* what,
                     std::string& error) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
  if (path.empty()) {
    error = std::string("I/O error: cannot ") + what + " a file with an empty name";
    return false;
  }
  const int opened = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (opened < 0) {
    error = std::string("I/O error: cannot ") + what + " " + Quoted(path) + ": " +
            SystemError(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(opened, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(opened);
    error = std::string("I/O error: cannot ") + what + " " + Quoted(path) +
            ": it is a folder";
    return false;
  }
  fd = opened;
  return true;
}

bool File::OpenRead(const std::string& path, std::string& error) {
  path_ = path;
  position_ = 0;
  kernelCopy_ = true;
  return OpenWith(fd_, path, O_RDONLY, "open for reading", error);
}

bool File::Create(const std::string& path, std::string& error) {
  path_ = path;
  position_ = 0;
  kernelCopy_ = true;
  return OpenWith(fd_, path, O_WRONLY | O_CREAT | O_TRUNC, "create", error);
}

bool File::OpenReadWrite(const std::string& path, std::string& error) {
  path_ = path;
  position_ = 0;
  kernelCopy_ = true;
  return OpenWith(fd_, path, O_RDWR, "open for writing", error);
}

bool File::Size(std::uint64_t& size, std::string& error) const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
    error = "I/O error: cannot take the size of " + Quoted(path_) + ": " +
            SystemError(fd_ < 0 ? EBADF : errno);
    return false;
  }
  size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool File::Seek(std::uint64_t offset, std::string& error) {
  if (fd_ < 0) {
    error = "I/O error: file " + Quoted(path_) + " is not open";
    return false;
  }
  position_ = offset;
  return true;
}

bool File::CheckOpen(std::string& error) const {
  if (fd_ >= 0) return true;
  error = "I/O error: file " + Quoted(path_) + " is not open";
  return false;
}

bool File::ReadFaultDue(std::string& error) {
  ++g_reads;
  if (g_failReadAt <= 0 || g_reads != g_failReadAt) return false;
  error = "I/O error while reading " + Quoted(path_) + ": " + SystemError(EIO);
  return true;
}

bool File::WriteFaultDue(std::string& error) {
  ++g_writes;
  if (g_failWriteAt <= 0 || g_writes != g_failWriteAt) return false;
  error = "I/O error while writing " + Quoted(path_) + ": " + SystemError(ENOSPC);
  return true;
}

bool File::ReadAt(void* buffer, std::size_t n, std::uint64_t at, std::string& error) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(at + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      error = "I/O error while reading " + Quoted(path_) + ": " + SystemError(errno);
      return false;
    }
    if (got == 0) {
      error = "I/O error: read beyond end of file " + Quoted(path_);
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool File::WriteAt(const void* buffer, std::size_t n, std::uint64_t at, std::string& error) {
  const auto* in = static_cast<const unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t put = ::pwrite(fd_, in + done, n - done, static_cast<off_t>(at + done));
    if (put < 0) {
      if (errno == EINTR) continue;
      error = "I/O error while writing " + Quoted(path_) + ": " + SystemError(errno);
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  return true;
}

bool File::ReadExact(void* buffer, std::size_t n, std::string& error) {
  if (!CheckOpen(error) || ReadFaultDue(error) || !ReadAt(buffer, n, position_, error))
    return false;
  position_ += n;
  return true;
}

bool File::WriteAll(const void* buffer, std::size_t n, std::string& error) {
  if (!CheckOpen(error) || WriteFaultDue(error) || !WriteAt(buffer, n, position_, error))
    return false;
  position_ += n;
  return true;
}

bool File::CopyFrom(File& source, std::size_t n, void* buffer, std::string& error) {
  if (!source.CheckOpen(error) || source.ReadFaultDue(error) || !CheckOpen(error) ||
      WriteFaultDue(error))
    return false;
  std::size_t done = 0;
  while (kernelCopy_ && done < n) {
    auto in = static_cast<loff_t>(source.position_ + done);
    auto out = static_cast<loff_t>(position_ + done);
    ssize_t put = -1;
    if (g_refuseKernelCopy != 0)
      errno = g_refuseKernelCopy;
    else
      put = ::copy_file_range(source.fd_, &in, fd_, &out, n - done, 0);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    // 0 is the end of the source (or a file the kernel copies nothing from): the
    // buffered copy then reports the short read as it would anyway.
    if (put < 0 && KernelCannotCopy(errno)) kernelCopy_ = false;
    break;
  }
  if (done > 0) ++g_kernelCopies;
  if (done < n) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    if (!source.ReadAt(bytes, n - done, source.position_ + done, error) ||
        !WriteAt(bytes, n - done, position_ + done, error))
      return false;
  }
  source.position_ += n;
  position_ += n;
  return true;
}

bool File::Close(std::string& error) {
  if (fd_ < 0) return true;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    error = "I/O error while closing " + Quoted(path_) + ": " + SystemError(errno);
    return false;
  }
  return true;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
  const std::optional<FileId> ia = IdOfFile(a);
  return ia && ia == IdOfFile(b);
}

std::optional<FileId> IdOfFile(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool DeleteFileAt(const std::string& path) {
  return !path.empty() && ::unlink(path.c_str()) == 0;
}

}  // namespace orvella
