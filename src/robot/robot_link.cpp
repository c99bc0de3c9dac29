#include "robot/robot_link.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>

#include "commands/replacing_file.h"
#include "platform/diag.h"
#include "robot/robot_packet.h"
#include "settings/text_trim.h"

namespace rovalink::robot {
namespace {

using settings::kProgramWord;
constexpr const char* kSettingsFile = "qbtRovalink.ini";
constexpr const char* kSettingsSection = "SPYKEE";

using platform::SocketState;

// Counts a scope in which socket error events are expected and not reported.
class QuietSocketErrors {
 public:
  explicit QuietSocketErrors(int& depth) : m_depth(depth) { ++m_depth; }
  ~QuietSocketErrors() { --m_depth; }
  QuietSocketErrors(const QuietSocketErrors&) = delete;
  QuietSocketErrors& operator=(const QuietSocketErrors&) = delete;

 private:
  int& m_depth;
};

// A dotted IPv4 address in its plain form ("010.0.0.1" gives "10.0.0.1"); nullopt otherwise.
std::optional<std::string> plainIpv4(std::string_view text) {
  std::string plain;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (text.empty() || text.front() != '.') return std::nullopt;
      text.remove_prefix(1);
      plain.push_back('.');
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    const auto digits = static_cast<std::size_t>(end - text.data());
    if (ec != std::errc() || digits == 0 || digits > 3 || value < 0 || value > 255)
      return std::nullopt;
    text.remove_prefix(digits);
    plain += std::to_string(value);
  }
  if (!text.empty()) return std::nullopt;
  return plain;
}

std::string_view trimBlanks(std::string_view text) {
  return settings::trimmedOf(text, " ");
}

}  // namespace

RobotLink::RobotLink(Wiring wiring)
    : m_loop(wiring.platform.loop()),
      m_settings(wiring.settings),
      m_services(wiring.services),
      m_ui(wiring.ui),
      m_dispatcher(wiring.dispatcher),
      m_credentials(wiring.credentials),
      m_window(wiring.window),
      m_state(wiring.state),
      m_frameFolder(std::move(wiring.frameFolder)),
      m_procedures({*this, wiring.devices, std::move(wiring.reportStatus), wiring.services,
                    wiring.window, wiring.state}),
      m_Winsock1(wiring.platform.createTcpSocket()),
      m_Winsock2(wiring.platform.createUdpSocket()),
      m_ConnectTimer(m_loop.createTimer()),
      m_LoginTimer(m_loop.createTimer()),
      m_EventTimer(m_loop.createTimer()),
      m_DiscoveryTimer(m_loop.createTimer()),
      m_LoginRetryTimer(m_loop.createTimer()),
      m_ReconnectTimer(m_loop.createTimer()) {
  m_ConnectTimer->onTick([this] { m_ConnectTimer->setEnabled(false); });
  m_LoginTimer->onTick([this] { m_LoginTimer->setEnabled(false); });
  m_EventTimer->setInterval(kEventTimerMs);
  m_EventTimer->onTick([this] { DrainReceiveQueue(); });
  m_DiscoveryTimer->setInterval(kDiscoveryResendMs);
  m_DiscoveryTimer->onTick([this] { onDiscoveryTimer(); });
  m_LoginRetryTimer->onTick([this] {
    m_LoginRetryTimer->setEnabled(false);
    if (!m_shutDown) m_dispatcher.QueueCommand("LoginSequence");
  });
  m_ReconnectTimer->onTick([this] { onReconnectTimer(); });

  m_Winsock2->onDatagram([this](const platform::Datagram& d) { onDiscoveryReply(d); });
  m_Winsock2->onError([this](int code, const std::string& description) {
    onSocketError("UDP Socket ", code, description);
  });
  m_Winsock1->onConnect([this] { onConnect(); });
  m_Winsock1->onClose([this] { onClose(); });
  m_Winsock1->onData([this](std::string_view data) { onData(data); });
  m_Winsock1->onError([this](int code, const std::string& description) {
    onSocketError("TCP Socket ", code, description);
  });
}

RobotLink::~RobotLink() {
  // The sockets outlive nothing that their handlers touch, but may deliver while closing.
  m_Winsock1->onConnect({});
  m_Winsock1->onClose({});
  m_Winsock1->onData({});
  m_Winsock1->onError({});
  m_Winsock2->onDatagram({});
  m_Winsock2->onError({});
}

