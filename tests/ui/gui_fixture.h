#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "app/tray_icon.h"
#include "commands/command_dispatcher.h"
#include "devices/device_table.h"
#include "platform/sim/sim_platform.h"
#include "settings/recording_services.h"
#include "settings/test_folder.h"
#include "support/fake_main_window_robot.h"
#include "ui/desktop_ui_port.h"
#include "ui/main_window_view.h"
#include "ui/tray_icon_view.h"
#include "ui/video_window_view.h"
#include "video/video_window.h"
#include "xap/recording_error_log.h"

namespace rovalink::ui::testing {

// One QApplication for the whole test program (offscreen platform, set by CTest). It is never
// destroyed: tearing it down after main() races Qt's own global clean-up.
inline QApplication& guiApplication() {
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// The desktop as start-up builds it: the models on virtual time, the real Qt views and the Qt
// UI port between them.
class GuiTest : public ::testing::Test {
 protected:
  GuiTest() {
    guiApplication();
    settingsObject.setAppPath(folder.path().string());
    port = std::make_unique<DesktopUiPort>();
    window = std::make_unique<app::MainWindow>(
        app::MainWindow::Wiring{sim.loop(), *port, model, robotState, robot, dispatcher, devices,
                                [](const std::string&, bool) {}, settingsObject, credentials,
                                errorLog, folder.path().string()});
    tray = std::make_unique<app::TrayIcon>(*port);
    tray->setCaption("Spykee");
    tray->SetCallback(window.get());
    videoWindow = std::make_unique<video::VideoWindow>(sim.loop(), sim.clock(), *port, dispatcher);
    mainView = std::make_unique<MainWindowView>(*window);
    videoView = std::make_unique<VideoWindowView>(*videoWindow);
    trayView = std::make_unique<TrayIconView>(*tray, *window);
    port->attach(mainView.get(), videoView.get(), trayView.get());
  }

  ~GuiTest() override {
    port->attach(nullptr, nullptr, nullptr);
    tray->SetCallback(nullptr);
  }

  std::string storedSetting(const std::string& key) {
    return settingsObject.GetINISetting("SPYKEE", key, "<none>", "qbtRovalink.ini");
  }

  platform::SimPlatform sim;
  app::MainWindowModel model;
  robot::RobotState robotState;
  test::FakeMainWindowRobot robot;
  commands::CommandDispatcher dispatcher{sim.loop(), sim.clock()};
  devices::Devices devices = devices::BuildDeviceTable();
  rovalink::testing::TestFolder folder;
  rovalink::testing::RecordingServices services;
  settings::hs settingsObject{services};
  devices::RobotCredentials credentials{"admin", "kelpo"};
  xap::testing::RecordingErrorLog errorLog;

  std::unique_ptr<DesktopUiPort> port;
  std::unique_ptr<app::MainWindow> window;
  std::unique_ptr<app::TrayIcon> tray;
  std::unique_ptr<video::VideoWindow> videoWindow;
  std::unique_ptr<MainWindowView> mainView;
  std::unique_ptr<VideoWindowView> videoView;
  std::unique_ptr<TrayIconView> trayView;
};

}  // namespace rovalink::ui::testing
