#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "xap/xap_message.h"

namespace rovalink::test {

// The local xAP hub as the program meets it on the simulated network: it hears what the program
// sends to the bus port and, like a real hub, forwards to the private port that the program's
// heartbeats announce.
class FakeXapHub {
 public:
  FakeXapHub(platform::SimPlatform& sim, const std::string& address, std::uint16_t busPort)
      : m_socket(sim.createUdpSocket()) {
    m_socket->bind(address, busPort);
    m_socket->onDatagram([this](const platform::Datagram& d) {
      heard.push_back(d.data);
      if (d.data.rfind("xap-hbeat\n", 0) == 0) {
        heartbeats.push_back(d.data);
        const std::string port = lineValue(d.data, "port");
        if (!port.empty()) m_programPort = static_cast<std::uint16_t>(std::stoi(port));
      }
      if (onHeard) onHeard(d.data);
    });
  }

  // Parsed messages of one class (compared without regard to case), in arrival order.
  std::vector<xap::XapMessage> messagesOfClass(const std::string& msgClass) const {
    std::vector<xap::XapMessage> found;
    for (const std::string& text : heard) {
      xap::XapMessage message(nullptr);
      message.FromXap(text);
      if (message.CompareClass(msgClass)) found.push_back(std::move(message));
    }
    return found;
  }

  // The "Data" items of the program's Homeseer.Event log events.
  std::vector<std::string> eventData() const {
    std::vector<std::string> data;
    for (const auto& m : messagesOfClass("Homeseer.Event")) {
      data.push_back(m.GetItem("event.log", "Data"));
    }
    return data;
  }

  // Status events of one device, as "State Text" lines in arrival order.
  std::vector<std::string> deviceEvents(const std::string& deviceName) const {
    std::vector<std::string> events;
    for (const auto& m : messagesOfClass("xapBSC.Event")) {
      if (m.msgSource().find(":spykee." + deviceName + ".") == std::string::npos) continue;
      const std::string section =
          m.GetItem("input.state", "State") != "Unknown" ? "input.state" : "output.state";
      events.push_back(m.GetItem(section, "State") + " " + m.GetItem(section, "Text"));
    }
    return events;
  }

  // Forwards a bus message to the program's private port.
  bool forward(const std::string& text) {
    return m_programPort != 0 && m_socket->sendTo("127.0.0.1", m_programPort, text);
  }

  // The value of the first "name=value" line of a message text; empty when there is none.
  static std::string lineValue(const std::string& text, const std::string& name) {
    const std::string key = "\n" + name + "=";
    const auto at = text.find(key);
    if (at == std::string::npos) return {};
    const auto start = at + key.size();
    return text.substr(start, text.find('\n', start) - start);
  }

  std::vector<std::string> heard;
  std::vector<std::string> heartbeats;
  // Called with each datagram heard, while the program is still inside its send.
  std::function<void(const std::string&)> onHeard;

 private:
  std::unique_ptr<platform::UdpSocket> m_socket;
  std::uint16_t m_programPort = 0;
};

}  // namespace rovalink::test
