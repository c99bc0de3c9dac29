#include "robot/robot_link.h"

#include <charconv>
#include <exception>
#include <filesystem>
#include <system_error>

#include "commands/replacing_file.h"
#include "platform/diag.h"
#include "robot/robot_packet.h"

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
      m_EventTimer(m_loop.createTimer()) {
  m_ConnectTimer->onTick([this] { m_ConnectTimer->setEnabled(false); });
  m_LoginTimer->onTick([this] { m_LoginTimer->setEnabled(false); });
  m_EventTimer->setInterval(kEventTimerMs);
  m_EventTimer->onTick([this] { DrainReceiveQueue(); });

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
}

bool RobotLink::Start() {
  readSettings();

  if (ChooseLocalPort(*m_Winsock2) < 0) {
    m_ui.messageBox("Unable to Bind to Windows Socket");
    return false;
  }
  // Releases the probe binding; the port stays set and the send below reopens on it.
  m_Winsock2->close();
  std::string error;
  const int loggedBefore = m_socketErrorsLogged;
  if (!m_Winsock2->sendTo(m_discoveryAddress, m_robotPort, kDiscoveryDatagram, &error) &&
      m_socketErrorsLogged == loggedBefore) {
    // The platform raised no error event for it; the reply wait below still runs its 30 s.
    m_services.LogError(kProgramWord, "UDP Socket " + error);
  }

  restart(*m_ConnectTimer, kConnectWaitMs);
  m_RobotConnected = false;
  waitWhile(*m_ConnectTimer, [this] { return !m_RobotAddress.empty(); });
  m_ConnectTimer->setEnabled(false);
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

void RobotLink::Shutdown() {
  // Ends a discovery, connect or login wait that is still running: nobody waits for it now.
  m_shutDown = true;
  m_ConnectTimer->setEnabled(false);
  m_LoginTimer->setEnabled(false);
  m_EventTimer->setEnabled(false);
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

  restart(*m_ConnectTimer, kConnectWaitMs);
  m_RobotConnected = false;
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
}

void RobotLink::resetWait() {
  restart(*m_ConnectTimer, kConnectWaitMs);
  m_RobotConnected = false;
  m_RobotClosed = m_Winsock1->state() == SocketState::Closed;
  if (!m_RobotClosed) m_Winsock1->close();
  while (m_ConnectTimer->enabled()) {
    if (!m_loop.waitForEvent()) break;
    if (m_RobotConnected) break;
    if (m_RobotClosed) {
      connectWait();
      break;
    }
  }
  m_ConnectTimer->setEnabled(false);
}

void RobotLink::WaitForLogin() {
  restart(*m_LoginTimer, kLoginWaitMs);
  waitWhile(*m_LoginTimer, [this] { return m_state.LoggedIn; });
  m_LoginTimer->setEnabled(false);
}

void RobotLink::waitWhile(platform::Timer& timer, const std::function<bool()>& done) {
  while (timer.enabled() && !done()) {
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
  if (SpykeeConnect()) m_Winsock1->send(packet);
}

void RobotLink::LoginSequenceRun() {
  if (!m_procedures.SendLogin(m_credentials.RobotUserName, m_credentials.RobotPassword)) return;
  WaitForLogin();
  m_procedures.runProcedure("VideoOn");
  SendToRobot(postLoginPacket());
  m_procedures.SetVolume(50);
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
  m_Winsock1->close();
}

void RobotLink::onDiscoveryReply(const platform::Datagram& datagram) {
  m_RobotAddress = datagram.senderAddress;
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
  } else if (m_Winsock2->isBound()) {
    m_Winsock2->close();
  }
}

void RobotLink::onConnect() {
  m_RobotConnected = true;
  m_dispatcher.queue().Replace();
  m_dispatcher.QueueCommand("LoginSequence");
}

void RobotLink::onClose() {
  m_RobotClosed = true;
}

void RobotLink::onData(std::string_view data) {
  if (data.empty()) return;
  try {
    m_ReceiveQueue.emplace_back(data);
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
      const std::string chunk = std::move(m_ReceiveQueue.front());
      m_ReceiveQueue.pop_front();
      const RobotChunkParser::Result result = m_parser.ParseRobotChunk(chunk, m_state);
      if (result.loginRetry) m_dispatcher.QueueCommand("LoginSequence");
      if (result.frameComplete) handleFrame(result.frame);
    }
  } catch (const std::exception& e) {
    m_services.LogEvent(kProgramWord, "EventTimer ", e.what());
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
