#include <cstdio>
#include <new>
#include <optional>

#include "device/DeviceCommands.h"
#include "device/RowSelection.h"
#include "files/FileIO.h"

namespace orvella {

namespace {

// One past the last byte a 32-bit device address reaches.
constexpr std::uint64_t kDeviceAddressEnd = std::uint64_t{1} << 32;

std::string Hex8(std::uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(v));
  return buf;
}

}  // namespace

IdleLook DesignIdleLook(DeviceButton button) {
  switch (button) {
    case FlashSelectedBtn: return {"Flash Selected", 12};
    case ReadSelectedBtn: return {"Read Selected", 3};
    case EraseSelectedBtn: return {"Erase Selected", 9};
    case ReadPartitionBtn: return {"&Get Partitions from Device", 42};
  }
  return {};
}

DeviceCommands::DeviceCommands(DeviceWindow& window, const DeviceServiceTable& host)
    : window_(window), host_(host) {}

void DeviceCommands::FlashSelectedBtnClick() {
  AtLastCommonButtonFunctions(FlashSelectedBtn, window_.Idle(FlashSelectedBtn).Caption,
                              window_.Idle(FlashSelectedBtn).ImageIndex, 0);
}

void DeviceCommands::ReadSelectedBtnClick() {
  AtLastCommonButtonFunctions(ReadSelectedBtn, window_.Idle(ReadSelectedBtn).Caption,
                              window_.Idle(ReadSelectedBtn).ImageIndex, 1);
}

void DeviceCommands::EraseSelectedBtnClick() {
  AtLastCommonButtonFunctions(EraseSelectedBtn, window_.Idle(EraseSelectedBtn).Caption,
                              window_.Idle(EraseSelectedBtn).ImageIndex, 2);
}

void DeviceCommands::ReadPartitionBtnClick() {
  AtLastCommonButtonFunctions(ReadPartitionBtn, window_.Idle(ReadPartitionBtn).Caption,
                              window_.Idle(ReadPartitionBtn).ImageIndex, 3);
}

void DeviceCommands::SetStopFlag(std::uint8_t value) {
  if (host_.stopFlag) *host_.stopFlag = value;
}

bool DeviceCommands::StopRequested() const { return host_.stopFlag && *host_.stopFlag != 0; }

void DeviceCommands::AtLastCommonButtonFunctions(DeviceButton TheBtn, std::string& BName,
                                                 std::int32_t ImageIndex, std::int32_t FIndex) {
  if (window_.ButtonCaption(TheBtn) != BName) {
    SetStopFlag(1);
    return;
  }
  // A start press on another device button arrives nested while a command waits for the
  // host; starting a second session inside the first would end the first's session and
  // clear a pending stop, so it is ignored.
  if (running_) return;

  SetStopFlag(0);
  window_.SetButtonImageIndex(TheBtn, kRunningImageIndex);
  window_.SetButtonCaption(TheBtn, kStopCaption);

  running_ = true;
  CallThisButtonFunctionBody(FIndex);
  running_ = false;

  if (StopRequested()) window_.SetStatusText(0, "Stopped by User.");
  window_.GaugeSetPos(0);
  window_.SetButtonImageIndex(TheBtn, ImageIndex);
  window_.SetButtonCaption(TheBtn, BName);
  HostEndSession();
  window_.UpdateEnabledButtons();
  SetStopFlag(0);
}

void DeviceCommands::CallThisButtonFunctionBody(std::int32_t FIndex) {
  try {
    switch (FIndex) {
      case 0: FlasPartitionsCommand(); break;
      case 1: ReadPartitionsCommand(); break;
      case 2: ErasPartitionsCommand(); break;
      case 3: ReadPartitiontCommand(); break;
      default: break;
    }
  } catch (const std::bad_alloc&) {
    window_.ErrorBox("Out of memory while running the device command.");
  }
  window_.SetStatusText(0, "");
}

bool DeviceCommands::SessionPrologue() {
  window_.LogClear();
  if (!HostConnect()) {
    HostEndSession();
    return false;
  }
  HostIdentifyFlash();
  if (flashInfo_.PageSize == 0) {
    window_.LogAdd("");
    window_.LogAdd("ERROR: Default FLASH1 Chip was not Recognized by the DCC Loader. Terminating.");
    return false;
  }
  return true;
}

