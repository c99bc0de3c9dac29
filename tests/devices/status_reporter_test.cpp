#include "devices/status_reporter.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "devices/device_table.h"
#include "settings/recording_services.h"
#include "xap/recording_error_log.h"

namespace rovalink::devices {
namespace {

class ReportStatus : public ::testing::Test {
 protected:
  Devices devices = BuildDeviceTable();
  xap::testing::RecordingSender sender;
  testing::RecordingServices services;
  StatusReporter reporter{devices, sender, services};
  std::vector<std::string> changes;  // what the change listener (the MQTT side) was told
  ReportStatus() {
    reporter.setChangeListener([this](const std::string& name) { changes.push_back(name); });
  }
};

// Movement and Battery are inputs; the stored spelling of a name goes out, whatever the caller's.
TEST_F(ReportStatus, SendsTheDevicesStateWithItsClassSectionSourceAndUid) {
  devices.at("HeadLED").Status = devices.at("Battery").Status = devices.at("Speed").Status = true;
  devices.at("Battery").setValue(87);
  devices.at("Movement").setValue(-1);
  devices.at("Speed").setValue(73);
  devices.at("Video").setValue(15);
  reporter.ReportStatus("HeadLED", false);
  reporter.ReportStatus("Battery", false);
  reporter.ReportStatus("Movement", false);
  reporter.ReportStatus("Speed", true);
  reporter.ReportStatus("vIdeo", true);
  devices.at("Battery").Status = false;
  reporter.ReportStatus("battery", true);
  EXPECT_EQ(sender.sent,
            (std::vector<std::string>{
                "|xapBSC.Event|output.state|State=ON;Text=0|spykee.HeadLED.Relay|FF.0065:1A",
                "|xapBSC.Event|input.state|State=ON;Text=87|spykee.Battery.Switch|FF.0065:16",
                "|xapBSC.Event|input.state|State=OFF;Text=-1|spykee.Movement.Switch|FF.0065:0B",
                "|xapBSC.Info|output.state|State=ON;Text=73|spykee.Speed.Index|FF.0065:18",
                "|xapBSC.Info|output.state|State=OFF;Text=15|spykee.Video.Relay|FF.0065:20",
                "|xapBSC.Info|input.state|State=OFF;Text=87|spykee.Battery.Switch|FF.0065:16"}));
  EXPECT_TRUE(services.events.empty());
  EXPECT_EQ(changes, (std::vector<std::string>{"HeadLED", "Battery", "Movement"}));
}

TEST_F(ReportStatus, UnknownNamesAndFailedSendsAreOnlyLogged) {
  reporter.ReportStatus("HeadLEDD", false);
  sender.onSend = [](const std::string&) -> std::string {
    throw std::runtime_error("socket gone");
  };
  EXPECT_NO_THROW(reporter.ReportStatus("Turbo", false));
  EXPECT_EQ(sender.sent.size(), 1u);  // Turbo's only
  EXPECT_EQ(changes, std::vector<std::string>{"Turbo"});
  ASSERT_EQ(services.events.size(), 2u);
  EXPECT_EQ(services.events[0].first, "xapqbtSpykee");
  EXPECT_EQ(services.events[0].second,
            "ReportStatus for HeadLEDD is not recognized as a item in spykee");
  EXPECT_EQ(services.events[1].second, "ReportEvent Turbo");
  EXPECT_EQ(services.events[1].description, "socket gone");
}

}  // namespace
}  // namespace rovalink::devices
