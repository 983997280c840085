#include "files/FileIO.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include "files/FilePlatform.h"

namespace orvella {

namespace {

long g_failReadAt = -1;
long g_failWriteAt = -1;
long g_reads = 0;
long g_writes = 0;
int g_refuseKernelCopy = 0;
long g_kernelCopies = 0;

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// The text of an injected fault: the C library's, the same on every platform.
std::string FaultText(int err) { return std::strerror(err); }

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
    : handle_(other.handle_), path_(std::move(other.path_)), position_(other.position_),
      kernelCopy_(other.kernelCopy_) {
  other.handle_ = platform::kNoHandle;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (IsOpen()) platform::CloseQuietly(handle_);
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    position_ = other.position_;
    kernelCopy_ = other.kernelCopy_;
    other.handle_ = platform::kNoHandle;
  }
  return *this;
}

File::~File() {
  if (IsOpen()) platform::CloseQuietly(handle_);
}

bool File::Open(const std::string& path, int access, const char* what, std::string& error) {
  if (IsOpen()) {
    platform::CloseQuietly(handle_);
    handle_ = platform::kNoHandle;
  }
  path_ = path;
  position_ = 0;
  kernelCopy_ = true;
  missing_ = false;
  if (path.empty()) {
    error = std::string("I/O error: cannot ") + what + " a file with an empty name";
    return false;
  }
  std::string why;
  switch (platform::OpenFile(path, static_cast<platform::Access>(access), handle_, why)) {
    case platform::Opened::Yes: return true;
    case platform::Opened::Folder: why = "it is a folder"; break;
    case platform::Opened::Missing: missing_ = true; break;
    case platform::Opened::No: break;
  }
  handle_ = platform::kNoHandle;
  error = std::string("I/O error: cannot ") + what + " " + Quoted(path) + ": " + why;
  return false;
}

bool File::OpenRead(const std::string& path, std::string& error) {
  return Open(path, static_cast<int>(platform::Access::Read), "open for reading", error);
}

bool File::Create(const std::string& path, std::string& error) {
  return Open(path, static_cast<int>(platform::Access::Create), "create", error);
}

bool File::OpenReadWrite(const std::string& path, std::string& error) {
  return Open(path, static_cast<int>(platform::Access::ReadWrite), "open for writing", error);
}

bool File::Size(std::uint64_t& size, std::string& error) const {
  std::string why = "the file is not open";
  if (!IsOpen() || !platform::SizeOf(handle_, size, why)) {
    error = "I/O error: cannot take the size of " + Quoted(path_) + ": " + why;
    return false;
  }
  return true;
}

bool File::Resize(std::uint64_t size, std::string& error) {
  std::string why;
  if (!CheckOpen(error)) return false;
  if (platform::Resize(handle_, size, why)) return true;
  error = "I/O error while writing " + Quoted(path_) + ": " + why;
  return false;
}

bool File::Seek(std::uint64_t offset, std::string& error) {
  if (!CheckOpen(error)) return false;
  position_ = offset;
  return true;
}

bool File::CheckOpen(std::string& error) const {
  if (IsOpen()) return true;
  error = "I/O error: file " + Quoted(path_) + " is not open";
  return false;
}

bool File::ReadFaultDue(std::string& error) {
  ++g_reads;
  if (g_failReadAt <= 0 || g_reads != g_failReadAt) return false;
  error = "I/O error while reading " + Quoted(path_) + ": " + FaultText(EIO);
  return true;
}

bool File::WriteFaultDue(std::string& error) {
  ++g_writes;
  if (g_failWriteAt <= 0 || g_writes != g_failWriteAt) return false;
  error = "I/O error while writing " + Quoted(path_) + ": " + FaultText(ENOSPC);
  return true;
}

bool File::ReadAt(void* buffer, std::size_t n, std::uint64_t at, std::string& error) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  std::string why;
  while (done < n) {
    const std::int64_t got = platform::ReadSome(handle_, out + done, n - done, at + done, why);
    if (got < 0) {
      error = "I/O error while reading " + Quoted(path_) + ": " + why;
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
  std::string why;
  while (done < n) {
    const std::int64_t put = platform::WriteSome(handle_, in + done, n - done, at + done, why);
    if (put <= 0) {
      error = "I/O error while writing " + Quoted(path_) + ": " +
              (put < 0 ? why : std::string("the system wrote nothing"));
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

bool File::ReadSome(void* buffer, std::size_t n, std::size_t& got, std::string& error) {
  got = 0;
  if (!CheckOpen(error) || ReadFaultDue(error)) return false;
  std::string why;
  const std::int64_t read = platform::ReadSome(handle_, buffer, n, position_, why);
  if (read < 0) {
    error = "I/O error while reading " + Quoted(path_) + ": " + why;
    return false;
  }
  got = static_cast<std::size_t>(read);
  position_ += got;
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
  if (kernelCopy_) {
    bool cannot = false;
    done = platform::CopyInSystem(source.handle_, source.position_, handle_, position_, n,
                                  g_refuseKernelCopy, cannot);
    if (cannot) kernelCopy_ = false;
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
  if (!IsOpen()) return true;
  const platform::Handle handle = handle_;
  handle_ = platform::kNoHandle;
  std::string why;
  if (!platform::CloseFile(handle, why)) {
    error = "I/O error while closing " + Quoted(path_) + ": " + why;
    return false;
  }
  return true;
}

bool FileExists(const std::string& path) {
  return !path.empty() && platform::IsFileNotFolder(path);
}

bool SameFile(const std::string& a, const std::string& b) {
  const std::optional<FileId> ia = IdOfFile(a);
  return ia && ia == IdOfFile(b);
}

std::optional<FileId> IdOfFile(const std::string& path) {
  if (path.empty()) return std::nullopt;
  return platform::IdOf(path);
}

std::string OutputRefusal(const std::string& output, const std::vector<std::string>& inputs, bool replace,
                          const std::string& hint) {
  for (const std::string& input : inputs) {
    std::string how;
    if (SameFile(output, input))
      how = "is";
    else if (SameFile(PartFile::PartName(output), input))
      how = "is written as \"" + PartFile::PartName(output) + "\" first, which is";
    else
      continue;
    return "\"" + output + "\" " + how + " \"" + input + "\", a file this command reads; it never writes a file it reads";
  }
  // A name that is there but is no file is a folder: refused before anything is read.
  if (!FileExists(output) && IdOfFile(output)) return "cannot create \"" + output + "\": it is a folder";
  if (!replace && FileExists(output)) return "\"" + output + "\" already exists" + hint;
  return "";
}

bool DeleteFileAt(const std::string& path) { return !path.empty() && platform::Remove(path); }

bool RenameFile(const std::string& from, const std::string& to, std::string& error) {
  std::string why;
  if (platform::Rename(from, to, why)) return true;
  error = "I/O error: cannot rename " + Quoted(from) + " to " + Quoted(to) + ": " + why;
  return false;
}

PathKind KindOfPath(const std::string& path) {
  return path.empty() ? PathKind::Missing : platform::KindOf(path);
}

bool MakeFolder(const std::string& path, std::string& error) {
  std::string why = "the name is empty";
  if (!path.empty() && platform::MakeFolder(path, why)) return true;
  error = "I/O error: cannot make the folder " + Quoted(path) + ": " + why;
  return false;
}

bool SetModifiedTime(const std::string& path, std::int64_t unixSeconds, std::string& error) {
  std::string why = "the name is empty";
  if (!path.empty() && platform::SetModifiedTime(path, unixSeconds, why)) return true;
  error = "I/O error: cannot set the modification time of " + Quoted(path) + ": " + why;
  return false;
}

namespace {

// The part files being written, for RemoveUnfinished. Each entry is a copy of the name;
// whoever takes it out of its slot (the part file when it ends, or the interrupt) owns it.
constexpr std::size_t kUnfinishedSlots = 64;
std::atomic<char*> g_unfinished[kUnfinishedSlots];

char* NoteUnfinished(const std::string& path) {
  auto copy = std::make_unique<char[]>(path.size() + 1);
  std::memcpy(copy.get(), path.c_str(), path.size() + 1);
  for (std::atomic<char*>& slot : g_unfinished) {
    char* empty = nullptr;
    if (slot.compare_exchange_strong(empty, copy.get())) return copy.release();
  }
  return nullptr;  // more part files at once than slots: this one is not removed on an interrupt
}

void ForgetUnfinished(char*& entry) {
  if (!entry) return;
  for (std::atomic<char*>& slot : g_unfinished) {
    char* mine = entry;
    if (slot.compare_exchange_strong(mine, nullptr)) {
      std::unique_ptr<char[]> owned(entry);
      break;
    }
  }
  entry = nullptr;
}

}  // namespace

void PartFile::RemoveUnfinished(void (*remove)(const char* path)) noexcept {
  for (std::atomic<char*>& slot : g_unfinished)
    if (char* path = slot.exchange(nullptr)) remove(path);  // kept: the process ends next
}

PartFile::~PartFile() {
  if (!part_.empty()) {
    std::string ignored;
    if (file_.IsOpen()) file_.Close(ignored);
    DeleteFileAt(part_);
  }
  ForgetUnfinished(unfinished_);
}

bool PartFile::Create(const std::string& path, std::string& error) {
  return CreateAs(path, PartName(path), error);
}

bool PartFile::CreateAs(const std::string& path, const std::string& part, std::string& error) {
  final_ = path;
  part_.clear();
  ForgetUnfinished(unfinished_);
  // A rename would put a plain file where the device or pipe was.
  if (platform::IsDeviceOrPipe(path)) return file_.Create(path, error);
  // Nor could it put one where a folder is: refused before a byte is written.
  if (!path.empty() && !FileExists(path) && IdOfFile(path)) {
    error = "I/O error: cannot create " + Quoted(path) + ": it is a folder";
    return false;
  }
  part_ = part;
  unfinished_ = NoteUnfinished(part_);
  if (file_.Create(part_, error)) return true;
  part_.clear();
  ForgetUnfinished(unfinished_);
  return false;
}

bool PartFile::Commit(std::string& error) {
  if (!file_.IsOpen() && part_.empty()) {
    error = "no file is being written";
    return false;
  }
  if (!file_.Close(error)) return false;
  if (part_.empty()) return true;  // written in place
  if (!RenameFile(part_, final_, error)) return false;
  part_.clear();
  ForgetUnfinished(unfinished_);
  return true;
}

}  // namespace orvella
