#pragma once
// The run/stop frame of the four device buttons and the commands they start: read,
// flash and erase the marked partitions, and get the partition table from the device.
// Everything runs on the caller's thread; the host keeps window messages flowing while
// its services run, so a second press on a running command's button arrives nested and
// only raises the stop flag.

#include <cstdint>
#include <string>
#include <vector>

#include "device/DeviceWindow.h"
#include "device/HostServiceTable.h"

namespace orvella {

// The question asked before the window closes over unsaved device data.
inline constexpr const char* kUnsavedDeviceDataQuestion =
    "The working copy holds data read from the device that have not been saved.\n"
    "Save the image before closing? Unsaved device data are lost when the window closes.";
inline constexpr const char* kUnsavedBeforeLoadQuestion =
    "The working copy holds data read from the device that have not been saved.\n"
    "Save the image before loading another one? Unsaved device data are lost otherwise.";
inline constexpr const char* kUnsavedBeforeTableQuestion =
    "The working copy holds data read from the device that have not been saved.\n"
    "Save the image before getting the partitions from the device? The new table replaces "
    "the working copy.";

class DeviceCommands {
 public:
  // Both are kept by reference: the host table is read at every call, so the plug-in may
  // fill it after the commands exist.
  DeviceCommands(DeviceWindow& window, const DeviceServiceTable& host);
  DeviceCommands(const DeviceCommands&) = delete;
  DeviceCommands& operator=(const DeviceCommands&) = delete;

  // Click handlers of the four device buttons.
  void FlashSelectedBtnClick();
  void ReadSelectedBtnClick();
  void EraseSelectedBtnClick();
  void ReadPartitionBtnClick();

  // One press on a device button: starts the command of FIndex when the button shows
  // its idle caption BName, otherwise only raises the stop flag. A start press while
  // another device command runs is ignored.
  void AtLastCommonButtonFunctions(DeviceButton TheBtn, std::string& BName,
                                   std::int32_t ImageIndex, std::int32_t FIndex);
  // Runs the command of FIndex (0 flash, 1 read, 2 erase, 3 get table), then empties
  // status panel 0.
  void CallThisButtonFunctionBody(std::int32_t FIndex);

  void FlasPartitionsCommand();
  void ReadPartitionsCommand();
  void ErasPartitionsCommand();
  void ReadPartitiontCommand();

  // One HostWriteRange with a request block built from the arguments and the window's
  // state at this moment; true when the host reports success.
  bool WriteCurrentMemoryChunk(std::uint32_t Addr, std::uint32_t Leng, const void* mData,
                               const void* pData, bool AlreadyConnected);

  // Copies the host's data files for the main range (mAddr, mLeng) into the working
  // copy, making the copy first when the current image is not yet the copy. Deletes the
  // host's files. False after an input/output failure, which it reported in an error box.
  bool InjectReadDataIntoTheImageFileRAM(std::uint32_t mAddr, std::uint32_t mLeng,
                                         const std::string& partitionName = {});

  // True while a command started by this frame runs.
  bool CommandRunning() const { return running_; }
  // The flash-info block of the last session prologue.
  const TFlashInfo& FlashInfo() const { return flashInfo_; }

  // Unsaved device data: set after data were injected into the working copy, cleared
  // when the image is saved, another file is loaded, the get-table command replaces the
  // copy or the window closes over it.
  bool HoldsUnsavedDeviceData() const { return unsavedDeviceData_; }
  void NoteImageSaved() { unsavedDeviceData_ = false; }
  // Called once CurrentImageFile names the file being loaded: clears the mark unless
  // that file is the working copy itself.
  void NoteImageReloaded();
  // Called by the window's close handler before it deletes the working copy: true when
  // the window may close. Asks first when the copy holds unsaved device data.
  bool CanCloseWindow();
  // Asks `question` when the working copy holds unsaved device data, before an action
  // that would lose them: true when the action may go on (saved or discarded). A
  // discard keeps the mark; the action clears it when it replaces the copy.
  bool MayLoseDeviceData(const char* question);

 private:
  bool SessionPrologue();
  void SetStopFlag(std::uint8_t value);
  bool StopRequested() const;
  bool MakeWorkingCopy();
  bool InjectHalf(const char* fileName, std::uint64_t imageOffset, std::uint64_t limit,
                  std::uint32_t length, const std::string& partitionName, const char* half,
                  bool& injected);
  // Ends the command with an "ERROR: " line when a row it would act on ends past 4 GiB,
  // where the host services' 32-bit addresses would wrap onto other blocks. True then.
  bool RefusedUnaddressableRow();
  // The end steps of the read, flash and erase commands; normal ends of flash and erase
  // also empty status panel 0.
  void EndCommand(bool clearStatus = false);

  bool HostConnect();
  bool HostIdentifyFlash();
  bool HostReadRange(std::uint32_t address, std::uint32_t length, const char* tag,
                     std::uint8_t* buffer, std::int32_t marker, std::uint32_t toFile,
                     const WindowGeometry& g);
  bool HostEraseRange(std::uint32_t address, std::uint32_t length, const WindowGeometry& g);
  void HostEndSession();

  DeviceWindow& window_;
  const DeviceServiceTable& host_;
  TFlashInfo flashInfo_{};
  // Shared by the working copy, the injection and the get-table command's reads.
  std::vector<std::uint8_t> transfer_;
  bool running_ = false;
  bool unsavedDeviceData_ = false;
};

}  // namespace orvella
