#pragma once

#include <string>

#include "mqtt/mosquitto_library.h"
#include "mqtt/mqtt_client.h"

namespace rovalink::mqtt {

// MqttClient on libmosquitto without its network thread: the caller's event loop drives the
// socket (loopRead/loopWrite/loopMisc). MQTT 5 first, asking the broker for packets of at most
// kMaxPacketBytes; 3.1.1 from the first refusal of the version on.
class MosquittoClient : public MqttClient {
 public:
  static constexpr int kKeepAliveSeconds = 30;
  // Packets handled per readable notification before other events get their turn.
  static constexpr int kMaxPacketsPerRead = 64;
  static constexpr int kMaxPacketBytes = 64 * 1024;

  MosquittoClient();
  ~MosquittoClient() override;
  MosquittoClient(const MosquittoClient&) = delete;
  MosquittoClient& operator=(const MosquittoClient&) = delete;

  void setCallbacks(Callbacks callbacks) override { m_callbacks = std::move(callbacks); }
  bool configure(const MqttSettings& settings, const std::string& willTopic,
                 const std::string& willPayload, std::string& error) override;
  bool connectAsync(const std::string& address, int port, std::string& error) override;
  int socket() const override;
  bool wantWrite() const override;
  int loopRead() override;
  int loopWrite() override;
  int loopMisc() override;
  bool publish(const std::string& topic, const std::string& payload, bool retain, int qos) override;
  bool subscribe(const std::string& pattern) override;
  void disconnect() override;

 private:
  static void onConnect(mosquitto*, void* self, int rc);
  static void onDisconnect(mosquitto*, void* self, int rc);
  static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
  std::string errorText(int rc) const;
  void setConnectProperties(bool withMaxPacketSize);

  MosquittoLibrary m_lib;
  mosquitto* m_mosq = nullptr;
  Callbacks m_callbacks;
  bool m_v5 = true;
  bool m_withProperties = false;
};

}  // namespace rovalink::mqtt
