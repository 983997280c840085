#include "settings/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QVariant>

namespace orvella {

namespace {

std::vector<std::string> KeyComponents(const std::string& keyPath) {
  std::vector<std::string> parts;
  std::string part;
  for (const char c : keyPath) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

#if !defined(Q_OS_WIN)
bool KeptAsIs(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '_' || c == '-' || c == ' ';
}

std::string EncodeComponent(const std::string& part) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(part.size());
  for (const char ch : part) {
    const auto c = static_cast<unsigned char>(ch);
    if (KeptAsIs(c)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}
#endif

std::string StatusText(QSettings::Status status) {
  switch (status) {
    case QSettings::NoError: return "no error";
    case QSettings::AccessError: return "access denied or input/output error";
    case QSettings::FormatError: return "the store is malformed";
  }
  return "unknown failure";
}

}  // namespace

TRegistry::TRegistry() = default;

TRegistry::~TRegistry() = default;

std::optional<std::string> TRegistry::KeyLocation(const std::string& keyPath) {
  const std::vector<std::string> parts = KeyComponents(keyPath);
  if (parts.empty()) return std::nullopt;
#if defined(Q_OS_WIN)
  std::string location = "HKEY_CURRENT_USER";
  for (const std::string& part : parts) location += "\\" + part;
  return location;
#else
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (base.isEmpty()) return std::nullopt;
  std::string location = base.toStdString();
  for (const std::string& part : parts) location += "/" + EncodeComponent(part);
#if defined(Q_OS_DARWIN)
  location += ".plist";
#else
  location += ".conf";
#endif
  return location;
#endif
}

bool TRegistry::Fail(std::string message) {
  error_ = std::move(message);
  return false;
}

bool TRegistry::OpenKey(const std::string& keyPath, bool canCreate) {
  CloseKey();
  const std::optional<std::string> location = KeyLocation(keyPath);
  if (!location) {
    return Fail("I/O error: the key path \"" + keyPath +
                "\" names no key under the current user");
  }
  location_ = *location;
  const QString path = QString::fromStdString(location_);
#if !defined(Q_OS_WIN)
  // QSettings only creates its file when a value changes; an opened key must exist.
  const QFileInfo info(path);
  if (info.exists() && !info.isFile()) {
    return Fail("I/O error: cannot open the key \"" + location_ + "\": it is a folder");
  }
  if (!info.exists()) {
    if (!canCreate) return Fail("I/O error: the key \"" + location_ + "\" does not exist");
    if (!QDir().mkpath(info.absolutePath())) {
      return Fail("I/O error: cannot create the folder of the key \"" + location_ + "\"");
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
      return Fail("I/O error: cannot create the key \"" + location_ +
                  "\": " + file.errorString().toStdString());
    }
  }
#else
  (void)canCreate;
#endif
  auto key = std::make_unique<QSettings>(path, QSettings::NativeFormat);
  if (key->status() != QSettings::NoError) {
    return Fail("I/O error: cannot read the key \"" + location_ + "\": " +
                StatusText(key->status()));
  }
  key_ = std::move(key);
  return true;
}

bool TRegistry::CloseKey() {
  if (!key_) return true;
  const bool flushed = Flush();
  key_.reset();
  return flushed;
}

bool TRegistry::GetValueNames(std::vector<std::string>& names) {
  names.clear();
  if (!key_) return Fail("I/O error: no key is open");
  const QStringList keys = key_->childKeys();
  names.reserve(static_cast<std::size_t>(keys.size()));
  for (const QString& k : keys) names.push_back(k.toStdString());
  return true;
}

bool TRegistry::ReadString(const std::string& name, std::string& value) const {
  if (!key_) return false;
  const QVariant v = key_->value(QString::fromStdString(name));
  // A hand-edited file can hold lists or other types; only plain strings are values.
  if (v.typeId() != QMetaType::QString) return false;
  value = v.toString().toStdString();
  return true;
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  if (key_) key_->setValue(QString::fromStdString(name), QString::fromStdString(value));
}

bool TRegistry::Flush() {
  if (!key_) return Fail("I/O error: no key is open");
  key_->sync();
  if (key_->status() != QSettings::NoError) {
    return Fail("I/O error: cannot write the key \"" + location_ + "\": " +
                StatusText(key_->status()));
  }
  return true;
}

}  // namespace orvella
