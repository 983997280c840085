#include "image/BlankCheck.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "image/Export.h"
#include "files/FileIO.h"

namespace orvella {

namespace {

constexpr char kCheckBase[] = "Checking which Partition is blank...";
constexpr char kReportHead[] = "Following partitions are found to be completely blank:";
constexpr char kNoBlank[] = "There are no blank partitions found.";

constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};
// Bytes 14 and 15 of a 16-byte group are the two highest-addressed bytes of its second
// word; setting them in that word keeps them out of the test.
constexpr std::uint64_t kSkipMask =
    std::endian::native == std::endian::little ? 0xFFFF000000000000ull : 0xFFFFull;
// Bytes folded together between early-exit tests.
constexpr std::size_t kErasedPiece = 4096;
constexpr std::size_t kStride = 512;
constexpr std::size_t kGroup = 16;
constexpr std::size_t kTestedPerGroup = 14;

inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

template <bool (*Test)(const std::uint8_t*, std::size_t)>
RangeVerdict CheckRange(File& image, std::uint32_t Addr, std::uint32_t Leng,
                        ChunkBuffer& buffer, std::string& error) {
  if (Leng == 0) return RangeVerdict::Blank;
  if (!buffer.Resize(kBlockSize)) {
    error = "Out of memory: cannot allocate the read buffer";
    return RangeVerdict::Failed;
  }
  if (!image.Seek(Addr, error)) return RangeVerdict::Failed;
  for (std::uint32_t done = 0; done < Leng;) {
    const std::uint32_t n = std::min(kBlockSize, Leng - done);
    if (!image.ReadExact(buffer.data(), n, error)) return RangeVerdict::Failed;
    if (!Test(buffer.data(), n)) return RangeVerdict::NotBlank;
    done += n;
  }
  return RangeVerdict::Blank;
}

template <bool (*Test)(const std::uint8_t*, std::size_t)>
RangeVerdict CheckRangeOfFile(const std::string& imageFile, std::uint32_t Addr,
                              std::uint32_t Leng, ChunkBuffer& buffer, std::string& error) {
  if (Leng == 0) return RangeVerdict::Blank;
  File image;
  if (!image.OpenRead(imageFile, error)) return RangeVerdict::Failed;
  return CheckRange<Test>(image, Addr, Leng, buffer, error);
}

}  // namespace

// The AND of every word of a piece is all ones exactly when the piece is all 0xFF; the
// inner loop has no branch, so it compiles to wide vector loads. On x86-64 a copy for
// AVX2 and one for AVX-512 are built beside the baseline one and picked at load time
// (where the executable format can pick: not in a Windows exe).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__) && !defined(_WIN32)
__attribute__((target_clones("avx512f", "avx2", "default")))
#endif
bool IsErased(const std::uint8_t* data, std::size_t n) {
  std::size_t i = 0;
  for (; i + kErasedPiece <= n; i += kErasedPiece) {
    std::uint64_t acc = kAllOnes;
    for (std::size_t j = 0; j < kErasedPiece; j += 8) acc &= Load64(data + i + j);
    if (acc != kAllOnes) return false;
  }
  for (; i + 8 <= n; i += 8)
    if (Load64(data + i) != kAllOnes) return false;
  for (; i < n; ++i)
    if (data[i] != 0xFF) return false;
  return true;
}

bool IsSpareErased(const std::uint8_t* data, std::size_t n) {
  std::size_t i = 0;
  for (; i + kStride <= n; i += kStride) {
    std::uint64_t acc = kAllOnes;
    for (std::size_t j = 0; j < kStride; j += kGroup)
      acc &= Load64(data + i + j) & (Load64(data + i + j + 8) | kSkipMask);
    if (acc != kAllOnes) return false;
  }
  for (; i + kGroup <= n; i += kGroup)
    if ((Load64(data + i) & (Load64(data + i + 8) | kSkipMask)) != kAllOnes) return false;
  const std::size_t tail = std::min(n - i, kTestedPerGroup);
  for (std::size_t j = 0; j < tail; ++j)
    if (data[i + j] != 0xFF) return false;
  return true;
}

RangeVerdict CheckMainImageRangeToBeBlank(const std::string& imageFile, std::uint32_t Addr,
                                          std::uint32_t Leng, ChunkBuffer& buffer,
                                          std::string& error) {
  return CheckRangeOfFile<IsErased>(imageFile, Addr, Leng, buffer, error);
}

