#pragma once

#include <string>
#include <vector>

#include "app/main_window.h"

namespace rovalink::test {

// The robot link as the main window sees it: records the direct actions, reports a settable
// connection state.
class FakeMainWindowRobot : public app::MainWindowRobot {
 public:
  void LoginSequenceRun() override { calls.push_back("LoginSequenceRun"); }
  void CloseConnection() override { calls.push_back("CloseConnection"); }
  void PlaySound(int index) override { calls.push_back("PlaySound " + std::to_string(index)); }
  void SetSpeed(int value) override { calls.push_back("SetSpeed " + std::to_string(value)); }
  platform::SocketState ConnectionState() const override { return state; }

  std::vector<std::string> calls;
  platform::SocketState state = platform::SocketState::Closed;
};

}  // namespace rovalink::test
