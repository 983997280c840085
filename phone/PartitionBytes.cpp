#include "phone/PartitionBytes.h"

#include <algorithm>
#include <cstring>

namespace orvella::phone {

namespace {

std::string Num(std::uint64_t v) { return std::to_string(v); }

}  // namespace

const char* VolumeLayerWord(VolumeLayer layer) { return layer == VolumeLayer::Stl ? "stl" : "bml"; }

bool PartitionBytes::Open(PageSource& chip, const PhoneDump& dump, std::size_t k, std::string& error) {
  if (k >= dump.Table.Entries.size()) {
    error = "the table has " + Num(dump.Table.Entries.size()) + " entries; there is no row " + Num(k + 1);
    return false;
  }
  const PitEntry& entry = dump.Table.Entries[k];
  if (!entry.InDump) {
    error = "row " + Num(k + 1) + " (\"" + entry.Name + "\") is not in this dump: " + entry.NotInDump;
    return false;
  }
  view_ = std::make_unique<BmlView>(chip, EntryBlocks(dump, k));
  stl_.reset();
  refusal_.clear();
  cache_ = std::make_unique<std::array<CachedPage, kCachePages>>();
  // The rebuild says itself whether a root page carries the signature, so a partition
  // whose attributes do not say STL is still read as the volume it holds.
  auto stl = std::make_unique<StlVolume>(*view_);
  const bool rebuilt = stl->Open();
  stlReport_ = stl->Report();
  stlPartition_ = entry.Stl() || stlReport_.Stl;
  if (rebuilt) {
    stl_ = std::move(stl);
    layer_ = VolumeLayer::Stl;
    size_ = stl_->Bytes();
    return true;
  }
  if (stlPartition_)
    refusal_ = stlReport_.Refusal;
  else
    stlReport_ = StlReport{};
  layer_ = VolumeLayer::Bml;
  size_ = std::uint64_t{view_->Blocks()} * kBlockMainBytes;
  return true;
}

std::string PartitionBytes::LayerText() const {
  if (layer_ == VolumeLayer::Stl)
    return "the STL volume as the phone's stl device reads it (rebuilt, " + Num(stlReport_.VolumeSectors) +
           " sectors, directory header " + stlReport_.HeaderLayout + ")";
  std::string text = "the partition as the phone's bml device reads it";
  if (!refusal_.empty()) text += ": its STL volume was refused: " + refusal_;
  return text;
}

bool PartitionBytes::ReadOnePage(std::uint32_t page, std::uint8_t* out, std::string& error) {
  std::uint32_t block = page / kPagesPerBlock, inBlock = page % kPagesPerBlock;
  if (stl_) {
    const std::uint32_t where = stl_->Locate(page);
    if (where == StlVolume::kUnwritten) {
      std::memset(out, 0xFF, kPageMainBytes);
      return true;
    }
    block = where >> 6;
    inBlock = where & 63;
  }
  if (view_->ReadPage(block, inBlock, out, nullptr, error)) return true;
  if (stl_) error = "logical page " + Num(page) + " of the STL volume: " + error;
  return false;
}

bool PartitionBytes::ReadPages(std::uint32_t page, std::uint32_t count, std::uint8_t* out, std::string& error) {
  while (count > 0) {
    // The bad-block view keeps whole blocks side by side: they are read at once.
    if (!stl_ && page % kPagesPerBlock == 0 && count >= kPagesPerBlock) {
      const std::uint32_t blocks = count / kPagesPerBlock;
      if (!view_->ReadMainBlocks(page / kPagesPerBlock, blocks, out, error)) return false;
      page += blocks * kPagesPerBlock;
      count -= blocks * kPagesPerBlock;
      out += std::size_t{blocks} * kBlockMainBytes;
      continue;
    }
    if (!ReadOnePage(page, out, error)) return false;
    ++page;
    --count;
    out += kPageMainBytes;
  }
  return true;
}

bool PartitionBytes::Read(std::uint64_t offset, void* buffer, std::size_t n, std::string& error) {
  if (!view_) {
    error = "no partition is open";
    return false;
  }
  if (offset > size_ || n > size_ - offset) {
    error = "bytes " + Num(offset) + " to " + Num(offset + n) + " lie past the volume's " + Num(size_) + " bytes";
    return false;
  }
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (n > 0) {
    const auto page = static_cast<std::uint32_t>(offset / kPageMainBytes);
    const auto in = static_cast<std::size_t>(offset % kPageMainBytes);
    if (in == 0 && n >= kPageMainBytes) {
      // Whole pages go straight into the caller's buffer; the cache is for the small
      // reads of tables and folders.
      const auto pages = static_cast<std::uint32_t>(n / kPageMainBytes);
      if (!ReadPages(page, pages, out, error)) return false;
      const std::size_t done = std::size_t{pages} * kPageMainBytes;
      out += done;
      offset += done;
      n -= done;
      continue;
    }
    CachedPage& slot = (*cache_)[page % kCachePages];
    if (slot.Page != page) {
      slot.Page = kNoPage;
      if (!ReadOnePage(page, slot.Bytes.data(), error)) return false;
      slot.Page = page;
    }
    const std::size_t take = std::min(n, kPageMainBytes - in);
    std::memcpy(out, slot.Bytes.data() + in, take);
    out += take;
    offset += take;
    n -= take;
  }
  return true;
}

bool VolumeFile::Open(const std::string& path, std::string& error) {
  size_ = 0;
  return file_.OpenRead(path, error) && file_.Size(size_, error);
}

bool VolumeFile::Read(std::uint64_t offset, void* buffer, std::size_t n, std::string& error) {
  if (offset > size_ || n > size_ - offset) {
    error = "bytes " + Num(offset) + " to " + Num(offset + n) + " lie past the end of \"" + file_.Path() + "\" (" +
            Num(size_) + " bytes)";
    return false;
  }
  return file_.Seek(offset, error) && file_.ReadExact(buffer, n, error);
}

}  // namespace orvella::phone
