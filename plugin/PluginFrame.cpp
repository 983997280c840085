#include "plugin/PluginFrame.h"

#include <algorithm>
#include <cstring>

#include <QResource>
#include <QString>

#include "plugin/PluginWindows.h"

namespace orvella {

namespace {

constexpr char kTitleText[] = "Samsung i9000-like FullFlash Image Files Processing Tool";
constexpr char kPlatformText[] = "QUALCOMM";
constexpr std::uint8_t kVersionText[kVersionTextBytes] = {
    kVersionTextLength, '&', 'S', 'F', '1', '2', '6', '_', '1', '.', '0', '1'};

constexpr TPluginDescriptor FreshDescriptor() {
  TPluginDescriptor d{};
  d.Title = kTitleText;
  d.Platform = kPlatformText;
  d.Fixed1234 = 0x1234;
  d.FixedFFFF = 0xFFFF;
  return d;
}

constinit HostFunction g_cells[kServiceCount] = {};
std::uint32_t g_servicePosition = 0;
constinit HostServiceTable g_services;
constinit TPluginDescriptor g_descriptor = FreshDescriptor();
std::uint8_t* g_stopFlag = nullptr;
std::int32_t g_workArea[4] = {};  // width, height, left, top

// Requests 4 and 5: the size protocol of a data resource.
void AnswerResource(const char* name, void* data, std::uint32_t* value) {
  const ResourceBlock r = FindPluginResource(name, "PLN");
  if (!r.Data) {
    *value = 0;
    return;
  }
  if (r.Size <= *value) {
    // Any answer the offer holds reads as "copied", so a missing buffer gets 0: nothing.
    if (data) std::memcpy(data, r.Data, r.Size);
    *value = data ? r.Size : 0;
    return;
  }
  *value = r.Size;
}

}  // namespace

ResourceBlock FindPluginResource(const char* name, const char* type) {
  // The bundle is stored uncompressed, so the data stay at fixed addresses inside the
  // library for its whole life, as the descriptor's resource address needs.
  const QResource res(QStringLiteral(":/resources/%1.%2")
                          .arg(QString::fromLatin1(name), QString::fromLatin1(type)));
  if (!res.isValid() || res.compressionAlgorithm() != QResource::NoCompression ||
      res.size() < 0 || res.size() > 0xFFFFFFFFll)
    return {};
  return {res.data(), static_cast<std::uint32_t>(res.size())};
}

const HostServiceTable& PluginServices() { return g_services; }
TPluginDescriptor& PluginDescriptor() { return g_descriptor; }

void HandleInitialize(std::uint32_t request, void* data, std::uint32_t* value) {
  if (!value) return;
  switch (request) {
    case kRequestRestart:
      g_servicePosition = 0;
      *value = kServiceCount;
      break;
    case kRequestServiceId:
      *value = g_servicePosition < kServiceCount ? kServiceIds[g_servicePosition]
                                                 : kAnswerRefused;
      break;
    case kRequestHandOver:
      if (*value == g_servicePosition && g_servicePosition < kServiceCount) {
        g_cells[g_servicePosition] = data;
        ++g_servicePosition;
        g_services = HostServiceTable::FromCells(g_cells);
        *value = kAnswerAccepted;
      } else {
        *value = kAnswerRefused;
      }
      break;
    case kRequestDescriptor: {
      const ResourceBlock r = FindPluginResource("REVIVOR_00", "ENC");
      if (r.Data) g_descriptor.ResourceData = r.Data;
      g_descriptor.ResourceSize = r.Size;
      if (data) std::memcpy(data, &g_descriptor, kDescriptorAnswer);
      *value = data ? kDescriptorAnswer : 0;
      break;
    }
    case kRequestVersion:
      // A null buffer counts as too small rather than being written through.
      if (*value >= kVersionTextBytes && data) {
        std::memcpy(data, kVersionText, kVersionTextBytes);
        *value = 0;
      } else {
        *value = kVersionTextLength;
      }
      break;
    case kRequestSchematics:
      AnswerResource("SCHEMATICS_00", data, value);
      break;
    case kRequestInformation:
      AnswerResource("INFORMATION_00", data, value);
      break;
    default:
      break;
  }
}

std::int32_t CentredEdge(std::int32_t areaSize, std::int32_t areaStart, std::int32_t size) {
  // 64-bit so extreme host values cannot overflow; C++ division truncates toward zero.
  const std::int64_t edge = (std::int64_t{areaSize} - size) / 2 + areaStart;
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(edge, INT32_MIN, INT32_MAX));
}

std::uint32_t RunPluginMain(PluginWindows* windows, std::uint8_t* stopFlag) {
  if (!windows) {
    g_stopFlag = stopFlag;
    return kDoPluginMainResult;
  }
  // Without the work-area service the window stays where it is.
  if (g_services.GetWorkAreaFn) {
    g_services.GetWorkArea(&g_workArea[0], &g_workArea[1], &g_workArea[2], &g_workArea[3]);
    windows->CentreMain(g_workArea[0], g_workArea[1], g_workArea[2], g_workArea[3]);
  }
  g_stopFlag = stopFlag;
  windows->SetStopFlagAddress(stopFlag);
  g_services.AttachLog(windows->Memo());
  g_services.AttachGauge(windows->Gauge());
  windows->ExecMain();
  return kDoPluginMainResult;
}

void ResetPluginFrame() {
  std::fill(std::begin(g_cells), std::end(g_cells), nullptr);
  g_servicePosition = 0;
  g_services = HostServiceTable{};
  g_descriptor = FreshDescriptor();
  g_stopFlag = nullptr;
  std::fill(std::begin(g_workArea), std::end(g_workArea), 0);
}

}  // namespace orvella
