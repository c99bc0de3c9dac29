#include "platform/qt/qt_host_info.h"

#include <QHostInfo>
#include <QNetworkInterface>

namespace rovalink::platform {

std::string QtHostInfo::computerName() const {
  return QHostInfo::localHostName().toLatin1().toStdString();
}

std::vector<std::string> QtHostInfo::ipv4Addresses() const {
  std::vector<std::string> addresses;
  for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
    const auto flags = interface.flags();
    if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning) ||
        flags.testFlag(QNetworkInterface::IsLoopBack)) {
      continue;
    }
    for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
      const QHostAddress ip = entry.ip();
      if (ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback()) {
        addresses.push_back(ip.toString().toStdString());
      }
    }
  }
  if (addresses.empty()) addresses.emplace_back("127.0.0.1");
  return addresses;
}

}  // namespace rovalink::platform
