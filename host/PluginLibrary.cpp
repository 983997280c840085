#include "host/PluginLibrary.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace orvella {

namespace {

std::string Hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

// Texts behind the descriptor's pointers, read no further than a sane length.
std::string BoundedText(const char* p) {
  return p ? std::string(p, ::strnlen(p, 256)) : std::string();
}

}  // namespace

bool PluginLibrary::Load(const std::string& path, std::string& error) {
  Unload();
  ::dlerror();
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = ::dlerror();
    error = "cannot load the plug-in \"" + path + "\": " + (why ? why : "unknown reason");
    return false;
  }
  init_ = reinterpret_cast<InitializeFn>(::dlsym(handle_, kInitializeSymbol));
  main_ = reinterpret_cast<DoPluginMainFn>(::dlsym(handle_, kDoPluginMainSymbol));
  if (!init_ || !main_) {
    error = "\"" + path + "\" is not a plug-in: it does not export " +
            (!init_ ? kInitializeSymbol : kDoPluginMainSymbol);
    Unload();
    return false;
  }
  return true;
}

void PluginLibrary::Unload() {
  if (handle_) ::dlclose(handle_);
  handle_ = nullptr;
  init_ = nullptr;
  main_ = nullptr;
}

std::uint32_t PluginLibrary::Ask(std::uint32_t request, void* data, std::uint32_t value) const {
  init_(request, data, &value);
  return value;
}

bool PluginLibrary::FetchResource(std::uint32_t request, const char* name,
                                  std::vector<std::uint8_t>& out, std::string& error) const {
  out.clear();
  std::uint8_t probe = 0;
  const std::uint32_t size = Ask(request, &probe, 0);
  if (size == 0) return true;  // absent
  if (size > kMaxPluginResource) {
    error = std::string("request ") + std::to_string(request) + " announces " + name + " of " +
            std::to_string(size) + " bytes, more than the host accepts";
    return false;
  }
  out.assign(size, 0);
  const std::uint32_t answer = Ask(request, out.data(), size);
  if (answer != size) {
    error = std::string("request ") + std::to_string(request) + " for " + name + " answered " +
            std::to_string(answer) + " after announcing " + std::to_string(size) + " bytes";
    out.clear();
    return false;
  }
  return true;
}

bool PluginLibrary::Negotiate(HostFunction (*functionFor)(std::uint32_t), PluginInfo& info,
                              std::string& error) {
  info = PluginInfo{};
  if (!init_) {
    error = "no plug-in loaded";
    return false;
  }
  info.ServiceCount = Ask(kRequestRestart, nullptr, 0);
  if (info.ServiceCount == 0 || info.ServiceCount > kMaxPluginServices) {
    error = "request 255 answered " + std::to_string(info.ServiceCount) +
            " services (expected 1 to " + std::to_string(kMaxPluginServices) + ")";
    return false;
  }
  for (std::uint32_t pos = 0; pos < info.ServiceCount; ++pos) {
    const std::uint32_t id = Ask(kRequestServiceId, nullptr, 0);
    if (id == kAnswerRefused) {
      error = "request 0 at position " + std::to_string(pos) + " of " +
              std::to_string(info.ServiceCount) + " answered that no service is left";
      return false;
    }
    const HostFunction fn = functionFor(id);
    if (!fn) {
      error = "the plug-in asks for service id " + std::to_string(id) +
              ", which this host does not provide";
      return false;
    }
    const std::uint32_t answer = Ask(kRequestHandOver, fn, pos);
    if (answer != kAnswerAccepted) {
      error = "the hand-over of service id " + std::to_string(id) + " at position " +
              std::to_string(pos) + " was answered " + Hex(answer);
      return false;
    }
    info.ServiceIds.push_back(id);
  }
  const std::uint32_t after = Ask(kRequestServiceId, nullptr, 0);
  if (after != kAnswerRefused) {
    error = "after all " + std::to_string(info.ServiceCount) +
            " hand-overs request 0 still answered " + Hex(after);
    return false;
  }

  TPluginDescriptor descriptor{};
  const std::uint32_t descriptorAnswer = Ask(kRequestDescriptor, &descriptor, 0);
  if (descriptorAnswer != kDescriptorAnswer) {
    error = "request 2 answered " + std::to_string(descriptorAnswer) + " instead of " +
            std::to_string(kDescriptorAnswer);
    return false;
  }
  info.Title = BoundedText(descriptor.Title);
  info.Platform = BoundedText(descriptor.Platform);
  info.Fixed1234 = descriptor.Fixed1234;
  info.FixedFFFF = descriptor.FixedFFFF;

  std::uint8_t version[256] = {};
  const std::uint32_t versionAnswer = Ask(kRequestVersion, version, sizeof version);
  if (versionAnswer != 0 || version[0] == 0) {
    error = "request 3 answered " + std::to_string(versionAnswer) + " with a text of length " +
            std::to_string(version[0]);
    return false;
  }
  info.Version.assign(reinterpret_cast<const char*>(version + 1), version[0]);

  return FetchResource(kRequestSchematics, "SCHEMATICS_00", info.Schematics, error) &&
         FetchResource(kRequestInformation, "INFORMATION_00", info.Information, error);
}

}  // namespace orvella
