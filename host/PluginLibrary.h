#pragma once
// A plug-in library as the host holds it: loaded with dlopen, its two exports looked up,
// negotiated exactly as a host does it, unloaded when the holder goes.

#include <cstdint>
#include <string>
#include <vector>

#include "contract/HostServices.h"

namespace orvella {

// What the negotiation learnt about the plug-in.
struct PluginInfo {
  std::uint32_t ServiceCount = 0;
  std::vector<std::uint32_t> ServiceIds;
  std::string Title;
  std::string Platform;
  std::uint16_t Fixed1234 = 0;
  std::uint16_t FixedFFFF = 0;
  std::string Version;
  std::vector<std::uint8_t> Schematics;   // empty when absent
  std::vector<std::uint8_t> Information;  // empty when absent
};

class PluginLibrary {
 public:
  PluginLibrary() = default;
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;
  ~PluginLibrary() { Unload(); }

  // Loads the library and finds Initialize and DoPluginMain.
  bool Load(const std::string& path, std::string& error);
  void Unload();
  bool Loaded() const { return handle_ != nullptr; }

  // Restart, hand over one function per asked id (functionFor answers null for an id
  // the host lacks), then fetch descriptor, version text and both resources, checking
  // every answer. On failure `error` says which step went wrong.
  bool Negotiate(HostFunction (*functionFor)(std::uint32_t id), PluginInfo& info,
                 std::string& error);

  // Opens the plug-in's window; returns DoPluginMain's answer.
  std::uint32_t RunMain(std::uint8_t* stopFlag) const { return main_(stopFlag); }

 private:
  std::uint32_t Ask(std::uint32_t request, void* data, std::uint32_t value) const;
  bool FetchResource(std::uint32_t request, const char* name, std::vector<std::uint8_t>& out,
                     std::string& error) const;

  void* handle_ = nullptr;
  InitializeFn init_ = nullptr;
  DoPluginMainFn main_ = nullptr;
};

// Largest count of services and largest resource the host accepts from a plug-in.
inline constexpr std::uint32_t kMaxPluginServices = 64;
inline constexpr std::uint32_t kMaxPluginResource = 64u << 20;

}  // namespace orvella
