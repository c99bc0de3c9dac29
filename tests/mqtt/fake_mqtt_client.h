#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_settings.h"
#include "platform/host_resolver.h"

namespace rovalink::mqtt::testing {

// A broker connection on paper: the test decides what each loop call brings (the next CONNACK,
// messages, a lost connection) and reads what was published.
class FakeMqttClient : public MqttClient {
 public:
  struct Published {
    std::string topic, payload;
    bool retain;
    int qos;
  };
  struct Shared {
    std::vector<Published> published;
    std::vector<std::string> subscribed;
    std::vector<std::string> calls;  // "connect", "read", "write", "misc", "disconnect"
    bool refuseConnect = false;      // connectAsync fails at once (broker down)
    bool wantWrite = false;
    std::function<void()> onRead;  // what the next loopRead delivers
    std::function<void()> onConnectAttempt;
    Callbacks callbacks;
    std::string willTopic, willPayload;
    int socket = -1;
    int nextSocket = 40;
    int depth = 0;           // client calls in progress
    bool reentered = false;  // a loop call was made inside another
  };

  explicit FakeMqttClient(Shared& shared) : m_s(shared) {}

  void setCallbacks(Callbacks callbacks) override { m_s.callbacks = std::move(callbacks); }
  bool configure(const MqttSettings&, const std::string& willTopic, const std::string& willPayload,
                 std::string&) override {
    m_s.willTopic = willTopic;
    m_s.willPayload = willPayload;
    return true;
  }
  bool connectAsync(const std::string& address, int, std::string& error) override {
    m_s.calls.push_back("connect " + address);
    if (m_s.onConnectAttempt) m_s.onConnectAttempt();
    if (m_s.refuseConnect) {
      error = "Connection refused";
      return false;
    }
    m_s.socket = m_s.nextSocket++;
    return true;
  }
  int socket() const override { return m_s.socket; }
  bool wantWrite() const override { return m_s.wantWrite; }
  int loopRead() override {
    m_s.calls.push_back("read");
    m_s.reentered |= m_s.depth > 0;
    ++m_s.depth;
    if (auto deliver = std::exchange(m_s.onRead, nullptr)) deliver();
    --m_s.depth;
    return 0;
  }
  int loopWrite() override {
    m_s.calls.push_back("write");
    m_s.wantWrite = false;
    return 0;
  }
  int loopMisc() override {
    m_s.calls.push_back("misc");
    return 0;
  }
  bool publish(const std::string& topic, const std::string& payload, bool retain,
               int qos) override {
    m_s.published.push_back({topic, payload, retain, qos});
    return true;
  }
  bool subscribe(const std::string& pattern) override {
    m_s.subscribed.push_back(pattern);
    return true;
  }
  void disconnect() override { m_s.calls.push_back("disconnect"); }

  // The socket closes as libmosquitto closes it: descriptor gone, then the callback.
  static void lose(Shared& s, const std::string& reason) {
    s.socket = -1;
    s.callbacks.onDisconnect(7, reason);
  }

 private:
  Shared& m_s;
};

// A name server on paper: names in the table answer at once (as a cached lookup would), any
// other name stays unanswered.
class FakeHostResolver : public platform::HostResolver {
 public:
  struct Shared {
    std::map<std::string, std::string> table{{"broker", "10.0.0.2"}};
    std::string pending;  // the name being looked up, "" when none
    int cancels = 0;
  };
  explicit FakeHostResolver(Shared& shared) : m_s(shared) {}
  void resolve(const std::string& host, Handler handler) override {
    if (const auto found = m_s.table.find(host); found != m_s.table.end()) {
      handler(found->second, "");
      return;
    }
    m_s.pending = host;
  }
  void cancel() override {
    if (!m_s.pending.empty()) ++m_s.cancels;
    m_s.pending.clear();
  }

 private:
  Shared& m_s;
};

// The settings of the robot "lab" on the host "broker", as the MQTT tests use them.
inline MqttSettings labSettings(int cameraFps = 2) {
  MqttSettings s;
  s.instance = "lab";
  s.host = "broker";
  s.baseTopic = "rovalink/lab";
  s.discoveryPrefix = "homeassistant";
  s.cameraFps = cameraFps;
  return s;
}

}  // namespace rovalink::mqtt::testing
