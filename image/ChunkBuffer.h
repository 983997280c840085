#pragma once
// The one copy buffer of a command. Page-aligned, because the kernel copies file data
// into an aligned buffer markedly faster than into one that malloc offsets by 16 bytes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace orvella {

class ChunkBuffer {
 public:
  static constexpr std::size_t kAlignment = 4096;

  // Makes the buffer hold n bytes; keeps the memory when it is large enough already.
  // False when the memory cannot be had (the buffer is then empty).
  [[nodiscard]] bool Resize(std::size_t n) {
    if (n > capacity_) {
      const std::size_t rounded = (n + kAlignment - 1) / kAlignment * kAlignment;
      // Aligned operator new rather than std::aligned_alloc, which not every C library
      // has (Windows' has not).
      memory_.reset(static_cast<std::uint8_t*>(
          ::operator new(rounded, std::align_val_t{kAlignment}, std::nothrow)));
      capacity_ = memory_ ? rounded : 0;
      if (!memory_) {
        size_ = 0;
        return false;
      }
    }
    size_ = n;
    return true;
  }
  std::uint8_t* data() { return memory_.get(); }
  std::size_t size() const { return size_; }

 private:
  struct Free {
    void operator()(std::uint8_t* p) const { ::operator delete(p, std::align_val_t{kAlignment}); }
  };
  std::unique_ptr<std::uint8_t[], Free> memory_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
};

}  // namespace orvella
