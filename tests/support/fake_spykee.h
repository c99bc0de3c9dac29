#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "robot/fakes.h"

namespace rovalink::test {

// A Spykee robot on the simulated network, as the whole program meets it: it answers the
// discovery broadcast, accepts the control connection, cuts what it receives into packets,
// answers a login with an accepting reply (or a refusing one when told) and sends telemetry when
// told to.
class FakeSpykee {
 public:
  struct Packet {
    int type;
    std::string payload;
    double atMs;  // virtual time of arrival
  };

  FakeSpykee(platform::SimPlatform& sim, std::string address, std::uint16_t port)
      : m_sim(sim),
        m_address(std::move(address)),
        m_udp(sim.createUdpSocket()),
        m_listener(sim.createTcpListener()) {
    m_udp->bind(m_address, port);
    m_udp->onDatagram([this](const platform::Datagram& d) {
      discoveries.push_back(d.data);
      if (onDiscovery) onDiscovery();
      if (answerDiscovery) m_udp->sendTo(d.senderAddress, d.senderPort, "DSCV\x02spykee");
    });
    m_listener->listen(m_address, port);
    m_listener->onConnectionRequest([this](int id) {
      m_socket = m_sim.createTcpSocket();
      m_socket->onData([this](std::string_view data) { receive(data); });
      m_socket->onClose([this] { ++closes; });
      m_listener->accept(*m_socket, id);
      m_inbound.clear();
      clientPorts.push_back(m_socket->remotePort());
    });
  }

  bool connected() const {
    return m_socket && m_socket->state() == platform::SocketState::Connected;
  }

  // One packet per send: the program reads one header per received chunk.
  void sendPacket(int type, std::string_view payload) {
    if (m_socket) m_socket->send(robot::test::packet(type, payload));
  }
  void sendFrame(std::string_view jpeg) { sendPacket(2, jpeg); }
  void sendBattery(int level) { sendPacket(3, std::string(1, static_cast<char>(level))); }
  // 2 means docked.
  void sendDockStatus(int status) { sendPacket(16, std::string(1, static_cast<char>(status))); }

  std::vector<Packet> packetsOfType(int type) const {
    std::vector<Packet> found;
    for (const Packet& p : packets) {
      if (p.type == type) found.push_back(p);
    }
    return found;
  }

  bool answerDiscovery = true;
  // Third byte from the end of the login reply: 0 docked, 1 not docked.
  std::uint8_t loginDockByte = 1;
  bool refuseLogin = false;
  std::function<void()> onDiscovery;

  std::vector<std::string> discoveries;
  std::vector<Packet> packets;
  std::vector<std::uint16_t> clientPorts;
  int closes = 0;

 private:
  void receive(std::string_view data) {
    m_inbound.append(data);
    while (m_inbound.size() >= 5) {
      const std::size_t length =
          static_cast<std::uint8_t>(m_inbound[3]) * 256u + static_cast<std::uint8_t>(m_inbound[4]);
      if (m_inbound.size() < 5 + length) return;
      packets.push_back(
          {static_cast<std::uint8_t>(m_inbound[2]), m_inbound.substr(5, length), m_sim.nowMs()});
      m_inbound.erase(0, 5 + length);
      if (packets.back().type == 10 && refuseLogin) {
        sendPacket(11, std::string(2, '\0'));  // 7 bytes in all: refused
      } else if (packets.back().type == 10) {
        // An accepting reply is longer than 10 bytes; its dock byte is third from the end.
        std::string reply("\x01\x00\x00\x00\x00\x00", 6);
        reply[3] = static_cast<char>(loginDockByte);
        sendPacket(11, reply);
      }
    }
  }

  platform::SimPlatform& m_sim;
  std::string m_address;
  std::unique_ptr<platform::UdpSocket> m_udp;
  std::unique_ptr<platform::TcpListener> m_listener;
  std::unique_ptr<platform::TcpSocket> m_socket;
  std::string m_inbound;
};

}  // namespace rovalink::test
