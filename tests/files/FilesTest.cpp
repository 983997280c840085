// Latin-1 and UTF-8 to and from each other, characters counted in UTF-8, and the file
// reads that the settings store shares with the image model: to the end of a file, and
// a missing file told from a folder.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "files/FileIO.h"
#include "files/Utf8Text.h"
#include "support/TestFiles.h"

namespace orvella {
namespace {

TEST(Latin1, EveryByteGoesToUtf8AndBack) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string utf8 = Utf8FromLatin1(all);
  EXPECT_EQ(utf8.size(), 128u + 2u * 128u);
  EXPECT_EQ(Utf8FromLatin1("Gr\xFC\xDF"), "Gr\xC3\xBC\xC3\x9F");
  std::string back;
  char32_t bad = 0;
  ASSERT_TRUE(Latin1FromUtf8(utf8, back, bad));
  EXPECT_EQ(back, all);
}

TEST(Utf8, EachCharacterEncodesAndDecodesAlike) {
  for (const char32_t c : {U'\0', U'A', U'\x7F', U'\x80', U'\xFF', U'\x7FF', U'\x800', U'\x20AC',
                           U'\xFFFD', U'\U00010000', U'\U0001F600', U'\U0010FFFF'}) {
    const std::string bytes = Utf8Of(c);
    const Utf8Char back = DecodeUtf8At(bytes, 0);
    EXPECT_TRUE(back.Valid) << static_cast<unsigned>(c);
    EXPECT_EQ(back.CodePoint, c);
    EXPECT_EQ(back.Length, bytes.size());
  }
  EXPECT_EQ(Utf8Of(U'\x20AC'), "\xE2\x82\xAC");
}

struct RefusedCase {
  const char* utf8;
  char32_t bad;
};

TEST(Latin1, CharactersBeyondItAndBrokenUtf8AreRefused) {
  const RefusedCase cases[] = {
      {"\xE2\x82\xAC", 0x20AC},    // the euro sign
      {"a\xF0\x9F\x98\x80", 0x1F600},
      {"\xC3", kNotUtf8},          // cut short
      {"\xC0\xAF", kNotUtf8},      // overlong
      {"\xED\xA0\x80", kNotUtf8},  // a surrogate
  };
  for (const RefusedCase& c : cases) {
    std::string latin1;
    char32_t bad = 0;
    EXPECT_FALSE(Latin1FromUtf8(c.utf8, latin1, bad)) << c.utf8;
    EXPECT_EQ(bad, c.bad) << c.utf8;
  }
}

struct LengthCase {
  std::string text;
  std::size_t length;
  std::size_t offsetOfSecond;  // where character 1 starts
};

TEST(Utf8, LengthAndOffsetsCountCharacters) {
  const LengthCase cases[] = {
      {"", 0, 0},
      {"abc", 3, 1},
      {"\xC3\xA9t\xC3\xA9", 3, 2},         // "été"
      {"\xE2\x82\xAC" "5", 2, 3},          // "€5"
      {"\xF0\x9F\x98\x80", 1, 4},
      {"\xC3", 1, 1},                      // a broken sequence is one character
      {"\xFF\xFE" "a", 3, 1},
  };
  for (const LengthCase& c : cases) {
    EXPECT_EQ(Utf8Length(c.text), c.length) << c.text;
    EXPECT_EQ(Utf8Offset(c.text, 0), 0u);
    EXPECT_EQ(Utf8Offset(c.text, 1), c.offsetOfSecond) << c.text;
    EXPECT_EQ(Utf8Offset(c.text, c.length), c.text.size()) << c.text;
    EXPECT_EQ(Utf8Offset(c.text, c.length + 5), c.text.size()) << c.text;
  }
}

TEST(File, ReadSomeReadsWhatThereIsToTheEnd) {
  test::TempDir dir;
  const std::string path = dir.File("some.bin");
  std::string error;
  {
    File out;
    std::vector<std::uint8_t> bytes(100);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(out.Create(path, error) && out.WriteAll(bytes.data(), bytes.size(), error) &&
                out.Close(error))
        << error;
  }
  File in;
  ASSERT_TRUE(in.OpenRead(path, error)) << error;
  EXPECT_FALSE(in.WasMissing());
  std::uint8_t buffer[64] = {};
  std::size_t got = 0;
  ASSERT_TRUE(in.ReadSome(buffer, sizeof buffer, got, error)) << error;
  EXPECT_EQ(got, 64u);
  ASSERT_TRUE(in.ReadSome(buffer, sizeof buffer, got, error)) << error;
  EXPECT_EQ(got, 36u);
  EXPECT_EQ(buffer[0], 64);
  EXPECT_EQ(buffer[35], 99);
  ASSERT_TRUE(in.ReadSome(buffer, sizeof buffer, got, error)) << error;
  EXPECT_EQ(got, 0u);

  // An injected read fault reaches ReadSome as it reaches ReadExact.
  ASSERT_TRUE(in.Seek(0, error));
  FileFaults::ArmRead(1);
  EXPECT_FALSE(in.ReadSome(buffer, sizeof buffer, got, error));
  EXPECT_EQ(got, 0u);
  EXPECT_NE(error.find("some.bin"), std::string::npos) << error;
  FileFaults::Disarm();
}

TEST(File, AFailedOpenSaysWhetherNothingWasThere) {
  test::TempDir dir;
  struct Case {
    std::string path;
    bool missing;
  };
  std::filesystem::create_directory(dir.Path() / "folder");
  const Case cases[] = {
      {dir.File("none.bin"), true},
      {dir.File("no-folder/none.bin"), true},
      {dir.File("folder"), false},
  };
  for (const Case& c : cases) {
    File f;
    std::string error;
    EXPECT_FALSE(f.OpenRead(c.path, error)) << c.path;
    EXPECT_EQ(f.WasMissing(), c.missing) << c.path << ": " << error;
    EXPECT_NE(error.find(c.path), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace orvella
