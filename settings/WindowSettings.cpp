#include "settings/WindowSettings.h"

#include <array>
#include <limits>

namespace orvella {

namespace {

constexpr std::array<const char*, 9> kFixedKeys = {
    "SOURCE_FILE", "FORM_X",    "FORM_Y",    "FORM_W",    "FORM_H",
    "HEXFORM_X",   "HEXFORM_Y", "HEXFORM_W", "HEXFORM_H",
};

constexpr const char* kHeaderWidthKey = "HEADER00_WIDTH";

// The integer fields in key order, after SOURCE_FILE.
template <typename Values>
auto IntegerFields(Values& v) {
  return std::array{&v.FormX,    &v.FormY,    &v.FormW,    &v.FormH,
                    &v.HexFormX, &v.HexFormY, &v.HexFormW, &v.HexFormH};
}

}  // namespace

std::vector<std::string> WindowSettingsKeys(int sectionCount) {
  std::vector<std::string> keys(kFixedKeys.begin(), kFixedKeys.end());
  for (int i = 0; i < sectionCount; ++i) keys.push_back(kHeaderWidthKey + std::to_string(i));
  return keys;
}

std::optional<std::int32_t> StrictDecimal(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || (text.size() > 1 && text.front() == '0')) return std::nullopt;
  // Accumulated as a negative number so that INT32_MIN fits.
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 - (c - '0');
    if (value < std::numeric_limits<std::int32_t>::min()) return std::nullopt;
  }
  if (!negative) {
    value = -value;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

void ConfigureWindowSettingsStore(TSettingsManager& settings) {
  settings.SetSettingsInFile(false);
  settings.SetSettingsPath(kWindowSettingsPath);
  settings.SetSettingsName(kWindowSettingsName);
}

WindowGeometryValues ReadWindowSettings(TSettingsManager& settings, int sectionCount) {
  WindowGeometryValues values;
  values.HeaderWidths.resize(static_cast<std::size_t>(sectionCount > 0 ? sectionCount : 0));
  ConfigureWindowSettingsStore(settings);
  if (!settings.ReadSettings()) return values;

  const std::vector<std::string> keys = WindowSettingsKeys(sectionCount);
  std::string text;
  if (settings.GetParameterValue(keys[0], text)) values.SourceFile = text;
  const auto fields = IntegerFields(values);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (settings.GetParameterValue(keys[1 + i], text)) *fields[i] = StrictDecimal(text);
  }
  for (std::size_t i = 0; i < values.HeaderWidths.size(); ++i) {
    if (settings.GetParameterValue(keys[kFixedKeys.size() + i], text)) {
      values.HeaderWidths[i] = StrictDecimal(text);
    }
  }
  return values;
}

bool WriteWindowSettings(TSettingsManager& settings, const WindowGeometryValues& values) {
  const std::vector<std::string> keys =
      WindowSettingsKeys(static_cast<int>(values.HeaderWidths.size()));
  if (values.SourceFile) settings.SetParameterValue(keys[0], *values.SourceFile);
  const auto fields = IntegerFields(values);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (*fields[i]) settings.SetParameterValue(keys[1 + i], std::to_string(**fields[i]));
  }
  for (std::size_t i = 0; i < values.HeaderWidths.size(); ++i) {
    if (values.HeaderWidths[i]) {
      settings.SetParameterValue(keys[kFixedKeys.size() + i],
                                 std::to_string(*values.HeaderWidths[i]));
    }
  }
  return settings.SaveSettings();
}

}  // namespace orvella
