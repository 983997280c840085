// The per-user key store: where a key lands, round trips through QSettings, hand-made
// bad values, values the manager does not know, and failures as results.

#include <gtest/gtest.h>

#include <QSettings>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "ConfigHome.h"
#include "settings/Registry.h"
#include "settings/SettsMng.h"

namespace orvella {
namespace {

namespace fs = std::filesystem;
using test::FileBytes;

constexpr char kPath[] = "Software\\OrvellaTest";
constexpr char kName[] = "Store";

class RegistryStore : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = test::FreshConfigHome();
    Configure(mgr_);
  }

  static void Configure(TSettingsManager& m) {
    m.SetSettingsInFile(false);
    m.SetSettingsPath(kPath);
    m.SetSettingsName(kName);
  }

  fs::path KeyFile() const { return home_ / "Software" / "OrvellaTest" / "Store.conf"; }

  // Writes values behind the manager's back, as a user editing the store would.
  void HandWrite(const std::map<QString, QVariant>& values) const {
    fs::create_directories(KeyFile().parent_path());
    QSettings raw(QString::fromStdString(KeyFile().string()), QSettings::NativeFormat);
    for (const auto& [k, v] : values) raw.setValue(k, v);
    raw.sync();
    ASSERT_EQ(raw.status(), QSettings::NoError);
  }

  QString RawValue(const QString& name) const {
    QSettings raw(QString::fromStdString(KeyFile().string()), QSettings::NativeFormat);
    return raw.value(name).toString();
  }

  std::map<std::string, std::string> Params(const TSettingsManager& m) const {
    std::map<std::string, std::string> out;
    for (const auto& p : m.Parameters()) out[p.ParameterName] = p.ParameterData;
    return out;
  }

  fs::path home_;
  TSettingsManager mgr_;
};

TEST_F(RegistryStore, TheKeyIsAFileUnderTheTestConfigFolder) {
  const auto location = TRegistry::KeyLocation("Software\\Ostrel\\VESKPlugin_Orvella1_Settings");
  ASSERT_TRUE(location);
  EXPECT_EQ(fs::path(*location), home_ / "Software" / "Ostrel" / "VESKPlugin_Orvella1_Settings.conf");

  ASSERT_TRUE(mgr_.SetParameterValue("A", "1"));
  ASSERT_TRUE(mgr_.SaveSettings());
  EXPECT_TRUE(fs::is_regular_file(KeyFile()));
  EXPECT_EQ(RawValue("A"), "\"1\"");
  // Nothing reached the (already redirected) home folder.
  EXPECT_FALSE(fs::exists(test::TestRoot() / "home" / ".config"));
}

TEST(RegistryKeyMapping, DistinctKeysGetDistinctFilesInsideTheConfigFolder) {
  const fs::path home = test::FreshConfigHome();
  const std::vector<std::string> keys = {
      "A",     "A\\B",    "A.conf\\B", "A\\B.conf", "a",       "..\\x",  ".\\x", "a/b",
      "a\\b",  "a%2Fb",   "a%b",       "a b",       "A\\B\\C", "\xC3\xA4", "%C3%A4"};
  std::set<std::string> seen;
  for (const std::string& key : keys) {
    const auto location = TRegistry::KeyLocation(key);
    ASSERT_TRUE(location) << key;
    EXPECT_TRUE(seen.insert(*location).second) << key << " collides at " << *location;
    const fs::path p = fs::path(*location).lexically_normal();
    EXPECT_EQ(p.string().rfind(home.string() + "/", 0), 0u) << key << " escapes: " << p;
    for (auto it = p.begin(); it != p.end(); ++it) {
      if (std::next(it) != p.end()) {
        EXPECT_NE(it->extension(), ".conf") << key;
      }
    }
  }
}

TEST(RegistryKeyMapping, EmptyComponentsDoNotMatter) {
  test::FreshConfigHome();
  EXPECT_EQ(TRegistry::KeyLocation("A\\B"), TRegistry::KeyLocation("\\A\\\\B\\"));
  EXPECT_FALSE(TRegistry::KeyLocation(""));
  EXPECT_FALSE(TRegistry::KeyLocation("\\\\"));
}

TEST_F(RegistryStore, ReadingAMissingKeyCreatesItAndFailsWithoutACode) {
  EXPECT_FALSE(mgr_.ReadSettings());
  EXPECT_EQ(mgr_.ErrorCode(), seNone);
  EXPECT_FALSE(mgr_.SettingsRead());
  EXPECT_TRUE(fs::is_regular_file(KeyFile()));
}

TEST_F(RegistryStore, WriteThenReadGivesBackEveryParameter) {
  const std::map<std::string, std::string> values = {
      {"SOURCE_FILE", "/home/user/full image.bin"},
      {"Empty", ""},
      {"Blanks", "  lead and trail \t "},
      {"Signs", "a=b;c,d @e 'f' #g [h]"},
      {"AtStart", "@Variant(x)"},
      {"NonLatin", "\xE2\x82\xAC \xC3\xA4"},
      {"General", "section-like name"}};
  for (const auto& [n, d] : values) ASSERT_TRUE(mgr_.SetParameterValue(n, d)) << n;
  ASSERT_TRUE(mgr_.SaveSettings());

  TSettingsManager again;
  Configure(again);
  ASSERT_TRUE(again.ReadSettings());
  EXPECT_TRUE(again.SettingsRead());
  EXPECT_EQ(Params(again), values);
  EXPECT_EQ(RawValue("Blanks"), "\"  lead and trail \t \"");
}

