#include <algorithm>

#include "device/DeviceCommands.h"
#include "device/TempImage.h"
#include "files/FileIO.h"

namespace orvella {

namespace {

constexpr std::uint32_t kProbeBlocks = 3;
constexpr std::int64_t kTableGaugeMax = 0x7FFFFFFF;

}  // namespace

void DeviceCommands::ReadPartitiontCommand() {
  // The new temporary image replaces a working copy that may hold unsaved reads.
  if (!MayLoseDeviceData(kUnsavedBeforeTableQuestion)) return;
  if (!SessionPrologue()) return;
  const WindowGeometry g = window_.Geometry();
  window_.GaugeSetPos(0);
  window_.GaugeSetMax(kTableGaugeMax);

  const FlashGeometry flash{flashInfo_.ChipSizeMiB, flashInfo_.EraseBlockSize,
                            flashInfo_.PageSize};
  if (const std::string limit = CheckFlashGeometry(flash); !limit.empty()) {
    window_.LogAdd(limit);
    return;
  }
  const std::uint32_t P = flash.PageSize;
  const std::uint32_t E = flash.EraseBlockSize;

  TGalaxyPartitions& table = window_.Model().GalaxyPartitions;
  std::uint32_t found = 0;
  for (std::uint32_t i = 1; i <= kProbeBlocks && found == 0; ++i) {
    transfer_.assign(P + P / 20, 0);
    if (!HostReadRange(i * E, P, nullptr, transfer_.data(), 0, 0, g)) {
      HostEndSession();
      return;
    }
    table.MagicWord = ReadLE32(transfer_.data());
    table.EntriesCount = ReadLE32(transfer_.data() + 4);
    std::copy_n(transfer_.begin() + 8, table.SomeReserved.size(), table.SomeReserved.begin());
    if (table.MagicWord == kPitMagic) found = i;
  }
  if (found == 0) {
    window_.LogAdd("ERROR: Couldn't find partition table location in the device memory.");
    return;
  }

  const std::uint64_t L = TableLengthInPages(table.EntriesCount, P);
  if (const std::string limit = CheckTablePlacement(flash, found, L); !limit.empty()) {
    window_.LogAdd(limit);
    return;
  }
  transfer_.assign(static_cast<std::size_t>(L + L / kSpareDivisor), 0);
  const bool read = HostReadRange(found * E, static_cast<std::uint32_t>(L), nullptr,
                                  transfer_.data(), 0, 0, g);
  HostEndSession();
  if (!read) return;

  const std::string path = window_.TempImagePath();
  const std::string& current = window_.Model().CurrentImageFile;
  const bool replacesCurrent = current == path || SameFile(current, path);
  File out;
  std::string error;
  if (!out.Create(path, error)) {
    window_.ErrorBox(error);
    return;
  }
  // The earlier working copy, and any device data in it, is gone from here on.
  unsavedDeviceData_ = false;
  const ImageSink sink = [&out](const std::uint8_t* data, std::size_t n, std::string& err) {
    return out.WriteAll(data, n, err);
  };
  const FillProgress progress = [this](std::uint64_t p, std::uint64_t total) {
    window_.SetStatusText(0, "Please wait, creating empty temporary file  (" +
                                 std::to_string(p * 100 / total) + "%)...");
    window_.ProcessMessages();
  };
  if (!BuildTemporaryImage(flash, found, transfer_, sink, progress, error) || !out.Close(error)) {
    // A half-written image must never be loaded or taken for the working copy.
    out = File();
    DeleteFileAt(path);
    window_.ErrorBox(error);
    // The current image was this file and is gone: the window's failed-load path takes
    // the rows and the name away, so nothing goes on naming it.
    if (replacesCurrent) {
      window_.Model().CurrentImageFile = path;
      window_.CreateListClick(ReadPartitionBtn);
    }
    return;
  }
  window_.Model().CurrentImageFile = path;
  window_.LogAdd("");
  window_.CreateListClick(ReadPartitionBtn);
}

}  // namespace orvella
