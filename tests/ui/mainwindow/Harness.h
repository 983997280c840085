#pragma once
// What library start-up does for the windows, until the plug-in frame does it: create
// the main window, then the hex window, then let the main window read its settings.
// Shut-down destroys them in reverse order and writes nothing. Also the sample images
// the window tests and the screenshots load.

#include <memory>
#include <string>
#include <vector>

#include "image/ImageBuilder.h"
#include "ui/HexWindowUnit.h"
#include "ui/MainUnit.h"

namespace orvella::testing {

struct PluginStartUp {
  explicit PluginStartUp(const DeviceServiceTable* host = nullptr);
  ~PluginStartUp();
  PluginStartUp(const PluginStartUp&) = delete;
  PluginStartUp& operator=(const PluginStartUp&) = delete;

  std::unique_ptr<TReraradForm> Main;
  std::unique_ptr<THexForm> Hex;
};

// BOOT:2, PIT:1, CSC:6, EFS:8, SBL:4, DATA:rest on a 16 MiB chip (64 blocks).
std::vector<PartitionSpec> SampleTable();
inline constexpr std::uint32_t kSampleChipMiB = 16;

// Writes the sample image: erased everywhere except the table, CSC's main data (pattern)
// and one spare byte of SBL, so BOOT, CSC and SBL are not blank and PIT, EFS and DATA are.
bool WriteSampleImage(const std::string& path, std::string& error);

}  // namespace orvella::testing
