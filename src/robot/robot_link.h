#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "commands/command_dispatcher.h"
#include "devices/device_table.h"
#include "devices/devices.h"
#include "platform/main_window_model.h"
#include "platform/platform.h"
#include "platform/ui_port.h"
#include "robot/robot_chunk_parser.h"
#include "robot/robot_connection.h"
#include "robot/robot_procedures.h"
#include "robot/robot_state.h"
#include "settings/hs.h"
#include "settings/services.h"

namespace rovalink::robot {

// The robot link: discovery, the TCP control connection and its bounded waits, the login
// sequence, the receive drain and the frame file. Owns both robot sockets and the connection
// state; runs the command procedures for the dispatcher.
class RobotLink : public RobotConnection, public commands::ProcedureRunner {
 public:
  static constexpr int kPauseBeforeConnectMs = 1000;
  static constexpr int kConnectWaitMs = 30000;
  static constexpr int kLoginWaitMs = 10000;
  static constexpr int kEventTimerMs = 5;
  // One datagram on Wi-Fi is easily lost: discovery asks again this often during its wait.
  static constexpr int kDiscoveryResendMs = 2000;
  static constexpr int kDiscoveryProgressMs = 10000;
  // A refused login is tried again after 10 s, then after twice the last wait, up to 5 min.
  static constexpr int kFirstLoginRetryMs = 10000;
  static constexpr int kMaxLoginRetryMs = 300000;
  // [SPYKEE] Reconnect: seconds between reconnects after the robot was lost; 0 reconnects only
  // when a command needs the robot.
  static constexpr int kDefaultReconnectSeconds = 10;
  static constexpr int kFirstLocalPort = 32868;
  static constexpr int kLocalPortTries = 200;
  static constexpr std::uint16_t kDefaultRobotPort = 9000;
  static constexpr std::string_view kDefaultDiscoveryAddress = "255.255.255.255";
  static constexpr std::string_view kFrameFileName = "Video0.jpg";
  // Different addresses that answer discovery after the robot was chosen are each published
  // once, up to this many, so a flood of forged replies cannot flood the bus.
  static constexpr std::size_t kMaxOtherReplyWarnings = 10;

  struct Wiring {
    platform::Platform& platform;
    settings::hs& settings;
    settings::Services& services;  // LogError, LogEvent
    platform::UiPort& ui;          // message boxes
    commands::CommandDispatcher& dispatcher;
    devices::Devices& devices;
    RobotProcedures::ReportStatusFn reportStatus;
    devices::RobotCredentials& credentials;
    platform::MainWindowModel& window;
    RobotState& state;
    std::string frameFolder;  // Data/xapqbtSpykee below the application folder
  };

  explicit RobotLink(Wiring wiring);
  ~RobotLink() override;
  RobotLink(const RobotLink&) = delete;
  RobotLink& operator=(const RobotLink&) = delete;

  // Called with the frame file's path after a frame was written (the video window shows it).
  void setFrameViewer(std::function<void(const std::string& path)> viewer) {
    m_frameViewer = std::move(viewer);
  }
  // Called once per change of RobotState::Status, after the change.
  void addStatusListener(std::function<void(LinkStatus)> listener) {
    m_statusListeners.push_back(std::move(listener));
  }
  // Called with every complete video frame (a JPEG image), shown or not.
  void setFrameListener(std::function<void(std::string_view jpeg)> listener) {
    m_frameListener = std::move(listener);
  }

  // Start-up: local ports, discovery, the control socket, no-delay mode, the first connect.
  // False after the message box when the program must end ("Unable to Bind to Windows Socket",
  // "Spykee not found").
  bool Start();

  // Shutdown: both sockets closed.
  void Shutdown();

  // First free local port from 32868 (200 tries), left bound; -1 when none.
  int ChooseLocalPort(platform::UdpSocket& socket);
  int ChooseLocalPort(platform::TcpSocket& socket);

  // Makes sure the control connection is up (connect or reset wait); true when connected.
  bool SpykeeConnect();
  void WaitForLogin();

  // RobotConnection
  void SendToRobot(std::string_view packet) override;
  void LoginSequenceRun() override;
  void ConnectedOn() override;
  void ConnectedOff() override;

  // commands::ProcedureRunner: the command procedures' table.
  bool runProcedure(const commands::Command& command) override;

  // The main window's direct calls.
  void CloseConnection();
  void PlaySound(int index) { m_procedures.PlaySound(index); }
  void SetSpeed(int value) { m_procedures.SetSpeed(value); }
  platform::SocketState ConnectionState() const { return m_Winsock1->state(); }

