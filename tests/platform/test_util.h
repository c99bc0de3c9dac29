#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event_loop.h"
#include "platform/tcp_socket.h"

namespace rovalink::platform {

using Strings = std::vector<std::string>;

inline std::unique_ptr<Timer> startTimer(EventLoop& loop, int intervalMs,
                                         std::function<void()> onTick) {
  auto t = loop.createTimer();
  t->setInterval(intervalMs);
  t->onTick(std::move(onTick));
  t->setEnabled(true);
  return t;
}

// Records the events of one TCP socket, each with the state seen when it was raised
// ("connect (7)", "error 10061 Connection refused (9)"), and the received chunks.
struct TcpRecorder {
  std::vector<std::string> events;
  std::vector<std::string> chunks;
  std::string data;        // the chunks joined
  bool errorTexts = true;  // off where the text comes from the system

  void attach(TcpSocket& socket) {
    socket.onConnect([this, &socket] { add("connect", socket); });
    socket.onClose([this, &socket] { add("close", socket); });
    socket.onSendComplete([this, &socket] { add("sendComplete", socket); });
    socket.onData([this](std::string_view bytes) {
      chunks.emplace_back(bytes);
      data += bytes;
    });
    socket.onError([this, &socket](int code, const std::string& text) {
      add("error " + std::to_string(code) + (errorTexts ? " " + text : ""), socket);
    });
  }
  void add(const std::string& what, const TcpSocket& socket) {
    events.push_back(what + " (" + std::to_string(static_cast<int>(socket.state())) + ")");
  }
};

}  // namespace rovalink::platform
