#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/headless_ui_port.h"
#include "app/main_window.h"
#include "app/robot_link_controls.h"
#include "app/tray_icon.h"
#include "commands/command_dispatcher.h"
#include "commands/path_player.h"
#include "commands/path_recorder.h"
#include "devices/bsc_handler.h"
#include "devices/device_table.h"
#include "devices/devices.h"
#include "devices/status_reporter.h"
#include "mqtt/mqtt_bridge.h"
#include "platform/main_window_model.h"
#include "platform/platform.h"
#include "platform/ui_port.h"
#include "robot/lan_robot_list.h"
#include "robot/robot_link.h"
#include "robot/robot_state.h"
#include "settings/hs.h"
#include "video/video_window.h"
#include "web/pages/device_list_page.h"
#include "web/pages/live_page.h"
#include "web/pages/page_decorations.h"
#include "web/server/tcp_server.h"
#include "xap/xap_helpers.h"
#include "xap/xap_transport.h"

namespace rovalink::app {

// The composition root: owns every subsystem, creates them in start-up order, wires them by
// reference and runs the start-up and shutdown sequences of the program.
class Gateway {
 public:
  static constexpr std::string_view kTrayCaption = "Spykee";
  // The tray icon's tool tip for a link status ("Spykee: logged in").
  static std::string TrayTip(robot::LinkStatus status);
  static constexpr int kHeartbeatSeconds = 60;
  static constexpr int kFatalExitCode = 1;

  // desktop: the windows' UI port, or nullptr for headless mode (message boxes go to stderr and
  // the error log). endProcess ends the event loop with an exit code.
  Gateway(platform::Platform& platform, platform::UiPort* desktop, xap::LaunchLocation launch,
          std::function<void(int exitCode)> endProcess);
  ~Gateway();
  Gateway(const Gateway&) = delete;
  Gateway& operator=(const Gateway&) = delete;

  // Called once the window models exist and before anything is shown, so a desktop can build
  // its views over them.
  void onModelsReady(std::function<void(Gateway&)> callback) {
    m_onModelsReady = std::move(callback);
  }

  // Runs the start-up sequence. Returns the exit code when the process must end now (a fatal
  // start-up failure), nothing when the program is up and the event loop should run.
  std::optional<int> Start();
  bool started() const { return m_started; }
  // The tray menu's "Exit" is there (from the creation of the windows on).
  bool canExit() const { return m_mainWindow != nullptr; }

  // The tray menu's "Exit" (also SIGINT/SIGTERM in headless mode): shutdown, then the end of the
  // process with exit code 0.
  void Exit();

  platform::UiPort& ui() { return m_ui; }
  xap::XapHelpers& helpers() { return m_helpers; }
  settings::hs& settings() { return m_settings; }
  MainWindow& mainWindow() { return *m_mainWindow; }
  TrayIcon& trayIcon() { return *m_trayIcon; }
  video::VideoWindow& videoWindow() { return *m_videoWindow; }
  robot::RobotLink& robotLink() { return *m_robotLink; }
  commands::CommandDispatcher& dispatcher() { return *m_dispatcher; }
  devices::Devices& devices() { return m_devices; }
  xap::XapTransport& transport() { return *m_transport; }
  // The HTTP listener: created with the other subsystems (so a page handler can be set on it),
  // listening from the last start-up step on.
  web::TCPServer& webServer() { return *m_webServer; }
  web::LivePage& livePage() { return *m_livePage; }
  // nullptr unless [MQTT] names a broker.
  mqtt::MqttBridge* mqttBridge() { return m_mqtt.get(); }
  const platform::MainWindowModel& model() const { return m_model; }
  const robot::RobotState& robotState() const { return m_robotState; }

 private:
  void createSubsystems();
  void createWebPage(const std::string& htmlFolder);
  bool startXap();
  // The folder xAP "File" commands may name path files in: [SPYKEE] PathFolder of
  // qbtRovalink.ini, else Data/xapqbtSpykee.
  std::string readPathFolder(const xap::AppLayout& layout) const;
  void startMqtt();
  // Where Home Assistant links to the live page; "" when the web server is off.
  std::string livePageUrl();
  void Shutdown();
  void reportStatus(const std::string& name, bool isInfo);
  void onLinkStatus(robot::LinkStatus status);
  // One line each on stderr: the settings files, the web page's addresses.
  void sayWhereSettingsAre() const;
  void sayWhereThePageIs();
  web::LiveStatus readLiveStatus() const;
  // Every complete robot frame: the video window, the live page and the MQTT camera.
  void onFrame(std::string_view jpeg);
  // A device change went out on xAP: the other buses and pages follow.
  void onStatusChange(const std::string& name);

  platform::Platform& m_platform;
  xap::LaunchLocation m_launch;
  std::function<void(int)> m_endProcess;
  std::function<void(Gateway&)> m_onModelsReady;

  xap::XapHelpers m_helpers;
  settings::hs m_settings;
  std::unique_ptr<HeadlessUiPort> m_headlessUi;
  platform::UiPort& m_ui;

  platform::MainWindowModel m_model;
  robot::RobotState m_robotState;
  devices::Devices m_devices;
  devices::RobotCredentials m_credentials;

  std::unique_ptr<commands::CommandDispatcher> m_dispatcher;
  std::unique_ptr<devices::StatusReporter> m_reporter;
  std::unique_ptr<xap::XapTransport> m_transport;
  std::unique_ptr<devices::BscHandler> m_bsc;
  std::unique_ptr<commands::PathRecorder> m_recorder;
  std::unique_ptr<commands::PathPlayer> m_player;
  std::unique_ptr<robot::RobotLink> m_robotLink;
  std::unique_ptr<RobotLinkControls> m_robotControls;
  std::unique_ptr<MainWindow> m_mainWindow;
  std::unique_ptr<TrayIcon> m_trayIcon;
  std::unique_ptr<video::VideoWindow> m_videoWindow;
  std::unique_ptr<web::TCPServer> m_webServer;
  std::unique_ptr<robot::LanRobotList> m_lanRobots;
  std::unique_ptr<web::PageDecorations> m_pageDecorations;
  std::unique_ptr<web::DeviceListPage> m_devicePage;
  // After the listener: its streams end before the listener goes.
  std::unique_ptr<web::LivePage> m_livePage;
  std::unique_ptr<mqtt::MqttBridge> m_mqtt;

  bool m_started = false;
  bool m_shutDown = false;
  robot::LinkStatus m_shownStatus = robot::LinkStatus::Searching;
};

}  // namespace rovalink::app
