#include "devices/device_table.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings/hs.h"
#include "settings/recording_services.h"
#include "settings/test_folder.h"

namespace rovalink::devices {
namespace {

// Written out by hand so the test does not share the table or HexByte with the code.
const char* const kNames =
    "LoginSequence MoveForward MoveBackward MoveRight MoveLeft MoveForwardRight MoveBackwardRight "
    "MoveForwardLeft MoveBackwardLeft MoveStop Movement SoundCamera SoundAlarm SoundBomb "
    "SoundLazer SoundLaugh SoundEngine SoundRobot SoundLove SoundCall StopDock Battery Volume "
    "Speed File HeadLED LeftLED RightLED Docked VOIP Audio Video Turbo Connected";
const std::string kUids = "0102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F202122";

TEST(DeviceTable, HoldsThe34DevicesInOrderWithTheirUidsAndKinds) {
  const Devices devices = BuildDeviceTable();
  ASSERT_EQ(devices.size(), 34u);
  std::istringstream names(kNames);
  std::size_t i = 0;
  for (const Device& d : devices) {
    std::string name;
    names >> name;
    EXPECT_EQ(d.Name, name);
    EXPECT_EQ(d.uID, kUids.substr(2 * i, 2)) << name;
    EXPECT_EQ(d.FunctionType, i < 22 ? "Switch" : i < 24 ? "Index" : "Relay") << name;
    EXPECT_TRUE(!d.Status && d.Value == 0) << name;
    ++i;
  }
  EXPECT_EQ(devices.names()[kFirstSoundPosition], "SoundAlarm");
  EXPECT_EQ(devices.names()[7 + kFirstSoundPosition], "SoundCall");
  EXPECT_EQ(DeviceUid(devices.at("Connected"), "FF.0065:00"), "FF.0065:22");
  EXPECT_EQ(DeviceUid(devices.at("Connected"), "FF.1A2B:00"), "FF.1A2B:22");
  EXPECT_EQ(DeviceSubAddress(devices.at("headled")), "spykee.HeadLED.Relay");
  EXPECT_EQ(HexByte(255), "FF");
}

TEST(Devices, LookupIgnoresLetterCaseAndRefusesUnknownOrRepeatedNames) {
  Devices devices = BuildDeviceTable();
  EXPECT_EQ(devices.at("vIdEo").uID, "20");
  devices.at("headled").Status = true;  // one device, not a copy
  EXPECT_TRUE(devices.at("HeadLED").Status);
  EXPECT_FALSE(devices.contains(""));
  EXPECT_EQ(devices.find("Head LED"), nullptr);
  EXPECT_THROW(devices.at("Batery"), std::out_of_range);
  EXPECT_FALSE(devices.add(Device{"VIDEO", "Switch", true, 5, "99"}));
  EXPECT_EQ(devices.size(), 34u);
  EXPECT_EQ(devices.at("video").FunctionType, "Relay");
}

// A bad reading (the frame rate) must not wrap around the 16-bit range.
TEST(Device, SetValueRoundsHalfToEvenAndHoldsTheRange) {
  const auto stored = [](double value) {
    Device d;
    d.setValue(value);
    return static_cast<int>(d.Value);
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ((std::vector<int>{stored(2.5), stored(3.5), stored(-2.5), stored(12.6), stored(4e4),
                              stored(-4e4), stored(nan), stored(inf)}),
            (std::vector<int>{2, 4, -2, 13, 32767, -32768, 0, 32767}));
}

TEST(RobotCredentials, ComeFromTheSpykeeSectionWithDefaultsPerKey) {
  testing::TestFolder folder;
  testing::RecordingServices services;
  settings::hs settings(services);
  settings.setAppPath(folder.path().string());
  EXPECT_EQ(ReadRobotCredentials(settings).RobotUserName, "admin");
  EXPECT_EQ(ReadRobotCredentials(settings).RobotPassword, "kelpo");
  testing::writeFile(folder.file("Config/qbtRovalink.ini"),
                     "[Other]\r\nusername=wrong\r\n[SPYKEE]\r\npassword=s3cret\r\n");
  EXPECT_EQ(ReadRobotCredentials(settings).RobotUserName, "admin");
  EXPECT_EQ(ReadRobotCredentials(settings).RobotPassword, "s3cret");
  testing::writeFile(folder.file("Config/qbtRovalink.ini"), "[spykee]\r\nusername=robbie\r\n");
  EXPECT_EQ(ReadRobotCredentials(settings).RobotUserName, "robbie");
}

}  // namespace
}  // namespace rovalink::devices
