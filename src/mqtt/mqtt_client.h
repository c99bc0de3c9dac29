#pragma once

#include <functional>
#include <string>

#include "mqtt/mqtt_settings.h"
#include "mqtt/set_command.h"

namespace rovalink::mqtt {

// The few calls the bridge makes of an MQTT client library that leaves the socket to its caller:
// the caller watches socket() and calls loopRead/loopWrite when it is ready and loopMisc
// periodically (keep-alive). The real one wraps libmosquitto; tests use a fake.
class MqttClient {
 public:
  struct Callbacks {
    std::function<void(int rc, const std::string& reason)> onConnect;  // CONNACK; rc 0 = accepted
    std::function<void(int rc, const std::string& reason)> onDisconnect;  // socket closed
    // A payload longer than kMaxPayloadBytes arrives cut to kMaxPayloadBytes + 1 bytes, so the
    // receiver sees it is too long without holding all of it twice.
    std::function<void(const std::string& topic, const std::string& payload, bool retained)>
        onMessage;
  };

  virtual ~MqttClient() = default;

  virtual void setCallbacks(Callbacks callbacks) = 0;
  // Credentials, TLS and the last will; false with a reason when the library refuses them.
  virtual bool configure(const MqttSettings& settings, const std::string& willTopic,
                         const std::string& willPayload, std::string& error) = 0;
  // Starts a connection to a numeric address without waiting for it; socket() is valid after a
  // true return. Host names are looked up before (HostResolver): the library's own lookup blocks.
  virtual bool connectAsync(const std::string& address, int port, std::string& error) = 0;
  virtual int socket() const = 0;  // -1 when there is none
  virtual bool wantWrite() const = 0;
  // 0 when all is well; otherwise the connection is closed (onDisconnect has been called).
  virtual int loopRead() = 0;
  virtual int loopWrite() = 0;
  virtual int loopMisc() = 0;

  virtual bool publish(const std::string& topic, const std::string& payload, bool retain,
                       int qos) = 0;
  virtual bool subscribe(const std::string& pattern) = 0;
  // An orderly end (the broker then does not publish the will).
  virtual void disconnect() = 0;
};

}  // namespace rovalink::mqtt
