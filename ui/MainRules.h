#pragma once
// The main window's rules in plain C++: what its command buttons say, show and allow at
// each step (a load, the selection, a device command, the ECC check), the captions of
// the partition popup, and how the gauge's 64-bit values fit its bar. The Qt window
// (MainUnit.h) keeps one of each and shows them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/DeviceWindow.h"

namespace orvella {

// The command buttons, top to bottom.
enum class FormButton : int {
  ReadSelected,
  FlashSelected,
  EraseSelected,
  CheckBlanks,
  InvertSelected,
  ShowHideHex,
  CreateList,
  ReadPartition,
};
inline constexpr std::size_t kFormButtonCount = 8;

// The command button a device command runs on.
FormButton FormButtonOf(DeviceButton button);

struct TButtonLook {
  std::string Caption;
  int Glyph = 0;
  bool Enabled = false;
};

class TMainButtons {
 public:
  // As designed: every caption and glyph, only Show/Hide HEX, Make Partitions and Get
  // Partitions enabled, and the device buttons' idle looks taken from them.
  TMainButtons();

  const TButtonLook& Look(FormButton button) const;
  void SetCaption(FormButton button, const std::string& caption);
  void SetGlyph(FormButton button, int glyph);
  // The look a device button has when no command runs on it; FollowSelection keeps it.
  IdleLook& Idle(DeviceButton button);

  // A load disables every command button but Show/Hide HEX; when it ends, a listed table
  // enables Check for Blank, Invert Selection and both table buttons, a failed load only
  // Make Partitions.
  void LoadStarted();
  void LoadEnded(bool listed);

  // The ECC check, and each of the window's own long commands of the popup (saving a
  // partition as the phone reads it, extracting its files), disables every command button
  // but Show/Hide HEX while it runs and then gives each its state back; meanwhile the
  // selection changes nothing.
  void CheckStarted();
  void CheckEnded();
  bool Checking() const { return checking_; }

  // Read, Flash and Erase follow the list: disabled without a cursor row; else enabled
  // and naming what they act on, every marked row ("Read Selected") or the cursor row
  // ("Read Partition3", rows counted from 1). While a device command runs on one of them
  // (its caption is not its idle one) no caption changes, and that button stays enabled.
  void FollowSelection(int cursor, bool anyMarked);

 private:
  TButtonLook& At(FormButton button);

  std::array<TButtonLook, kFormButtonCount> looks_;
  std::array<IdleLook, kDeviceButtonCount> idle_;
  std::array<bool, kFormButtonCount> beforeCheck_{};
  bool checking_ = false;
};

// Captions of the popup's first three items ("Save partition (...) into file...") with
// the partition's name in them: "Save \"EFS\" partition (...) into file...". Item 0 main
// data, 1 spare data, 2 both.
std::string PartitionItemCaption(int item);
std::string PartitionItemCaption(int item, const std::string& partitionName);

// The popup's items after the check item, in the popup's order: what the phone's view
// makes of the row's partition.
enum class PhoneItem : int { Table, Volume, Files };
inline constexpr PhoneItem kPhoneItems[] = {PhoneItem::Table, PhoneItem::Volume, PhoneItem::Files};
std::string PhoneItemCaption(PhoneItem item);

// Whether a popup item that reads the image (the ECC check and the phone's items) can be
// chosen: not while a device command may be writing the working copy, nor without an
// image, nor while the window's own long command runs.
bool ImageItemEnabled(bool deviceCommandRunning, bool imageLoaded, bool windowCommandRunning);

// The gauge's 64-bit MaxValue and Progress on a bar that counts in int. The host moves
// the bar itself during a transfer, adding the bytes it moved to the bar's value and
// stopping at its maximum: so the bar counts in MaxValue's units, and only a MaxValue
// beyond int's range is halved until it fits (the host's steps are then not scaled and
// the bar fills early, which only totals of 2 GiB and more can cause). A MaxValue of 0 or
// less shows an empty bar.
class TGaugeScale {
 public:
  // A new maximum; the position is what the bar showed (`shownValue`) until now.
  void SetMax(std::int64_t maxValue, int shownValue);
  void SetPos(std::int64_t position);
  std::int64_t Max() const { return max_; }
  // The position in MaxValue's units: the one set, unless the bar shows another value
  // (the host's steps since).
  std::int64_t Position(int shownValue) const;
  int BarMaximum() const;
  int BarValue() const;

 private:
  std::int64_t max_ = 0;
  std::int64_t pos_ = 0;
  int shift_ = 0;  // max_ >> shift_ is the bar's maximum
};

}  // namespace orvella
