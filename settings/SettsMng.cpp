#include "settings/SettsMng.h"

#include <cstddef>

#include "files/FileIO.h"
#include "files/Utf8Text.h"
#include "settings/Registry.h"

namespace orvella {

namespace {

constexpr std::string_view kHeader = "[SETTINGS]";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kChunk = 64 * 1024;

// True when `text` is UTF-8 whose every character has a Latin-1 byte: what the 8-bit
// file can hold and give back unchanged.
bool FitsLatin1(std::string_view text) {
  std::string latin1;
  char32_t bad = 0;
  return Latin1FromUtf8(text, latin1, bad);
}

// Only ever given text that FitsLatin1.
std::string Utf8ToLatin1(std::string_view text) {
  std::string latin1;
  char32_t bad = 0;
  Latin1FromUtf8(text, latin1, bad);
  return latin1;
}

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// Splits a file into lines at CR LF, LF or a lone CR, reading one chunk at a time.
class LineReader {
 public:
  explicit LineReader(File& file) : file_(file) {}

  enum class Result { kLine, kEnd, kError };

  Result Next(std::string& line) {
    line.clear();
    bool any = false;
    for (;;) {
      if (pos_ == filled_) {
        const Result refill = Refill();
        if (refill == Result::kError) return refill;
        if (refill == Result::kEnd) return any ? Result::kLine : Result::kEnd;
      }
      const char c = buffer_[pos_++];
      if (skipLf_) {
        skipLf_ = false;
        if (c == '\n') continue;
      }
      if (c == '\n') return Result::kLine;
      if (c == '\r') {
        skipLf_ = true;
        return Result::kLine;
      }
      line.push_back(c);
      any = true;
    }
  }

  const std::string& Error() const { return error_; }

 private:
  Result Refill() {
    std::size_t got = 0;
    if (!file_.ReadSome(buffer_.data(), buffer_.size(), got, error_)) return Result::kError;
    pos_ = 0;
    filled_ = got;
    return got > 0 ? Result::kLine : Result::kEnd;
  }

