#pragma once
// Module state at the host boundary: the service table and position, the descriptor,
// the version text and the library's data resources, and the work of the two exports.

#include <cstdint>

#include "contract/HostServices.h"

namespace orvella {

class PluginWindows;

// One data resource of the library, looked up by name and type; absent when Data is null.
struct ResourceBlock {
  const std::uint8_t* Data = nullptr;
  std::uint32_t Size = 0;
};
ResourceBlock FindPluginResource(const char* name, const char* type);

// The live service table built from the cells; refreshed at every accepted hand-over.
const HostServiceTable& PluginServices();
TPluginDescriptor& PluginDescriptor();

// The work of Initialize; never fails towards the host.
void HandleInitialize(std::uint32_t request, void* data, std::uint32_t* value);

// The work of DoPluginMain over the given windows (none when start-up could not make them).
std::uint32_t RunPluginMain(PluginWindows* windows, std::uint8_t* stopFlag);

// Left edge (or top) that centres `size` in a work area: signed halving toward zero.
std::int32_t CentredEdge(std::int32_t areaSize, std::int32_t areaStart, std::int32_t size);

// Back to the state at load: position 0, empty cells, no stop flag, fresh descriptor.
void ResetPluginFrame();

}  // namespace orvella
