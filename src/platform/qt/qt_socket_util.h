#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QObject;
class QSocketNotifier;

namespace rovalink::platform::qt_socket {

// An error as the sockets report it: the classic socket control's number and the text that
// reaches events and logs. The texts are the ones the Qt Network sockets gave for the same
// conditions, so logs and pages read as before.
struct Failure {
  int code;
  std::string text;
};

inline constexpr const char* kHostNotFound = "Host not found";
inline constexpr const char* kConnectionTimedOut = "Connection timed out";

// errno of each system call, as the Qt sockets numbered and worded it.
Failure createFailure(int number);   // socket()
Failure bindFailure(int number);     // bind()
Failure listenFailure(int number);   // listen()
Failure connectFailure(int number);  // connect() or its pending result
Failure sendToFailure(int number);   // sendto() of a datagram
Failure receiveFailure(int number);  // recvfrom() of a datagram
Failure writeFailure(int number);    // send() on a connection
Failure readFailure(int number);     // recv() on a connection

// A non-blocking, close-on-exec socket, or -1 and the failure.
int openSocket(int family, int type, Failure* failure);

// "", "0.0.0.0" → any IPv4 address when allowAny; "localhost" → 127.0.0.1; dotted addresses as
// they are; other names looked up with the system resolver (blocking).
std::optional<sockaddr_in> ipv4(const std::string& host, std::uint16_t port, bool allowAny);
// A numeric IPv4 or IPv6 address; false for a name.
bool numeric(const std::string& host, std::uint16_t port, sockaddr_storage& address,
             socklen_t& length);

std::string dotted(const sockaddr* address);
std::uint16_t portOf(const sockaddr* address);
std::uint16_t boundPort(int fd);  // 0 when unknown

// Read and write readiness of a descriptor on the Qt event loop, both off at first. Safe to
// destroy from inside its own handler (the notifiers are deleted afterwards).
class Notifiers {
 public:
  Notifiers(int fd, std::function<void()> onReadable, std::function<void()> onWritable);
  ~Notifiers();
  Notifiers(const Notifiers&) = delete;
  Notifiers& operator=(const Notifiers&) = delete;

  void setRead(bool enabled);
  void setWrite(bool enabled);
  // Lives as long as these notifiers: a receiver for timers and queued calls.
  QObject* context() const;

 private:
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
  QSocketNotifier* m_read;
  QSocketNotifier* m_write;
};

}  // namespace rovalink::platform::qt_socket
