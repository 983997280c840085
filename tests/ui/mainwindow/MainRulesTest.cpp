// The main window's rules without a display: what the command buttons say, show and
// allow through a load, the selection, a device command and the ECC check; the popup's
// captions; the gauge's 64-bit scaling. This executable links no Qt.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/GlyphIndex.h"
#include "ui/MainRules.h"

namespace orvella {
namespace {

using B = FormButton;

constexpr B kAll[] = {B::ReadSelected, B::FlashSelected, B::EraseSelected, B::CheckBlanks,
                      B::InvertSelected, B::ShowHideHex, B::CreateList, B::ReadPartition};

std::vector<bool> Enabled(const TMainButtons& b) {
  std::vector<bool> out;
  for (const B x : kAll) out.push_back(b.Look(x).Enabled);
  return out;
}

std::vector<std::string> Selection(const TMainButtons& b) {
  return {b.Look(B::ReadSelected).Caption, b.Look(B::FlashSelected).Caption,
          b.Look(B::EraseSelected).Caption};
}

TEST(MainRules, ButtonsAsDesigned) {
  const TMainButtons b;
  const struct {
    B button;
    const char* caption;
    int glyph;
  } design[] = {
      {B::ReadSelected, "Read Selected", GlyphReadMain},
      {B::FlashSelected, "Flash Selected", GlyphFlash},
      {B::EraseSelected, "Erase Selected", GlyphErase},
      {B::CheckBlanks, "Check for Blank", GlyphBlankCheck},
      {B::InvertSelected, "Invert Selection", GlyphInvert},
      {B::ShowHideHex, "&Show/Hide HEX", GlyphHex},
      {B::CreateList, "&Make Partitions from File", GlyphList},
      {B::ReadPartition, "&Get Partitions from Device", GlyphDevice},
  };
  for (const auto& d : design) {
    EXPECT_EQ(b.Look(d.button).Caption, d.caption);
    EXPECT_EQ(b.Look(d.button).Glyph, d.glyph) << d.caption;
  }
  EXPECT_EQ(Enabled(b), (std::vector<bool>{false, false, false, false, false, true, true, true}));
  TMainButtons m;
  for (int d = 0; d < kDeviceButtonCount; ++d) {
    const auto device = static_cast<DeviceButton>(d);
    EXPECT_EQ(m.Idle(device).Caption, m.Look(FormButtonOf(device)).Caption);
    EXPECT_EQ(m.Idle(device).ImageIndex, m.Look(FormButtonOf(device)).Glyph);
  }
}

TEST(MainRules, ALoadDisablesTheCommandsAndItsEndEnablesWhatATableAllows) {
  TMainButtons b;
  b.LoadStarted();
  EXPECT_EQ(Enabled(b), (std::vector<bool>{false, false, false, false, false, true, false, false}));
  b.LoadEnded(false);
  EXPECT_EQ(Enabled(b), (std::vector<bool>{false, false, false, false, false, true, true, false}));
  b.LoadStarted();
  b.FollowSelection(0, false);  // the list puts its cursor on row 0 before the load ends
  b.LoadEnded(true);
  EXPECT_EQ(Enabled(b), std::vector<bool>(8, true));
  EXPECT_EQ(Selection(b), (std::vector<std::string>{"Read Partition1", "Flash Partition1", "Erase Partition1"}));
}

struct SelectionCase {
  const char* name;
  int cursor;
  bool marked;
  std::vector<std::string> captions;
  bool enabled;
};

class FollowingTheSelection : public testing::TestWithParam<SelectionCase> {};

TEST_P(FollowingTheSelection, NamesWhatReadFlashAndEraseActOn) {
  const SelectionCase& c = GetParam();
  TMainButtons b;
  b.FollowSelection(c.cursor, c.marked);
  EXPECT_EQ(Selection(b), c.captions);
  for (const B x : {B::ReadSelected, B::FlashSelected, B::EraseSelected})
    EXPECT_EQ(b.Look(x).Enabled, c.enabled);
  // The idle captions follow, so a device command's start and end see its button idle.
  EXPECT_EQ(b.Idle(DeviceButton::ReadSelectedBtn).Caption, c.captions[0]);
  EXPECT_EQ(b.Idle(DeviceButton::EraseSelectedBtn).Caption, c.captions[2]);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FollowingTheSelection,
    testing::Values(
        SelectionCase{"NoCursor", -1, false, {"Read Selected", "Flash Selected", "Erase Selected"}, false},
        SelectionCase{"CursorOnRowThree", 2, false, {"Read Partition3", "Flash Partition3", "Erase Partition3"}, true},
        SelectionCase{"MarkedRows", 2, true, {"Read Selected", "Flash Selected", "Erase Selected"}, true},
        SelectionCase{"RowTwelve", 11, false, {"Read Partition12", "Flash Partition12", "Erase Partition12"}, true}),
    [](const testing::TestParamInfo<SelectionCase>& p) { return p.param.name; });

// The device frame's cycle: "&Stop" and the stop glyph while the command runs, the idle
// look afterwards. Meanwhile the user moves the cursor, and nothing may rename the
// button that stops the command.
TEST(MainRules, ADeviceCommandFreezesTheSelectionButtons) {
  TMainButtons b;
  b.FollowSelection(0, false);
  const IdleLook idle = b.Idle(DeviceButton::ReadSelectedBtn);
  b.SetCaption(B::ReadSelected, kStopCaption);
  b.SetGlyph(B::ReadSelected, kRunningImageIndex);
  b.FollowSelection(2, true);
  EXPECT_EQ(Selection(b), (std::vector<std::string>{"&Stop", "Flash Partition1", "Erase Partition1"}));
  EXPECT_EQ(b.Look(B::ReadSelected).Glyph, GlyphStop);
  b.FollowSelection(-1, false);
  EXPECT_TRUE(b.Look(B::ReadSelected).Enabled) << "the stop stays pressable without a cursor";

  b.SetCaption(B::ReadSelected, idle.Caption);
  b.SetGlyph(B::ReadSelected, idle.ImageIndex);
  b.FollowSelection(2, false);
  EXPECT_EQ(Selection(b), (std::vector<std::string>{"Read Partition3", "Flash Partition3", "Erase Partition3"}));
  EXPECT_EQ(b.Look(B::ReadSelected).Glyph, GlyphReadMain);
}

TEST(MainRules, TheEccCheckDisablesTheCommandsAndGivesEachItsStateBack) {
  TMainButtons b;
  b.LoadEnded(true);
  b.FollowSelection(-1, false);
  const std::vector<bool> before = Enabled(b);
  ASSERT_EQ(before, (std::vector<bool>{false, false, false, true, true, true, true, true}));
  b.CheckStarted();
  EXPECT_TRUE(b.Checking());
  EXPECT_EQ(Enabled(b), (std::vector<bool>{false, false, false, false, false, true, false, false}));
  // A cursor set meanwhile changes nothing until the check ends.
  b.FollowSelection(3, false);
  EXPECT_EQ(Enabled(b), (std::vector<bool>{false, false, false, false, false, true, false, false}));
  EXPECT_EQ(Selection(b)[0], "Read Selected");
  b.CheckEnded();
  EXPECT_FALSE(b.Checking());
  EXPECT_EQ(Enabled(b), before);
  b.FollowSelection(3, false);
  EXPECT_EQ(Selection(b)[0], "Read Partition4");
}

TEST(MainRules, PopupCaptionsCarryThePartitionsName) {
  EXPECT_EQ(PartitionItemCaption(0, "EFS"), "Save \"EFS\" partition (\"main\" data only) into file...");
  EXPECT_EQ(PartitionItemCaption(1, "EFS"), "Save \"EFS\" partition (\"spare\" data only) into file...");
  EXPECT_EQ(PartitionItemCaption(2, "B\xC3\xB6T"), "Save \"B\xC3\xB6T\" partition (full - main and spare) into file...");
  EXPECT_EQ(PartitionItemCaption(0), "Save partition (\"main\" data only) into file...");
}

TEST(MainRules, PhoneItemsFollowTheCheckItemAndReadOnlyAQuietImage) {
  std::vector<std::string> captions;
  for (const PhoneItem item : kPhoneItems) captions.push_back(PhoneItemCaption(item));
  EXPECT_EQ(captions, (std::vector<std::string>{"Show Table and Bad-Block Map", "Save Partition as the Phone Reads It...",
                                                "Extract Files..."}));
  const struct {
    bool device, loaded, window, enabled;
  } cases[] = {
      {false, true, false, true},
      {true, true, false, false},   // a device command may be writing the working copy
      {false, false, false, false}, // nothing to read
      {false, true, true, false},   // one of the window's own long commands runs
  };
  for (const auto& c : cases)
    EXPECT_EQ(ImageItemEnabled(c.device, c.loaded, c.window), c.enabled) << c.device << c.loaded << c.window;
}

// --- The gauge ---------------------------------------------------------------------------

struct GaugeCase {
  std::int64_t max, pos;
  int barMaximum, barValue;
};

TEST(GaugeScale, SixtyFourBitValuesOnAnIntBar) {
  const GaugeCase cases[] = {
      {0, 0, 1, 0},                                      // an empty bar, never a busy one
      {100, 50, 100, 50},
      {std::int64_t{1} << 40, std::int64_t{1} << 39, 1 << 30, 1 << 29},
      {10, 20, 10, 10},                                  // past the maximum: full
      {10, -5, 10, 0},
      {-7, 3, 1, 0},
      {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF},  // fits: not halved
      {0x80000000, 0x40000000, 0x40000000, 0x20000000},
  };
  for (const GaugeCase& c : cases) {
    TGaugeScale g;
    g.SetMax(c.max, 0);
    g.SetPos(c.pos);
    EXPECT_EQ(g.Max(), c.max);
    EXPECT_EQ(g.BarMaximum(), c.barMaximum) << c.max;
    EXPECT_EQ(g.BarValue(), c.barValue) << c.max << " " << c.pos;
    // What the window set comes back whole, however it was scaled for the bar.
    EXPECT_EQ(g.Position(g.BarValue()), c.pos);
  }
}

TEST(GaugeScale, TheHostsStepsOnTheBarAreReadBack) {
  TGaugeScale g;
  g.SetMax(0x18C000, 0);
  g.SetPos(0);
  // The host adds the bytes it moved to the bar's value.
  EXPECT_EQ(g.Position(g.BarValue() + 0x10800), 0x10800);
  // A new maximum keeps the position the bar shows.
  g.SetMax(0x200000, 0x10800);
  EXPECT_EQ(g.Position(g.BarValue()), 0x10800);
  // On a halved bar the host's steps count double.
  g.SetMax(std::int64_t{1} << 32, g.BarValue());
  g.SetPos(0);
  EXPECT_EQ(g.BarMaximum(), 1 << 30);
  EXPECT_EQ(g.Position(100), 400);
  EXPECT_EQ(g.Position(-3), 0);
}

}  // namespace
}  // namespace orvella
