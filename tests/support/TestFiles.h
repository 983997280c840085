#pragma once
// Temporary folders that clean up after themselves, and small edits of fixture files
// (bytes at an offset, a new length) that the image builder cannot express.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "image/ImageBuilder.h"

namespace orvella::test {

class TempDir {
 public:
  TempDir() {
    // A new folder of a random name (create_directory is false for one that exists).
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::filesystem::path candidate =
          base / ("orvella-test-" + std::to_string(random()) + std::to_string(random()));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) path_ = candidate;
    }
    if (path_.empty()) ADD_FAILURE() << "cannot make a temporary folder";
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Overwrites bytes of an existing file in place.
inline void WriteBytesAt(const std::string& path, std::uint64_t offset,
                         const std::vector<std::uint8_t>& bytes) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(f) << path;
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(f) << path;
}

inline void WriteLE32At(const std::string& path, std::uint64_t offset, std::uint32_t v) {
  WriteBytesAt(path, offset,
               {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
}

// Cuts or extends (sparsely, with zeros) a file to `size` bytes.
inline void ResizeFile(const std::string& path, std::uint64_t size) {
  std::error_code ec;
  std::filesystem::resize_file(path, size, ec);
  ASSERT_FALSE(ec) << path << ": " << ec.message();
}

inline std::vector<std::uint8_t> ReadBytesAt(const std::string& path, std::uint64_t offset,
                                             std::size_t n) {
  std::vector<std::uint8_t> out(n);
  std::ifstream f(path, std::ios::binary);
  f.seekg(static_cast<std::streamoff>(offset));
  f.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(n));
  if (!f) out.clear();
  return out;
}

// A full image of a chip of `chipMiB` MiB with the given table; zero-filled images are
// sparse, so fixtures cost neither time nor disk.
inline void MakeImage(const std::string& path, const std::vector<PartitionSpec>& table,
                      std::uint32_t chipMiB = 4, ImageFill fill = ImageFill::Zero) {
  std::string error;
  ASSERT_TRUE(WriteFullImage(path, ImageSpec{chipMiB, table, fill}, error)) << error;
}

}  // namespace orvella::test
