#include "robot/robot_procedures.h"

#include <gtest/gtest.h>

#include "devices/device_table.h"
#include "robot/fakes.h"
#include "robot/hex.h"

namespace rovalink::robot {
namespace {

using app::MainWindowModel;
using test::toHex;

class ProcedureFixture {
 protected:
  ProcedureFixture()
      : m_procedures({m_connection, m_devices,
                      [this](const std::string& name, bool isInfo) {
                        m_reports.push_back(isInfo ? name + ":info" : name);
                      },
                      m_services, m_window, m_state}) {}

  std::vector<std::string> sentHex() const {
    std::vector<std::string> hex;
    for (const auto& packet : m_connection.packets) hex.push_back(toHex(packet));
    return hex;
  }
  devices::Device& device(std::string_view name) { return m_devices.at(name); }

  test::RecordingConnection m_connection;
  test::RecordingServices m_services;
  devices::Devices m_devices = devices::BuildDeviceTable();
  MainWindowModel m_window;
  RobotState m_state;
  std::vector<std::string> m_reports;
  RobotProcedures m_procedures;
};

struct ProcedureCase {
  const char* procedure;
  const char* parameter;
  std::vector<std::string> packets;
  std::vector<std::string> reports;
};

class CommandProcedure : public ProcedureFixture, public ::testing::TestWithParam<ProcedureCase> {};

TEST_P(CommandProcedure, SendsItsPacketsAndReportsItsDevices) {
  const ProcedureCase& c = GetParam();
  ASSERT_TRUE(m_procedures.runProcedure(c.procedure, c.parameter));
  EXPECT_EQ(sentHex(), c.packets);
  EXPECT_EQ(m_reports, c.reports);
  EXPECT_TRUE(m_services.events.empty());
}

INSTANTIATE_TEST_SUITE_P(
    AtStartSpeed, CommandProcedure,
    ::testing::Values(ProcedureCase{"MoveForward", "", {"50 4B 05 00 02 34 34"}, {"Movement"}},
                      ProcedureCase{"MoveBackward", "", {"50 4B 05 00 02 C6 C6"}, {"Movement"}},
                      ProcedureCase{"MoveRight", "", {"50 4B 05 00 02 34 C6"}, {"Movement"}},
                      ProcedureCase{"MoveLeft", "", {"50 4B 05 00 02 C6 34"}, {"Movement"}},
                      ProcedureCase{"MoveForwardRight", "", {"50 4B 05 00 02 34 19"}, {"Movement"}},
                      ProcedureCase{
                          "MoveBackwardRight", "", {"50 4B 05 00 02 C6 E7"}, {"Movement"}},
                      ProcedureCase{"MoveForwardLeft", "", {"50 4B 05 00 02 19 34"}, {"Movement"}},
                      ProcedureCase{"MoveBackwardLeft", "", {"50 4B 05 00 02 E7 C6"}, {"Movement"}},
                      ProcedureCase{"MoveStop", "", {"50 4B 05 00 02 00 00"}, {}},
                      ProcedureCase{"HeadLEDOn", "", {"50 4B 04 00 02 00 01"}, {"HeadLED"}},
                      ProcedureCase{"HeadLEDOff", "", {"50 4B 04 00 02 00 00"}, {"HeadLED"}},
                      ProcedureCase{"LeftLEDOn", "", {"50 4B 04 00 02 01 01"}, {"LeftLED"}},
                      ProcedureCase{"RightLEDOff", "", {"50 4B 04 00 02 02 00"}, {"RightLED"}},
                      ProcedureCase{"SoundAlarm", "", {"50 4B 07 00 01 00"}, {"SoundAlarm"}},
                      ProcedureCase{"SoundLaugh", "", {"50 4B 07 00 01 03"}, {"SoundLaugh"}},
                      ProcedureCase{"SoundCall", "", {"50 4B 07 00 01 07"}, {"SoundCall"}},
                      ProcedureCase{"TakePicture", "", {"50 4B 07 00 01 10"}, {"SoundCamera"}},
                      ProcedureCase{"SoundCamera", "", {"50 4B 07 00 01 10"}, {"SoundCamera"}},
                      ProcedureCase{"SetMidVolume", "", {"50 4B 09 00 01 32"}, {"Volume"}},
                      ProcedureCase{"Volume", " 80.5", {"50 4B 09 00 01 50"}, {"Volume"}},
                      ProcedureCase{"Volume", "81.5", {"50 4B 09 00 01 52"}, {"Volume"}},
                      ProcedureCase{"Volume", "255", {"50 4B 09 00 01 FF"}, {"Volume"}},
                      ProcedureCase{"Volume", "loud", {"50 4B 09 00 01 00"}, {"Volume"}},
                      ProcedureCase{"VideoOn", "", {"50 4B 0F 00 02 01 01"}, {"Video"}},
                      ProcedureCase{"VideoOff", "", {"50 4B 0F 00 02 01 00"}, {"Video"}},
                      ProcedureCase{"AudioOn", "", {"50 4B 0F 00 02 02 01"}, {"Audio"}},
                      ProcedureCase{"VOIPOff", "", {"50 4B 0F 00 02 03 00"}, {"VOIP"}},
                      ProcedureCase{"Dock", "", {"50 4B 10 00 01 06"}, {"Docked"}},
                      ProcedureCase{"DockedOn", "", {"50 4B 10 00 01 06"}, {"Docked"}},
                      ProcedureCase{"UnDock", "", {"50 4B 10 00 01 05"}, {"Docked"}},
                      ProcedureCase{"DockedOff", "", {"50 4B 10 00 01 05"}, {"Docked"}},
                      ProcedureCase{"StopDock", "", {"50 4B 10 00 01 07"}, {"Docked"}},
                      ProcedureCase{"TurboOn", "", {"50 4B 05 00 02 64 64"}, {"Turbo"}},
                      ProcedureCase{"TurboOff", "", {}, {"Turbo"}},
                      ProcedureCase{"Speed", "50", {}, {}},
                      ProcedureCase{"Login_Post2", "", {"50 4B 12 00 00"}, {}}),
    [](const auto& p) {
      std::string name = p.param.procedure;
      for (char c : std::string(p.param.parameter)) {
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
      }
      return name;
    });

class Procedures : public ProcedureFixture, public ::testing::Test {};

TEST_F(Procedures, ConnectionProceduresGoToTheConnection) {
  EXPECT_TRUE(m_procedures.runProcedure("LoginSequence"));
  EXPECT_TRUE(m_procedures.runProcedure("ConnectedOn"));
  EXPECT_TRUE(m_procedures.runProcedure("ConnectedOff"));
  EXPECT_EQ(m_connection.calls,
            (std::vector<std::string>{"LoginSequenceRun", "ConnectedOn", "ConnectedOff"}));
  EXPECT_TRUE(m_connection.packets.empty());
}

TEST_F(Procedures, NamesAreMatchedExactly) {
  for (const char* name : {"movestop", "MoveStop ", "", "File", "Unknown"}) {
    EXPECT_FALSE(m_procedures.runProcedure(name)) << name;
  }
  EXPECT_TRUE(m_connection.packets.empty());
  EXPECT_TRUE(m_reports.empty());
}

TEST_F(Procedures, MovementIsReportedWhenMotionStartsAndStopsOnly) {
  m_procedures.runProcedure("MoveForward");
  m_procedures.runProcedure("MoveLeft");
  EXPECT_EQ(m_reports, std::vector<std::string>{"Movement"});
  EXPECT_TRUE(device("Movement").Status);
  EXPECT_EQ(device("Movement").Value, 4);

  m_procedures.runProcedure("MoveStop");
  EXPECT_EQ(m_reports, (std::vector<std::string>{"Movement", "Movement"}));
  EXPECT_FALSE(device("Movement").Status);
  EXPECT_EQ(device("Movement").Value, 0);

  m_procedures.runProcedure("MoveStop");
  EXPECT_EQ(m_reports.size(), 2u);
}

TEST_F(Procedures, MotorBytesFollowTheDriveSpeed) {
  m_state.DriveSpeed = RobotState::kMaxSpeed;
  m_procedures.runProcedure("MoveForward");
  m_procedures.runProcedure("MoveBackward");
  m_state.DriveSpeed = RobotState::kMinSpeed;
  m_procedures.runProcedure("MoveForward");
  m_procedures.runProcedure("MoveBackward");
  EXPECT_EQ(sentHex(), (std::vector<std::string>{"50 4B 05 00 02 02 02", "50 4B 05 00 02 F8 F8",
                                                 "50 4B 05 00 02 64 64", "50 4B 05 00 02 96 96"}));
}

TEST_F(Procedures, TurboTogglesOnceButReportsEveryTime) {
  m_procedures.runProcedure("TurboOn");
  m_procedures.runProcedure("TurboOn");
  EXPECT_EQ(sentHex(), std::vector<std::string>{"50 4B 05 00 02 64 64"});
  EXPECT_EQ(m_reports, (std::vector<std::string>{"Turbo", "Turbo"}));
  EXPECT_TRUE(device("Turbo").Status);
  m_procedures.runProcedure("TurboOff");
  EXPECT_EQ(m_connection.packets.size(), 2u);
  EXPECT_FALSE(device("Turbo").Status);
}

struct IndicatorCase {
  const char* procedure;
  app::Colour MainWindowModel::*indicator;
  app::Colour colour;
  const char* device;
  bool status;
};

class Indicator : public ProcedureFixture, public ::testing::TestWithParam<IndicatorCase> {};

TEST_P(Indicator, FollowsTheSwitchAndItsDevice) {
  const IndicatorCase& c = GetParam();
  m_window.*(c.indicator) = 0x123456;
  device(c.device).Status = !c.status;
  m_procedures.runProcedure(c.procedure);
  EXPECT_EQ(m_window.*(c.indicator), c.colour);
  EXPECT_EQ(device(c.device).Status, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Window, Indicator,
    ::testing::Values(
        IndicatorCase{"HeadLEDOn", &MainWindowModel::aHeadStatus, 0xFFFFFF, "HeadLED", true},
        IndicatorCase{"HeadLEDOff", &MainWindowModel::aHeadStatus, 0xE0E0E0, "HeadLED", false},
        IndicatorCase{"LeftLEDOn", &MainWindowModel::aLeftStatus, 0x00FFFF, "LeftLED", true},
        IndicatorCase{"LeftLEDOff", &MainWindowModel::aLeftStatus, 0xE0E0E0, "LeftLED", false},
        IndicatorCase{"RightLEDOn", &MainWindowModel::aRightStatus, 0x0080FF, "RightLED", true},
        IndicatorCase{"RightLEDOff", &MainWindowModel::aRightStatus, 0xE0E0E0, "RightLED", false},
        IndicatorCase{"AudioOn", &MainWindowModel::aAudioStatus, 0x008080, "Audio", true},
        IndicatorCase{"AudioOff", &MainWindowModel::aAudioStatus, 0xE0E0E0, "Audio", false},
        IndicatorCase{"VOIPOn", &MainWindowModel::aVOIPStatus, 0x808000, "VOIP", true},
        IndicatorCase{"VOIPOff", &MainWindowModel::aVOIPStatus, 0xE0E0E0, "VOIP", false}),
    [](const auto& p) { return std::string(p.param.procedure); });

TEST_F(Procedures, VideoSwitchTouchesNoIndicator) {
  const MainWindowModel before = m_window;
  m_procedures.runProcedure("VideoOn");
  EXPECT_TRUE(device("Video").Status);
  EXPECT_EQ(m_window.aHeadStatus, before.aHeadStatus);
  EXPECT_EQ(m_window.aAudioStatus, before.aAudioStatus);
  EXPECT_EQ(m_window.aVOIPStatus, before.aVOIPStatus);
}

TEST_F(Procedures, DockingSwitchesOffLedsAudioAndVideoWithoutReports) {
  for (const char* name : {"HeadLED", "LeftLED", "RightLED", "Audio", "Video", "VOIP"}) {
    device(name).Status = true;
  }
  m_procedures.runProcedure("Dock");
  EXPECT_TRUE(m_state.RobotDocked);
  EXPECT_TRUE(device("Docked").Status);
  for (const char* name : {"HeadLED", "LeftLED", "RightLED", "Audio", "Video"}) {
    EXPECT_FALSE(device(name).Status) << name;
  }
  EXPECT_TRUE(device("VOIP").Status);
  EXPECT_EQ(m_reports, std::vector<std::string>{"Docked"});
}

TEST_F(Procedures, UndockingSwitchesVideoOnAndLeavesLedsAlone) {
  device("HeadLED").Status = true;
  m_state.RobotDocked = true;
  m_procedures.runProcedure("StopDock");
  EXPECT_FALSE(m_state.RobotDocked);
  EXPECT_FALSE(device("Docked").Status);
  EXPECT_TRUE(device("Video").Status);
  EXPECT_TRUE(device("HeadLED").Status);
}

struct SpeedCase {
  const char* parameter;
  std::int16_t driveSpeed;
  std::int16_t deviceValue;
};

class SpeedSetting : public ProcedureFixture, public ::testing::TestWithParam<SpeedCase> {};

TEST_P(SpeedSetting, LimitsDriveSpeedAndKeepsTheSettingOnTheDevice) {
  m_procedures.runProcedure("Speed", GetParam().parameter);
  EXPECT_EQ(m_state.DriveSpeed, GetParam().driveSpeed);
  EXPECT_EQ(device("Speed").Value, GetParam().deviceValue);
  EXPECT_TRUE(m_connection.packets.empty());
  EXPECT_TRUE(m_reports.empty());
}

INSTANTIATE_TEST_SUITE_P(Speeds, SpeedSetting,
                         ::testing::Values(SpeedCase{"0", 25, 0}, SpeedCase{"99", 123, 99},
                                           SpeedCase{"150", 123, 150}, SpeedCase{"49", 73, 49},
                                           SpeedCase{"-40", 25, -40},
                                           SpeedCase{"99999", 123, 32767}));

TEST_F(Procedures, VolumeSetsTheDeviceLevel) {
  m_procedures.runProcedure("Volume", "80");
  EXPECT_TRUE(device("Volume").Status);
  EXPECT_EQ(device("Volume").Value, 80);
}

TEST_F(Procedures, VolumeOutsideAByteIsRejectedAndLogged) {
  for (const char* level : {"256", "-1", "99999"}) {
    EXPECT_TRUE(m_procedures.runProcedure("Volume", level)) << level;
  }
  EXPECT_TRUE(m_connection.packets.empty());
  EXPECT_TRUE(m_reports.empty());
  EXPECT_FALSE(device("Volume").Status);
  EXPECT_EQ(device("Volume").Value, 0);
  ASSERT_EQ(m_services.events.size(), 3u);
  EXPECT_EQ(m_services.events[0],
            "xapqbtSpykee|Volume 256 not sent: a value does not fit the robot packet|");
  EXPECT_EQ(m_services.events[2].rfind("xapqbtSpykee|Volume 32767 not sent", 0), 0u);
}

TEST_F(Procedures, SoundNumberOutsideTheTableIsRejected) {
  m_procedures.PlaySound(8);
  m_procedures.PlaySound(-1);
  EXPECT_TRUE(m_connection.packets.empty());
  EXPECT_TRUE(m_reports.empty());
  EXPECT_EQ(m_services.events.size(), 2u);
}

TEST_F(Procedures, SoundSwitchesItsDeviceOn) {
  m_procedures.PlaySound(3);
  EXPECT_TRUE(device("SoundLaugh").Status);
  EXPECT_FALSE(device("SoundLove").Status);
}

TEST_F(Procedures, LoginSendsCredentialsAndReportsTheSequence) {
  EXPECT_TRUE(m_procedures.SendLogin("abc", ""));
  EXPECT_EQ(sentHex(), std::vector<std::string>{"50 4B 0A 00 05 03 61 62 63 00"});
  EXPECT_TRUE(device("LoginSequence").Status);
  EXPECT_EQ(m_reports, std::vector<std::string>{"LoginSequence"});
}

TEST_F(Procedures, OverlongCredentialsAreRejectedAndLogged) {
  EXPECT_FALSE(m_procedures.SendLogin(std::string(200, 'u'), std::string(54, 'p')));
  EXPECT_TRUE(m_connection.packets.empty());
  EXPECT_FALSE(device("LoginSequence").Status);
  EXPECT_TRUE(m_reports.empty());
  ASSERT_EQ(m_services.events.size(), 1u);
  EXPECT_EQ(m_services.events[0],
            "xapqbtSpykee|Login not sent: a value does not fit the robot packet|");
}

}  // namespace
}  // namespace rovalink::robot