bool DeviceCommands::RefusedUnaddressableRow() {
  const ImageModel& m = window_.Model();
  const auto beyond = [&m](std::size_t k) {
    const std::uint64_t endBlock =
        std::uint64_t{m.GalaxyPartitions.Entries[k].EntryBase} + m.EffectiveSize(k);
    return endBlock * m.BlockSize > kDeviceAddressEnd;
  };
  std::optional<std::size_t> far;
  if (m.AnyMarked()) {
    for (std::size_t k = 0; k < UsableRows(m) && !far; ++k)
      if (m.IsMarked(k) && beyond(k)) far = k;
  } else if (const auto row = CursorRow(window_); row && beyond(*row)) {
    far = row;
  }
  if (!far) return false;
  window_.LogAdd("ERROR: Partition \"" + m.PartitionRows[*far].PartitionName + "\" (block " +
                 Hex8(m.GalaxyPartitions.Entries[*far].EntryBase) + ", " +
                 Hex8(m.EffectiveSize(*far)) +
                 " blocks) lies beyond the 4 GiB a device address can reach. Terminating.");
  EndCommand();
  return true;
}

void DeviceCommands::EndCommand(bool clearStatus) {
  window_.OnSelectionChange(window_.ItemIndex(), mbLeft, 0, 0);
  if (clearStatus) window_.SetStatusText(0, "");
  HostEndSession();
  window_.GaugeSetPos(0);
}

bool DeviceCommands::HostConnect() {
  return host_.connect && HostSucceeded(host_.connect(host_.descriptor));
}

bool DeviceCommands::HostIdentifyFlash() {
  // A stale block from an earlier session must not pass for this chip's answer.
  flashInfo_ = TFlashInfo{};
  return host_.identify && HostSucceeded(host_.identify(1, &flashInfo_));
}

bool DeviceCommands::HostReadRange(std::uint32_t address, std::uint32_t length, const char* tag,
                                   std::uint8_t* buffer, std::int32_t marker,
                                   std::uint32_t toFile, const WindowGeometry& g) {
  if (!host_.readRange) return false;
  return HostSucceeded(host_.readRange(1, address, length, 0, 0, tag, buffer, marker,
                                       window_.GaugeControl(), toFile, host_.statusText, g.Left,
                                       g.Width, g.Height, g.Top));
}

bool DeviceCommands::HostEraseRange(std::uint32_t address, std::uint32_t length,
                                    const WindowGeometry& g) {
  if (!host_.eraseRange) return false;
  return HostSucceeded(host_.eraseRange(1, address, length, 0, 0, 1, host_.statusText, g.Left,
                                        g.Width, g.Height, g.Top));
}

void DeviceCommands::HostEndSession() {
  if (host_.endSession) host_.endSession();
}

bool DeviceCommands::CanCloseWindow() {
  if (!MayLoseDeviceData(kUnsavedDeviceDataQuestion)) return false;
  // The close deletes the working copy right after this answer.
  unsavedDeviceData_ = false;
  return true;
}

void DeviceCommands::NoteImageReloaded() {
  // A load of the working copy itself keeps its device data current.
  const std::string& image = window_.Model().CurrentImageFile;
  const std::string temp = window_.TempImagePath();
  if (image != temp && !SameFile(image, temp)) unsavedDeviceData_ = false;
}

bool DeviceCommands::MayLoseDeviceData(const char* question) {
  if (!unsavedDeviceData_) return true;
  switch (window_.AskBeforeClose(question)) {
    case CloseAnswer::Discard:
      // Only lets the action go on: the mark goes when the working copy is replaced, so
      // an action that fails before that leaves the copy and its mark as they were.
      return true;
    case CloseAnswer::SaveImage:
      if (!window_.SaveWholeImage()) return false;
      unsavedDeviceData_ = false;
      return true;
    case CloseAnswer::KeepOpen:
      break;
  }
  return false;
}

}  // namespace orvella