void RobotLink::readSettings() {
  m_discoveryAddress = m_settings.GetINISetting(kSettingsSection, "DiscoveryAddress",
                                                kDefaultDiscoveryAddress, kSettingsFile);
  const std::string port = m_settings.GetINISetting(
      kSettingsSection, "RobotPort", std::to_string(kDefaultRobotPort), kSettingsFile);
  int value = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (ec != std::errc() || end != port.data() + port.size() || value < 1 || value > 65535) {
    diag::warning("robot: RobotPort \"" + port + "\" is no port; using 9000");
    value = kDefaultRobotPort;
  }
  m_robotPort = static_cast<std::uint16_t>(value);
  m_fixedRobotAddress =
      trimBlanks(m_settings.GetINISetting(kSettingsSection, "RobotAddress", "", kSettingsFile));
  const std::string reconnect = m_settings.GetINISetting(
      kSettingsSection, "Reconnect", std::to_string(kDefaultReconnectSeconds), kSettingsFile);
  const auto [rEnd, rEc] =
      std::from_chars(reconnect.data(), reconnect.data() + reconnect.size(), m_reconnectSeconds);
  if (rEc != std::errc() || rEnd != reconnect.data() + reconnect.size() || m_reconnectSeconds < 0 ||
      m_reconnectSeconds > 86400) {
    diag::warning("robot: Reconnect \"" + reconnect +
                  "\" is no number of seconds (0..86400); using " +
                  std::to_string(kDefaultReconnectSeconds));
    m_reconnectSeconds = kDefaultReconnectSeconds;
  }
}

bool RobotLink::Start() {
  readSettings();

  if (ChooseLocalPort(*m_Winsock2) < 0) {
    m_ui.messageBox("Unable to Bind to Windows Socket");
    return false;
  }
  // Releases the probe binding; the port stays set and the send below reopens on it.
  m_Winsock2->close();
  std::string destination = m_discoveryAddress;
  if (!m_fixedRobotAddress.empty()) {
    const auto address = plainIpv4(m_fixedRobotAddress);
    if (!address) {
      // Falling back to a broadcast would hand the login to whoever answers.
      m_services.LogEvent(kProgramWord,
                          "RobotAddress \"" + m_fixedRobotAddress + "\" is not an IPv4 address");
      m_ui.messageBox("Spykee not found");
      return false;
    }
    m_fixedRobotAddress = *address;
    destination = *address;
  }
  m_discoveryDestination = destination;
  m_discoveryElapsedMs = 0;
  setStatus(LinkStatus::Searching);
  diag::status("searching for the robot (0 s)");
  const bool sent = sendDiscovery();

  restart(*m_ConnectTimer, kConnectWaitMs);
  if (sent) restart(*m_DiscoveryTimer, kDiscoveryResendMs);
  m_RobotConnected = false;
  waitWhile(*m_ConnectTimer, [this] { return !m_RobotAddress.empty(); });
  m_ConnectTimer->setEnabled(false);
  m_DiscoveryTimer->setEnabled(false);
  if (m_shutDown) return false;
  if (m_RobotAddress.empty()) {
    m_ui.messageBox("Spykee not found");
    return false;
  }

  if (m_Winsock1->state() != SocketState::Closed) m_Winsock1->close();
  m_remoteHost = m_RobotAddress;
  if (ChooseLocalPort(*m_Winsock1) < 0) {
    m_ui.messageBox("Unable to Bind to Windows Socket");
    return false;
  }
  if (m_Winsock1->state() != SocketState::Closed) m_Winsock1->close();

  int code = 0;
  std::string description;
  if (!m_Winsock1->setNoDelay(true, &code, &description)) {
    m_ui.messageBox("Error setting TCP_NODELAY option: " + std::to_string(code) + " " +
                    description);
  }
  SpykeeConnect();
  return true;
}

bool RobotLink::sendDiscovery() {
  std::string error;
  const int loggedBefore = m_socketErrorsLogged;
  if (m_Winsock2->sendTo(m_discoveryDestination, m_robotPort, kDiscoveryDatagram, &error)) {
    return true;
  }
  if (m_socketErrorsLogged == loggedBefore) {
    // The platform raised no error event for it; the reply wait still runs its 30 s.
    m_services.LogError(kProgramWord, "UDP Socket " + error);
  }
  return false;
}

