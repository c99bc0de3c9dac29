#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace robotsim {

// One JSON object per line, flushed at once, so a test can follow the file while it grows.
class PacketLog {
 public:
  bool open(const QString& path);  // empty: stdout

  void packet(int type, const QByteArray& payload);
  // A free-form event: fields is the inside of a JSON object without braces, or empty.
  void event(const char* name, const QByteArray& fields = {});

 private:
  void writeLine(const QByteArray& body);

  QFile m_file;
};

QByteArray jsonString(const QByteArray& text);

}  // namespace robotsim
