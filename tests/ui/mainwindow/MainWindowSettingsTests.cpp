// Window settings: written at every close, read once at start-up, applied key by key.

#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>
#include <map>

#include "Harness.h"
#include "settings/Registry.h"
#include "settings/SettsMng.h"
#include "settings/WindowSettings.h"

namespace orvella::testing {
namespace {

std::string KeyPath() { return std::string(kWindowSettingsPath) + "\\" + kWindowSettingsName; }

void RemoveStore() {
  const auto location = TRegistry::KeyLocation(KeyPath());
  ASSERT_TRUE(location.has_value());
  QFile::remove(QString::fromStdString(*location));
}

std::map<std::string, std::string> StoredValues() {
  TSettingsManager settings;
  ConfigureWindowSettingsStore(settings);
  std::map<std::string, std::string> values;
  if (!settings.ReadSettings()) return values;
  for (const auto& p : settings.Parameters()) values[p.ParameterName] = p.ParameterData;
  return values;
}

void Store(const std::vector<std::pair<std::string, std::string>>& values) {
  RemoveStore();
  TSettingsManager settings;
  ConfigureWindowSettingsStore(settings);
  for (const auto& [name, data] : values) ASSERT_TRUE(settings.SetParameterValue(name, data));
  ASSERT_TRUE(settings.SaveSettings());
}

std::vector<int> Widths(const TReraradForm& w) {
  std::vector<int> v;
  for (int i = 0; i < w.HeaderControl00->count(); ++i) v.push_back(w.HeaderControl00->sectionSize(i));
  return v;
}

const std::vector<int> kDesignWidths(kDesignColumnWidths.begin(), kDesignColumnWidths.end());

class WindowSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveStore(); }
  void TearDown() override { RemoveStore(); }
};

TEST_F(WindowSettingsTest, CloseWritesEveryKeyAndStartUpRestoresThem) {
  QPoint hexPos;
  {
    PluginStartUp app;
    TReraradForm& w = *app.Main;
    w.ImageName->setText("/data/dumps/phone one.bin");
    app.Hex->move(123, 45);
    app.Hex->resize(app.Hex->width(), 640);
    const int widths[] = {60, 70, 150, 300, 900};
    for (int i = 0; i < 5; ++i) w.HeaderControl00->resizeSection(i, widths[i]);
    w.move(20, 30);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    hexPos = app.Hex->pos();
    w.close();
  }
  const auto stored = StoredValues();
  std::vector<std::string> names;
  for (const auto& [name, data] : stored) names.push_back(name);
  std::vector<std::string> keys = WindowSettingsKeys(5);
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(names, keys);
  EXPECT_EQ(stored.at("SOURCE_FILE"), "/data/dumps/phone one.bin");
  EXPECT_EQ(stored.at("HEXFORM_H"), "640");
  EXPECT_EQ(stored.at("HEADER00_WIDTH2"), "150");
  EXPECT_EQ(stored.at("HEADER00_WIDTH4"), "900");

  PluginStartUp next;
  EXPECT_EQ(next.Main->ImageName->text(), "/data/dumps/phone one.bin");
  EXPECT_EQ(next.Hex->pos(), hexPos);
  EXPECT_EQ(next.Hex->frameGeometry().height(), 640);
  EXPECT_EQ(Widths(*next.Main), (std::vector<int>{60, 70, 150, 300, 900}));
  EXPECT_EQ(next.Main->frameGeometry().width(), std::stoi(stored.at("FORM_W")));
  EXPECT_EQ(next.Main->frameGeometry().height(), std::stoi(stored.at("FORM_H")));
}

TEST_F(WindowSettingsTest, EveryCloseWritesEvenWithoutChanges) {
  PluginStartUp app;
  app.Main->show();
  app.Main->close();
  auto stored = StoredValues();
  EXPECT_EQ(stored.at("SOURCE_FILE"), "");
  EXPECT_EQ(stored.at("HEADER00_WIDTH4"), "2000");
  EXPECT_EQ(stored.at("FORM_W"), std::to_string(app.Main->frameGeometry().width()));
  app.Main->HeaderControl00->resizeSection(4, 1500);
  app.Main->show();
  app.Main->close();
  EXPECT_EQ(StoredValues().at("HEADER00_WIDTH4"), "1500");
}

TEST_F(WindowSettingsTest, EmptyStoreAppliesNothing) {
  PluginStartUp app;
  EXPECT_EQ(app.Main->ImageName->text(), "");
  EXPECT_EQ(Widths(*app.Main), kDesignWidths);
  EXPECT_EQ(app.Main->size(), QSize(kDesignClientWidth, kDesignClientHeight)) << "not shown yet";
}

struct PartialCase {
  const char* Label;
  std::vector<std::pair<std::string, std::string>> Values;
  std::vector<int> Widths;
  QString ImageName;
  int MainWidth;  // outer; 0: the design width
};

class PartialStoreTest : public WindowSettingsTest, public ::testing::WithParamInterface<PartialCase> {};

TEST_P(PartialStoreTest, AppliesWhatIsThereAndValid) {
  const PartialCase& c = GetParam();
  Store(c.Values);
  PluginStartUp app;
  EXPECT_EQ(Widths(*app.Main), c.Widths);
  EXPECT_EQ(app.Main->ImageName->text(), c.ImageName);
  if (c.MainWidth == 0) {
    EXPECT_EQ(app.Main->width(), kDesignClientWidth);
  } else {
    EXPECT_EQ(app.Main->frameGeometry().width(), c.MainWidth);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Window, PartialStoreTest,
    ::testing::Values(
        PartialCase{"three_widths",
                    {{"HEADER00_WIDTH0", "100"}, {"HEADER00_WIDTH1", "110"}, {"HEADER00_WIDTH2", "130"}},
                    {100, 110, 130, 420, 2000}, "", 0},
        PartialCase{"not_decimal_skipped",
                    {{"SOURCE_FILE", "a.bin"}, {"FORM_W", "0x400"}, {"HEADER00_WIDTH1", "12a"},
                     {"HEADER00_WIDTH3", " 300"}, {"HEADER00_WIDTH4", "777"}},
                    {80, 90, 120, 420, 777}, "a.bin", 0},
        PartialCase{"width_applied", {{"FORM_W", "900"}}, {80, 90, 120, 420, 2000}, "", 900},
        // A width below the section minimum or absurdly large is held to the limits.
        PartialCase{"held_to_limits", {{"HEADER00_WIDTH0", "5"}, {"HEADER00_WIDTH1", "-40"}, {"HEADER00_WIDTH2", "2000000"}},
                    {50, 50, 10000, 420, 2000}, "", 0},
        PartialCase{"source_file_only", {{"SOURCE_FILE", "x"}}, {80, 90, 120, 420, 2000}, "x", 0}),
    [](const ::testing::TestParamInfo<PartialCase>& p) { return std::string(p.param.Label); });

TEST_F(WindowSettingsTest, MalformedStoreValueLeavesDesignValues) {
  // A value without its double quotes is malformed for the store.
  const auto location = TRegistry::KeyLocation(KeyPath());
  ASSERT_TRUE(location.has_value());
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(KeyPath(), true));
    reg.WriteString("SOURCE_FILE", "\"kept.bin\"");
    reg.WriteString("HEADER00_WIDTH0", "99");
    ASSERT_TRUE(reg.CloseKey());
  }
  PluginStartUp app;
  EXPECT_EQ(app.Main->ImageName->text(), "");
  EXPECT_EQ(Widths(*app.Main), kDesignWidths);
}

}  // namespace
}  // namespace orvella::testing
