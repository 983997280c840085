// The window's keys in the per-user store: order, strict numbers, partial stores, the
// first start with an empty store, and a refused image name.

#include <gtest/gtest.h>

#include <QSettings>
#include <QString>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ConfigHome.h"
#include "settings/WindowSettings.h"

namespace orvella {
namespace {

namespace fs = std::filesystem;

class WindowSettings : public ::testing::Test {
 protected:
  void SetUp() override { home_ = test::FreshConfigHome(); }

  fs::path KeyFile() const {
    return home_ / "Software" / "Ostrel" / "VESKPlugin_Orvella1_Settings.conf";
  }

  // Stores the given parameters under the window's key through a manager of its own.
  void Store(const std::vector<std::pair<std::string, std::string>>& params) const {
    TSettingsManager m;
    ConfigureWindowSettingsStore(m);
    for (const auto& [n, d] : params) ASSERT_TRUE(m.SetParameterValue(n, d)) << n;
    ASSERT_TRUE(m.SaveSettings());
  }

  static WindowGeometryValues Full() {
    WindowGeometryValues v;
    v.SourceFile = "/data/dump one.bin";
    v.FormX = -1200;
    v.FormY = 40;
    v.FormW = 800;
    v.FormH = 600;
    v.HexFormX = 10;
    v.HexFormY = 0;
    v.HexFormW = 680;
    v.HexFormH = 512;
    v.HeaderWidths = {80, 90, 120, 420, 2000};
    return v;
  }

  static bool NothingApplied(const WindowGeometryValues& v) {
    bool none = !v.SourceFile && !v.FormX && !v.FormY && !v.FormW && !v.FormH &&
                !v.HexFormX && !v.HexFormY && !v.HexFormW && !v.HexFormH;
    for (const auto& w : v.HeaderWidths) none = none && !w;
    return none;
  }

