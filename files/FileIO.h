#pragma once
// Files as the commands use them: opened per operation, one owner, 64-bit offsets,
// every failure returned as a message that names it (never thrown, never ignored).

#include <cstddef>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvella {

class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  ~File();

  // Each returns false and fills `error` on failure.
  bool OpenRead(const std::string& path, std::string& error);
  // Creates the file, or truncates an existing one, for writing.
  bool Create(const std::string& path, std::string& error);
  // Opens an existing file for reading and writing without truncating it.
  bool OpenReadWrite(const std::string& path, std::string& error);

  bool IsOpen() const { return handle_ != -1; }
  // True after an open that failed because nothing is at the path.
  bool WasMissing() const { return missing_; }
  const std::string& Path() const { return path_; }

  bool Size(std::uint64_t& size, std::string& error) const;
  bool Seek(std::uint64_t offset, std::string& error);
  // Reads exactly n bytes; a short read is the "read beyond end of file" failure.
  bool ReadExact(void* buffer, std::size_t n, std::string& error);
  // Reads what there is up to n bytes into `got`: 0 at the end of the file, which need
  // not be where its size says (files of the system).
  bool ReadSome(void* buffer, std::size_t n, std::size_t& got, std::string& error);
  bool WriteAll(const void* buffer, std::size_t n, std::string& error);
  // Cuts or extends the file to `size` bytes (extended with zeros, sparsely where the
  // file system can); the position stays.
  bool Resize(std::uint64_t size, std::string& error);
  // Copies n bytes from `source`'s position to this file's position. The Linux back end
  // has the kernel copy them where the file system takes it (copy_file_range) and falls
  // back to reading into `buffer` (n bytes at least) and writing; the Windows back end
  // always does the latter. Counts as one read and one write for FileFaults,
  // and a failure names the file that failed, exactly as ReadExact and WriteAll do.
  bool CopyFrom(File& source, std::size_t n, void* buffer, std::string& error);
  // Closes and reports a failure the system kept for the close (delayed write errors).
  bool Close(std::string& error);

 private:
  // The read or write that FileFaults has armed: true, with `error` filled, when it is due.
  bool ReadFaultDue(std::string& error);
  bool WriteFaultDue(std::string& error);
  bool ReadAt(void* buffer, std::size_t n, std::uint64_t at, std::string& error);
  bool WriteAt(const void* buffer, std::size_t n, std::uint64_t at, std::string& error);
  bool CheckOpen(std::string& error) const;
  bool Open(const std::string& path, int access, const char* what, std::string& error);

  std::intptr_t handle_ = -1;  // the back end's descriptor or handle; -1 when closed
  std::string path_;
  std::uint64_t position_ = 0;
  bool kernelCopy_ = true;  // cleared once the kernel says it cannot copy into this file
  bool missing_ = false;
};

// True when something that is not a folder exists at `path` (links are followed).
bool FileExists(const std::string& path);

// True when both paths name the same file (device and inode, or volume and file index on
// Windows), however spelled.
bool SameFile(const std::string& a, const std::string& b);

// Device and inode of the file at `path` (links followed): what names it however spelled.
// On Windows: the volume's serial number and the file's index on it.
struct FileId {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  auto operator<=>(const FileId&) const = default;
};
// Nothing when there is no file at `path`.
std::optional<FileId> IdOfFile(const std::string& path);

// Why `output` may not be written, or empty when it may: it is one of `inputs` (or its
// part file OUT.part would be), however spelled; it is a folder; it exists and `replace`
// is not given (`hint` then follows the reason, e.g. how to replace it).
std::string OutputRefusal(const std::string& output, const std::vector<std::string>& inputs, bool replace,
                          const std::string& hint);

// Deletes a file; the result says whether it was there and could be removed.
bool DeleteFileAt(const std::string& path);

// Gives the file at `from` the name `to`, replacing a file of that name.
bool RenameFile(const std::string& from, const std::string& to, std::string& error);

// What a name stands for, a link taken as itself and not followed: File, Folder, Link
// (a symbolic link, or a junction or other reparse point on Windows), Other (a device,
// a pipe, or a path that cannot be looked at, such as one through a file), or Missing.
enum class PathKind { Missing, File, Folder, Link, Other };
PathKind KindOfPath(const std::string& path);

// Makes the folder `path`, whose parent must exist; false with `error` when it cannot
// (one that exists already included).
bool MakeFolder(const std::string& path, std::string& error);

// Sets the modification time of the file or folder at `path`, in seconds since 1970
// (UTC); the access time is left as it is.
bool SetModifiedTime(const std::string& path, std::int64_t unixSeconds, std::string& error);

// A new file written under OUT.part and given its name OUT only once complete, so that
// no half-written file ever carries the name. The part file is removed unless Commit
// succeeds. An OUT that is a device or a pipe (nothing a rename could put in its place)
// is written directly instead.
class PartFile {
 public:
  PartFile() = default;
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;
  ~PartFile();

  static std::string PartName(const std::string& path) { return path + ".part"; }
  // Creates (or truncates) OUT.part for writing.
  bool Create(const std::string& path, std::string& error);
  // The same under the temporary name `part` instead of OUT.part, for a writer whose
  // outputs may themselves be named like part files.
  bool CreateAs(const std::string& path, const std::string& part, std::string& error);
  File& Out() { return file_; }
  // Closes the part file and renames it to OUT.
  bool Commit(std::string& error);

  // Calls `remove` once with the name of every part file this process is writing and
  // forgets them, for a handler of an interrupt that ends the process next. It takes no
  // lock and allocates nothing, so a signal handler may call it with a `remove` that is
  // itself safe there (unlink).
  static void RemoveUnfinished(void (*remove)(const char* path)) noexcept;

 private:
  File file_;
  std::string final_;
  std::string part_;           // empty once committed, when nothing was created, or in place
  char* unfinished_ = nullptr;  // this part file's entry for RemoveUnfinished
};

// Fault injection for tests: the n-th read or write (counted from 1 after Arm) fails
// as an input/output error would. Counts every ReadExact/ReadSome/WriteAll, and CopyFrom as one
// of each. RefuseKernelCopy(err) makes every kernel copy fail with errno `err`, as a
// file system that does not take it would (0: the kernel copies again); KernelCopies
// counts the CopyFrom calls that the kernel served. Disarm resets all of it.
struct FileFaults {
  static void ArmRead(long nth);
  static void ArmWrite(long nth);
  static void RefuseKernelCopy(int err);
  static void Disarm();
  static long Reads();
  static long Writes();
  static long KernelCopies();
};

}  // namespace orvella
