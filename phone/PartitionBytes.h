#pragma once
// The bytes of a volume as the file-system reader takes them, at any offset: a dump's
// partition as the phone reads it, or a volume file. A partition that is an STL volume
// (by its table attributes or by the root page at its start) is read through its rebuilt
// logical volume; one whose rebuild is refused is read through the bad-block layer's view
// instead, and says why, so that nothing is ever read from a volume in doubt unnoticed.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fat/ByteSource.h"
#include "files/FileIO.h"
#include "phone/BmlView.h"
#include "phone/PhoneDump.h"
#include "phone/StlReader.h"

namespace orvella::phone {

// The layer a partition's bytes come from: the STL volume as the phone's stlN reads it,
// or the partition as its bmlN reads it.
enum class VolumeLayer : std::uint8_t { Stl, Bml };
// "stl" or "bml".
const char* VolumeLayerWord(VolumeLayer layer);

class PartitionBytes : public fat::ByteSource {
 public:
  PartitionBytes() = default;
  PartitionBytes(const PartitionBytes&) = delete;
  PartitionBytes& operator=(const PartitionBytes&) = delete;

  // Takes entry k (0-based) of `dump`, read by ReadPhoneDump from `chip`, which must
  // outlive this. False with `error` when the entry is not in the dump.
  bool Open(PageSource& chip, const PhoneDump& dump, std::size_t k, std::string& error);

  VolumeLayer Layer() const { return layer_; }
  // The table's attributes, or a root page in its first blocks, make it an STL volume.
  bool StlPartition() const { return stlPartition_; }
  // Why an STL partition's volume was not rebuilt; empty when it was, or it is none.
  const std::string& StlRefusal() const { return refusal_; }
  // What the rebuild found (empty for a partition that is no STL volume).
  const StlReport& Stl() const { return stlReport_; }
  // One line for people, e.g. "the STL volume (rebuilt, directory header old)" or
  // "the bad-block layer's view: the STL volume was refused: ...".
  std::string LayerText() const;

  std::uint64_t Size() const override { return size_; }
  bool Read(std::uint64_t offset, void* buffer, std::size_t n, std::string& error) override;

 private:
  static constexpr std::uint32_t kNoPage = 0xFFFFFFFF;
  static constexpr std::size_t kCachePages = 32;
  struct CachedPage {
    std::uint32_t Page = kNoPage;  // logical page held
    std::array<std::uint8_t, kPageMainBytes> Bytes{};
  };

  bool ReadPages(std::uint32_t page, std::uint32_t count, std::uint8_t* out, std::string& error);
  bool ReadOnePage(std::uint32_t page, std::uint8_t* out, std::string& error);

  std::unique_ptr<BmlView> view_;
  std::unique_ptr<StlVolume> stl_;  // reads view_; set only when rebuilt
  StlReport stlReport_;
  VolumeLayer layer_ = VolumeLayer::Bml;
  bool stlPartition_ = false;
  std::string refusal_;
  std::uint64_t size_ = 0;
  std::unique_ptr<std::array<CachedPage, kCachePages>> cache_;
};

// A volume file (a file system image such as an efs.rfs, or a copy of a phone's volume
// device), read-only, 64-bit offsets and any path the platform's files take.
class VolumeFile : public fat::ByteSource {
 public:
  // False with `error` when the file cannot be opened or sized, or is a folder.
  bool Open(const std::string& path, std::string& error);
  std::uint64_t Size() const override { return size_; }
  bool Read(std::uint64_t offset, void* buffer, std::size_t n, std::string& error) override;
  const std::string& Path() const { return file_.Path(); }

 private:
  File file_;
  std::uint64_t size_ = 0;
};

}  // namespace orvella::phone
