#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "robot/robot_connection.h"
#include "settings/services.h"

namespace rovalink::robot::test {

// Records what the procedures send and which connection procedures they start.
class RecordingConnection : public RobotConnection {
 public:
  void SendToRobot(std::string_view packet) override { packets.emplace_back(packet); }
  void LoginSequenceRun() override { calls.push_back("LoginSequenceRun"); }
  void ConnectedOn() override { calls.push_back("ConnectedOn"); }
  void ConnectedOff() override { calls.push_back("ConnectedOff"); }

  std::vector<std::string> packets;
  std::vector<std::string> calls;
};

// Keeps every logged error and event as one line "type|data|description".
class RecordingServices : public settings::Services {
 public:
  void LogError(const std::string& first, const std::string& second,
                const std::string& description = {}) override {
    errors.push_back(first + "|" + second + "|" + description);
  }
  void LogEvent(const std::string& type, const std::string& data,
                const std::string& description = {}) override {
    events.push_back(type + "|" + data + "|" + description);
  }
  bool CreateFolders(const std::string&) override { return true; }

  std::vector<std::string> errors;
  std::vector<std::string> events;
};

}  // namespace rovalink::robot::test
