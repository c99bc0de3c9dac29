#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_tcp_socket.h"

namespace rovalink::robot::test {

// A robot on the simulated network: answers discovery, accepts one control connection, cuts
// what it receives into packets and answers the login the way it is told to.
class SimRobot {
 public:
  enum class LoginAnswer { Accept, Refuse, RefuseOnceThenAccept, Silent };

  struct Packet {
    int type;
    std::string payload;
    double atMs;  // virtual time of arrival
  };

  SimRobot(platform::SimPlatform& sim, std::string address = "192.168.1.50",
           std::uint16_t port = 9000, bool listen = true)
      : m_sim(sim),
        m_address(std::move(address)),
        m_udp(sim.createUdpSocket()),
        m_listener(sim.createTcpListener()) {
    m_udp->bind(m_address, port);
    m_udp->onDatagram([this](const platform::Datagram& d) {
      discoveries.push_back(d);
      if (answerDiscovery) m_udp->sendTo(d.senderAddress, d.senderPort, "DSCV\x02sim");
    });
    if (listen) startListening(port);
  }

  void startListening(std::uint16_t port) {
    m_listener->listen(m_address, port);
    m_listener->onConnectionRequest([this](int id) {
      if (m_socket && m_socket->state() == platform::SocketState::Connected) return;
      m_socket = m_sim.createTcpSocket();
      m_socket->onData([this](std::string_view data) { onData(data); });
      m_socket->onClose([this] { ++closes; });
      m_listener->accept(*m_socket, id);
      connectTimesMs.push_back(m_sim.nowMs());
      clientPorts.push_back(m_socket->remotePort());
    });
  }

  // A discovery reply sent by hand (with answerDiscovery off), to order replies in time.
  void replyToDiscovery() {
    const auto& d = discoveries.at(0);
    m_udp->sendTo(d.senderAddress, d.senderPort, "DSCV\x02sim");
  }

  void send(std::string_view bytes) {
    if (m_socket) m_socket->send(bytes);
  }
  void closeConnection() {
    if (m_socket) m_socket->close();
  }
  // A reset instead of an orderly close: the program sees a socket error.
  void abortConnection() {
    if (auto* socket = dynamic_cast<platform::SimTcpSocket*>(m_socket.get())) socket->abort();
  }
  bool connected() const {
    return m_socket && m_socket->state() == platform::SocketState::Connected;
  }

  std::vector<int> types() const {
    std::vector<int> t;
    for (const auto& p : packets) t.push_back(p.type);
    return t;
  }

  bool answerDiscovery = true;
  LoginAnswer loginAnswer = LoginAnswer::Accept;
  std::uint8_t dockByte = 1;  // third byte from the end of an accepting reply
  std::vector<platform::Datagram> discoveries;
  std::vector<Packet> packets;
  std::vector<double> connectTimesMs;
  std::vector<std::uint16_t> clientPorts;
  int closes = 0;
  int loginsSeen = 0;

 private:
  void onData(std::string_view data) {
    m_inbound.append(data);
    while (m_inbound.size() >= 5) {
      const std::size_t length =
          static_cast<std::uint8_t>(m_inbound[3]) * 256u + static_cast<std::uint8_t>(m_inbound[4]);
      if (m_inbound.size() < 5 + length) break;
      Packet packet{static_cast<std::uint8_t>(m_inbound[2]), m_inbound.substr(5, length),
                    m_sim.nowMs()};
      m_inbound.erase(0, 5 + length);
      packets.push_back(packet);
      if (packet.type == 10) answerLogin();
    }
  }

  void answerLogin() {
    ++loginsSeen;
    const bool accept = loginAnswer == LoginAnswer::Accept ||
                        (loginAnswer == LoginAnswer::RefuseOnceThenAccept && loginsSeen > 1);
    if (loginAnswer == LoginAnswer::Silent) return;
    if (accept) {
      send(std::string("PK\x0B\x00\x06\x01\x00\x00", 8) + static_cast<char>(dockByte) +
           std::string("\x00\x00", 2));
    } else {
      send(std::string("PK\x0B\x00\x02\x00\x00", 7));
    }
  }

  platform::SimPlatform& m_sim;
  std::string m_address;
  std::unique_ptr<platform::UdpSocket> m_udp;
  std::unique_ptr<platform::TcpListener> m_listener;
  std::unique_ptr<platform::TcpSocket> m_socket;
  std::string m_inbound;
};

}  // namespace rovalink::robot::test
