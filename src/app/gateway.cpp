#include "app/gateway.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <filesystem>
#include <utility>
#include <vector>

#include "mqtt/mosquitto_client.h"
#include "platform/diag.h"
#include "platform/thread_host_resolver.h"

namespace rovalink::app {
namespace {

using settings::kProgramWord;

// A decimal number preceded by a blank when it is not negative, as the event texts show it.
std::string signedNumberText(int value) {
  return (value < 0 ? "" : " ") + std::to_string(value);
}

}  // namespace

Gateway::Gateway(platform::Platform& platform, platform::UiPort* desktop,
                 xap::LaunchLocation launch, std::function<void(int exitCode)> endProcess)
    : m_platform(platform),
      m_launch(std::move(launch)),
      m_endProcess(std::move(endProcess)),
      m_helpers(platform.clock(), platform.host()),
      m_settings(m_helpers),
      m_headlessUi(desktop != nullptr ? nullptr
                                      : std::make_unique<HeadlessUiPort>(m_helpers, m_endProcess)),
      m_ui(desktop != nullptr ? *desktop : *m_headlessUi) {}

Gateway::~Gateway() {
  // The helpers keep a plain pointer to the transport for held sends.
  m_helpers.setSender(nullptr);
}

std::optional<int> Gateway::Start() {
  try {
    // The dispatcher starts with PreviousTimeStamp -1 and LastSentTime = now; the robot state,
    // the window model and the flags start at their defaults.
    m_dispatcher =
        std::make_unique<commands::CommandDispatcher>(m_platform.loop(), m_platform.clock());

    if (!m_helpers.InitXap(m_launch, m_settings)) throw std::runtime_error("InitXap failed");
    sayWhereSettingsAre();

    m_devices = devices::BuildDeviceTable();
    m_credentials = devices::ReadRobotCredentials(m_settings);

    createSubsystems();
    if (m_onModelsReady) m_onModelsReady(*this);

    if (!startXap()) return kFatalExitCode;
    startMqtt();

    m_ui.hideMainWindow();

    m_trayIcon->setCaption(TrayTip(m_robotState.Status));
    m_trayIcon->SetCallback(m_mainWindow.get());
    m_trayIcon->Update(true);

    const bool robotFound = m_robotLink->Start();
    // "Exit" chosen from the tray menu during the robot search ends the program normally.
    if (m_shutDown) return 0;
    if (!robotFound) return kFatalExitCode;

    m_mainWindow->FillCredentialBoxes();
    m_ui.showMainWindow();
    m_videoWindow->Show();
    m_robotLink->SpykeeConnect();
    if (m_shutDown) return 0;

    m_videoWindow->KeyTimer().setEnabled(true);
    m_mainWindow->VideoRateTimer().setEnabled(true);
    // Last: a web server that cannot listen is reported and the gateway runs on without it.
    m_webServer->Start();
    sayWhereThePageIs();
    m_started = true;
    diag::info("start-up complete");
    return std::nullopt;
  } catch (const std::exception& error) {
    m_helpers.LogError(kProgramWord, "Main Load", error.what());
    return kFatalExitCode;
  }
}

void Gateway::createSubsystems() {
  const xap::AppLayout layout(m_helpers.AppFolder());
  auto report = [this](const std::string& name, bool isInfo) { reportStatus(name, isInfo); };

  m_reporter =
      std::make_unique<devices::StatusReporter>(m_devices, m_helpers.HeldSender(), m_helpers);
  m_reporter->setUid(m_helpers.DefaultUID());
  const std::string pathFolder = readPathFolder(layout);
  m_recorder =
      std::make_unique<commands::PathRecorder>(m_platform.clock(), m_ui, m_helpers, pathFolder);
  m_player = std::make_unique<commands::PathPlayer>(
      *m_dispatcher, m_platform.clock(), m_platform.process(), m_devices, report, m_helpers,
      layout.programDataFolder, pathFolder);
  m_dispatcher->setRecordHook(m_recorder.get());
  m_dispatcher->setRefusedReporter(
      [this](const std::string& text) { m_helpers.LogEvent(std::string(kProgramWord), text); });
  m_dispatcher->setPathRunHooks(m_player.get());

  m_robotLink = std::make_unique<robot::RobotLink>(robot::RobotLink::Wiring{
      m_platform, m_settings, m_helpers, m_ui, *m_dispatcher, m_devices, report, m_credentials,
      m_model, m_robotState, layout.programDataFolder});
  m_dispatcher->setProcedureRunner(m_robotLink.get());
  m_robotLink->addStatusListener([this](robot::LinkStatus status) { onLinkStatus(status); });
  m_robotControls = std::make_unique<RobotLinkControls>(*m_robotLink);

  m_mainWindow = std::make_unique<MainWindow>(MainWindow::Wiring{
      m_platform.loop(), m_ui, m_model, m_robotState, *m_robotControls, *m_dispatcher, m_devices,
      report, m_settings, m_credentials, m_helpers, pathFolder});
  m_mainWindow->VideoRateTimer().setInterval(MainWindow::kStatusRefreshMs);
  m_mainWindow->setPathRecorder(m_recorder.get());
  m_mainWindow->setPathPlayer(m_player.get());
  m_mainWindow->setExitHandler([this] { Exit(); });

  m_trayIcon = std::make_unique<TrayIcon>(m_ui);
  m_videoWindow = std::make_unique<video::VideoWindow>(m_platform.loop(), m_platform.clock(), m_ui,
                                                       *m_dispatcher);
  // Every frame is shown, decoded in memory; the frame file is still written for its readers.
  m_robotLink->setFrameListener([this](std::string_view jpeg) { onFrame(jpeg); });
  m_reporter->setChangeListener([this](const std::string& name) { onStatusChange(name); });
  m_webServer =
      std::make_unique<web::TCPServer>(web::TCPServer::Wiring{m_platform, m_settings, m_helpers});
  createWebPage(layout.htmlFolder);
}

void Gateway::createWebPage(const std::string& htmlFolder) {
  m_lanRobots = std::make_unique<robot::LanRobotList>(m_platform, m_settings);
  // The BSC handler comes later in start-up; the page asks for the times when it is built.
  m_pageDecorations = std::make_unique<web::PageDecorations>(
      web::PageDecorations::Wiring{m_settings,
                                   m_helpers,
                                   htmlFolder,
                                   [this] { return m_bsc ? m_bsc->SunriseText() : std::string(); },
                                   [this] { return m_bsc ? m_bsc->SunsetText() : std::string(); },
                                   {}});
  m_devicePage = std::make_unique<web::DeviceListPage>(web::DeviceListPage::Wiring{
      m_settings, m_helpers, *m_pageDecorations, m_lanRobots.get(), [this] {
        const bool connected =
            m_robotLink && m_robotLink->ConnectionState() == platform::SocketState::Connected;
        return connected ? m_robotLink->RobotAddress() : std::string();
      }});
  m_webServer->setPageHandler(m_devicePage.get());

  m_livePage = std::make_unique<web::LivePage>(web::LivePage::Wiring{
      m_platform.loop(), m_settings, m_platform.host().computerName(),
      // No xAP hand-over in between, and the robot has it before the page's answer goes out.
      [this](const std::string& procedure, const std::string& parameter) {
        m_dispatcher->runCommandNow(commands::Command{procedure, parameter, 0.0});
      },
      [this] { return readLiveStatus(); }});
  m_livePage->addRoutes(*m_webServer);
}

web::LiveStatus Gateway::readLiveStatus() const {
  web::LiveStatus status;
  const auto on = [this](const char* name) {
    const devices::Device* device = m_devices.find(name);
    return device != nullptr && device->Status;
  };
  const auto value = [this](const char* name) {
    const devices::Device* device = m_devices.find(name);
    return device != nullptr ? int{device->Value} : 0;
  };
  status.battery = m_robotState.BatteryLevel;
  status.docked = m_robotState.RobotDocked;
  status.connected =
      m_robotLink && m_robotLink->ConnectionState() == platform::SocketState::Connected;
  status.link = robot::LinkStatusText(m_robotState.Status);
  status.moving = on("Movement");
  status.movement = value("Movement");
  status.headLed = on("HeadLED");
  status.leftLed = on("LeftLED");
  status.rightLed = on("RightLED");
  status.volume = value("Volume");
  status.speed = m_robotState.DriveSpeed;
  status.turbo = on("Turbo");
  status.video = on("Video");
  status.audio = on("Audio");
  status.pathRunning = on("File");
  return status;
}

void Gateway::onFrame(std::string_view jpeg) {
  if (m_videoWindow) m_videoWindow->ShowFrame(jpeg);
  if (m_livePage) m_livePage->onFrame(jpeg);
  if (m_mqtt) m_mqtt->onFrame(jpeg);
}

void Gateway::onStatusChange(const std::string& name) {
  if (m_mqtt) m_mqtt->onReport(name);
  if (m_livePage) m_livePage->onStatusChange();
}

std::string Gateway::readPathFolder(const xap::AppLayout& layout) const {
  const std::string setting =
      m_settings.GetINISetting("SPYKEE", "PathFolder", "Default", "qbtRovalink.ini");
  if (setting == "Default") return layout.programDataFolder;
  // A relative folder lies below the application folder.
  return (std::filesystem::path(layout.appFolder) / setting).lexically_normal().string();
}

bool Gateway::startXap() {
  m_transport = std::make_unique<xap::XapTransport>(m_platform, m_helpers);
  m_bsc = std::make_unique<devices::BscHandler>(
      m_devices, *m_dispatcher, m_platform.clock(),
      devices::BscHandler::Wiring{
          m_transport.get(), &m_helpers.HeldSender(),
          [this](const std::string& name, bool isInfo) { reportStatus(name, isInfo); }, &m_helpers,
          &m_helpers});
  const std::string source = m_helpers.XapSource();
  m_bsc->setXapSource(source);
  m_bsc->setProgramFile(m_helpers.ProgramFile());
  m_bsc->setUid(m_helpers.DefaultUID());

  m_mainWindow->setMessageSource(
      [this] { return m_transport->GetMessage(); },
      [this](const std::string& text) { m_bsc->DispatchBscMessage(text); });
  m_transport->RegisterNewMessageCallback([this] { m_mainWindow->onMessage(); });
  m_transport->setHubHeardListener(
      [this] { diag::status("xAP hub heard on port " + std::to_string(m_transport->BusPort())); });
  m_transport->setXapSource(source);
  m_transport->setXapUID(m_helpers.DefaultUID());
  m_transport->setBroadcastAddress(m_helpers.BroadcastAddress());
  m_transport->setInterfaceAddress(m_helpers.InterfaceAddress());
  m_transport->setBusPort(xap::ReadBusPort(m_settings));
  m_helpers.setSender(m_transport.get());

  const int port = m_transport->InitSockets();
  if (port <= 0) {
    m_helpers.LogError(kProgramWord, "xAP Init Error " + signedNumberText(port) + " occurred");
    return false;
  }
  // Said before anything is sent: a send pumps events, and the hub's answer may come in it.
  diag::status("xAP: private port " + std::to_string(port) + ", bus port " +
               std::to_string(m_transport->BusPort()) + "; no hub heard yet");
  m_transport->SendHeartbeat(kHeartbeatSeconds);
  m_helpers.setXapReady(true);
  m_helpers.LogEvent(kProgramWord, "Using xAP port " + signedNumberText(port));
  return true;
}

std::string Gateway::livePageUrl() {
  auto setting = [this](const char* key, const char* fallback) {
    std::string text = m_settings.GetINISetting("SPYKEE", key, fallback, "qbtRovalink.ini");
    std::erase(text, '"');
    return text;
  };
  const std::string port = setting("ServerPort", "8029");
  int number = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (ec != std::errc() || end != port.data() + port.size() || number <= 0 || number > 65535)
    return "";
  std::string address = setting("ServerAddress", "");
  if (address.empty() || address == "0.0.0.0") {
    const std::vector<std::string> own = m_platform.host().ipv4Addresses();
    if (own.empty()) return "";
    address = own.front();
  }
  return "http://" + address + ":" + std::to_string(number) + "/spykee/live";
}

void Gateway::startMqtt() {
  const std::string hostName = m_platform.host().computerName();
  mqtt::MqttSettings settings =
      mqtt::ReadMqttSettings(m_settings, m_helpers.InstanceName(), hostName);
  if (!settings.enabled()) return;
  settings.configurationUrl = livePageUrl();
  m_mqtt = std::make_unique<mqtt::MqttBridge>(
      mqtt::MqttBridge::Wiring{
          m_platform, m_helpers, m_devices, m_robotState,
          [this](const std::string& target, const std::string& id, const std::string& state,
                 const std::string& text) { m_bsc->HandleBscCommand(target, id, state, text); },
          m_helpers.XapSource(), settings::hs::VersionText()},
      std::move(settings), std::make_unique<mqtt::MosquittoClient>(),
      std::make_unique<platform::ThreadHostResolver>(m_platform));
  m_mqtt->start();
}

void Gateway::Exit() {
  Shutdown();
  m_ui.exitProcess(0);
}

void Gateway::Shutdown() {
  if (m_shutDown) return;
  m_shutDown = true;
  // Each step on its own: a failing one must not keep the others from running.
  auto step = [](const auto& action) {
    try {
      action();
    } catch (...) {
    }
  };
  step([this] {
    if (m_trayIcon) m_trayIcon->Update(false);
  });
  // "offline" goes out first, while the event loop still runs.
  step([this] {
    if (m_mqtt) m_mqtt->stop();
  });
  step([this] {
    if (m_robotLink) m_robotLink->Shutdown();
  });
  // A command still queued, or queued by an event pumped before the process is gone, would
  // reconnect the robot that was just closed.
  step([this] {
    if (m_dispatcher) {
      m_dispatcher->setProcedureRunner(nullptr);
      m_dispatcher->Shutdown();
    }
  });
  step([this] {
    if (m_livePage) m_livePage->Stop();
  });
  step([this] {
    if (m_webServer) m_webServer->Stop();
  });
  step([this] {
    if (m_mainWindow) m_mainWindow->VideoRateTimer().setEnabled(false);
    if (m_videoWindow) m_videoWindow->KeyTimer().setEnabled(false);
  });
  // Hubs drop our port at once instead of forwarding to it until it times out.
  step([this] {
    if (m_transport) m_transport->SendStoppedHeartbeat();
  });
  // The transport stays alive until the gateway is destroyed (a shutdown may run inside one of
  // its handlers); from here on nothing is sent through it.
  step([this] { m_helpers.setSender(nullptr); });
  step([this] { m_helpers.setXapReady(false); });
}

std::string Gateway::TrayTip(robot::LinkStatus status) {
  const std::string tip = std::string(kTrayCaption) + ": ";
  if (status == robot::LinkStatus::Refused) return tip + "login refused";
  return tip + robot::LinkStatusText(status);
}

void Gateway::onLinkStatus(robot::LinkStatus status) {
  const robot::LinkStatus before = std::exchange(m_shownStatus, status);
  if (m_trayIcon) {
    m_trayIcon->setCaption(TrayTip(status));
    if (m_trayIcon->iconShown()) m_trayIcon->Update(true);
  }
  // The last picture would pass for a live one.
  if (before == robot::LinkStatus::LoggedIn && m_videoWindow) m_videoWindow->ShowNoVideo();
  if (m_livePage) m_livePage->onStatusChange();
}

void Gateway::sayWhereSettingsAre() const {
  const xap::AppLayout layout(m_helpers.AppFolder());
  std::string line = "settings:";
  for (const char* name : {"qbtRovalink.ini", "qbtXap.ini"}) {
    const std::filesystem::path file = std::filesystem::path(layout.configFolder) / name;
    std::error_code error;
    line += std::string(line.back() == ':' ? " " : ", ") + file.string() +
            (std::filesystem::exists(file, error) ? "" : " (missing: defaults)");
  }
  diag::status(line);
}

void Gateway::sayWhereThePageIs() {
  if (!m_webServer->listening()) {
    diag::status("web page: not served (the port is taken; see the error events)");
    return;
  }
  const std::string port = std::to_string(m_webServer->port());
  std::string address = m_settings.GetINISetting("SPYKEE", "ServerAddress", "", "qbtRovalink.ini");
  std::erase(address, '"');
  std::vector<std::string> addresses{address};
  if (address.empty() || address == "0.0.0.0") {
    addresses = m_platform.host().ipv4Addresses();
    if (std::find(addresses.begin(), addresses.end(), "127.0.0.1") == addresses.end()) {
      addresses.insert(addresses.begin(), "127.0.0.1");
    }
  }
  std::string line = "web page:";
  for (const std::string& a : addresses) line += " http://" + a + ":" + port + "/spykee";
  diag::status(line + " (live video and driving: /spykee/live)");
}

void Gateway::reportStatus(const std::string& name, bool isInfo) {
  if (m_reporter) m_reporter->ReportStatus(name, isInfo);
}

}  // namespace rovalink::app
