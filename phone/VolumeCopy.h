#pragma once
// A partition saved as the phone reads it: the layer `orvella volume` and the window's
// "Save Partition as the Phone Reads It..." choose for it (its STL volume for an STL
// partition, else the bad-block layer's view), checked before anything is written and
// then copied whole into an open file.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "files/FileIO.h"
#include "image/ChunkBuffer.h"
#include "phone/BmlView.h"
#include "phone/ImagePages.h"
#include "phone/PartitionBytes.h"
#include "phone/PhoneDump.h"
#include "phone/StlReader.h"

namespace orvella::phone {

// The layer entry k is saved through by default: judges what the entry holds (into
// `dump`) and takes its STL volume when the attributes or a root page say it is one.
VolumeLayer DefaultLayer(PageSource& chip, PhoneDump& dump, std::size_t k);

class VolumeCopy {
 public:
  VolumeCopy() = default;
  VolumeCopy(const VolumeCopy&) = delete;
  VolumeCopy& operator=(const VolumeCopy&) = delete;

  // Readies entry k of `dump` (read from `chip`, which must outlive this) through
  // `layer`. False with `error` when the entry is not in the dump, or its STL volume is
  // refused (`error` is then the rebuild's reason; Stl() has its findings).
  bool Open(ImagePageSource& chip, const PhoneDump& dump, std::size_t k, VolumeLayer layer, std::string& error);

  VolumeLayer Layer() const { return layer_; }
  // The bytes Write delivers.
  std::uint64_t Bytes() const;
  // Blocks of the bml view read from their replacements.
  std::uint32_t Remapped() const { return remapped_; }
  // What the rebuild found (STL layer).
  const StlReport& Stl() const;
  // "bml5", "stl5", or the layer's word for an entry the phone does not number.
  std::string Device() const;

  // Writes every byte at `out`'s position. `progress(done, total)` after each chunk;
  // `stop` polled between chunks (true ends the copy with "Stopped by User."). False
  // with `error` on a failure.
  bool Write(File& out, std::string& error, const std::function<void(std::uint64_t, std::uint64_t)>& progress = {},
             const std::function<bool()>& stop = {});

 private:
  ImagePageSource* chip_ = nullptr;
  PitEntry entry_;
  VolumeLayer layer_ = VolumeLayer::Bml;
  std::unique_ptr<BmlView> view_;
  std::unique_ptr<StlVolume> stl_;  // reads view_
  std::uint32_t remapped_ = 0;
  ChunkBuffer buffer_;
};

}  // namespace orvella::phone
