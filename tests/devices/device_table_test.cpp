#include "devices/device_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace rovalink::devices {
namespace {

struct Expected {
  const char* name;
  const char* uid;
  const char* kind;
};

// Written out by hand so the test does not share the table or HexByte with the code.
const std::vector<Expected> kExpectedTable = {
    {"LoginSequence", "01", "Switch"},
    {"MoveForward", "02", "Switch"},
    {"MoveBackward", "03", "Switch"},
    {"MoveRight", "04", "Switch"},
    {"MoveLeft", "05", "Switch"},
    {"MoveForwardRight", "06", "Switch"},
    {"MoveBackwardRight", "07", "Switch"},
    {"MoveForwardLeft", "08", "Switch"},
    {"MoveBackwardLeft", "09", "Switch"},
    {"MoveStop", "0A", "Switch"},
    {"Movement", "0B", "Switch"},
    {"SoundCamera", "0C", "Switch"},
    {"SoundAlarm", "0D", "Switch"},
    {"SoundBomb", "0E", "Switch"},
    {"SoundLazer", "0F", "Switch"},
    {"SoundLaugh", "10", "Switch"},
    {"SoundEngine", "11", "Switch"},
    {"SoundRobot", "12", "Switch"},
    {"SoundLove", "13", "Switch"},
    {"SoundCall", "14", "Switch"},
    {"StopDock", "15", "Switch"},
    {"Battery", "16", "Switch"},
    {"Volume", "17", "Index"},
    {"Speed", "18", "Index"},
    {"File", "19", "Relay"},
    {"HeadLED", "1A", "Relay"},
    {"LeftLED", "1B", "Relay"},
    {"RightLED", "1C", "Relay"},
    {"Docked", "1D", "Relay"},
    {"VOIP", "1E", "Relay"},
    {"Audio", "1F", "Relay"},
    {"Video", "20", "Relay"},
    {"Turbo", "21", "Relay"},
    {"Connected", "22", "Relay"},
};

TEST(DeviceTable, HoldsThe34DevicesInOrderWithTheirUidsAndKinds) {
  const Devices devices = BuildDeviceTable();
  ASSERT_EQ(devices.size(), kExpectedTable.size());
  std::size_t i = 0;
  for (const Device& d : devices) {
    SCOPED_TRACE(i);
    EXPECT_EQ(d.Name, kExpectedTable[i].name);
    EXPECT_EQ(d.uID, kExpectedTable[i].uid);
    EXPECT_EQ(d.FunctionType, kExpectedTable[i].kind);
    EXPECT_FALSE(d.Status);
    EXPECT_EQ(d.Value, 0);
    ++i;
  }
  const std::vector<std::string> names = devices.names();
  EXPECT_EQ(names.front(), "LoginSequence");
  EXPECT_EQ(names.back(), "Connected");
}

TEST(DeviceTable, SoundNumbersMapToTheirDevicesFromSoundAlarmOn) {
  const std::vector<std::string> names = BuildDeviceTable().names();
  EXPECT_EQ(names[0 + kFirstSoundPosition], "SoundAlarm");
  EXPECT_EQ(names[7 + kFirstSoundPosition], "SoundCall");
}

TEST(DeviceTable, FullUidAndSubAddressFollowTheStoredNameAndKind) {
  const Devices devices = BuildDeviceTable();
  EXPECT_EQ(DeviceUid(devices.at("HeadLED")), "FF.0065:1A");
  EXPECT_EQ(DeviceUid(devices.at("Connected")), "FF.0065:22");
  EXPECT_EQ(DeviceSubAddress(devices.at("headled")), "spykee.HeadLED.Relay");
  EXPECT_EQ(DeviceSubAddress(devices.at("Battery")), "spykee.Battery.Switch");
}

class HexByteTest : public ::testing::TestWithParam<std::tuple<int, const char*>> {};

TEST_P(HexByteTest, GivesTwoUpperCaseDigits) {
  EXPECT_EQ(HexByte(static_cast<std::uint8_t>(std::get<0>(GetParam()))), std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Values, HexByteTest,
                         ::testing::Values(std::make_tuple(0, "00"), std::make_tuple(1, "01"),
                                           std::make_tuple(10, "0A"), std::make_tuple(26, "1A"),
                                           std::make_tuple(34, "22"), std::make_tuple(160, "A0"),
                                           std::make_tuple(255, "FF")));

TEST(Devices, LookupIgnoresLetterCase) {
  Devices devices = BuildDeviceTable();
  for (const char* spelling : {"video", "VIDEO", "Video", "vIdEo"}) {
    SCOPED_TRACE(spelling);
    ASSERT_TRUE(devices.contains(spelling));
    EXPECT_EQ(devices.at(spelling).uID, "20");
  }
  // A write through one spelling is seen through another: one device, not a copy.
  devices.at("headled").Status = true;
  EXPECT_TRUE(devices.at("HeadLED").Status);
}

TEST(Devices, UnknownNameIsNotFoundAndAtRefusesIt) {
  Devices devices = BuildDeviceTable();
  EXPECT_FALSE(devices.contains("HeadLEDs"));
  EXPECT_FALSE(devices.contains(""));
  EXPECT_EQ(devices.find("Head LED"), nullptr);
  EXPECT_THROW(devices.at("Batery"), std::out_of_range);
}

TEST(Devices, AddRefusesANameThatDiffersOnlyInCase) {
  Devices devices;
  EXPECT_TRUE(devices.add(Device{"Video", "Relay", false, 0, "20"}));
  EXPECT_FALSE(devices.add(Device{"VIDEO", "Switch", true, 5, "99"}));
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices.at("video").FunctionType, "Relay");
}

class DeviceSetValueTest : public ::testing::TestWithParam<std::tuple<double, int>> {};

TEST_P(DeviceSetValueTest, RoundsHalfToEvenAndHoldsTheRange) {
  Device d;
  d.setValue(std::get<0>(GetParam()));
  EXPECT_EQ(d.Value, std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(
    Values, DeviceSetValueTest,
    ::testing::Values(std::make_tuple(2.5, 2), std::make_tuple(3.5, 4), std::make_tuple(-2.5, -2),
                      std::make_tuple(12.4, 12), std::make_tuple(12.6, 13), std::make_tuple(0.5, 0),
                      std::make_tuple(73.0, 73), std::make_tuple(40000.0, 32767),
                      std::make_tuple(-40000.0, -32768),
                      std::make_tuple(std::numeric_limits<double>::quiet_NaN(), 0),
                      std::make_tuple(std::numeric_limits<double>::infinity(), 32767)));

}  // namespace
}  // namespace rovalink::devices