  fs::path home_;
};

TEST(WindowSettingsKeyList, IsInWritingOrder) {
  EXPECT_EQ(WindowSettingsKeys(5),
            (std::vector<std::string>{"SOURCE_FILE", "FORM_X", "FORM_Y", "FORM_W", "FORM_H",
                                      "HEXFORM_X", "HEXFORM_Y", "HEXFORM_W", "HEXFORM_H",
                                      "HEADER00_WIDTH0", "HEADER00_WIDTH1", "HEADER00_WIDTH2",
                                      "HEADER00_WIDTH3", "HEADER00_WIDTH4"}));
  EXPECT_EQ(WindowSettingsKeys(0).size(), 9u);
  EXPECT_EQ(WindowSettingsKeys(12).back(), "HEADER00_WIDTH11");
}

struct DecimalCase {
  std::string text;
  std::optional<std::int32_t> value;
};

class StrictDecimalRule : public ::testing::TestWithParam<DecimalCase> {};

TEST_P(StrictDecimalRule, AcceptsOnlyPlainDecimalsInRange) {
  EXPECT_EQ(StrictDecimal(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Table, StrictDecimalRule,
    ::testing::Values(
        DecimalCase{"0", 0}, DecimalCase{"7", 7}, DecimalCase{"-1200", -1200},
        DecimalCase{"+15", 15}, DecimalCase{"-0", 0}, DecimalCase{"2147483647", 2147483647},
        DecimalCase{"-2147483648", -2147483647 - 1}, DecimalCase{"2147483648", std::nullopt},
        DecimalCase{"-2147483649", std::nullopt},
        DecimalCase{"99999999999999999999999", std::nullopt}, DecimalCase{"", std::nullopt},
        DecimalCase{"-", std::nullopt}, DecimalCase{"+", std::nullopt},
        DecimalCase{"007", std::nullopt}, DecimalCase{"-05", std::nullopt},
        DecimalCase{" 12", std::nullopt}, DecimalCase{"12 ", std::nullopt},
        DecimalCase{"1 2", std::nullopt}, DecimalCase{"0x10", std::nullopt},
        DecimalCase{"$10", std::nullopt}, DecimalCase{"12px", std::nullopt},
        DecimalCase{"--1", std::nullopt}, DecimalCase{"+-1", std::nullopt},
        DecimalCase{"1e3", std::nullopt}, DecimalCase{"\xD9\xA3", std::nullopt}));

TEST_F(WindowSettings, AnEmptyStoreAppliesNothingAndCreatesTheKey) {
  TSettingsManager m;
  const WindowGeometryValues v = ReadWindowSettings(m, kHeaderSectionCount);
  EXPECT_TRUE(NothingApplied(v));
  EXPECT_EQ(v.HeaderWidths.size(), 5u);
  EXPECT_EQ(m.ErrorCode(), seNone);
  EXPECT_TRUE(fs::is_regular_file(KeyFile()));

  // The first close then writes every key, the widths under HEADER00_WIDTH0..4.
  ASSERT_TRUE(WriteWindowSettings(m, Full()));
  QSettings raw(QString::fromStdString(KeyFile().string()), QSettings::NativeFormat);
  QStringList expected;
  for (const std::string& k : WindowSettingsKeys(5)) expected << QString::fromStdString(k);
  QStringList stored = raw.childKeys();
  expected.sort();
  stored.sort();
  EXPECT_EQ(stored, expected);
  EXPECT_EQ(raw.value("HEADER00_WIDTH4").toString(), "\"2000\"");
  EXPECT_EQ(raw.value("FORM_X").toString(), "\"-1200\"");
}

TEST_F(WindowSettings, WrittenValuesComeBackAtTheNextStart) {
  {
    TSettingsManager m;
    ReadWindowSettings(m, kHeaderSectionCount);
    ASSERT_TRUE(WriteWindowSettings(m, Full()));
  }
  TSettingsManager next;
  const WindowGeometryValues v = ReadWindowSettings(next, kHeaderSectionCount);
  const WindowGeometryValues f = Full();
  EXPECT_EQ(v.SourceFile, f.SourceFile);
  EXPECT_EQ(v.FormX, f.FormX);
  EXPECT_EQ(v.FormY, f.FormY);
  EXPECT_EQ(v.FormW, f.FormW);
  EXPECT_EQ(v.FormH, f.FormH);
  EXPECT_EQ(v.HexFormX, f.HexFormX);
  EXPECT_EQ(v.HexFormY, f.HexFormY);
  EXPECT_EQ(v.HexFormW, f.HexFormW);
  EXPECT_EQ(v.HexFormH, f.HexFormH);
  EXPECT_EQ(v.HeaderWidths, f.HeaderWidths);
}

TEST_F(WindowSettings, ThreeStoredWidthsRestoreThree) {
  Store({{"HEADER00_WIDTH0", "81"}, {"HEADER00_WIDTH1", "91"}, {"HEADER00_WIDTH2", "121"}});
  TSettingsManager m;
  const WindowGeometryValues v = ReadWindowSettings(m, kHeaderSectionCount);
  EXPECT_EQ(v.HeaderWidths, (std::vector<std::optional<std::int32_t>>{81, 91, 121, std::nullopt,
                                                                      std::nullopt}));
  EXPECT_FALSE(v.SourceFile);
  EXPECT_FALSE(v.FormX);
  EXPECT_FALSE(v.HexFormH);
}

TEST_F(WindowSettings, AValueThatIsNotDecimalIsSkippedAlone) {
  Store({{"SOURCE_FILE", "007"}, {"FORM_X", "0x10"}, {"FORM_Y", " 5"}, {"FORM_W", "640"}});
  TSettingsManager m;
  const WindowGeometryValues v = ReadWindowSettings(m, kHeaderSectionCount);
  EXPECT_EQ(v.SourceFile, "007");  // text, not a number
  EXPECT_FALSE(v.FormX);
  EXPECT_FALSE(v.FormY);
  EXPECT_EQ(v.FormW, 640);
}

TEST_F(WindowSettings, AMalformedStoredValueAppliesNothing) {
  Store({{"SOURCE_FILE", "/a.bin"}, {"FORM_W", "640"}});
  {
    fs::create_directories(KeyFile().parent_path());
    QSettings raw(QString::fromStdString(KeyFile().string()), QSettings::NativeFormat);
    raw.setValue("FORM_H", "480");  // unquoted
  }
  TSettingsManager m;
  const WindowGeometryValues v = ReadWindowSettings(m, kHeaderSectionCount);
  EXPECT_TRUE(NothingApplied(v));
  EXPECT_EQ(m.ErrorCode(), seBadQuotes);
}

TEST_F(WindowSettings, AnImageNameWithAQuoteKeepsThePreviousName) {
  Store({{"SOURCE_FILE", "/previous.bin"}});
  TSettingsManager m;
  ASSERT_EQ(ReadWindowSettings(m, kHeaderSectionCount).SourceFile, "/previous.bin");
  WindowGeometryValues changed = Full();
  changed.SourceFile = "/dumps/\"odd\".bin";
  ASSERT_TRUE(WriteWindowSettings(m, changed));

  TSettingsManager next;
  const WindowGeometryValues v = ReadWindowSettings(next, kHeaderSectionCount);
  EXPECT_EQ(v.SourceFile, "/previous.bin");
  EXPECT_EQ(v.FormW, 800);  // everything else was still written
}

TEST_F(WindowSettings, AbsentValuesAreNotWritten) {
  WindowGeometryValues only;
  only.HexFormW = 680;
  only.HeaderWidths = {std::nullopt, 90};
  TSettingsManager m;
  ConfigureWindowSettingsStore(m);
  ASSERT_TRUE(WriteWindowSettings(m, only));
  EXPECT_EQ(m.Parameters().size(), 2u);
  EXPECT_EQ(m.Parameters()[0].ParameterName, "HEXFORM_W");
  EXPECT_EQ(m.Parameters()[1].ParameterName, "HEADER00_WIDTH1");
}

}  // namespace
}  // namespace orvella
