#include "app/tray_icon.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/fake_ui_port.h"

namespace rovalink::app {
namespace {

using Op = TrayIcon::Operation;
using Strings = std::vector<std::string>;
using Messages = std::vector<std::int32_t>;

class TrayIconTest : public ::testing::Test, public TrayIconOwner {
 protected:
  TrayIconTest() {
    tray.setCaption("Spykee");
    tray.SetCallback(this);
  }
  void TrayIconCallback(std::int32_t msg) override {
    received.push_back(msg);
    if (onCall) onCall(msg);
  }

  test::FakeUiPort ui;
  TrayIcon tray{ui};
  Messages received;
  std::function<void(std::int32_t)> onCall;
};

TEST_F(TrayIconTest, TheIconIsAddedOnceThenModifiedAndRemovedOnlyWhenShown) {
  tray.Update(false);
  EXPECT_EQ(tray.lastOperation(), Op::None);
  tray.Update(true);
  EXPECT_EQ(tray.lastOperation(), Op::Add);
  tray.setCaption(std::string(100, 'c'));  // the desktop keeps 64 characters of a tip
  tray.Update(true);
  EXPECT_EQ(tray.lastOperation(), Op::Modify);
  tray.Update(false);
  EXPECT_EQ(tray.lastOperation(), Op::Delete);
  tray.Update(false);
  tray.Unload();
  {
    TrayIcon unloaded{ui};  // unloading the window removes a shown icon
    unloaded.setCaption("Video");
    unloaded.Update(true);
  }
  const std::string tip(64, 'c');
  EXPECT_EQ(ui.calls, (Strings{"trayIcon:on:Spykee", "trayIcon:on:" + tip, "trayIcon:off:" + tip,
                               "trayIcon:on:Video", "trayIcon:off:Video"}));
}

TEST_F(TrayIconTest, OnlyButtonMessagesReachTheOwnerOneAtATimeAndAFailureIsContained) {
  onCall = [this](std::int32_t msg) {
    if (msg == 514) tray.mouseMessage(517);  // arrives during the handling: dropped
    if (msg == 516) throw std::runtime_error("menu failed");
  };
  for (std::int32_t msg : {0, 512, 513, 514, 515, 516, 517, 518, 519, 520, -514}) {
    tray.mouseMessage(msg);
  }
  EXPECT_EQ(received, (Messages{513, 514, 515, 516, 517, 518}));
}

}  // namespace
}  // namespace rovalink::app