TEST_F(RegistryStore, ValuesNotAmongTheParametersSurviveASave) {
  HandWrite({{"OTHER", "\"keep\""}, {"A", "\"old\""}});
  ASSERT_TRUE(mgr_.SetParameterValue("A", "new"));
  ASSERT_TRUE(mgr_.SaveSettings());
  ASSERT_TRUE(mgr_.ReadSettings());
  EXPECT_EQ(Params(mgr_), (std::map<std::string, std::string>{{"A", "new"}, {"OTHER", "keep"}}));
}

struct BadValue {
  const char* what;
  QVariant value;
  int error;
};

class HandMadeValue : public RegistryStore, public ::testing::WithParamInterface<BadValue> {};

TEST_P(HandMadeValue, EmptiesTheArrayWithItsCode) {
  // A good value listed before the bad one must not stay behind.
  HandWrite({{"AAA_good", "\"1\""}, {"BBB", GetParam().value}});
  mgr_.SetSettingsInFile(false);
  EXPECT_FALSE(mgr_.ReadSettings());
  EXPECT_EQ(mgr_.ErrorCode(), GetParam().error);
  EXPECT_TRUE(mgr_.Parameters().empty());
  EXPECT_FALSE(mgr_.SettingsRead());
  EXPECT_EQ(mgr_.ErrorLine(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Values, HandMadeValue,
    ::testing::Values(BadValue{"unquoted", QVariant(QString("100")), seBadQuotes},
                      BadValue{"empty", QVariant(QString("")), seBadQuotes},
                      BadValue{"unclosed", QVariant(QString("\"100")), seBadQuotes},
                      BadValue{"quote after text", QVariant(QString("x\"100\"")), seBadQuotes},
                      BadValue{"list", QVariant(QStringList{"\"1\"", "\"2\""}), seBadQuotes},
                      BadValue{"number", QVariant(100), seBadQuotes},
                      BadValue{"text after", QVariant(QString("\"100\" x")), seTextAfterQuote},
                      BadValue{"third quote", QVariant(QString("\"1\"\"")), seTextAfterQuote}),
    [](const auto& caseInfo) {
      std::string n = caseInfo.param.what;
      for (char& ch : n) {
        if (ch == ' ') ch = '_';
      }
      return n;
    });

TEST_F(RegistryStore, LeadingBlanksOfAValueAreTrimmedWithTheSameRule) {
  HandWrite({{"A", "  \t\"a\"  "}, {"B", "\t \"b\""}});
  EXPECT_FALSE(mgr_.ReadSettings());  // B trims to " \"b\"", which lacks its opening quote
  EXPECT_EQ(mgr_.ErrorCode(), seBadQuotes);

  HandWrite({{"B", "\"b\"\t"}});
  ASSERT_TRUE(mgr_.ReadSettings());
  EXPECT_EQ(Params(mgr_), (std::map<std::string, std::string>{{"A", "a"}, {"B", "b"}}));
}

TEST_F(RegistryStore, SavingNothingLeavesTheKeyAlone) {
  EXPECT_FALSE(mgr_.SaveSettings());
  EXPECT_EQ(mgr_.ErrorCode(), seNothingToSave);
  EXPECT_FALSE(fs::exists(KeyFile()));

  HandWrite({{"A", "\"1\""}});
  const std::string before = FileBytes(KeyFile());
  EXPECT_FALSE(mgr_.SaveSettings());
  EXPECT_EQ(FileBytes(KeyFile()), before);
}

TEST_F(RegistryStore, DataWithAQuoteIsRefusedAndTheKeyStaysReadable) {
  ASSERT_TRUE(mgr_.SetParameterValue("SOURCE_FILE", "/old.bin"));
  EXPECT_FALSE(mgr_.SetParameterValue("SOURCE_FILE", "/a \"b\".bin"));
  ASSERT_TRUE(mgr_.SaveSettings());
  ASSERT_TRUE(mgr_.ReadSettings());
  EXPECT_EQ(Params(mgr_), (std::map<std::string, std::string>{{"SOURCE_FILE", "/old.bin"}}));
}

TEST_F(RegistryStore, AFolderWhereTheKeyShouldBeIsAnIoError) {
  fs::create_directories(KeyFile());
  EXPECT_FALSE(mgr_.ReadSettings());
  EXPECT_EQ(mgr_.ErrorCode(), seIoFailure);
  EXPECT_NE(mgr_.ErrorText().find("Store.conf"), std::string::npos);

  TSettingsManager writer;
  Configure(writer);
  ASSERT_TRUE(writer.SetParameterValue("A", "1"));
  EXPECT_FALSE(writer.SaveSettings());
  EXPECT_EQ(writer.ErrorCode(), seIoFailure);
}

TEST_F(RegistryStore, AFileWhereAParentKeyShouldBeIsAnIoError) {
  fs::create_directories(home_ / "Software");
  test::WriteFileBytes(home_ / "Software" / "OrvellaTest", "not a folder");
  EXPECT_FALSE(mgr_.ReadSettings());
  EXPECT_EQ(mgr_.ErrorCode(), seIoFailure);

  ASSERT_TRUE(mgr_.SetParameterValue("A", "1"));
  EXPECT_FALSE(mgr_.SaveSettings());
  EXPECT_EQ(mgr_.ErrorCode(), seIoFailure);
}

TEST_F(RegistryStore, AKeyPathWithoutAnyNameIsAnIoError) {
  mgr_.SetSettingsPath("");
  mgr_.SetSettingsName("");
  EXPECT_FALSE(mgr_.ReadSettings());
  EXPECT_EQ(mgr_.ErrorCode(), seIoFailure);
}

}  // namespace
}  // namespace orvella
