#pragma once
// The values the main window keeps in the settings store: the last image name, both
// windows' positions and sizes, and the partition list's column widths. The window
// applies what ReadWindowSettings found and hands its current values to
// WriteWindowSettings; this unit only knows the keys and their text form.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/SettsMng.h"

namespace orvella {

// The key under the current user: kWindowSettingsPath\kWindowSettingsName.
inline constexpr char kWindowSettingsPath[] = "Software\\Ostrel";
inline constexpr char kWindowSettingsName[] = "VESKPlugin_Orvella1_Settings";

// Sections of HeaderControl00 the window keeps widths for.
inline constexpr int kHeaderSectionCount = 5;

// Key names in the order they are written and read: SOURCE_FILE, FORM_X .. FORM_H,
// HEXFORM_X .. HEXFORM_H, then HEADER00_WIDTH0 .. HEADER00_WIDTH<sectionCount - 1>.
std::vector<std::string> WindowSettingsKeys(int sectionCount);

// Strict decimal conversion: an optional '+' or '-', then decimal digits without a
// leading zero (a lone "0" is fine), nothing else (no spaces, no hex), within int32.
std::optional<std::int32_t> StrictDecimal(std::string_view text);

// One optional per key; nullopt means "not stored" (read) or "do not write" (write).
struct WindowGeometryValues {
  std::optional<std::string> SourceFile;  // text of ImageName
  std::optional<std::int32_t> FormX;
  std::optional<std::int32_t> FormY;
  std::optional<std::int32_t> FormW;
  std::optional<std::int32_t> FormH;
  std::optional<std::int32_t> HexFormX;
  std::optional<std::int32_t> HexFormY;
  std::optional<std::int32_t> HexFormW;
  std::optional<std::int32_t> HexFormH;
  std::vector<std::optional<std::int32_t>> HeaderWidths;  // one per section
};

// Selects the registry store at the window's key.
void ConfigureWindowSettingsStore(TSettingsManager& settings);

// Configures the store and reads it. When the read fails every value is nullopt;
// otherwise a key that is absent or not a strict decimal is nullopt.
WindowGeometryValues ReadWindowSettings(TSettingsManager& settings, int sectionCount);

// SetParameterValue for every present value in key order, then SaveSettings (its
// result is returned). A refused value keeps the key's previous value.
bool WriteWindowSettings(TSettingsManager& settings, const WindowGeometryValues& values);

}  // namespace orvella