  RobotProcedures& procedures() { return m_procedures; }
  const std::string& RobotAddress() const { return m_RobotAddress; }
  bool RobotConnected() const { return m_RobotConnected; }
  bool RobotClosed() const { return m_RobotClosed; }
  bool ReceiveBusy() const { return m_ReceiveBusy; }
  std::size_t ReceiveQueueSize() const { return m_ReceiveQueue.size(); }
  const RobotChunkParser& parser() const { return m_parser; }
  std::uint16_t robotPort() const { return m_robotPort; }
  int reconnectSeconds() const { return m_reconnectSeconds; }
  std::string frameFilePath() const;

  // The receive drain (the EventTimer tick); public so a caller may drain at once.
  void DrainReceiveQueue();

 private:
  void readSettings();
  void connectWait();
  void resetWait();
  // Pumps events while the timer runs and done() is false.
  void waitWhile(platform::Timer& timer, const std::function<bool()>& done);
  void restart(platform::Timer& timer, int ms);

  void dropConnectLogin();
  void setStatus(LinkStatus status);
  // The connection is gone or could not be made: says so and arms the reconnect.
  void linkLost();
  void onLoginReply(bool accepted);
  void onDiscoveryTimer();
  void onReconnectTimer();
  bool sendDiscovery();
  void onDiscoveryReply(const platform::Datagram& datagram);
  void onSocketError(const char* socketName, int code, const std::string& description);
  void onConnect();
  void onClose();
  void onData(std::string_view data);
  void handleFrame(std::string_view frame);
  bool writeFrameFile(std::string_view frame, std::string& error) const;

  platform::EventLoop& m_loop;
  settings::hs& m_settings;
  settings::Services& m_services;
  platform::UiPort& m_ui;
  commands::CommandDispatcher& m_dispatcher;
  devices::RobotCredentials& m_credentials;
  platform::MainWindowModel& m_window;
  RobotState& m_state;
  std::string m_frameFolder;
  RobotProcedures m_procedures;
  RobotChunkParser m_parser;
  std::function<void(const std::string&)> m_frameViewer;
  std::function<void(std::string_view)> m_frameListener;

  std::unique_ptr<platform::TcpSocket> m_Winsock1;  // control connection
  std::unique_ptr<platform::UdpSocket> m_Winsock2;  // discovery
  std::unique_ptr<platform::Timer> m_ConnectTimer;
  std::unique_ptr<platform::Timer> m_LoginTimer;
  std::unique_ptr<platform::Timer> m_EventTimer;
  std::unique_ptr<platform::Timer> m_DiscoveryTimer;
  std::unique_ptr<platform::Timer> m_LoginRetryTimer;
  std::unique_ptr<platform::Timer> m_ReconnectTimer;
  std::vector<std::function<void(LinkStatus)>> m_statusListeners;

  std::string m_discoveryAddress{kDefaultDiscoveryAddress};
  // [SPYKEE] RobotAddress: when set, discovery asks that address only and no other may answer.
  std::string m_fixedRobotAddress;
  std::vector<std::string> m_otherRepliesWarned;
  std::uint16_t m_robotPort = kDefaultRobotPort;
  // The control connection's remote host, fixed at start-up from the first reply.
  std::string m_remoteHost;
  std::string m_discoveryDestination;
  int m_discoveryElapsedMs = 0;
  int m_reconnectSeconds = kDefaultReconnectSeconds;
  int m_loginRetryMs = kFirstLoginRetryMs;
  // Refused since the last accepted login: the login back-off, not the reconnect, retries.
  bool m_refusedSinceLogin = false;
  bool m_lostSinceLogin = false;
  // The user's disconnect: the next command reconnects, the reconnect timer does not.
  bool m_closedByUser = false;
  bool m_inReconnect = false;

  std::string m_RobotAddress;
  bool m_RobotConnected = false;
  bool m_RobotClosed = false;
  bool m_ReceiveBusy = false;
  bool m_shutDown = false;
  // A new connection has not carried a login packet yet.
  bool m_loginDue = false;
  // The connect event's "LoginSequence" may still be waiting in the queue.
  bool m_connectLoginQueued = false;
  bool m_inLoginSequence = false;
  // The last motor packet sent was not a stop.
  bool m_motorsRunning = false;
  std::uint64_t m_loginRefusals = 0;
  // Error events raised while probing ports or inside a connect call are not reported.
  int m_quietSocketErrors = 0;
  int m_socketErrorsLogged = 0;
  // Each read keeps the connection it came on, so the parser can start afresh per connection.
  struct ReceivedChunk {
    std::string bytes;
    std::uint64_t connection = 0;
  };
  std::deque<ReceivedChunk> m_ReceiveQueue;
  std::uint64_t m_connectionSerial = 0;
  std::uint64_t m_parsedConnection = 0;
  std::uint64_t m_skippedReported = 0;
};

}  // namespace rovalink::robot
