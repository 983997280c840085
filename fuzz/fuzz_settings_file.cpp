// Any bytes as a settings file: the reader must neither crash nor leak, and whatever it
// accepts must survive a save and a second read unchanged.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "settings/SettsMng.h"

namespace {

namespace fs = std::filesystem;
using orvella::TParameterItem;
using orvella::TSettingsManager;

fs::path g_dir;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "settings invariant broken: %s\n", what);
    std::abort();
  }
}

void RemoveDir() {
  std::error_code ignored;
  fs::remove_all(g_dir, ignored);
}

// Lines as the reader counts them: ended by CR LF, LF or a lone CR.
int CountLines(std::string_view bytes) {
  int lines = 0;
  std::size_t i = 0;
  bool open = false;
  while (i < bytes.size()) {
    const char c = bytes[i++];
    if (c == '\n' || c == '\r') {
      ++lines;
      open = false;
      if (c == '\r' && i < bytes.size() && bytes[i] == '\n') ++i;
    } else {
      open = true;
    }
  }
  return lines + (open ? 1 : 0);
}

// Latin-1 turned into UTF-8 has only one- and two-byte sequences led by C2 or C3.
bool FromLatin1(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) continue;
    if ((c != 0xC2 && c != 0xC3) || i + 1 >= s.size()) return false;
    const auto next = static_cast<unsigned char>(s[++i]);
    if (next < 0x80 || next > 0xBF) return false;
  }
  return true;
}

void Configure(TSettingsManager& m, const char* name) {
  m.SetSettingsInFile(true);
  m.SetSettingsPath(g_dir.string());
  m.SetSettingsName(name);
}

bool SameItems(const std::vector<TParameterItem>& a, const std::vector<TParameterItem>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].ParameterName != b[i].ParameterName || a[i].ParameterData != b[i].ParameterData) {
      return false;
    }
  }
  return true;
}

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (fs::temp_directory_path() / "orvella-fuzz-settings-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  g_dir = pattern;
  std::atexit(RemoveDir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(g_dir / "in.ini", std::ios::binary | std::ios::trunc);
    out.write(input.data(), static_cast<std::streamsize>(input.size()));
  }
  fs::remove(g_dir / "out.ini");

  TSettingsManager m;
  Configure(m, "in.ini");
  const bool read = m.ReadSettings();
  Check(m.SettingsRead() == read, "SettingsRead follows the result");
  if (read) {
    Check(m.ErrorCode() == orvella::seNone, "no code after a good read");
  } else {
    Check(m.ErrorCode() >= orvella::seNoEquals && m.ErrorCode() <= orvella::seTextAfterQuote,
          "a present file fails only with a format code");
    Check(m.ErrorLine() >= 1, "a format error names its line");
  }
  Check(m.ErrorLine() <= CountLines(input), "ErrorLine within the file");

  const std::vector<TParameterItem> items = m.Parameters();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string& name = items[i].ParameterName;
    const std::string& value = items[i].ParameterData;
    Check(!name.empty() && name.front() != '\t', "name starts with a character");
    Check(name.find_first_of(" \r\n") == std::string::npos, "name has no blank or break");
    Check(value.find_first_of("\"\r\n") == std::string::npos, "data has no quote or break");
    Check(FromLatin1(name) && FromLatin1(value), "text converted from Latin-1");
    std::string found;
    Check(m.GetParameterValue(name, found), "every name is found");
    std::size_t first = 0;
    while (items[first].ParameterName != name) ++first;
    Check(found == items[first].ParameterData, "the first of duplicates is found");
  }

  // Whatever was read, even before a bad line, is written and read back unchanged.
  Configure(m, "out.ini");
  const bool saved = m.SaveSettings();
  if (items.empty()) {
    Check(!saved && m.ErrorCode() == orvella::seNothingToSave, "empty save refused");
    Check(!fs::exists(g_dir / "out.ini"), "empty save touches nothing");
  } else {
    Check(saved, "save succeeds");
    TSettingsManager back;
    Configure(back, "out.ini");
    Check(back.ReadSettings(), "a saved file reads back");
    Check(SameItems(back.Parameters(), items), "round trip keeps every parameter");
    const std::string first = Bytes(g_dir / "out.ini");
    Check(back.SaveSettings() && Bytes(g_dir / "out.ini") == first, "save is stable");
  }

  // Setting never breaks storability, and a refused value changes nothing.
  const std::string name = items.empty() ? "Fuzz" : items.front().ParameterName;
  const bool storable = orvella::ParameterNameStorable(name);
  Check(!m.SetParameterValue(name, "a\"b"), "quoted data refused");
  Check(SameItems(m.Parameters(), items), "refusal changes nothing");
  Check(m.SetParameterValue(name, "changed") == storable, "storable names are set");
  if (storable) {
    std::string v;
    Check(m.GetParameterValue(name, v) && v == "changed", "set value is found");
    Check(m.Parameters().size() == items.size() + (items.empty() ? 1 : 0), "replace, not add");
  }
  return 0;
}