void RobotLink::onDiscoveryTimer() {
  if (m_shutDown || !m_RobotAddress.empty()) {
    m_DiscoveryTimer->setEnabled(false);
    return;
  }
  m_discoveryElapsedMs += kDiscoveryResendMs;
  if (m_discoveryElapsedMs % kDiscoveryProgressMs == 0) {
    diag::status("searching for the robot (" + std::to_string(m_discoveryElapsedMs / 1000) + " s)");
  }
  // A send that failed once fails again: one logged error is enough.
  if (!sendDiscovery()) m_DiscoveryTimer->setEnabled(false);
}

void RobotLink::setStatus(LinkStatus status) {
  if (m_state.Status == status) return;
  m_state.Status = status;
  for (const auto& listener : m_statusListeners) listener(status);
}

void RobotLink::linkLost() {
  if (m_shutDown || m_state.Status == LinkStatus::Searching) return;
  if (m_state.Status != LinkStatus::Lost) {
    const bool timed = m_reconnectSeconds > 0 && !m_closedByUser && !m_refusedSinceLogin;
    diag::status("lost the robot at " + m_remoteHost +
                 (timed ? "; reconnecting every " + std::to_string(m_reconnectSeconds) + " s"
                        : "; the next command reconnects"));
    m_lostSinceLogin = true;
    setStatus(LinkStatus::Lost);
  }
  // After a refusal the login back-off decides when to try again.
  if (m_reconnectSeconds > 0 && !m_closedByUser && !m_refusedSinceLogin &&
      !m_ReconnectTimer->enabled()) {
    restart(*m_ReconnectTimer, m_reconnectSeconds * 1000);
  }
}

void RobotLink::onReconnectTimer() {
  const SocketState state = m_Winsock1->state();
  if (m_shutDown || state == SocketState::Connected) {
    m_ReconnectTimer->setEnabled(false);
    return;
  }
  // Only a connect: its connect event queues the login. A command that is sending, or a
  // connect under way, already reconnects; the next tick tries again if it failed.
  if (m_inReconnect || m_inLoginSequence || m_dispatcher.CommandBusy() ||
      state == SocketState::Connecting) {
    return;
  }
  m_inReconnect = true;
  SpykeeConnect();
  m_inReconnect = false;
}

void RobotLink::onLoginReply(bool accepted) {
  if (accepted) {
    m_LoginRetryTimer->setEnabled(false);
    m_loginRetryMs = kFirstLoginRetryMs;
    m_refusedSinceLogin = false;
    if (m_state.Status != LinkStatus::LoggedIn) {
      diag::status(
          (m_lostSinceLogin ? "reconnected to the robot at " : "logged in to the robot at ") +
          m_remoteHost);
      m_lostSinceLogin = false;
      setStatus(LinkStatus::LoggedIn);
    }
    return;
  }
  ++m_loginRefusals;
  m_refusedSinceLogin = true;
  m_ReconnectTimer->setEnabled(false);
  m_services.LogEvent(kProgramWord, "Robot refused the login");
  if (m_state.Status != LinkStatus::Refused) {
    diag::status("login refused by the robot at " + m_remoteHost +
                 ": check username/password in Config/qbtRovalink.ini");
    setStatus(LinkStatus::Refused);
  }
  // Retried at a growing interval: a wrong password stays wrong until someone changes it.
  if (!m_shutDown && !m_LoginRetryTimer->enabled()) {
    restart(*m_LoginRetryTimer, m_loginRetryMs);
    m_loginRetryMs = std::min(m_loginRetryMs * 2, kMaxLoginRetryMs);
  }
}

void RobotLink::Shutdown() {
  // Ends a discovery, connect or login wait that is still running: nobody waits for it now,
  // and nothing connects or sends again.
  m_shutDown = true;
  m_ConnectTimer->setEnabled(false);
  m_LoginTimer->setEnabled(false);
  m_EventTimer->setEnabled(false);
  m_DiscoveryTimer->setEnabled(false);
  m_LoginRetryTimer->setEnabled(false);
  m_ReconnectTimer->setEnabled(false);
  // A robot left driving would drive on after the program is gone.
  if (m_motorsRunning && m_Winsock1->state() == SocketState::Connected) {
    if (const auto stop = motorPacket(0, 0)) m_Winsock1->send(*stop);
    m_motorsRunning = false;
  }
  m_Winsock1->close();
  m_Winsock2->close();
}

