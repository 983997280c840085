#include "ui/MainRules.h"

#include <algorithm>
#include <limits>

#include "ui/GlyphIndex.h"

namespace orvella {

namespace {

// Every command button but Show/Hide HEX, which works at any time.
constexpr FormButton kCommandButtons[] = {
    FormButton::CreateList,     FormButton::CheckBlanks,   FormButton::InvertSelected,
    FormButton::ReadPartition,  FormButton::FlashSelected, FormButton::EraseSelected,
    FormButton::ReadSelected,
};

// Read, Flash and Erase: the buttons that act on the marked rows or the cursor row.
constexpr DeviceButton kSelectionButtons[] = {DeviceButton::FlashSelectedBtn,
                                              DeviceButton::EraseSelectedBtn,
                                              DeviceButton::ReadSelectedBtn};

const char* const kPartitionItemCaptions[] = {
    "Save partition (\"main\" data only) into file...",
    "Save partition (\"spare\" data only) into file...",
    "Save partition (full - main and spare) into file...",
};

std::size_t Index(FormButton button) { return static_cast<std::size_t>(button); }

// "Read", "Flash", "Erase": the caption's verb.
std::string Verb(DeviceButton button) {
  switch (button) {
    case DeviceButton::FlashSelectedBtn: return "Flash";
    case DeviceButton::EraseSelectedBtn: return "Erase";
    default: return "Read";
  }
}

}  // namespace

FormButton FormButtonOf(DeviceButton button) {
  switch (button) {
    case DeviceButton::FlashSelectedBtn: return FormButton::FlashSelected;
    case DeviceButton::ReadSelectedBtn: return FormButton::ReadSelected;
    case DeviceButton::EraseSelectedBtn: return FormButton::EraseSelected;
    case DeviceButton::ReadPartitionBtn: return FormButton::ReadPartition;
  }
  return FormButton::ReadPartition;
}

TMainButtons::TMainButtons() {
  for (int b = 0; b < kDeviceButtonCount; ++b) {
    const auto device = static_cast<DeviceButton>(b);
    idle_[static_cast<std::size_t>(b)] = DesignIdleLook(device);
    const IdleLook& look = idle_[static_cast<std::size_t>(b)];
    At(FormButtonOf(device)) = {look.Caption, look.ImageIndex, false};
  }
  At(FormButton::CheckBlanks) = {"Check for Blank", GlyphBlankCheck, false};
  At(FormButton::InvertSelected) = {"Invert Selection", GlyphInvert, false};
  At(FormButton::ShowHideHex) = {"&Show/Hide HEX", GlyphHex, true};
  At(FormButton::CreateList) = {"&Make Partitions from File", GlyphList, true};
  At(FormButton::ReadPartition).Enabled = true;
}

TButtonLook& TMainButtons::At(FormButton button) { return looks_[Index(button)]; }

const TButtonLook& TMainButtons::Look(FormButton button) const { return looks_[Index(button)]; }

void TMainButtons::SetCaption(FormButton button, const std::string& caption) {
  At(button).Caption = caption;
}

void TMainButtons::SetGlyph(FormButton button, int glyph) { At(button).Glyph = glyph; }

IdleLook& TMainButtons::Idle(DeviceButton button) { return idle_[static_cast<std::size_t>(button)]; }

void TMainButtons::LoadStarted() {
  for (const FormButton b : kCommandButtons) At(b).Enabled = false;
}

void TMainButtons::LoadEnded(bool listed) {
  At(FormButton::CreateList).Enabled = true;
  if (!listed) return;
  At(FormButton::CheckBlanks).Enabled = true;
  At(FormButton::InvertSelected).Enabled = true;
  At(FormButton::ReadPartition).Enabled = true;
}

void TMainButtons::CheckStarted() {
  for (const FormButton b : kCommandButtons) {
    beforeCheck_[Index(b)] = Look(b).Enabled;
    At(b).Enabled = false;
  }
  checking_ = true;
}

void TMainButtons::CheckEnded() {
  checking_ = false;
  for (const FormButton b : kCommandButtons) At(b).Enabled = beforeCheck_[Index(b)];
}

void TMainButtons::FollowSelection(int cursor, bool anyMarked) {
  if (checking_) return;
  if (cursor == -1) {
    // A button that reads "&Stop" stays pressable: it is the only way to stop its command.
    for (const DeviceButton b : kSelectionButtons)
      if (Look(FormButtonOf(b)).Caption == Idle(b).Caption) At(FormButtonOf(b)).Enabled = false;
    return;
  }
  for (const DeviceButton b : kSelectionButtons)
    if (Look(FormButtonOf(b)).Caption != Idle(b).Caption) return;
  for (const DeviceButton b : kSelectionButtons) {
    TButtonLook& look = At(FormButtonOf(b));
    look.Enabled = true;
    look.Caption = anyMarked ? Verb(b) + " Selected" : Verb(b) + " Partition" + std::to_string(cursor + 1);
    Idle(b).Caption = look.Caption;
  }
}

std::string PartitionItemCaption(int item) {
  return kPartitionItemCaptions[std::clamp(item, 0, 2)];
}

std::string PartitionItemCaption(int item, const std::string& partitionName) {
  std::string caption = PartitionItemCaption(item);
  return caption.insert(5, "\"" + partitionName + "\" ");  // after "Save "
}

std::string PhoneItemCaption(PhoneItem item) {
  switch (item) {
    case PhoneItem::Table: return "Show Table and Bad-Block Map";
    case PhoneItem::Volume: return "Save Partition as the Phone Reads It...";
    case PhoneItem::Files: return "Extract Files...";
  }
  return "";
}

bool ImageItemEnabled(bool deviceCommandRunning, bool imageLoaded, bool windowCommandRunning) {
  return !deviceCommandRunning && imageLoaded && !windowCommandRunning;
}

void TGaugeScale::SetMax(std::int64_t maxValue, int shownValue) {
  pos_ = Position(shownValue);
  max_ = maxValue;
  shift_ = 0;
  const std::int64_t max = std::max<std::int64_t>(max_, 0);
  while ((max >> shift_) > std::numeric_limits<int>::max()) ++shift_;
}

void TGaugeScale::SetPos(std::int64_t position) { pos_ = position; }

int TGaugeScale::BarMaximum() const {
  const std::int64_t max = std::max<std::int64_t>(max_, 0);
  return max > 0 ? static_cast<int>(max >> shift_) : 1;
}

int TGaugeScale::BarValue() const {
  const std::int64_t pos = std::clamp<std::int64_t>(pos_, 0, std::max<std::int64_t>(max_, 0));
  return static_cast<int>(std::min<std::int64_t>(BarMaximum(), pos >> shift_));
}

std::int64_t TGaugeScale::Position(int shownValue) const {
  if (shownValue == BarValue()) return pos_;
  return std::int64_t{std::max(shownValue, 0)} << shift_;
}

}  // namespace orvella
