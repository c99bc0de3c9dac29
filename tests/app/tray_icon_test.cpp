#include "app/tray_icon.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/fake_ui_port.h"

namespace rovalink::app {
namespace {

using Op = TrayIcon::Operation;

TEST(TrayIcon, IsAddedOnceThenModifiedAndRemovedOnlyWhenShown) {
  test::FakeUiPort ui;
  TrayIcon tray{ui};
  tray.setCaption("Spykee");
  std::vector<Op> operations;
  for (const bool on : {false, true, true, false}) {
    if (operations.size() == 2) tray.setCaption(std::string(100, 'c'));  // the tip keeps 64
    tray.Update(on);
    operations.push_back(tray.lastOperation());
  }
  EXPECT_EQ(operations, (std::vector<Op>{Op::None, Op::Add, Op::Modify, Op::Delete}));
  tray.Update(false);
  tray.Unload();
  {
    TrayIcon unloaded{ui};  // unloading the window removes a shown icon
    unloaded.setCaption("Video");
    unloaded.Update(true);
  }
  const std::string tip(64, 'c');
  EXPECT_EQ(ui.calls, (std::vector<std::string>{"trayIcon:on:Spykee", "trayIcon:on:" + tip,
                                                "trayIcon:off:" + tip, "trayIcon:on:Video",
                                                "trayIcon:off:Video"}));
}

TEST(TrayIcon, OnlyButtonMessagesReachTheOwnerOneAtATimeAndAFailureIsContained) {
  struct Owner : TrayIconOwner {
    explicit Owner(TrayIcon& t) : tray(t) {}
    void TrayIconCallback(std::int32_t msg) override {
      received.push_back(msg);
      if (msg == 514) tray.mouseMessage(517);  // arrives during the handling: dropped
      if (msg == 516) throw std::runtime_error("menu failed");
    }
    TrayIcon& tray;
    std::vector<std::int32_t> received;
  };
  test::FakeUiPort ui;
  TrayIcon tray{ui};
  Owner owner(tray);
  tray.SetCallback(&owner);
  for (std::int32_t msg : {0, 512, 513, 514, 515, 516, 517, 518, 519, 520, -514}) {
    tray.mouseMessage(msg);
  }
  EXPECT_EQ(owner.received, (std::vector<std::int32_t>{513, 514, 515, 516, 517, 518}));
}

}  // namespace
}  // namespace rovalink::app
