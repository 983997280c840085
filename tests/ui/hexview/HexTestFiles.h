#pragma once
// Scratch files for the hex view suites: a private folder removed at the end, files
// with known bytes, sparse files of any size.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace orvella::hextest {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orvella-hex-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Byte k of a test file: varies from byte to byte and from block to block.
inline std::uint8_t TestByte(std::uint64_t k) {
  return static_cast<std::uint8_t>((k * 7u) ^ (k >> 9) ^ 0x3C);
}

inline std::vector<std::uint8_t> TestBytes(std::uint64_t from, std::size_t n) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = TestByte(from + i);
  return out;
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

// A file of TestByte values, `size` bytes long.
inline void WriteTestFile(const std::string& path, std::size_t size) {
  WriteBytes(path, TestBytes(0, size));
}

// A file of `size` bytes that takes no disk space; `marks` are written at their offsets.
inline void WriteSparseFile(const std::string& path, std::uint64_t size,
                            const std::vector<std::pair<std::uint64_t, std::uint8_t>>& marks = {}) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
  for (const auto& [offset, value] : marks) {
    ASSERT_EQ(::pwrite(fd, &value, 1, static_cast<off_t>(offset)), 1);
  }
  ::close(fd);
}

inline void TruncateFile(const std::string& path, std::uint64_t size) {
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0) << path;
}

// The paging rule on its own: where a 16 KiB window stands and how often it moves when
// the top line goes to `top` and `n` bytes from there are shown.
struct PagingModel {
  std::int64_t chunk;
  std::int64_t start;  // nothing held: a start at the chunk's end
  long moves = 0;
  void Show(std::int64_t top, std::int64_t n) {
    constexpr std::int64_t kWindow = 0x4000;
    const std::int64_t window = std::min(chunk, kWindow);
    const std::int64_t end = std::min(top + n, chunk);
    if (top >= start && end <= start + window) return;
    start = std::clamp<std::int64_t>(top - 0x2000, 0, chunk - window);
    ++moves;
  }
};

}  // namespace orvella::hextest
