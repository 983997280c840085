#pragma once
// The seam between the plug-in frame and its windows. Library start-up asks
// CreatePluginWindows for the main window and the hex window and lets them read their
// settings; DoPluginMain drives them only through this interface; shut-down destroys
// them. The windows reach the host through the live service table they are given.

#include <cstdint>
#include <memory>

#include "contract/HostServices.h"

class QPlainTextEdit;
class QProgressBar;

namespace orvella {

// What the frame hands the windows at creation; every pointer stays valid until they
// are destroyed. The table changes as the host hands services over.
struct PluginContext {
  const HostServiceTable* Services = nullptr;
  TPluginDescriptor* Descriptor = nullptr;
};

class PluginWindows {
 public:
  virtual ~PluginWindows() = default;

  // Start-up step after creation: the main window reads its settings.
  virtual void ReadSettings() = 0;

  // Centres the main window's outer frame on the work area: left edge
  // CentredEdge(width, left, outer width), top edge likewise.
  virtual void CentreMain(std::int32_t width, std::int32_t height, std::int32_t left,
                          std::int32_t top) = 0;
  // The controls handed to the host: the log memo (MyMemo) and the gauge (MyGauge).
  virtual QPlainTextEdit* Memo() = 0;
  virtual QProgressBar* Gauge() = 0;
  // The host's stop flag byte, replacing any earlier one.
  virtual void SetStopFlagAddress(std::uint8_t* stopFlag) = 0;
  // Shows the main window modally; returns when the user closes it.
  virtual void ExecMain() = 0;
};

// Creates both windows (a QApplication exists). Defined once in the library by the
// windows' implementation.
std::unique_ptr<PluginWindows> CreatePluginWindows(const PluginContext& context);

}  // namespace orvella
