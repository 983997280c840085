#pragma once
// File names between Qt's strings and the core's 8-bit paths, in the encoding the
// platform gives file names.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

namespace orvella {

inline std::string PathBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }
inline QString PathText(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace orvella
