#pragma once
// A small virtual phone in a folder of its own, and helpers to look into image files.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/VirtualPhone.h"
#include "image/ImageBuilder.h"

namespace orvella::testing {

inline std::vector<std::uint8_t> ReadBytes(const std::string& path, std::uint64_t offset,
                                           std::size_t n) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::vector<std::uint8_t> out(n);
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(n));
  out.resize(static_cast<std::size_t>(in.gcount()));
  return out;
}

inline std::vector<std::uint8_t> AllBytes(const std::string& path) {
  return ReadBytes(path, 0, static_cast<std::size_t>(std::filesystem::file_size(path)));
}

inline std::vector<std::uint8_t> PatternBytes(std::uint64_t offset, std::size_t n) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = PatternByte(offset + i);
  return out;
}

// Writes a full image of chipMiB filled with the pattern, table at block 1.
inline void MakeImage(const std::string& path, std::uint32_t chipMiB, ImageFill fill) {
  ImageSpec spec;
  spec.ChipMiB = chipMiB;
  spec.Table = {{"BOOT", 1}, {"PIT", 1}, {"DATA", 0xFFFFFFFFu}};
  spec.Fill = fill;
  std::string error;
  ASSERT_TRUE(WriteFullImage(path, spec, error)) << error;
}

class TempFolder {
 public:
  TempFolder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "orvella-host-XXXXXX").string();
    if (::mkdtemp(tmpl.data())) path_ = tmpl + "/";
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace orvella::testing
