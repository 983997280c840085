// A plug-in that breaks the protocol in the way ORVELLA_BAD_PLUGIN names, for the host's
// tests. Without a mode it negotiates correctly, has no window and returns at once.

#include <cstdlib>
#include <cstring>
#include <string>

#include "contract/HostServices.h"

namespace {

using namespace orvella;

std::string Mode() {
  const char* m = std::getenv("ORVELLA_BAD_PLUGIN");
  return m ? m : "";
}

[[maybe_unused]] std::uint32_t g_position = 0;

}  // namespace

extern "C" {

#ifndef ORVELLA_BAD_PLUGIN_NO_INITIALIZE
__attribute__((visibility("default"))) void Initialize(std::uint32_t request, void* data,
                                                       std::uint32_t* value) {
  const std::string mode = Mode();
  switch (request) {
    case kRequestRestart:
      g_position = 0;
      *value = mode == "count" ? 0 : kServiceCount;
      break;
    case kRequestServiceId:
      if (mode == "unknown-id") *value = 99;
      else if (mode == "endless") *value = kServiceIds[g_position % kServiceCount];
      else *value = g_position < kServiceCount ? kServiceIds[g_position] : kAnswerRefused;
      break;
    case kRequestHandOver:
      if (mode == "refuse" && g_position == 4) {
        *value = kAnswerRefused;
      } else {
        ++g_position;
        *value = kAnswerAccepted;
      }
      break;
    case kRequestDescriptor:
      if (data) std::memset(data, 0, kDescriptorAnswer);
      *value = mode == "descriptor" ? 0 : kDescriptorAnswer;
      break;
    case kRequestVersion:
      if (mode == "version" || *value < 4) {
        *value = 3;
      } else {
        std::memcpy(data, "\x03" "bad", 4);
        *value = 0;
      }
      break;
    case kRequestSchematics:
      *value = 0;
      break;
    case kRequestInformation:
      // "resource" announces 100 bytes and then answers 50; "huge" announces 4 GiB.
      if (mode == "huge") *value = 0xFFFFFFF0u;
      else if (mode == "resource") *value = *value >= 100 ? 50 : 100;
      else *value = 0;
      break;
    default:
      break;
  }
}
#endif

__attribute__((visibility("default"))) std::uint32_t DoPluginMain(std::uint8_t*) {
  return Mode() == "main" ? 0 : kDoPluginMainResult;
}

}  // extern "C"