int RobotLink::ChooseLocalPort(platform::UdpSocket& socket) {
  // A failed probe is the search going on, not an error to show.
  const QuietSocketErrors quiet(m_quietSocketErrors);
  for (int i = 0; i < kLocalPortTries; ++i) {
    const int port = kFirstLocalPort + i;
    if (socket.bind("", static_cast<std::uint16_t>(port))) return port;
    socket.close();  // clears the failed bind before the next try
  }
  return -1;
}

int RobotLink::ChooseLocalPort(platform::TcpSocket& socket) {
  const QuietSocketErrors quiet(m_quietSocketErrors);
  for (int i = 0; i < kLocalPortTries; ++i) {
    const int port = kFirstLocalPort + i;
    if (socket.bind(static_cast<std::uint16_t>(port))) {
      socket.setLocalPort(static_cast<std::uint16_t>(port));
      return port;
    }
    socket.close();
  }
  return -1;
}

bool RobotLink::SpykeeConnect() {
  if (m_shutDown) return false;
  const SocketState state = m_Winsock1->state();
  if (state == SocketState::Closed) {
    connectWait();
  } else if (state == SocketState::Closing || state == SocketState::Error) {
    resetWait();
  }
  return m_Winsock1->state() == SocketState::Connected;
}

void RobotLink::connectWait() {
  restart(*m_ConnectTimer, kPauseBeforeConnectMs);
  m_RobotConnected = false;
  waitWhile(*m_ConnectTimer, [] { return false; });
  // A connect made by someone else during the pause is the one this wait was for.
  if (m_shutDown || m_Winsock1->state() != SocketState::Closed) return;

  restart(*m_ConnectTimer, kConnectWaitMs);
  m_RobotConnected = false;
  if (m_state.Status != LinkStatus::Lost) setStatus(LinkStatus::Connecting);
  // A connect the state does not allow fails here and is ignored, as is any other error
  // raised inside the call; a failure of the connection itself arrives later as an event.
  bool started = false;
  {
    const QuietSocketErrors quiet(m_quietSocketErrors);
    started = m_Winsock1->connect(m_remoteHost, m_robotPort);
  }
  if (!started) {
    diag::debug("robot: connect refused in state " +
                std::to_string(static_cast<int>(m_Winsock1->state())));
  }
  waitWhile(*m_ConnectTimer, [this] { return m_RobotConnected; });
  m_ConnectTimer->setEnabled(false);
  if (m_Winsock1->state() != SocketState::Connected) linkLost();
}

void RobotLink::resetWait() {
  restart(*m_ConnectTimer, kConnectWaitMs);
  m_RobotConnected = false;
  m_RobotClosed = m_Winsock1->state() == SocketState::Closed;
  if (!m_RobotClosed) m_Winsock1->close();
  while (m_ConnectTimer->enabled() && !m_shutDown) {
    if (!m_loop.waitForEvent()) break;
    if (m_RobotConnected || m_shutDown) break;
    if (m_RobotClosed) {
      connectWait();
      break;
    }
  }
  m_ConnectTimer->setEnabled(false);
}

void RobotLink::WaitForLogin() {
  restart(*m_LoginTimer, kLoginWaitMs);
  const std::uint64_t refusalsBefore = m_loginRefusals;
  waitWhile(*m_LoginTimer, [this, refusalsBefore] {
    return m_state.LoggedIn || m_loginRefusals != refusalsBefore;
  });
  m_LoginTimer->setEnabled(false);
  // A wrong password and a mute robot look alike on the bus unless one of them is said.
  if (!m_state.LoggedIn && !m_shutDown && m_loginRefusals == refusalsBefore) {
    m_services.LogEvent(kProgramWord, "Robot did not answer the login");
  }
}

