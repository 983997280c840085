#include "phone/Volumes.h"

#include <algorithm>
#include <vector>

#include "phone/BmlView.h"
#include "phone/StlReader.h"

namespace orvella::phone {

bool IsStlEntry(const PitEntry& e) { return e.Stl() || e.Content.Kind == Holds::Stl; }

VolumeState CheckVolume(PageSource& chip, const PhoneDump& dump, std::size_t k) {
  VolumeState state;
  if (k >= dump.Table.Entries.size()) return state;
  const PitEntry& e = dump.Table.Entries[k];
  state.Stl = IsStlEntry(e);
  if (!state.Stl) return state;
  if (!e.InDump) {
    state.Refusal = "not in this dump: " + e.NotInDump;
    return state;
  }
  BmlView view(chip, EntryBlocks(dump, k));
  StlVolume volume(view);
  const bool opened = volume.Open();
  const StlReport& report = volume.Report();
  state.Findings = report.Findings.size();
  if (!opened) {
    state.Refusal = report.Refusal;
    return state;
  }
  state.Rebuilt = true;
  state.Sectors = report.VolumeSectors;
  state.LogPagesUsed = report.LogPagesUsed;
  state.HeaderLayout = report.HeaderLayout;

  // Every logical page unwritten: nothing ever went into the volume.
  const std::uint64_t pages = std::uint64_t{report.VolumeSectors} / kSectorsPerPage;
  bool written = false;
  for (std::uint64_t lpn = 0; lpn < pages && !written; ++lpn)
    written = volume.Locate(static_cast<std::uint32_t>(lpn)) != StlVolume::kUnwritten;
  if (!written) {
    state.Inside = PartitionContent{Holds::Erased, {}, "no logical page was ever written"};
    return state;
  }
  state.Inside = PartitionContent{Holds::Unknown, {}, {}};
  const std::uint32_t first = volume.Locate(0);
  if (first == StlVolume::kUnwritten) return state;
  std::vector<std::uint8_t> page(kPageMainBytes);
  std::string error;
  if (!view.ReadPage(first >> 6, first & 63, page.data(), nullptr, error)) {
    state.Inside = PartitionContent{Holds::Unreadable, {}, error};
    return state;
  }
  PartitionContent fat;
  if (FatBootSector(page.data(), state.Bytes(), fat)) state.Inside = fat;
  return state;
}

}  // namespace orvella::phone
