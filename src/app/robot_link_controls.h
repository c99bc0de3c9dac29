#pragma once

#include "app/main_window.h"
#include "robot/robot_link.h"

namespace rovalink::app {

// The main window's view of the real robot link.
class RobotLinkControls : public MainWindowRobot {
 public:
  explicit RobotLinkControls(robot::RobotLink& link) : m_link(link) {}

  void LoginSequenceRun() override { m_link.LoginSequenceRun(); }
  void CloseConnection() override { m_link.CloseConnection(); }
  void PlaySound(int index) override { m_link.PlaySound(index); }
  void SetSpeed(int value) override { m_link.SetSpeed(value); }
  platform::SocketState ConnectionState() const override { return m_link.ConnectionState(); }

 private:
  robot::RobotLink& m_link;
};

}  // namespace rovalink::app