void RobotLink::waitWhile(platform::Timer& timer, const std::function<bool()>& done) {
  while (timer.enabled() && !done() && !m_shutDown) {
    // False means nothing can ever happen again; only a broken loop gets here.
    if (!m_loop.waitForEvent()) break;
  }
}

void RobotLink::restart(platform::Timer& timer, int ms) {
  timer.setEnabled(false);
  timer.setInterval(ms);
  timer.setEnabled(true);
}

void RobotLink::SendToRobot(std::string_view packet) {
  // After Exit nothing reaches the robot but the stop that Shutdown sends itself.
  if (m_shutDown) return;
  const std::uint64_t connectionBefore = m_connectionSerial;
  if (!SpykeeConnect() || m_shutDown) return;
  const bool isLogin = packet.size() > 2 && packet[2] == static_cast<char>(PacketType::Login);
  if (m_connectionSerial != connectionBefore && (isLogin || !m_inLoginSequence)) {
    // This send made the connection: its own login sequence (running, or run now) logs in,
    // so the one the connect event queued would only repeat it.
    dropConnectLogin();
  }
  if (m_loginDue && !isLogin) {
    // A robot must hear the login before anything else on a new connection.
    if (m_inLoginSequence) {
      m_procedures.SendLogin(m_credentials.RobotUserName, m_credentials.RobotPassword);
    } else {
      LoginSequenceRun();
    }
    if (m_shutDown || m_Winsock1->state() != SocketState::Connected) return;
  }
  if (!m_Winsock1->send(packet)) return;
  if (isLogin) m_loginDue = false;
  if (packet.size() == kHeaderSize + 2 && packet[2] == static_cast<char>(PacketType::Motor)) {
    m_motorsRunning = packet[5] != 0 || packet[6] != 0;
  }
}

void RobotLink::dropConnectLogin() {
  if (!m_connectLoginQueued) return;
  m_connectLoginQueued = false;
  m_dispatcher.queue().removeFirst(
      [](const commands::Command& c) { return c.Procedure == "LoginSequence"; });
}

void RobotLink::LoginSequenceRun() {
  const bool nested = m_inLoginSequence;
  m_inLoginSequence = true;
  const auto done = [this, nested] { m_inLoginSequence = nested; };
  try {
    const std::uint64_t refusalsBefore = m_loginRefusals;
    if (m_procedures.SendLogin(m_credentials.RobotUserName, m_credentials.RobotPassword)) {
      WaitForLogin();
      // A robot that refused the login takes no other command; the back-off tries again.
      if (m_loginRefusals != refusalsBefore) {
        done();
        return;
      }
      m_procedures.runProcedure("VideoOn");
      SendToRobot(postLoginPacket());
      m_procedures.SetVolume(50);
    }
  } catch (...) {
    done();
    throw;
  }
  done();
}

void RobotLink::ConnectedOn() {
  m_dispatcher.queue().Replace();
  LoginSequenceRun();
}

void RobotLink::ConnectedOff() {
  onClose();
}

bool RobotLink::runProcedure(const commands::Command& command) {
  return m_procedures.runProcedure(command);
}

void RobotLink::CloseConnection() {
  m_closedByUser = true;
  m_ReconnectTimer->setEnabled(false);
  m_Winsock1->close();
  linkLost();
}

void RobotLink::onDiscoveryReply(const platform::Datagram& datagram) {
  // Anyone on the network can answer, and the one taken gets the login with the password: an
  // empty datagram is no answer, a fixed address admits no other, and the choice is published
  // so that a forged answer shows.
  const std::string& sender = datagram.senderAddress;
  if (datagram.data.empty()) {
    diag::debug("robot: empty discovery reply from " + sender + " ignored");
    return;
  }
  if (!m_fixedRobotAddress.empty() && sender != m_fixedRobotAddress) {
    diag::debug("robot: discovery reply from " + sender + " ignored; RobotAddress is " +
                m_fixedRobotAddress);
    return;
  }
  if (m_RobotAddress.empty()) {
    m_RobotAddress = sender;
    m_services.LogEvent(kProgramWord, "Spykee found at " + sender);
    diag::status("robot found at " + sender);
    return;
  }
  if (sender == m_RobotAddress || m_otherRepliesWarned.size() >= kMaxOtherReplyWarnings ||
      std::find(m_otherRepliesWarned.begin(), m_otherRepliesWarned.end(), sender) !=
          m_otherRepliesWarned.end()) {
    return;
  }
  m_otherRepliesWarned.push_back(sender);
  m_services.LogEvent(kProgramWord, "Warning: another Spykee answered from " + sender +
                                        ", still using " + m_RobotAddress);
}

