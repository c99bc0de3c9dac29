#include "robot/robot_procedures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "devices/device_table.h"
#include "robot/fakes.h"

namespace rovalink::robot {
namespace {

class ProcedureFixture {
 protected:
  ProcedureFixture()
      : m_procedures({m_connection, m_devices,
                      [this](const std::string& name, bool) {
                        m_reports += (m_reports.empty() ? "" : " ") + name;
                      },
                      m_services, m_window, m_state}) {}

  devices::Device& device(std::string_view name) { return m_devices.at(name); }

  test::RecordingConnection m_connection;
  test::RecordingServices m_services;
  devices::Devices m_devices = devices::BuildDeviceTable();
  app::MainWindowModel m_window;
  RobotState m_state;
  std::string m_reports;
  RobotProcedures m_procedures;
};

// Procedures run in order from the start state ("Name=parameter", ";" between them), the
// packets they send (or the connection procedures they start) and the devices they report.
struct ProcedureCase {
  const char* procedures;
  const char* packets;
  const char* reports;
};

class CommandProcedure : public ProcedureFixture, public ::testing::TestWithParam<ProcedureCase> {};

TEST_P(CommandProcedure, SendsItsPacketsAndReportsItsDevices) {
  for (std::string_view rest = GetParam().procedures; !rest.empty();) {
    const std::string_view call = rest.substr(0, std::min(rest.find(';'), rest.size()));
    const std::size_t equals = std::min(call.find('='), call.size());
    EXPECT_TRUE(m_procedures.runProcedure(
        call.substr(0, equals), std::string(call.substr(std::min(equals + 1, call.size())))));
    rest.remove_prefix(std::min(call.size() + 1, rest.size()));
  }
  EXPECT_EQ(m_connection.log, GetParam().packets);
  EXPECT_EQ(m_reports, GetParam().reports);
  EXPECT_TRUE(m_services.events.empty());
}

// Motor bytes are 125 - S or 125 + S for the drive speed S (73 at start; Speed p sets p + 24,
// limited to 25..123), or the fixed 25 and 231 of a curve.
INSTANTIATE_TEST_SUITE_P(
    Procedures, CommandProcedure,
    ::testing::Values(
        ProcedureCase{"MoveForward", "50 4B 05 00 02 34 34", "Movement"},
        ProcedureCase{"MoveBackward", "50 4B 05 00 02 C6 C6", "Movement"},
        ProcedureCase{"MoveRight", "50 4B 05 00 02 34 C6", "Movement"},
        ProcedureCase{"MoveLeft", "50 4B 05 00 02 C6 34", "Movement"},
        ProcedureCase{"MoveForwardRight", "50 4B 05 00 02 34 19", "Movement"},
        ProcedureCase{"MoveBackwardRight", "50 4B 05 00 02 C6 E7", "Movement"},
        ProcedureCase{"MoveForwardLeft", "50 4B 05 00 02 19 34", "Movement"},
        ProcedureCase{"MoveBackwardLeft", "50 4B 05 00 02 E7 C6", "Movement"},
        ProcedureCase{"MoveLeft;MoveStop;MoveStop",
                      "50 4B 05 00 02 C6 34|50 4B 05 00 02 00 00|50 4B 05 00 02 00 00",
                      "Movement Movement"},
        ProcedureCase{"Speed=0;MoveForward", "50 4B 05 00 02 64 64", "Movement"},
        ProcedureCase{"Speed=99;MoveForward", "50 4B 05 00 02 02 02", "Movement"},
        ProcedureCase{"Speed=150;MoveBackward", "50 4B 05 00 02 F8 F8", "Movement"},
        ProcedureCase{"TurboOn;TurboOn;TurboOff", "50 4B 05 00 02 64 64|50 4B 05 00 02 64 64",
                      "Turbo Turbo Turbo"},
        ProcedureCase{"LeftLEDOn;RightLEDOff", "50 4B 04 00 02 01 01|50 4B 04 00 02 02 00",
                      "LeftLED RightLED"},
        ProcedureCase{"SoundCall;TakePicture", "50 4B 07 00 01 07|50 4B 07 00 01 10",
                      "SoundCall SoundCamera"},
        ProcedureCase{"SetMidVolume", "50 4B 09 00 01 32", "Volume"},
        ProcedureCase{"Volume= 80.5;Volume=81.5;Volume=loud",
                      "50 4B 09 00 01 50|50 4B 09 00 01 52|50 4B 09 00 01 00",
                      "Volume Volume Volume"},
        ProcedureCase{"AudioOn;VOIPOff", "50 4B 0F 00 02 02 01|50 4B 0F 00 02 03 00", "Audio VOIP"},
        ProcedureCase{"DockedOn;UnDock;StopDock",
                      "50 4B 10 00 01 06|50 4B 10 00 01 05|50 4B 10 00 01 07",
                      "Docked Docked Docked"},
        ProcedureCase{"Login_Post2;LoginSequence;ConnectedOn;ConnectedOff",
                      "50 4B 12 00 00|LoginSequenceRun|ConnectedOn|ConnectedOff", ""}),
    [](const auto& p) {
      std::string name;
      for (const char c : std::string(p.param.procedures)) {
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
      }
      return name;
    });

class Procedures : public ProcedureFixture, public ::testing::Test {};

TEST_F(Procedures, NamesAreMatchedExactly) {
  for (const char* name : {"movestop", "MoveStop ", "", "File"}) {
    EXPECT_FALSE(m_procedures.runProcedure(name)) << name;
  }
  EXPECT_EQ(m_connection.log + m_reports, "");
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

TEST_F(Procedures, ValuesThatDoNotFitThePacketAreRejectedAndLogged) {
  for (const char* level : {"256", "-1", "99999"}) m_procedures.runProcedure("Volume", level);
  m_procedures.PlaySound(8);
  m_procedures.PlaySound(-1);
  EXPECT_FALSE(m_procedures.SendLogin(std::string(200, 'u'), std::string(54, 'p')));
  EXPECT_EQ(m_connection.log + m_reports, "");
  EXPECT_FALSE(device("Volume").Status);
  ASSERT_EQ(m_services.events.size(), 6u);
  EXPECT_EQ(m_services.events[0],
            "xapqbtSpykee|Volume 256 not sent: a value does not fit the robot packet|");
  EXPECT_EQ(m_services.events[2].rfind("xapqbtSpykee|Volume 32767 not sent", 0), 0u);
  EXPECT_EQ(m_services.events[5],
            "xapqbtSpykee|Login not sent: a value does not fit the robot packet|");
}

}  // namespace
}  // namespace rovalink::robot
