#include "robot/robot_procedures.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "devices/device_table.h"
#include "robot/fakes.h"
#include "settings/recording_services.h"

namespace rovalink::robot {
namespace {

struct ProcedureRig {
  ProcedureRig()
      : m_procedures({m_connection, m_devices,
                      [this](const std::string& name, bool) {
                        m_reports += (m_reports.empty() ? "" : " ") + name;
                      },
                      m_services, m_window, m_state}) {}

  devices::Device& device(std::string_view name) { return m_devices.at(name); }
  void runAll(std::string_view calls) {  // "Name=parameter;Name"
    for (std::string_view rest = calls; !rest.empty();) {
      const std::string_view call = rest.substr(0, std::min(rest.find(';'), rest.size()));
      const std::size_t equals = std::min(call.find('='), call.size());
      EXPECT_TRUE(m_procedures.runProcedure(
          call.substr(0, equals), std::string(call.substr(std::min(equals + 1, call.size())))));
      rest.remove_prefix(std::min(call.size() + 1, rest.size()));
    }
  }

  test::RecordingConnection m_connection;
  testing::RecordingServices m_services;
  devices::Devices m_devices = devices::BuildDeviceTable();
  platform::MainWindowModel m_window;
  RobotState m_state;
  std::string m_reports;
  RobotProcedures m_procedures;
};

class Procedures : public ::testing::Test, protected ProcedureRig {};

// Procedures run in order from the start state ("Name=parameter", ";" between them), the
// packets they send (or the connection procedures they start) and the devices they report.
// Motor bytes are 125 - S or 125 + S for the drive speed S (73 at start; Speed p sets p + 24,
// limited to 25..123), or the fixed 25 and 231 of a curve.
TEST_F(Procedures, SendTheirPacketsAndReportTheirDevices) {
  const struct {
    const char* procedures;
    const char* packets;
    const char* reports;
  } cases[] = {
      {"MoveForward", "50 4B 05 00 02 34 34", "Movement"},
      {"MoveBackward", "50 4B 05 00 02 C6 C6", "Movement"},
      {"MoveRight", "50 4B 05 00 02 34 C6", "Movement"},
      {"MoveLeft", "50 4B 05 00 02 C6 34", "Movement"},
      {"MoveForwardRight", "50 4B 05 00 02 34 19", "Movement"},
      {"MoveBackwardRight", "50 4B 05 00 02 C6 E7", "Movement"},
      {"MoveForwardLeft", "50 4B 05 00 02 19 34", "Movement"},
      {"MoveBackwardLeft", "50 4B 05 00 02 E7 C6", "Movement"},
      {"MoveLeft;MoveStop;MoveStop",
       "50 4B 05 00 02 C6 34|50 4B 05 00 02 00 00|50 4B 05 00 02 00 00", "Movement Movement"},
      {"Speed=0;MoveForward", "50 4B 05 00 02 64 64", "Movement"},
      {"Speed=99;MoveForward", "50 4B 05 00 02 02 02", "Movement"},
      {"Speed=150;MoveBackward", "50 4B 05 00 02 F8 F8", "Movement"},
      {"TurboOn;TurboOn;TurboOff", "50 4B 05 00 02 64 64|50 4B 05 00 02 64 64",
       "Turbo Turbo Turbo"},
      {"LeftLEDOn;RightLEDOff", "50 4B 04 00 02 01 01|50 4B 04 00 02 02 00", "LeftLED RightLED"},
      {"SoundCall;TakePicture", "50 4B 07 00 01 07|50 4B 07 00 01 10", "SoundCall SoundCamera"},
      {"SetMidVolume", "50 4B 09 00 01 32", "Volume"},
      {"Volume= 80.5;Volume=81.5;Volume=loud",
       "50 4B 09 00 01 50|50 4B 09 00 01 52|50 4B 09 00 01 00", "Volume Volume Volume"},
      {"AudioOn;VOIPOff", "50 4B 0F 00 02 02 01|50 4B 0F 00 02 03 00", "Audio VOIP"},
      {"DockedOn;UnDock;StopDock", "50 4B 10 00 01 06|50 4B 10 00 01 05|50 4B 10 00 01 07",
       "Docked Docked Docked"},
      {"Login_Post2;LoginSequence;ConnectedOn;ConnectedOff",
       "50 4B 12 00 00|LoginSequenceRun|ConnectedOn|ConnectedOff", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.procedures);
    ProcedureRig fresh;
    fresh.runAll(c.procedures);
    EXPECT_EQ(fresh.m_connection.log, c.packets);
    EXPECT_EQ(fresh.m_reports, c.reports);
    EXPECT_TRUE(fresh.m_services.events.empty());
  }
  // A stop drops queued commands by these names: each must be a motion of the table.
  for (const std::string_view motion : commands::kMotionProcedures) {
    ProcedureRig fresh;
    fresh.runAll(motion);
    EXPECT_EQ(fresh.m_reports, "Movement") << motion;
  }
}

TEST_F(Procedures, DockingSwitchesOffLedsAudioAndVideoAndUndockingOnlyVideoOn) {
  for (const char* name : {"HeadLED", "LeftLED", "RightLED", "Audio", "Video", "VOIP"}) {
    device(name).Status = true;
  }
  m_procedures.runProcedure("Dock");
  EXPECT_TRUE(m_state.RobotDocked && device("Docked").Status && device("VOIP").Status);
  for (const char* name : {"HeadLED", "LeftLED", "RightLED", "Audio", "Video"}) {
    EXPECT_FALSE(device(name).Status) << name;
  }
  device("HeadLED").Status = true;
  m_procedures.runProcedure("StopDock");
  EXPECT_FALSE(m_state.RobotDocked || device("Docked").Status);
  EXPECT_TRUE(device("Video").Status && device("HeadLED").Status);
}

TEST_F(Procedures, InexactNamesAndValuesThatDoNotFitThePacketSendNothing) {
  for (const char* name : {"movestop", "MoveStop ", "", "File"}) {
    EXPECT_FALSE(m_procedures.runProcedure(name)) << name;
  }
  for (const char* level : {"256", "-1", "99999"}) m_procedures.runProcedure("Volume", level);
  m_procedures.PlaySound(8);
  m_procedures.PlaySound(-1);
  EXPECT_FALSE(m_procedures.SendLogin(std::string(200, 'u'), std::string(54, 'p')));
  EXPECT_EQ(m_connection.log + m_reports, "");
  EXPECT_FALSE(device("Volume").Status);
  ASSERT_EQ(m_services.events.size(), 6u);  // the unfit values only
  const auto& events = m_services.events;
  EXPECT_EQ(events[0].first + "|" + events[0].second,
            "xapqbtSpykee|Volume 256 not sent: a value does not fit the robot packet");
  EXPECT_EQ(events[2].second.rfind("Volume 32767 not sent", 0), 0u);
  EXPECT_EQ(events[5].second, "Login not sent: a value does not fit the robot packet");
}

}  // namespace
}  // namespace rovalink::robot
