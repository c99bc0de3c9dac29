#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <string>

#include "app/main_window.h"
#include "platform/sim/sim_platform.h"
#include "settings/recording_services.h"
#include "settings/test_folder.h"
#include "support/fake_main_window_robot.h"
#include "ui/desktop_ui_port.h"
#include "ui/main_window_view.h"
#include "ui/tray_icon_view.h"
#include "ui/video_window_view.h"
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
// UI port between them. Members go in reverse order: the views before the models they show.
class GuiTest : public ::testing::Test {
 protected:
  GuiTest() {
    settingsObject.setAppPath(folder.path().string());
    tray.setCaption("Spykee");
    tray.SetCallback(&window);
    port.attach(&mainView, &videoView, &trayView);
  }

  QApplication& qtApp = guiApplication();
  platform::SimPlatform sim;
  platform::MainWindowModel model;
  robot::RobotState robotState;
  test::FakeMainWindowRobot robot;
  commands::CommandDispatcher dispatcher{sim.loop(), sim.clock()};
  devices::Devices devices = devices::BuildDeviceTable();
  rovalink::testing::TestFolder folder;
  rovalink::testing::RecordingServices services;
  settings::hs settingsObject{services};
  devices::RobotCredentials credentials{"admin", "kelpo"};
  xap::testing::RecordingErrorLog errorLog;

  DesktopUiPort port;
  app::MainWindow window{app::MainWindow::Wiring{sim.loop(), port, model, robotState, robot,
                                                 dispatcher, devices,
                                                 [](const std::string&, bool) {}, settingsObject,
                                                 credentials, errorLog, folder.path().string()}};
  app::TrayIcon tray{port};
  video::VideoWindow videoWindow{sim.loop(), sim.clock(), port, dispatcher};
  MainWindowView mainView{window};
  VideoWindowView videoView{videoWindow};
  TrayIconView trayView{tray, window};
};

}  // namespace rovalink::ui::testing
