// The text-file store: trimming, header search, line forms, error codes and lines,
// round trips, the path rule, and failures that must come back as results.

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ConfigHome.h"
#include "settings/SettsMng.h"

namespace orvella {
namespace {

namespace fs = std::filesystem;
using test::FileBytes;
using test::WriteFileBytes;

struct TrimCase {
  std::string in;
  std::string out;
};

class LeftTrimRule : public ::testing::TestWithParam<TrimCase> {};

TEST_P(LeftTrimRule, SpacesThenTabsOnce) { EXPECT_EQ(LeftTrim(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(
    Table, LeftTrimRule,
    ::testing::Values(TrimCase{"", ""}, TrimCase{"x", "x"}, TrimCase{"  x", "x"},
                      TrimCase{"\t\tx", "x"}, TrimCase{"  \t x", " x"},
                      TrimCase{"\t  x", "  x"}, TrimCase{" \t \tx", " \tx"},
                      TrimCase{"   ", ""}, TrimCase{" \t", ""}, TrimCase{"x  \t", "x  \t"}));

class FileStore : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::TestRoot() / ("files-" + std::string(::testing::UnitTest::GetInstance()
                                                           ->current_test_info()
                                                           ->name()));
    fs::create_directories(dir_);
    Configure(mgr_);
  }

  void Configure(TSettingsManager& m) const {
    m.SetSettingsInFile(true);
    m.SetSettingsPath(dir_.string());
    m.SetSettingsName("orvella.ini");
  }

  fs::path File() const { return dir_ / "orvella.ini"; }

  bool ReadBytes(const std::string& bytes) {
    WriteFileBytes(File(), bytes);
    return mgr_.ReadSettings();
  }

  std::vector<std::pair<std::string, std::string>> Params() const {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& p : mgr_.Parameters()) out.emplace_back(p.ParameterName, p.ParameterData);
    return out;
  }

  fs::path dir_;
  TSettingsManager mgr_;
};

TEST_F(FileStore, HeaderOnTheLastLineReadsNothingSuccessfully) {
  EXPECT_TRUE(ReadBytes("A = \"1\"\r\n[SETTINGS]"));
  EXPECT_TRUE(mgr_.SettingsRead());
  EXPECT_TRUE(mgr_.Parameters().empty());
  EXPECT_EQ(mgr_.ErrorCode(), 0);
  EXPECT_EQ(mgr_.ErrorLine(), 2);

  EXPECT_TRUE(ReadBytes("[SETTINGS]\r\n"));
  EXPECT_TRUE(mgr_.Parameters().empty());
  EXPECT_EQ(mgr_.ErrorLine(), 1);
}

TEST_F(FileStore, HeaderIsFoundAnywhereInAnyCaseAndLinesBeforeItAreIgnored) {
  EXPECT_TRUE(ReadBytes("Junk = x\r\n\t  # [settings] here\r\nA = \"1\"\r\n"));
  EXPECT_EQ(Params(), (decltype(Params()){{"A", "1"}}));
  EXPECT_EQ(mgr_.ErrorLine(), 3);
}

TEST_F(FileStore, NoHeaderOrEmptyFileReadsNothingSuccessfully) {
  EXPECT_TRUE(ReadBytes("A = \"1\"\r\nB = \"2\"\r\n"));
  EXPECT_TRUE(mgr_.Parameters().empty());
  EXPECT_EQ(mgr_.ErrorLine(), 2);
  EXPECT_TRUE(ReadBytes(""));
  EXPECT_EQ(mgr_.ErrorLine(), 0);
  EXPECT_TRUE(mgr_.SettingsRead());
}

// One line between two good ones: either a parameter, nothing, or an error code.
struct LineCase {
  const char* what;
  std::string line;
  int error;  // 0: accepted or skipped
  std::optional<std::pair<std::string, std::string>> param;
};

class ParameterLine : public FileStore, public ::testing::WithParamInterface<LineCase> {};

TEST_P(ParameterLine, IsAcceptedSkippedOrRejected) {
  const LineCase& c = GetParam();
  const bool ok = ReadBytes("[SETTINGS]\r\nFirst = \"1\"\r\n" + c.line + "\r\nLast = \"9\"\r\n");
  if (c.error != 0) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(mgr_.ErrorCode(), c.error);
    EXPECT_EQ(mgr_.ErrorLine(), 3);
    EXPECT_FALSE(mgr_.SettingsRead());
    EXPECT_EQ(Params(), (decltype(Params()){{"First", "1"}}));  // read so far stays
    return;
  }
  ASSERT_TRUE(ok) << "error " << mgr_.ErrorCode();
  EXPECT_EQ(mgr_.ErrorLine(), 4);
  decltype(Params()) expected{{"First", "1"}};
  if (c.param) expected.push_back(*c.param);
  expected.emplace_back("Last", "9");
  EXPECT_EQ(Params(), expected);
}

using P = std::pair<std::string, std::string>;
INSTANTIATE_TEST_SUITE_P(
    Forms, ParameterLine,
    ::testing::Values(
        LineCase{"padded", "  Key = \"a b\"  ", 0, P{"Key", "a b"}},
        LineCase{"empty data", "Key = \"\"", 0, P{"Key", ""}},
        LineCase{"equals in data", "Key = \"a=b \t c\"", 0, P{"Key", "a=b \t c"}},
        LineCase{"tab in name", "K\tey = \"v\"", 0, P{"K\tey", "v"}},
        LineCase{"blanks around equals", "Key \t= \t\"v\"", 0, P{"Key", "v"}},
        LineCase{"tabs after quote trimmed", "Key = \"v\"  \t", 0, P{"Key", "v"}},
        LineCase{"no spaces at all", "Key=\"x\"", 0, std::nullopt},
        LineCase{"blank", "", 0, std::nullopt},
        LineCase{"blanks only", "  \t ", 0, std::nullopt},
        LineCase{"section header", "[OTHER]", 0, std::nullopt},
        LineCase{"space after tab", " \t Key = \"x\"", 0, std::nullopt},
        LineCase{"equals joined to name", "Key= \"x\"", 2, std::nullopt},
        LineCase{"second word", "Key x = \"1\"", 2, std::nullopt},
        LineCase{"trailing space only", "Key ", 2, std::nullopt},
        LineCase{"nothing after equals", "Key =", 3, std::nullopt},
        LineCase{"unquoted", "Key = x", 3, std::nullopt},
        LineCase{"unclosed", "Key = \"x", 3, std::nullopt},
        LineCase{"text after quote", "Key = \"x\" y", 4, std::nullopt},
        LineCase{"third quote", "Key = \"x\"\"", 4, std::nullopt},
        // Spaces go before tabs: "\t " trims to " ", which is text.
        LineCase{"tab then space after quote", "Key = \"v\"\t ", 4, std::nullopt}),
    [](const auto& caseInfo) {
      std::string n = caseInfo.param.what;
      for (char& ch : n) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return n;
    });

TEST_F(FileStore, ErrorLineCountsEveryLineFromTheFirst) {
  EXPECT_FALSE(ReadBytes("x\r\ny\r\n[SETTINGS]\r\nA = \"1\"\r\n\r\nB = \"2\"\r\nC = 3\r\nD = \"4\""));
  EXPECT_EQ(mgr_.ErrorCode(), seBadQuotes);
  EXPECT_EQ(mgr_.ErrorLine(), 7);
  EXPECT_EQ(Params(), (decltype(Params()){{"A", "1"}, {"B", "2"}}));
}

TEST_F(FileStore, LinesEndInCrLfLfOrLoneCr) {
  for (const std::string eol : {"\r\n", "\n", "\r"}) {
    SCOPED_TRACE(eol == "\r\n" ? "CR LF" : eol == "\n" ? "LF" : "CR");
    EXPECT_TRUE(ReadBytes("[SETTINGS]" + eol + "A = \"1\"" + eol + eol + "B = \"2\""));
    EXPECT_EQ(Params(), (decltype(Params()){{"A", "1"}, {"B", "2"}}));
    EXPECT_EQ(mgr_.ErrorLine(), 4);
  }
}

TEST_F(FileStore, CrLfSplitAcrossReadChunksIsOneLineEnd) {
  // The reader works in 64 KiB chunks; put the CR last in the first chunk.
  std::string head = "[SETTINGS]\r\nLong = \"";
  const std::string close = "\"";
  const std::size_t fill = 64 * 1024 - 1 - head.size() - close.size();
  std::string bytes = head + std::string(fill, 'x') + close;
  ASSERT_EQ(bytes.size(), 64u * 1024 - 1);
  bytes += "\r\nBad = x\r\n";
  EXPECT_FALSE(ReadBytes(bytes));
  EXPECT_EQ(mgr_.ErrorCode(), seBadQuotes);
  EXPECT_EQ(mgr_.ErrorLine(), 3);
  ASSERT_EQ(mgr_.Parameters().size(), 1u);
  EXPECT_EQ(mgr_.Parameters()[0].ParameterData.size(), fill);
}

TEST_F(FileStore, DuplicatesAreKeptAndTheFirstIsFound) {
  EXPECT_TRUE(ReadBytes("[SETTINGS]\r\nA = \"1\"\r\nA = \"2\"\r\n"));
  EXPECT_EQ(mgr_.Parameters().size(), 2u);
  std::string v = "untouched";
  EXPECT_TRUE(mgr_.GetParameterValue("A", v));
  EXPECT_EQ(v, "1");
  EXPECT_FALSE(mgr_.GetParameterValue("a", v));  // exact, case-sensitive
  EXPECT_EQ(v, "1");
  ASSERT_TRUE(mgr_.SetParameterValue("A", "3"));
  EXPECT_EQ(Params(), (decltype(Params()){{"A", "3"}, {"A", "2"}}));
}

TEST_F(FileStore, WriteThenReadGivesBackEveryParameterInOrder) {
  const decltype(Params()) values = {
      {"SOURCE_FILE", "/home/user/dumps/full image.bin"},
      {"Empty", ""},
      {"Blanks", "  lead and trail \t "},
      {"Signs", "a=b;c,d @e 'f' [SETTINGS]"},
      {"Latin1", "\xC3\x84rger \xC3\xA9t\xC3\xA9 \xC3\xBF"},  // Ärger été ÿ
      {"Z", "-123"}};
  for (const auto& [n, d] : values) ASSERT_TRUE(mgr_.SetParameterValue(n, d)) << n;
  ASSERT_TRUE(mgr_.SaveSettings());
  EXPECT_EQ(FileBytes(File()),
            "[SETTINGS]\r\n"
            "SOURCE_FILE = \"/home/user/dumps/full image.bin\"\r\n"
            "Empty = \"\"\r\n"
            "Blanks = \"  lead and trail \t \"\r\n"
            "Signs = \"a=b;c,d @e 'f' [SETTINGS]\"\r\n"
            "Latin1 = \"\xC4rger \xE9t\xE9 \xFF\"\r\n"
            "Z = \"-123\"\r\n");

  TSettingsManager again;
  Configure(again);
  ASSERT_TRUE(again.ReadSettings());
  decltype(Params()) back;
  for (const auto& p : again.Parameters()) back.emplace_back(p.ParameterName, p.ParameterData);
  EXPECT_EQ(back, values);
}

// The file holds Latin-1 only: text outside it (or not UTF-8 at all) would come back as
// "?", and two such names would become one. It is refused as quotes are, and a parameter
// taken in under the other store is never written as "?".
TEST_F(FileStore, TextOutsideLatin1IsRefusedAndNeverWrittenAsQuestionMarks) {
  ASSERT_TRUE(mgr_.SetParameterValue("SOURCE_FILE", "/old.bin"));
  ASSERT_TRUE(mgr_.SetParameterValue("K", "\xC3\xA9"));  // é fits
  for (const std::string data : {"/new\xE2\x82\xAC.bin", "\xD0\x96", "\xF0\x9F\x93\xB1", "\xE9", "a\xC3"})
    EXPECT_FALSE(mgr_.SetParameterValue("SOURCE_FILE", data)) << data;
  for (const std::string name : {"K\xE2\x82\xAC", "K\xE2\x9C\x93", "\xFF"})
    EXPECT_FALSE(mgr_.SetParameterValue(name, "x")) << name;
  ASSERT_TRUE(mgr_.SaveSettings());
  const std::string kept = "[SETTINGS]\r\nSOURCE_FILE = \"/old.bin\"\r\nK = \"\xE9\"\r\n";
  EXPECT_EQ(FileBytes(File()), kept);

  mgr_.SetSettingsInFile(false);
  ASSERT_TRUE(mgr_.SetParameterValue("Euro", "1\xE2\x82\xAC"));  // the key store holds it
  mgr_.SetSettingsInFile(true);
  EXPECT_FALSE(mgr_.SaveSettings());
  EXPECT_EQ(mgr_.ErrorCode(), seIoFailure);
  EXPECT_NE(mgr_.ErrorText().find("\"Euro\""), std::string::npos) << mgr_.ErrorText();
  EXPECT_EQ(FileBytes(File()), kept);
}

TEST_F(FileStore, AReadReplacesTheArrayEvenWhenTheFileIsMissing) {
  ASSERT_TRUE(ReadBytes("[SETTINGS]\r\nA = \"1\"\r\n"));
  fs::remove(File());
  EXPECT_FALSE(mgr_.ReadSettings());
  EXPECT_EQ(mgr_.ErrorCode(), seFileMissing);
  EXPECT_TRUE(mgr_.Parameters().empty());
  EXPECT_FALSE(mgr_.SettingsRead());

  // The code stays until the manager is made again.
  EXPECT_TRUE(ReadBytes("[SETTINGS]\r\n"));
  EXPECT_EQ(mgr_.ErrorCode(), seFileMissing);
}

TEST_F(FileStore, SavingNothingLeavesTheFileAlone) {
  const std::string before = "[SETTINGS]\r\nKeep = \"me\"\r\n";
  WriteFileBytes(File(), before);
  EXPECT_FALSE(mgr_.SaveSettings());
  EXPECT_EQ(mgr_.ErrorCode(), seNothingToSave);
  EXPECT_EQ(FileBytes(File()), before);

  fs::remove(File());
  EXPECT_FALSE(mgr_.SaveSettings());
  EXPECT_FALSE(fs::exists(File()));
}

struct PathCase {
  std::string in;
  std::string out;
};

class SettingsPathRule : public ::testing::TestWithParam<PathCase> {};

TEST_P(SettingsPathRule, EndsInExactlyOneAddedBackslash) {
  TSettingsManager m;
  m.SetSettingsPath(GetParam().in);
  EXPECT_EQ(m.SettingsPath(), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Table, SettingsPathRule,
                         ::testing::Values(PathCase{"Software\\Ostrel", "Software\\Ostrel\\"},
                                           PathCase{"Software\\Ostrel\\", "Software\\Ostrel\\"},
                                           PathCase{"", "\\"}, PathCase{"\\", "\\"},
                                           PathCase{"a\\\\", "a\\\\"}, PathCase{"/tmp", "/tmp\\"}));

TEST_F(FileStore, BackslashesInThePathAreFolderSeparators) {
  fs::create_directories(dir_ / "sub");
  mgr_.SetSettingsPath(dir_.string() + "\\sub\\");
  ASSERT_TRUE(mgr_.SetParameterValue("A", "1"));
  ASSERT_TRUE(mgr_.SaveSettings());
  EXPECT_EQ(FileBytes(dir_ / "sub" / "orvella.ini"), "[SETTINGS]\r\nA = \"1\"\r\n");
}

TEST_F(FileStore, DataWithAQuoteIsRefusedAndTheStoreStaysReadable) {
  ASSERT_TRUE(mgr_.SetParameterValue("SOURCE_FILE", "/old.bin"));
  EXPECT_FALSE(mgr_.SetParameterValue("SOURCE_FILE", "/new \"quoted\".bin"));
  EXPECT_FALSE(mgr_.SetParameterValue("Other", "\""));
  std::string v;
  ASSERT_TRUE(mgr_.GetParameterValue("SOURCE_FILE", v));
  EXPECT_EQ(v, "/old.bin");
  EXPECT_FALSE(mgr_.GetParameterValue("Other", v));

  ASSERT_TRUE(mgr_.SaveSettings());
  TSettingsManager again;
  Configure(again);
  EXPECT_TRUE(again.ReadSettings());
  EXPECT_EQ(again.Parameters().size(), 1u);
}

TEST_F(FileStore, NamesAndDataThatCouldNotBeReadBackAreRefused) {
  for (const std::string name : {"", "two words", "line\nbreak", "cr\r", "\tTab", "a/b", "a\\b"}) {
    EXPECT_FALSE(mgr_.SetParameterValue(name, "x")) << name;
  }
  for (const std::string data : {"x\ny", "x\r", "\"x\""}) {
    EXPECT_FALSE(mgr_.SetParameterValue("Name", data)) << data;
  }
  EXPECT_TRUE(mgr_.Parameters().empty());
  EXPECT_TRUE(mgr_.SetParameterValue("Tab\tInside", "\t"));
}

TEST_F(FileStore, AFolderWhereTheFileShouldBeIsAnIoError) {
  fs::create_directories(File());
  EXPECT_FALSE(mgr_.ReadSettings());
  EXPECT_EQ(mgr_.ErrorCode(), seIoFailure);
  EXPECT_NE(mgr_.ErrorText().find("orvella.ini"), std::string::npos);

  TSettingsManager writer;
  Configure(writer);
  ASSERT_TRUE(writer.SetParameterValue("A", "1"));
  EXPECT_FALSE(writer.SaveSettings());
  EXPECT_EQ(writer.ErrorCode(), seIoFailure);
  EXPECT_TRUE(fs::is_directory(File()));
}

TEST_F(FileStore, SavingIntoAMissingFolderIsAnIoError) {
  mgr_.SetSettingsPath((dir_ / "missing").string());
  ASSERT_TRUE(mgr_.SetParameterValue("A", "1"));
  EXPECT_FALSE(mgr_.SaveSettings());
  EXPECT_EQ(mgr_.ErrorCode(), seIoFailure);
  EXPECT_FALSE(mgr_.ErrorText().empty());
}

TEST_F(FileStore, AFullDiskIsAnIoError) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  mgr_.SetSettingsPath("/dev");
  mgr_.SetSettingsName("full");
  ASSERT_TRUE(mgr_.SetParameterValue("A", "1"));
  EXPECT_FALSE(mgr_.SaveSettings());
  EXPECT_EQ(mgr_.ErrorCode(), seIoFailure);
  EXPECT_NE(mgr_.ErrorText().find("/dev/full"), std::string::npos);
}

TEST_F(FileStore, AnUnreadableFileIsAnIoError) {
  // Reading the process's own memory image at address 0 fails with an I/O error.
  if (!fs::exists("/proc/self/mem")) GTEST_SKIP() << "no /proc";
  ASSERT_TRUE(mgr_.SetParameterValue("Kept", "no"));
  mgr_.SetSettingsPath("/proc/self");
  mgr_.SetSettingsName("mem");
  EXPECT_FALSE(mgr_.ReadSettings());
  EXPECT_EQ(mgr_.ErrorCode(), seIoFailure);
  EXPECT_TRUE(mgr_.Parameters().empty());
  EXPECT_FALSE(mgr_.SettingsRead());
}

}  // namespace
}  // namespace orvella
