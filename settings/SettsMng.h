#pragma once
// Settings manager: a flat list of named text parameters kept either in a text file or
// under one key of the per-user key store (settings/Registry.h).
//
// File store: path = SettingsPath + SettingsName, every backslash taken as a folder
// separator on this platform. 8-bit Latin-1 text, lines ended by CR LF (LF and a lone
// CR are also accepted as line ends on reading):
//   [SETTINGS]
//   Name = "data"
// Strings in the API are UTF-8. While the file store is selected, SetParameterValue
// refuses names and data outside Latin-1 (or not UTF-8), as it refuses quotes, and a save
// never writes such text as '?': the file keeps its 8-bit encoding and reads back
// unchanged.
//
// Registry store: every parameter is a string value named after the parameter whose
// data is the parameter data wrapped in double quotes.
//
// Nothing here throws: every failure is a false result with ErrorCode (and ErrorLine
// for the file store).

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvella {

class TRegistry;

struct TParameterItem {
  std::string ParameterName;  // compared exactly
  std::string ParameterData;  // never contains a double quote
};

// Values of ErrorCode.
enum TSettingsError : int {
  seNone = 0,
  seFileMissing = 1,        // the settings file does not exist
  seNoEquals = 2,           // a parameter line has no "=" after the name
  seBadQuotes = 3,          // the value lacks its opening or closing double quote
  seTextAfterQuote = 4,     // text follows the closing double quote
  seNothingToSave = 5,      // save requested with no parameters
  seIoFailure = 6,          // the store could not be read or written (see ErrorText)
};

// Removes all leading spaces, then all leading tabs, once each ("  \t x" -> " x").
std::string LeftTrim(std::string_view s);

// Whether a name or data can be stored and read back unchanged by both stores. A name
// must be non-empty and free of spaces, line breaks, '/' and '\', and must not start
// with a tab; data must be free of double quotes and line breaks.
bool ParameterNameStorable(std::string_view name);
bool ParameterDataStorable(std::string_view data);

class TSettingsManager {
 public:
  TSettingsManager();
  ~TSettingsManager();
  TSettingsManager(const TSettingsManager&) = delete;
  TSettingsManager& operator=(const TSettingsManager&) = delete;

  // True: text file; false: registry store.
  bool SettingsInFile() const { return fSettingsFile; }
  void SetSettingsInFile(bool value) { fSettingsFile = value; }
  // Folder or parent key path, always ending in a backslash.
  const std::string& SettingsPath() const { return fSettingsPath; }
  // Stores value with a trailing backslash ("" becomes "\").
  void SetSettingsPath(const std::string& value);
  // File name or key name.
  const std::string& SettingsName() const { return fSettingsName; }
  void SetSettingsName(const std::string& value) { fSettingsName = value; }
  // Code of the last failure; only the constructor resets it.
  int ErrorCode() const { return fErrorCode; }
  // 1-based number of the last line read from the settings file.
  int ErrorLine() const { return fErrorLine; }
  // True after a read that reached its end without error.
  bool SettingsRead() const { return fSettingsRead; }
  // Description of the last input/output failure (ErrorCode 6); empty until one.
  const std::string& ErrorText() const { return fErrorText; }
  const std::vector<TParameterItem>& Parameters() const { return fParameters; }

  // Replaces the parameters with the store's content.
  bool ReadSettings();
  // Writes the parameters to the store; the file store is rewritten, the registry key
  // keeps values not among the parameters.
  bool SaveSettings();
  // Data of the first parameter named exactly `name`; value untouched when absent.
  bool GetParameterValue(const std::string& name, std::string& value) const;
  // Replaces the first parameter's data or appends a parameter. Refuses (false, nothing
  // changed) a name or data that is not storable, or not Latin-1 under the file store.
  bool SetParameterValue(const std::string& name, const std::string& value);

 private:
  bool ReadSettingsFromFile();
  bool SaveSettingsIntoFile();
  bool ReadSettingsFromRegistry();
  bool SaveSettingsIntoRegistry();
  bool Fail(int code);
  bool FailIo(std::string text);
  std::string FilePath() const;
  std::string KeyPath() const { return fSettingsPath + fSettingsName; }

  std::unique_ptr<TRegistry> MyReg;
  int fErrorCode = seNone;
  int fErrorLine = 0;
  std::string fSettingsPath;
  std::string fSettingsName;
  bool fSettingsRead = false;
  bool fSettingsFile = false;
  std::vector<std::string> MyStrings;  // value names listed by the registry store
  std::vector<TParameterItem> fParameters;
  std::string fErrorText;
};

}  // namespace orvella
