#include "phone/VolumeCopy.h"

#include "phone/Content.h"
#include "phone/Volumes.h"

namespace orvella::phone {

namespace {

constexpr std::size_t kCopyBuffer = std::size_t{1} << 20;
constexpr char kStopped[] = "Stopped by User.";

}  // namespace

VolumeLayer DefaultLayer(PageSource& chip, PhoneDump& dump, std::size_t k) {
  PitEntry& e = dump.Table.Entries.at(k);
  // Only this partition's content decides; judging every one would read the whole of
  // erased partitions.
  BmlView view(chip, EntryBlocks(dump, k));
  e.Content = JudgeContent(view);
  return IsStlEntry(e) ? VolumeLayer::Stl : VolumeLayer::Bml;
}

bool VolumeCopy::Open(ImagePageSource& chip, const PhoneDump& dump, std::size_t k, VolumeLayer layer,
                      std::string& error) {
  if (k >= dump.Table.Entries.size()) {
    error = "the table has no row " + std::to_string(k + 1);
    return false;
  }
  chip_ = &chip;
  entry_ = dump.Table.Entries[k];
  layer_ = layer;
  if (!entry_.InDump) {
    error = "partition " + std::to_string(entry_.Position) + " \"" + entry_.Name + "\" is not in this dump: " +
            entry_.NotInDump;
    return false;
  }
  view_ = std::make_unique<BmlView>(chip, EntryBlocks(dump, k));
  remapped_ = 0;
  for (std::uint32_t u = 0; u < view_->Blocks(); ++u) remapped_ += view_->Physical()[u] != entry_.FirstBlock + u;
  if (layer != VolumeLayer::Stl) return true;
  stl_ = std::make_unique<StlVolume>(*view_);
  if (stl_->Open()) return true;
  error = stl_->Report().Refusal;
  return false;
}

std::uint64_t VolumeCopy::Bytes() const {
  if (layer_ == VolumeLayer::Stl) return stl_ ? stl_->Bytes() : 0;
  return view_ ? std::uint64_t{view_->Blocks()} * kBlockMainBytes : 0;
}

const StlReport& VolumeCopy::Stl() const {
  static const StlReport kNone;
  return stl_ ? stl_->Report() : kNone;
}

std::string VolumeCopy::Device() const {
  const char* word = VolumeLayerWord(layer_);
  return entry_.BmlNumber == 0 ? std::string(word) : word + std::to_string(entry_.BmlNumber);
}

bool VolumeCopy::Write(File& out, std::string& error, const std::function<void(std::uint64_t, std::uint64_t)>& progress,
                       const std::function<bool()>& stop) {
  if (!view_ || (layer_ == VolumeLayer::Stl && !stl_)) {
    error = "no partition is open";
    return false;
  }
  if (layer_ == VolumeLayer::Bml) {
    if (buffer_.size() < kCopyBuffer && !buffer_.Resize(kCopyBuffer)) {
      error = "no memory for the copy buffer";
      return false;
    }
    return CopyViewMain(*chip_, *view_, out, buffer_, error, progress, stop);
  }
  const std::uint64_t total = stl_->Bytes();
  std::uint64_t done = 0;
  return stl_->Emit(
      [&](const std::uint8_t* data, std::size_t n, std::string& failure) {
        if (stop && stop()) {
          failure = kStopped;
          return false;
        }
        if (!out.WriteAll(data, n, failure)) return false;
        done += n;
        if (progress) progress(done, total);
        return true;
      },
      error);
}

}  // namespace orvella::phone
