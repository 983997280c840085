#include "host/PluginPath.h"

#include <filesystem>

#ifndef ORVELLA_PLUGIN_INSTALL_DIR
#error "ORVELLA_PLUGIN_INSTALL_DIR must name the installed plug-in folder relative to bin"
#endif

namespace orvella {

namespace {
constexpr const char* kPluginFile = "liborvella.so";
}

std::string InstalledPluginFolder() { return ORVELLA_PLUGIN_INSTALL_DIR; }

std::vector<std::string> DefaultPluginCandidates(const std::string& exeFolder) {
  std::string installed = InstalledPluginFolder();
  if (!installed.empty() && installed.back() != '/') installed += '/';
  const auto normal = [](const std::string& p) {
    return std::filesystem::path(p).lexically_normal().string();
  };
  return {normal(exeFolder + kPluginFile), normal(exeFolder + installed + kPluginFile)};
}

std::string FindDefaultPlugin(const std::string& exeFolder,
                              const std::function<bool(const std::string&)>& exists) {
  for (const std::string& candidate : DefaultPluginCandidates(exeFolder))
    if (exists(candidate)) return candidate;
  return {};
}

}  // namespace orvella
