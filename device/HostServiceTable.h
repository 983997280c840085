#pragma once
// The host functions the device commands call, already typed, plus the few things the
// plug-in owns and hands to the host with them. The plug-in fills it from the services
// the host handed over and the stop flag DoPluginMain received; tests fill it with fakes.
// An empty entry counts as a failed call: the commands never call through a null pointer.

#include <cstdint>

#include "contract/HostServices.h"

namespace orvella {

struct DeviceServiceTable {
  HostConnectFn connect = nullptr;          // id 0
  HostIdentifyFlashFn identify = nullptr;   // id 16
  HostReadRangeFn readRange = nullptr;      // id 24
  HostWriteRangeFn writeRange = nullptr;    // id 25
  HostEraseRangeFn eraseRange = nullptr;    // id 26
  HostEndSessionFn endSession = nullptr;    // id 20

  // The plug-in's descriptor: handed to HostConnect and copied into every write block.
  const TPluginDescriptor* descriptor = nullptr;
  // The plug-in's status-bar setter, passed to every transfer service.
  StatusTextCallback statusText = nullptr;
  // The host's stop byte (0 run, non-zero stop), stored by DoPluginMain; may be null.
  std::uint8_t* stopFlag = nullptr;
};

}  // namespace orvella
