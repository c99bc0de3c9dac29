#pragma once

#include <QFile>
#include <QString>
#include <string>

namespace rovalink::ui {

// The core's text is 8-bit, one byte per character: Latin-1 at the Qt edge.
inline QString toQt(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string fromQt(const QString& text) {
  return text.toLatin1().toStdString();
}

// File names are the file system's bytes, not Latin-1 text.
inline QString pathToQt(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}
inline std::string pathFromQt(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

}  // namespace rovalink::ui
