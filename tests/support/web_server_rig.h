#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "settings/hs.h"
#include "settings/recording_services.h"
#include "settings/test_folder.h"
#include "web/server/tcp_server.h"

namespace rovalink::test {

// One client connection to the web server on the simulated network, recording what it gets.
struct WebClient {
  std::unique_ptr<platform::TcpSocket> socket;
  std::vector<std::string> chunks;
  std::vector<double> chunkTimesMs;  // virtual arrival time of each chunk
  std::string data;
  bool connected = false;
  bool closed = false;

  void send(const std::string& text) { socket->send(text); }
};

// The HTTP listener alone on the simulated platform, over a fresh application folder whose
// qbtRovalink.ini holds the given [SPYKEE] and [Settings] lines. The local date is 7 Dec 2026.
class WebServerRig {
 public:
  static constexpr std::uint16_t kPort = 8029;

  explicit WebServerRig(const std::string& spykeeLines = "ServerPort=8029\r\n",
                        const std::string& settingsLines = "") {
    testing::writeFile(folder.file("Config/qbtRovalink.ini"),
                       "[SPYKEE]\r\n" + spykeeLines + "[Settings]\r\n" + settingsLines);
    settings.setAppPath(folder.path().string());
    sim.setLocalDateTime({2026, 12, 7, 1, 59, 6});
  }

  // A file below the server's html folder.
  std::string htmlFile(const std::string& relative, const std::string& content) {
    const std::string path = folder.file("html/" + relative);
    testing::writeFile(path, content);
    return path;
  }

  // Connects a client from the loopback address; runs until the connection is made (or fails).
  std::unique_ptr<WebClient> connect(std::uint16_t port = kPort) {
    auto client = std::make_unique<WebClient>();
    WebClient* c = client.get();
    c->socket = sim.createTcpSocket();
    c->socket->onConnect([c] { c->connected = true; });
    c->socket->onClose([c] { c->closed = true; });
    c->socket->onError([c](int, const std::string&) { c->closed = true; });
    c->socket->onData([this, c](std::string_view bytes) {
      c->chunks.emplace_back(bytes);
      c->chunkTimesMs.push_back(sim.nowMs());
      c->data += bytes;
    });
    c->socket->connect("127.0.0.1", port);
    sim.runUntil([c] { return c->connected || c->closed; }, 1000);
    return client;
  }

  // Sends one request on a fresh connection and returns everything received until the server
  // closed the connection (or 30 s of virtual time passed).
  std::string fetch(const std::string& request) {
    auto client = connect();
    client->send(request);
    sim.runUntil([&] { return client->closed; }, 30000);
    return client->data;
  }

  platform::SimPlatform sim;
  testing::TestFolder folder;
  testing::RecordingServices services;
  settings::hs settings{services};
  web::TCPServer server{{sim, settings, services}};
};

}  // namespace rovalink::test
