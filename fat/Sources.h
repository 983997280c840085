#pragma once
// Byte sources for tests, the fuzz target and tools that read a volume held in memory or
// a volume file through the standard library's streams.

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "fat/ByteSource.h"

namespace orvella::fat {

// A volume in memory. Bytes between the end of `Bytes()` and Size() read as zeros, so a
// few metadata sectors can stand for a large, mostly empty volume.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::vector<std::uint8_t> bytes, std::uint64_t size = 0);
  std::uint64_t Size() const override { return size_; }
  bool Read(std::uint64_t offset, void* buffer, std::size_t n, std::string& error) override;
  std::vector<std::uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint64_t size_;
};

// A volume file, opened read-only.
class StreamFileSource : public ByteSource {
 public:
  // False with `error` filled when the file cannot be opened or sized.
  bool Open(const std::string& path, std::string& error);
  std::uint64_t Size() const override { return size_; }
  bool Read(std::uint64_t offset, void* buffer, std::size_t n, std::string& error) override;

 private:
  std::ifstream file_;
  std::string path_;
  std::uint64_t size_ = 0;
};

}  // namespace orvella::fat
