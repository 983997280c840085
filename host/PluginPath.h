#pragma once
// Where orvella-host looks for the plug-in when it is not told: beside its executable
// (a build tree), then where an install puts it relative to the executable's folder.

#include <functional>
#include <string>
#include <vector>

namespace orvella {

// The plug-in's folder relative to the executable's folder in an install,
// e.g. "../lib/x86_64-linux-gnu/orvella".
std::string InstalledPluginFolder();

// The places to try, in order, for an executable folder with a trailing '/'.
std::vector<std::string> DefaultPluginCandidates(const std::string& exeFolder);

// The first candidate for which `exists` holds; empty when none does.
std::string FindDefaultPlugin(const std::string& exeFolder,
                              const std::function<bool(const std::string&)>& exists);

}  // namespace orvella
