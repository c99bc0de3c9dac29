#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devices/devices.h"
#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_settings.h"
#include "platform/host_resolver.h"
#include "platform/platform.h"
#include "robot/robot_state.h"
#include "settings/services.h"

namespace rovalink::mqtt {

// The robot on an MQTT bus beside xAP: availability, Home Assistant discovery, one retained state
// per device, /set commands handed to the BSC command handling, camera frames. The client's
// socket and keep-alive run on the program's one event loop. A broker that is down or goes away
// is retried with a doubling delay; the xAP side never waits for it.
class MqttBridge {
 public:
  // HandleBscCommand (target, ID, State, Text) of the BSC handling.
  using CommandFn = std::function<void(const std::string& target, const std::string& ID,
                                       const std::string& State, const std::string& Text)>;
  struct Wiring {
    platform::Platform& platform;
    settings::Services& services;  // LogEvent
    const devices::Devices& devices;
    const robot::RobotState& robot;  // what the robot has reported; the link status
    CommandFn command;
    std::string xapSource;  // the part before ":" of the targets handed to command
    std::string version;
  };

  static constexpr int kFirstRetryMs = 1000;
  static constexpr int kMaxRetryMs = 60000;
  static constexpr int kMiscIntervalMs = 1000;  // keep-alive and time-outs of the client
  // At most one event per period about ignored commands; the rest are counted.
  static constexpr int kRejectEventMs = 1000;
  // A name server that does not answer counts as a failed attempt after this.
  static constexpr int kLookupTimeoutMs = 15000;

  MqttBridge(Wiring wiring, MqttSettings settings, std::unique_ptr<MqttClient> client,
             std::unique_ptr<platform::HostResolver> resolver);
  ~MqttBridge();
  MqttBridge(const MqttBridge&) = delete;
  MqttBridge& operator=(const MqttBridge&) = delete;

  // The first connection attempt; it does not wait for the broker.
  void start();
  // Orderly end: "offline" published, disconnected, no more retries.
  void stop();

  // A device state report (from the status reporter).
  void onReport(const std::string& deviceName);
  // A complete video frame; the latest one goes out at CameraFps.
  void onFrame(std::string_view jpeg);

  bool connected() const { return m_state == State::Connected; }
  // The delay before the next attempt once the current one fails.
  int nextRetryMs() const { return m_retryMs; }

 private:
  enum class State { Idle, Resolving, Connecting, Connected, Waiting, Stopped };
  enum class Reported { Nothing, Up, Down };

  void connect();
  void onResolved(const std::string& address, const std::string& error);
  void onConnected(int rc, const std::string& reason);
  void onDisconnected(const std::string& reason);
  void onMessage(const std::string& topic, const std::string& payload, bool retained);
  void publishRobot();
  void failed(const std::string& reason);
  void serviceSocket(int (MqttClient::*call)());
  void updateWriteWatch();
  void publishAll();
  void publishState(std::size_t index);
  // Publishes every state whose payload changed, and the reported device's in any case.
  void catchUp(const std::string& reportedName);
  void publishFrame();
  void rejectSet(const std::string& topic, const std::string& reason);
  void event(const std::string& text);
  std::string brokerText() const;

  Wiring m_wiring;
  MqttSettings m_settings;
  std::unique_ptr<MqttClient> m_client;
  std::unique_ptr<platform::HostResolver> m_resolver;
  std::unique_ptr<platform::Timer> m_lookupTimer;
  std::unique_ptr<platform::FdWatch> m_watch;
  std::unique_ptr<platform::Timer> m_miscTimer;
  std::unique_ptr<platform::Timer> m_retryTimer;
  std::unique_ptr<platform::Timer> m_cameraTimer;
  std::unique_ptr<platform::Timer> m_rejectTimer;
  int m_rejectsUnreported = 0;

  bool m_inClient = false;  // inside a client call (and so maybe inside one of its callbacks)
  State m_state = State::Idle;
  Reported m_reported = Reported::Nothing;
  int m_retryMs = kFirstRetryMs;
  std::string m_refusal;  // why the broker refused the last CONNECT
  bool m_retainedCommandTold = false;
  bool m_twinChecked = false;    // the first message on our availability topic has been seen
  std::string m_robotPublished;  // robot availability and link status as last published

  // What each device's retained state says, by table position, so silent changes (the LEDs
  // turned off by docking, the first battery level) are caught up with the next report.
  std::vector<std::string> m_published;
  std::string m_frame;
  bool m_frameNew = false;
};

}  // namespace rovalink::mqtt
