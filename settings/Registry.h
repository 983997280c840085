#pragma once
// The per-user key store: string values under a hierarchical key path relative to the
// current user, kept by QSettings in its native format.
//
// Key path mapping (one to one). A key path is the list of its non-empty
// backslash-separated components, so "Software\Ostrel\" and "Software\Ostrel" name the
// same key and a key path never reaches above the user's store.
//  - Windows: HKEY_CURRENT_USER\<c1>\...\<cn> in the registry itself.
//  - Elsewhere: the file <user config folder>/<e(c1)>/.../<e(cn)>.conf, where the
//    user config folder is the generic one (XDG_CONFIG_HOME, else ~/.config) and e()
//    keeps ASCII letters, digits, '_', '-' and ' ' and writes every other byte as %XX
//    (upper-case hex). As '.' and '%' are always encoded, distinct key paths give
//    distinct files, no component can be "." or "..", and no folder ends in ".conf".
//    Software\Ostrel\VESKPlugin_Orvella1_Settings is therefore
//    ~/.config/Software/Ostrel/VESKPlugin_Orvella1_Settings.conf.
// Value names are QSettings keys at the top level of the key; names are case-sensitive.

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSettings;

namespace orvella {

class TRegistry {
 public:
  TRegistry();
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  // Where the key lives: the file path (or the registry path on Windows); nullopt when
  // the key path has no component.
  static std::optional<std::string> KeyLocation(const std::string& keyPath);

  // Opens the key, creating it (and its parents) when missing and canCreate is set.
  // False with LastError() on failure; any open key is closed first.
  bool OpenKey(const std::string& keyPath, bool canCreate);
  // Writes pending changes and releases the key.
  bool CloseKey();
  bool HasCurrentKey() const { return key_ != nullptr; }

  // Value names of the open key, in the store's listing order (alphabetical where the
  // store is a QSettings file).
  bool GetValueNames(std::vector<std::string>& names);
  // The value as a string; false when absent or not representable as a string.
  bool ReadString(const std::string& name, std::string& value) const;
  void WriteString(const std::string& name, const std::string& value);
  // Writes pending changes of the open key to the store; false on failure.
  bool Flush();

  const std::string& LastError() const { return error_; }

 private:
  bool Fail(std::string message);

  std::unique_ptr<QSettings> key_;
  std::string location_;
  std::string error_;
};

}  // namespace orvella
