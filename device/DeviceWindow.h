#pragma once
// What the device commands need from the main window beyond the window port: the model,
// the list cursor, the four device buttons and their idle looks, the window's own
// handlers the commands call back, and a few values read at each host call. The Qt main
// window implements it; tests implement it with a recorder.

#include <cstdint>
#include <string>

#include "image/FullImage.h"
#include "image/WindowPort.h"
#include "rows/ListEvents.h"

namespace orvella {

// The four device buttons, in command-index order (FIndex 0 to 3).
enum DeviceButton : int {
  FlashSelectedBtn = 0,
  ReadSelectedBtn = 1,
  EraseSelectedBtn = 2,
  ReadPartitionBtn = 3,
};
inline constexpr int kDeviceButtonCount = 4;

// Caption and glyph of a button while its command runs.
inline constexpr const char* kStopCaption = "&Stop";
inline constexpr int kRunningImageIndex = 20;

// The look a device button has when no command runs on it.
struct IdleLook {
  std::string Caption;
  int ImageIndex = 0;
};

// The design idle look of each button ("Flash Selected" 12, "Read Selected" 3,
// "Erase Selected" 9, "&Get Partitions from Device" 42).
IdleLook DesignIdleLook(DeviceButton button);

// Main window position and size, passed to the host's transfer services.
struct WindowGeometry {
  std::int32_t Left = 0;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t Top = 0;
};

// The answers to the question asked before closing over unsaved device data.
enum class CloseAnswer { SaveImage, Discard, KeepOpen };

class DeviceWindow : public WindowPort {
 public:
  // The program-wide model: current image file, table, rows, marks.
  virtual ImageModel& Model() = 0;
  // The list cursor's row; -1 when there is none.
  virtual int ItemIndex() const = 0;

  virtual std::string ButtonCaption(DeviceButton button) const = 0;
  virtual void SetButtonCaption(DeviceButton button, const std::string& caption) = 0;
  virtual void SetButtonImageIndex(DeviceButton button, int imageIndex) = 0;
  // The stored idle look of a button. UpdateEnabledButtons reads and writes the same
  // storage, so a button shows its idle caption exactly when no command runs on it.
  virtual IdleLook& Idle(DeviceButton button) = 0;

  // The window's own handlers.
  virtual void UpdateEnabledButtons() = 0;
  // `mouseButton` is a TMouseButton.
  virtual void OnSelectionChange(int itemIndex, int mouseButton, int x, int y) = 0;
  // The load handler, started by `sender` (the get-table command passes ReadPartitionBtn:
  // the log is kept and CurrentImageFile is loaded as it is).
  virtual void CreateListClick(DeviceButton sender) = 0;

  // Check state of "Enable ECC when Flashing", read at every write.
  virtual bool EccEnabled() const = 0;
  virtual WindowGeometry Geometry() const = 0;
  // The progress gauge control handed to the host (a QProgressBar* in the Qt window).
  virtual void* GaugeControl() = 0;
  // The work folder, with its trailing separator; the host's data files live there.
  virtual std::string WorkFolder() const = 0;
  // Work folder + "$tGL0Image.$$$".
  virtual std::string TempImagePath() const = 0;

  // Asks whether to save the image before closing; `question` is the text to show.
  virtual CloseAnswer AskBeforeClose(const std::string& question) = 0;
  // Runs "Save as VESK FullFlash Image File..."; true when the image was written.
  virtual bool SaveWholeImage() = 0;
};

}  // namespace orvella
