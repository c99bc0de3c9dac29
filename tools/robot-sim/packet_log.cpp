#include "packet_log.h"

#include <chrono>
#include <cstdio>

namespace robotsim {
namespace {

qint64 nowMicroseconds() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

QByteArray jsonString(const QByteArray& text) {
  QByteArray out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      out += QByteArray("\\u00") + QByteArray::number(c, 16).rightJustified(2, '0');
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

bool PacketLog::open(const QString& path) {
  if (path.isEmpty()) return m_file.open(stdout, QIODevice::WriteOnly);
  m_file.setFileName(path);
  return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

void PacketLog::packet(int type, const QByteArray& payload) {
  writeLine("\"type\":" + QByteArray::number(type) + ",\"payload\":\"" + payload.toHex() + "\"");
}

void PacketLog::event(const char* name, const QByteArray& fields) {
  writeLine("\"event\":" + jsonString(name) + (fields.isEmpty() ? "" : "," + fields));
}

void PacketLog::writeLine(const QByteArray& body) {
  m_file.write("{\"t_us\":" + QByteArray::number(nowMicroseconds()) + "," + body + "}\n");
  m_file.flush();
}

}  // namespace robotsim