  File& file_;
  std::string buffer_ = std::string(kChunk, '\0');
  std::size_t pos_ = 0;
  std::size_t filled_ = 0;
  bool skipLf_ = false;
  std::string error_;
};

enum class ValueParse { kOk, kBadQuotes, kTextAfterQuote };

// `text` starts at the value: a double-quoted data text, then nothing but blanks.
ValueParse ParseQuotedValue(const std::string& text, std::string& data) {
  const std::string value = LeftTrim(text);
  if (value.empty() || value[0] != '"') return ValueParse::kBadQuotes;
  const std::size_t close = value.find('"', 1);
  if (close == std::string::npos) return ValueParse::kBadQuotes;
  if (!LeftTrim(std::string_view(value).substr(close + 1)).empty()) {
    return ValueParse::kTextAfterQuote;
  }
  data = value.substr(1, close - 1);
  return ValueParse::kOk;
}

}  // namespace

std::string LeftTrim(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  while (i < s.size() && s[i] == '\t') ++i;
  return std::string(s.substr(i));
}

bool ParameterNameStorable(std::string_view name) {
  if (name.empty() || name.front() == '\t') return false;
  return name.find_first_of(" \r\n/\\") == std::string_view::npos;
}

bool ParameterDataStorable(std::string_view data) {
  return data.find_first_of("\"\r\n") == std::string_view::npos;
}

TSettingsManager::TSettingsManager() : MyReg(std::make_unique<TRegistry>()) {}

TSettingsManager::~TSettingsManager() = default;

void TSettingsManager::SetSettingsPath(const std::string& value) {
  fSettingsPath = value;
  if (fSettingsPath.empty() || fSettingsPath.back() != '\\') fSettingsPath.push_back('\\');
}

bool TSettingsManager::Fail(int code) {
  fErrorCode = code;
  return false;
}

bool TSettingsManager::FailIo(std::string text) {
  fErrorText = std::move(text);
  return Fail(seIoFailure);
}

std::string TSettingsManager::FilePath() const {
  std::string path = fSettingsPath + fSettingsName;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

bool TSettingsManager::ReadSettings() {
  return fSettingsFile ? ReadSettingsFromFile() : ReadSettingsFromRegistry();
}

bool TSettingsManager::SaveSettings() {
  return fSettingsFile ? SaveSettingsIntoFile() : SaveSettingsIntoRegistry();
}

bool TSettingsManager::GetParameterValue(const std::string& name, std::string& value) const {
  for (const TParameterItem& item : fParameters) {
    if (item.ParameterName == name) {
      value = item.ParameterData;
      return true;
    }
  }
  return false;
}

bool TSettingsManager::SetParameterValue(const std::string& name, const std::string& value) {
  // Unstorable text would make the whole store unreadable at the next start; text the
  // file cannot hold would come back as "?", two such names as one.
  if (!ParameterNameStorable(name) || !ParameterDataStorable(value)) return false;
  if (fSettingsFile && (!FitsLatin1(name) || !FitsLatin1(value))) return false;
  for (TParameterItem& item : fParameters) {
    if (item.ParameterName == name) {
      item.ParameterData = value;
      return true;
    }
  }
  fParameters.push_back({name, value});
  return true;
}

bool TSettingsManager::ReadSettingsFromFile() {
  fSettingsRead = false;
  fParameters.clear();
  fErrorLine = 0;
  const std::string path = FilePath();

  File file;
  std::string error;
  if (!file.OpenRead(path, error)) {
    if (path.empty() || file.WasMissing()) return Fail(seFileMissing);
    return FailIo(error);
  }

  LineReader reader(file);
  std::string raw;
  bool inSection = false;
  for (;;) {
    const LineReader::Result r = reader.Next(raw);
    if (r == LineReader::Result::kError) return FailIo(reader.Error());
    if (r == LineReader::Result::kEnd) break;
    ++fErrorLine;
    const std::string line = LeftTrim(Utf8FromLatin1(raw));
    if (!inSection) {
      inSection = AsciiUpper(line).find(kHeader) != std::string::npos;
      continue;
    }
    const std::size_t space = line.find(' ');
    if (space == std::string::npos || space == 0) continue;  // blank line, section header
    const std::string rest = LeftTrim(std::string_view(line).substr(space));
    if (rest.empty() || rest[0] != '=') return Fail(seNoEquals);
    std::string data;
    switch (ParseQuotedValue(rest.substr(1), data)) {
      case ValueParse::kBadQuotes: return Fail(seBadQuotes);
      case ValueParse::kTextAfterQuote: return Fail(seTextAfterQuote);
      case ValueParse::kOk: break;
    }
    fParameters.push_back({line.substr(0, space), std::move(data)});
  }
  fSettingsRead = true;
  return true;
}

bool TSettingsManager::SaveSettingsIntoFile() {
  if (fParameters.empty()) return Fail(seNothingToSave);
  const std::string path = FilePath();
  std::string text(kHeader);
  text += kLineEnd;
  for (const TParameterItem& item : fParameters) {
    // Taken in while the key store was selected: never written as "?".
    if (!FitsLatin1(item.ParameterName) || !FitsLatin1(item.ParameterData)) {
      return FailIo("I/O error: cannot write \"" + path + "\": the parameter \"" +
                    item.ParameterName + "\" holds text outside the file's Latin-1 encoding");
    }
    text += Utf8ToLatin1(item.ParameterName);
    text += " = \"";
    text += Utf8ToLatin1(item.ParameterData);
    text += "\"";
    text += kLineEnd;
  }

  File file;
  std::string error;
  if (!file.Create(path, error) || !file.WriteAll(text.data(), text.size(), error) ||
      !file.Close(error))
    return FailIo(error);
  return true;
}

bool TSettingsManager::ReadSettingsFromRegistry() {
  fSettingsRead = false;
  fParameters.clear();
  MyStrings.clear();
  if (!MyReg->OpenKey(KeyPath(), true)) return FailIo(MyReg->LastError());
  MyReg->GetValueNames(MyStrings);
  for (const std::string& name : MyStrings) {
    std::string raw;
    std::string data;
    const ValueParse parsed =
        MyReg->ReadString(name, raw) ? ParseQuotedValue(raw, data) : ValueParse::kBadQuotes;
    if (parsed != ValueParse::kOk) {
      fParameters.clear();
      MyReg->CloseKey();
      return Fail(parsed == ValueParse::kBadQuotes ? seBadQuotes : seTextAfterQuote);
    }
    fParameters.push_back({name, std::move(data)});
  }
  MyReg->CloseKey();
  if (MyStrings.empty()) return false;
  fSettingsRead = true;
  return true;
}

bool TSettingsManager::SaveSettingsIntoRegistry() {
  if (fParameters.empty()) return Fail(seNothingToSave);
  if (!MyReg->OpenKey(KeyPath(), true)) return FailIo(MyReg->LastError());
  for (const TParameterItem& item : fParameters) {
    MyReg->WriteString(item.ParameterName, "\"" + item.ParameterData + "\"");
  }
  if (!MyReg->CloseKey()) return FailIo(MyReg->LastError());
  return true;
}

}  // namespace orvella
