#include "app/robot_link_controls.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "commands/command_dispatcher.h"
#include "devices/device_table.h"
#include "platform/sim/sim_platform.h"
#include "robot/robot_state.h"
#include "settings/hs.h"
#include "settings/recording_services.h"
#include "settings/test_folder.h"
#include "support/fake_ui_port.h"

namespace rovalink::app {
namespace {

// The main window's controls against the real robot link, before any connection.
class RobotLinkControlsTest : public ::testing::Test {
 protected:
  RobotLinkControlsTest() { settingsObject.setAppPath(folder.path().string()); }

  platform::SimPlatform sim;
  testing::TestFolder folder;
  testing::RecordingServices services;
  settings::hs settingsObject{services};
  test::FakeUiPort ui;
  commands::CommandDispatcher dispatcher{sim.loop(), sim.clock()};
  devices::Devices devices = devices::BuildDeviceTable();
  devices::RobotCredentials credentials{"admin", "kelpo"};
  MainWindowModel model;
  robot::RobotState state;
  std::vector<std::string> reports;
  robot::RobotLink link{
      robot::RobotLink::Wiring{sim, settingsObject, services, ui, dispatcher, devices,
                               [this](const std::string& name, bool) { reports.push_back(name); },
                               credentials, model, state, folder.path().string()}};
  RobotLinkControls controls{link};
};

TEST_F(RobotLinkControlsTest, TheSpeedBarSetsTheDriveSpeedAtOnce) {
  controls.SetSpeed(MainWindow::kSpeedBarMax);
  EXPECT_EQ(state.DriveSpeed, robot::RobotState::kMaxSpeed);
  controls.SetSpeed(MainWindow::kSpeedBarMin);
  EXPECT_EQ(state.DriveSpeed, robot::RobotState::kMinSpeed);
  controls.SetSpeed(MainWindow::kSpeedBarStart);
  EXPECT_EQ(state.DriveSpeed, robot::RobotState::kStartSpeed);
  EXPECT_TRUE(dispatcher.queue().empty());
}

TEST_F(RobotLinkControlsTest, AnUnconnectedLinkShowsAClosedSocketAndDisconnectKeepsIt) {
  EXPECT_EQ(controls.ConnectionState(), platform::SocketState::Closed);
  controls.CloseConnection();
  EXPECT_EQ(controls.ConnectionState(), platform::SocketState::Closed);
}

}  // namespace
}  // namespace rovalink::app
