#include "fat/Sources.h"

#include <algorithm>
#include <cstring>

namespace orvella::fat {

MemorySource::MemorySource(std::vector<std::uint8_t> bytes, std::uint64_t size)
    : bytes_(std::move(bytes)), size_(std::max<std::uint64_t>(size, bytes_.size())) {}

bool MemorySource::Read(std::uint64_t offset, void* buffer, std::size_t n, std::string& error) {
  if (offset > size_ || n > size_ - offset) {
    error = "read past the end of the volume (" + std::to_string(size_) + " bytes)";
    return false;
  }
  auto* out = static_cast<std::uint8_t*>(buffer);
  const std::uint64_t held = bytes_.size();
  const std::size_t fromBytes =
      offset < held ? static_cast<std::size_t>(std::min<std::uint64_t>(n, held - offset)) : 0;
  if (fromBytes) std::memcpy(out, bytes_.data() + offset, fromBytes);
  std::memset(out + fromBytes, 0, n - fromBytes);
  return true;
}

bool StreamFileSource::Open(const std::string& path, std::string& error) {
  path_ = path;
  file_.open(path, std::ios::binary);
  if (!file_) {
    error = "cannot open \"" + path + "\" for reading";
    return false;
  }
  file_.seekg(0, std::ios::end);
  const std::streamoff end = file_.tellg();
  if (!file_ || end < 0) {
    error = "cannot find the size of \"" + path + "\"";
    return false;
  }
  size_ = static_cast<std::uint64_t>(end);
  return true;
}

bool StreamFileSource::Read(std::uint64_t offset, void* buffer, std::size_t n, std::string& error) {
  if (offset > size_ || n > size_ - offset) {
    error = "read past the end of \"" + path_ + "\"";
    return false;
  }
  file_.clear();
  file_.seekg(static_cast<std::streamoff>(offset));
  file_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(n));
  if (!file_ || static_cast<std::size_t>(file_.gcount()) != n) {
    error = "I/O error while reading \"" + path_ + "\"";
    return false;
  }
  return true;
}

}  // namespace orvella::fat