RangeVerdict CheckReduImageRangeToBeBlank(const std::string& imageFile, std::uint32_t Addr,
                                          std::uint32_t Leng, ChunkBuffer& buffer,
                                          std::string& error) {
  return CheckRangeOfFile<IsSpareErased>(imageFile, Addr, Leng, buffer, error);
}

RangeVerdict CheckMainImageRangeToBeBlank(File& image, std::uint32_t Addr, std::uint32_t Leng,
                                          ChunkBuffer& buffer, std::string& error) {
  return CheckRange<IsErased>(image, Addr, Leng, buffer, error);
}

RangeVerdict CheckReduImageRangeToBeBlank(File& image, std::uint32_t Addr, std::uint32_t Leng,
                                          ChunkBuffer& buffer, std::string& error) {
  return CheckRange<IsSpareErased>(image, Addr, Leng, buffer, error);
}

bool CheckBlanks(ImageModel& model, WindowPort& port) {
  const std::string base = kCheckBase;
  port.LogAdd("");
  port.LogAdd(base);
  port.GaugeSetPos(0);
  port.GaugeSetMax(0);
  const std::size_t count = std::min(model.EntryCount(), model.PartitionRows.size());
  for (std::size_t k = 0; k < count; ++k)
    port.GaugeSetMax(port.GaugeMax() + model.EffectiveSize(k));

  // One open for the whole check, at its first range test: reopening for each test
  // would cost more than the 0xFF test itself.
  ChunkBuffer buffer;
  std::string error;
  File image;
  // The error box comes after the image is closed, as for every other I/O failure.
  const auto fail = [&](const std::string& text) {
    std::string ignored;
    image.Close(ignored);
    port.ErrorBox(text);
    return false;
  };
  const std::uint64_t mainEnd = model.SpareAreaStart();
  std::int64_t examined = 0;
  for (std::size_t k = 0; k < count; ++k) {
    port.LogReplaceLast(base + std::to_string(k + 1) + "/" + std::to_string(count));
    port.LogRedraw();
    port.Sleep(30);
    port.ProcessMessages();

    const WideRange r = WideRangeOf(model, k);
    std::uint64_t mainAt = r.MainOffset;
    std::uint64_t spareAt = r.SpareOffset;
    std::uint64_t remaining = r.MainLength;
    while (remaining > 0) {
      const std::uint64_t n = std::min<std::uint64_t>(model.BlockSize, remaining);
      port.GaugeSetPos(port.GaugePos() + 1);
      port.ProcessMessages();
      // Inside the main area every offset fits in 32 bits; a table that points past
      // it would otherwise wrap onto unrelated data.
      if (mainAt + n > mainEnd) return fail(BeyondImageError(model, k));
      if (!image.IsOpen() && !image.OpenRead(model.CurrentImageFile, error)) return fail(error);
      RangeVerdict verdict = CheckMainImageRangeToBeBlank(
          image, static_cast<std::uint32_t>(mainAt),
          static_cast<std::uint32_t>(n), buffer, error);
      if (verdict == RangeVerdict::Blank)
        verdict = CheckReduImageRangeToBeBlank(
            image, static_cast<std::uint32_t>(spareAt),
            static_cast<std::uint32_t>(n / kSpareDivisor), buffer, error);
      if (verdict == RangeVerdict::Failed) return fail(error);
      if (verdict == RangeVerdict::NotBlank) break;
      mainAt += n;
      spareAt += n / kSpareDivisor;
      remaining -= n;
    }
    model.PartitionRows[k].IsBlank = remaining == 0;
    examined += model.EffectiveSize(k);
    port.GaugeSetPos(examined);
    port.ProcessMessages();
  }

  std::string ignored;
  image.Close(ignored);  // read-only: nothing can be lost at close

  port.LogReplaceLast(base + "COMPLETE!");
  bool anyBlank = false;
  for (std::size_t k = 0; k < count; ++k) {
    const auto& row = model.PartitionRows[k];
    if (!row.IsBlank) continue;
    if (!anyBlank) port.LogAdd(kReportHead);
    anyBlank = true;
    port.LogAdd("  Partition: " + row.PartitionName + " at " + row.AddressRange);
  }
  if (!anyBlank) port.LogAdd(kNoBlank);
  port.GaugeSetPos(0);
  return true;
}

}  // namespace orvella
