// Hostile clients against a web server on loopback, and how often a legitimate client is still
// answered meanwhile (a benchmark, not a test).
//   slowloris: N connections that each send a request head one byte every 2 s, never ending it;
//   slowread:  N connections that each ask for a large file and never read the answer.
// Closed attackers reconnect (at most one reconnect per attacker per 100 ms). The legitimate client
// asks for a page every 100 ms on a fresh connection and counts a complete "200" answer within
// 5 s as a success; failures are counted by kind. Everything stays on 127.0.0.0/8 and is bounded
// in count and time.
// Usage: web_load_bench --port P --mode slowloris|slowread [--connections N] [--seconds S]
//                       [--page /spykee] [--file /images/big.jpg] [--from 127.0.0.2]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int port = 0;
  std::string mode = "slowloris";
  int connections = 100;
  int seconds = 20;
  std::string page = "/spykee";
  std::string file = "/images/big.jpg";
  std::string from = "127.0.0.2";  // the attackers' address; the legitimate client is 127.0.0.1
};

bool loopback(const std::string& address) {
  return address.rfind("127.", 0) == 0;
}

int connectFrom(const std::string& from, int port, bool blocking, int receiveBuffer) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (receiveBuffer > 0) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    ::close(fd);
    return -1;
  }
  if (!blocking) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0 &&
      errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  return fd;
}

struct Attacker {
  int fd = -1;
  std::size_t sent = 0;  // bytes of the request head sent (slowloris)
  Clock::time_point next{};
};

void attack(const Options& o, const std::atomic<bool>& stop) {
  const std::string head = "GET " + o.page + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-a: ";
  const std::string slowRead = "GET " + o.file + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  std::vector<Attacker> attackers(static_cast<std::size_t>(o.connections));
  std::vector<pollfd> fds;
  while (!stop) {
    const auto now = Clock::now();
    for (Attacker& a : attackers) {
      if (a.fd < 0 && now >= a.next) {
        a.fd = connectFrom(o.from, o.port, false, o.mode == "slowread" ? 4096 : 0);
        a.sent = 0;
        a.next = now + std::chrono::milliseconds(o.mode == "slowread" ? 200 : 0);
      }
      if (a.fd < 0 || now < a.next) continue;
      if (o.mode == "slowread") {
        if (a.sent == 0 && ::send(a.fd, slowRead.data(), slowRead.size(), MSG_NOSIGNAL) ==
                               static_cast<ssize_t>(slowRead.size())) {
          a.sent = slowRead.size();
        }
      } else {
        const char byte = a.sent < head.size() ? head[a.sent] : 'x';
        if (::send(a.fd, &byte, 1, MSG_NOSIGNAL) == 1) ++a.sent;
        a.next = now + std::chrono::seconds(2);
      }
    }
    // Notice closes (a slow reader never reads, so only a hang-up or an error counts).
    fds.clear();
    for (const Attacker& a : attackers) fds.push_back({a.fd, POLLRDHUP, 0});
    ::poll(fds.data(), fds.size(), 50);
    for (std::size_t i = 0; i < attackers.size(); ++i) {
      Attacker& a = attackers[i];
      if (a.fd >= 0 && (fds[i].revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
        if (o.mode == "slowloris") {
          char sink[4096];
          while (::recv(a.fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
          }
        }
        ::close(a.fd);
        a.fd = -1;
        a.next = Clock::now() + std::chrono::milliseconds(100);
      }
    }
  }
  for (Attacker& a : attackers) {
    if (a.fd >= 0) ::close(a.fd);
  }
}

// Why legitimate tries failed: they point at different causes (a full accept queue, an evicted
// or refused connection, a server too busy to answer in time, a wrong answer).
struct Failures {
  int connect = 0, closedUnanswered = 0, late = 0, wrong = 0;
};

// One request on a fresh connection: a complete "200" answer within 5 s.
bool legitimate(const Options& o, Failures& failures) {
  const int fd = connectFrom("127.0.0.1", o.port, true, 0);
  if (fd < 0) {
    ++failures.connect;
    return false;
  }
  timeval wait{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  const std::string request = "GET " + o.page + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  std::string answer;
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
      static_cast<ssize_t>(request.size())) {
    char buffer[16384];
    while (Clock::now() < deadline) {
      const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      answer.append(buffer, static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
  const std::size_t head = answer.find("\r\n\r\n");
  const std::size_t length = answer.find("Content-Length: ");
  if (Clock::now() > deadline) {
    ++failures.late;
    return false;
  }
  if (answer.empty()) {
    ++failures.closedUnanswered;
    return false;
  }
  if (answer.rfind("HTTP/1.1 200", 0) != 0 || head == std::string::npos ||
      length == std::string::npos ||
      answer.size() - head - 4 != std::strtoul(answer.c_str() + length + 16, nullptr, 10)) {
    ++failures.wrong;
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--port") o.port = std::atoi(value.c_str());
    if (name == "--mode") o.mode = value;
    if (name == "--connections") o.connections = std::atoi(value.c_str());
    if (name == "--seconds") o.seconds = std::atoi(value.c_str());
    if (name == "--page") o.page = value;
    if (name == "--file") o.file = value;
    if (name == "--from") o.from = value;
  }
  if (o.port <= 0 || o.port > 65535 || (o.mode != "slowloris" && o.mode != "slowread") ||
      o.connections < 1 || o.connections > 1000 || o.seconds < 1 || o.seconds > 600 ||
      !loopback(o.from)) {
    std::fprintf(stderr,
                 "usage: web_load_bench --port P --mode slowloris|slowread [--connections 1..1000]"
                 " [--seconds 1..600] [--page P] [--file F] [--from 127.x.y.z]\n");
    return 2;
  }
  std::atomic<bool> stop{false};
  std::thread attackers([&] { attack(o, stop); });
  std::this_thread::sleep_for(std::chrono::seconds(3));  // let them take their places
  int tries = 0;
  int answered = 0;
  Failures failures;
  const auto end = Clock::now() + std::chrono::seconds(o.seconds);
  while (Clock::now() < end) {
    ++tries;
    if (legitimate(o, failures)) ++answered;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  stop = true;
  attackers.join();
  std::printf(
      "%s x%d from %s: legitimate client answered %d of %d (%.1f %%); failed: %d not connected, "
      "%d closed unanswered, %d late, %d wrong answer\n",
      o.mode.c_str(), o.connections, o.from.c_str(), answered, tries,
      100.0 * answered / std::max(1, tries), failures.connect, failures.closedUnanswered,
      failures.late, failures.wrong);
  return 0;
}
