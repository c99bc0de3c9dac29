#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/gateway.h"
#include "platform/sim/sim_platform.h"
#include "platform/ui_port.h"
#include "settings/test_folder.h"
#include "support/fake_spykee.h"
#include "support/fake_xap_hub.h"

namespace rovalink::test {

// The whole program on the simulated network: a fresh application folder whose settings send
// the bus traffic to a hub on the loopback address, a robot that answers the discovery, and the
// Gateway over them. ui: the desktop, or nullptr for headless mode.
class GatewayRig {
 public:
  static constexpr std::uint16_t kBusPort = 3710;
  static constexpr const char* kRobotAddress = "192.168.1.50";
  static constexpr std::uint16_t kRobotPort = 9000;
  static constexpr const char* kExecutable = "/opt/rovalink/bin/rovalink";

  explicit GatewayRig(platform::UiPort* ui) {
    testing::writeFile(folder.file("Config/qbtXap.ini"),
                       "[Interface]\r\nBusPort=" + std::to_string(kBusPort) +
                           "\r\nBroadcastAddress=127.0.0.1\r\n");
    testing::writeFile(folder.file("Config/qbtRovalink.ini"),
                       "[SPYKEE]\r\nusername=admin\r\npassword=kelpo\r\n");
    gateway = std::make_unique<app::Gateway>(
        sim, ui, xap::LaunchLocation{folder.path().string(), "", kExecutable},
        [this](int code) { processEnds.push_back(code); });
  }

  std::string errorLog() const { return testing::readFile(folder.file("Data/xapqbtSpykee.txt")); }

  platform::SimPlatform sim;
  testing::TestFolder folder;
  FakeXapHub hub{sim, "127.0.0.1", kBusPort};
  FakeSpykee robot{sim, kRobotAddress, kRobotPort};
  // Process ends asked of the loop (headless mode); a desktop port records its own.
  std::vector<int> processEnds;
  std::unique_ptr<app::Gateway> gateway;
};

}  // namespace rovalink::test
