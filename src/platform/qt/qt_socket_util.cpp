#include "platform/qt/qt_socket_util.h"

#include <QHostInfo>

#include "platform/socket_errors.h"

namespace rovalink::platform::qt_socket {

int errorNumber(QAbstractSocket::SocketError error) {
  switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
      return socket_error::kConnectionRefused;
    case QAbstractSocket::RemoteHostClosedError:
      return socket_error::kConnectionReset;
    case QAbstractSocket::HostNotFoundError:
      return socket_error::kHostNotFound;
    case QAbstractSocket::SocketAccessError:
      return socket_error::kAccessDenied;
    case QAbstractSocket::SocketResourceError:
      return socket_error::kNoBufferSpace;
    case QAbstractSocket::SocketTimeoutError:
      return socket_error::kTimedOut;
    case QAbstractSocket::DatagramTooLargeError:
      return socket_error::kMessageTooBig;
    case QAbstractSocket::NetworkError:
      return socket_error::kNetworkDown;
    case QAbstractSocket::AddressInUseError:
      return socket_error::kAddressInUse;
    case QAbstractSocket::SocketAddressNotAvailableError:
      return socket_error::kAddressNotAvailable;
    case QAbstractSocket::UnsupportedSocketOperationError:
      return socket_error::kUnsupported;
    case QAbstractSocket::OperationError:
      return socket_error::kInvalidOperation;
    default:
      return socket_error::kUnknown;
  }
}

std::optional<QHostAddress> resolve(const std::string& host, bool allowAny) {
  if (host.empty() || host == "0.0.0.0") {
    return allowAny ? std::optional<QHostAddress>(QHostAddress(QHostAddress::AnyIPv4))
                    : std::nullopt;
  }
  const QString name = QString::fromLatin1(host.data(), static_cast<qsizetype>(host.size()));
  QHostAddress address;
  if (address.setAddress(name)) return address;
  if (host == "localhost") return QHostAddress(QHostAddress::LocalHost);
  const QHostInfo info = QHostInfo::fromName(name);
  for (const QHostAddress& candidate : info.addresses()) {
    if (candidate.protocol() == QAbstractSocket::IPv4Protocol) return candidate;
  }
  return std::nullopt;
}

std::string dotted(const QHostAddress& address) {
  bool isIpv4 = false;
  const quint32 ip = address.toIPv4Address(&isIpv4);
  if (isIpv4) return toText(QHostAddress(ip).toString());
  return toText(address.toString());
}

}  // namespace rovalink::platform::qt_socket