void RobotLink::onSocketError(const char* socketName, int code, const std::string& description) {
  if (m_quietSocketErrors > 0) {
    diag::debug(std::string("robot: ignored ") + socketName + description);
    return;
  }
  ++m_socketErrorsLogged;
  m_services.LogError(kProgramWord, socketName + description + " (" + std::to_string(code) + ")");
  if (socketName[0] == 'T') {
    if (m_Winsock1->state() != SocketState::Closed) m_Winsock1->close();
    linkLost();
  } else if (m_Winsock2->isBound()) {
    m_Winsock2->close();
  }
}

void RobotLink::onConnect() {
  m_RobotConnected = true;
  m_closedByUser = false;
  m_ReconnectTimer->setEnabled(false);
  diag::status("connected to the robot at " + m_remoteHost + ":" + std::to_string(m_robotPort));
  setStatus(LinkStatus::Connecting);
  ++m_connectionSerial;
  m_loginDue = true;
  m_dispatcher.queue().Replace();
  m_dispatcher.QueueCommand("LoginSequence");
  m_connectLoginQueued = true;
}

void RobotLink::onClose() {
  m_RobotClosed = true;
  linkLost();
}

void RobotLink::onData(std::string_view data) {
  if (data.empty()) return;
  try {
    m_ReceiveQueue.push_back({std::string(data), m_connectionSerial});
    if (!m_ReceiveBusy) m_EventTimer->setEnabled(true);
  } catch (const std::exception& e) {
    m_services.LogEvent(kProgramWord, "Winsock_DataArrival ", e.what());
  }
}

void RobotLink::DrainReceiveQueue() {
  m_EventTimer->setEnabled(false);
  // A drain that shows a frame pumps events; a tick inside it must not start a second one.
  if (m_ReceiveBusy) return;
  m_ReceiveBusy = true;
  try {
    while (!m_ReceiveQueue.empty()) {
      const ReceivedChunk chunk = std::move(m_ReceiveQueue.front());
      m_ReceiveQueue.pop_front();
      // A new connection is a new stream: half a packet of the old one must not prefix it.
      if (chunk.connection != m_parsedConnection) {
        m_parser.reset();
        m_parsedConnection = chunk.connection;
      }
      m_parser.ParseRobotChunk(chunk.bytes, m_state, [this](const RobotChunkParser::Packet& p) {
        if (p.loginRefused || p.loginAccepted) onLoginReply(p.loginAccepted);
        if (p.frame) handleFrame(p.payload);
      });
    }
  } catch (const std::exception& e) {
    m_services.LogEvent(kProgramWord, "EventTimer ", e.what());
  }
  if (m_parser.skippedBytes() != m_skippedReported) {
    diag::warning("robot: skipped " + std::to_string(m_parser.skippedBytes() - m_skippedReported) +
                  " bytes that start no packet");
    m_skippedReported = m_parser.skippedBytes();
  }
  m_ReceiveBusy = false;
}

void RobotLink::handleFrame(std::string_view frame) {
  if (m_frameListener) m_frameListener(frame);
  if (m_state.FrameWanted) {
    m_state.FrameWanted = false;
    std::string error;
    if (writeFrameFile(frame, error)) {
      if (m_frameViewer) m_frameViewer(frameFilePath());
      m_loop.pumpOnce();
    } else {
      m_services.LogEvent(kProgramWord, "WriteBinaryFile", error);
    }
  }
  ++m_window.FrameCount;
}

std::string RobotLink::frameFilePath() const {
  return (std::filesystem::path(m_frameFolder) / kFrameFileName).string();
}

bool RobotLink::writeFrameFile(std::string_view frame, std::string& error) const {
  const std::string target = frameFilePath();
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(target).parent_path(), ec);
  // Written beside the target and renamed over it, so a viewer never loads half a picture.
  commands::ReplacingFile file;
  return file.open(target, &error) && file.write(frame) && file.close(&error);
}

}  // namespace rovalink::robot
