// Window settings: written at every close, read once at start-up, applied key by key.

#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>
#include <QWindow>
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
  {
    PluginStartUp app;
    TReraradForm& w = *app.Main;
    w.ImageName->setText("/data/dumps/phone one.bin");
    // Outer values, as the settings keep them; the hex window is never shown.
    app.Hex->OuterFrame().SetOuterGeometry(123, 45, std::nullopt, 640);
    const int widths[] = {60, 70, 150, 300, 900};
    for (int i = 0; i < 5; ++i) w.HeaderControl00->resizeSection(i, widths[i]);
    w.move(20, 30);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.close();
  }
  const auto stored = StoredValues();
  std::vector<std::string> names;
  for (const auto& [name, data] : stored) names.push_back(name);
  std::vector<std::string> keys = WindowSettingsKeys(5);
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(names, keys);
  EXPECT_EQ(stored.at("SOURCE_FILE"), "/data/dumps/phone one.bin");
  EXPECT_EQ(stored.at("HEXFORM_X"), "123");
  EXPECT_EQ(stored.at("HEXFORM_Y"), "45");
  EXPECT_EQ(stored.at("HEXFORM_W"), "680");
  EXPECT_EQ(stored.at("HEXFORM_H"), "640");
  EXPECT_EQ(stored.at("HEADER00_WIDTH2"), "150");
  EXPECT_EQ(stored.at("HEADER00_WIDTH4"), "900");

  PluginStartUp next;
  EXPECT_EQ(next.Main->ImageName->text(), "/data/dumps/phone one.bin");
  EXPECT_EQ(next.Hex->OuterFrame().OuterGeometry(), QRect(123, 45, 680, 640));
  EXPECT_EQ(Widths(*next.Main), (std::vector<int>{60, 70, 150, 300, 900}));
  EXPECT_EQ(next.Main->OuterFrame().OuterGeometry().size(),
            QSize(std::stoi(stored.at("FORM_W")), std::stoi(stored.at("FORM_H"))));
}

QRect StoredRect(const std::map<std::string, std::string>& s, const std::string& prefix) {
  return {std::stoi(s.at(prefix + "_X")), std::stoi(s.at(prefix + "_Y")), std::stoi(s.at(prefix + "_W")),
          std::stoi(s.at(prefix + "_H"))};
}

// Start, show, close, and again: the outer geometry a close stores is the one the next
// start shows, frame and all, however often, whether the hex window was shown or not.
// (The frame is known only once a window has been shown.)
class RestartTest : public WindowSettingsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RestartTest, OuterGeometryRoundTripsExactly) {
  const bool showHex = GetParam();
  std::optional<QRect> main, hex;
  for (int run = 1; run <= 4; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    PluginStartUp app;
    app.Main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app.Main.get()));
    if (showHex) {
      app.Hex->show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(app.Hex.get()));
    }
    QCoreApplication::processEvents();
    const QMargins frame = app.Main->windowHandle()->frameMargins();
    if (run == 1) {
      const int frameHeight = frame.top() + frame.bottom();
      EXPECT_EQ(app.Main->size(), QSize(kDesignClientWidth, std::max(kDesignClientHeight, kMinOuterHeight - frameHeight)));
      if (showHex) {
        EXPECT_EQ(app.Hex->frameGeometry().width(), THexForm::kOuterWidth);
      }
    } else {
      EXPECT_EQ(app.Main->frameGeometry(), *main);
      if (showHex) {
        EXPECT_EQ(app.Hex->frameGeometry(), *hex);
      }
      EXPECT_EQ(app.Hex->OuterFrame().OuterGeometry(), *hex);
    }
    if (run == 2) {
      // The user moves and resizes both.
      app.Main->OuterFrame().SetOuterGeometry(31, 42, 800, 640);
      app.Hex->OuterFrame().SetOuterGeometry(300, 20, std::nullopt, 500);
      QCoreApplication::processEvents();
      if (showHex) {
        EXPECT_EQ(app.Hex->frameGeometry(), QRect(300, 20, 680, 500));
      }
      EXPECT_EQ(app.Main->frameGeometry(), QRect(31, 42, 800, 640));
    }
    app.Main->close();
    const auto stored = StoredValues();
    main = StoredRect(stored, "FORM");
    hex = StoredRect(stored, "HEXFORM");
    EXPECT_EQ(*main, app.Main->frameGeometry());
    if (showHex) {
      EXPECT_EQ(*hex, app.Hex->frameGeometry());
    }
    EXPECT_EQ(hex->width(), THexForm::kOuterWidth);
  }
}

INSTANTIATE_TEST_SUITE_P(Window, RestartTest, ::testing::Values(true, false),
                         [](const auto& p) { return p.param ? "hex_shown" : "hex_never_shown"; });

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
  // Not shown yet: the designed client size, unless the minimum outer height with the
  // frame the process has seen asks for more.
  const int frameHeight = app.Main->OuterFrame().OuterGeometry().height() - app.Main->height();
  EXPECT_EQ(app.Main->size(), QSize(kDesignClientWidth, std::max(kDesignClientHeight, kMinOuterHeight - frameHeight)));
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
    EXPECT_EQ(app.Main->OuterFrame().OuterGeometry().width(), c.MainWidth);
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

TEST_F(WindowSettingsTest, AStoredSizeBelowTheMinimumShowsTheMinimumOuterSize) {
  Store({{"FORM_W", "300"}, {"FORM_H", "200"}});
  PluginStartUp app;
  app.Main->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(app.Main.get()));
  QCoreApplication::processEvents();
  EXPECT_EQ(app.Main->frameGeometry().size(), QSize(kMinOuterWidth, kMinOuterHeight));
  app.Main->close();
  EXPECT_EQ(StoredValues().at("FORM_H"), std::to_string(kMinOuterHeight));
}

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
