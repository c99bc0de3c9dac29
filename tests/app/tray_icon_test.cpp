#include "app/tray_icon.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/fake_ui_port.h"

namespace rovalink::app {
namespace {

using Op = TrayIcon::Operation;

class RecordingOwner : public TrayIconOwner {
 public:
  void TrayIconCallback(std::int32_t msg) override {
    received.push_back(msg);
    if (onCall) onCall(msg);
  }
  std::vector<std::int32_t> received;
  std::function<void(std::int32_t)> onCall;
};

class TrayIconTest : public ::testing::Test {
 protected:
  TrayIconTest() {
    tray.setCaption("Spykee");
    tray.SetCallback(&owner);
  }
  test::FakeUiPort ui;
  RecordingOwner owner;
  TrayIcon tray{ui};
};

TEST_F(TrayIconTest, FirstUpdateAddsLaterOnesModifyWithoutASecondAdd) {
  tray.Update(true);
  EXPECT_EQ(tray.lastOperation(), Op::Add);
  tray.setCaption("Spykee 2");
  tray.Update(true);
  EXPECT_EQ(tray.lastOperation(), Op::Modify);
  EXPECT_TRUE(tray.iconShown());
  EXPECT_EQ(ui.calls, (std::vector<std::string>{"trayIcon:on:Spykee", "trayIcon:on:Spykee 2"}));
}

TEST_F(TrayIconTest, RemovingAnIconThatIsNotShownDoesNotCallTheDesktop) {
  tray.Update(false);
  EXPECT_EQ(tray.lastOperation(), Op::None);
  EXPECT_TRUE(ui.calls.empty());
}

TEST_F(TrayIconTest, RemovingAShownIconDeletesItOnce) {
  tray.Update(true);
  tray.Update(false);
  EXPECT_EQ(tray.lastOperation(), Op::Delete);
  tray.Update(false);
  tray.Unload();
  EXPECT_FALSE(tray.iconShown());
  EXPECT_EQ(ui.calls, (std::vector<std::string>{"trayIcon:on:Spykee", "trayIcon:off:Spykee"}));
}

TEST(TrayIconLifetime, UnloadingTheWindowRemovesAShownIcon) {
  test::FakeUiPort ui;
  {
    TrayIcon tray{ui};
    tray.setCaption("Spykee");
    tray.Update(true);
  }
  EXPECT_EQ(ui.calls, (std::vector<std::string>{"trayIcon:on:Spykee", "trayIcon:off:Spykee"}));
}

TEST(TrayIconTip, TheDesktopKeepsAtMostSixtyFourCharacters) {
  EXPECT_EQ(TrayIcon::TipText("Spykee"), "Spykee");
  EXPECT_EQ(TrayIcon::TipText(std::string(63, 'a')), std::string(63, 'a'));
  EXPECT_EQ(TrayIcon::TipText(std::string(64, 'b')), std::string(64, 'b'));
  EXPECT_EQ(TrayIcon::TipText(std::string(100, 'c')), std::string(64, 'c'));
}

class TrayMouseMessages : public TrayIconTest,
                          public ::testing::WithParamInterface<std::pair<std::int32_t, bool>> {};

TEST_P(TrayMouseMessages, OnlyButtonMessagesReachTheOwner) {
  const auto [msg, reaches] = GetParam();
  tray.mouseMessage(msg);
  if (reaches) {
    EXPECT_EQ(owner.received, (std::vector<std::int32_t>{msg}));
  } else {
    EXPECT_TRUE(owner.received.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Messages, TrayMouseMessages,
                         ::testing::Values(std::pair{0, false}, std::pair{512, false},
                                           std::pair{513, true}, std::pair{514, true},
                                           std::pair{515, true}, std::pair{516, true},
                                           std::pair{517, true}, std::pair{518, true},
                                           std::pair{519, false}, std::pair{520, false},
                                           std::pair{-514, false}));

TEST_F(TrayIconTest, AMessageDuringTheOwnersHandlingIsDropped) {
  owner.onCall = [this](std::int32_t msg) {
    if (msg == 514) tray.mouseMessage(517);
  };
  tray.mouseMessage(514);
  EXPECT_EQ(owner.received, (std::vector<std::int32_t>{514}));
  tray.mouseMessage(517);  // the guard is released afterwards
  EXPECT_EQ(owner.received, (std::vector<std::int32_t>{514, 517}));
}

TEST_F(TrayIconTest, AFailingOwnerDoesNotBreakTheIcon) {
  owner.onCall = [](std::int32_t) { throw std::runtime_error("menu failed"); };
  EXPECT_NO_THROW(tray.mouseMessage(514));
  owner.onCall = nullptr;
  tray.mouseMessage(517);
  EXPECT_EQ(owner.received, (std::vector<std::int32_t>{514, 517}));
}

TEST(TrayIconWithoutOwner, MessagesAreIgnored) {
  test::FakeUiPort ui;
  TrayIcon tray{ui};
  EXPECT_NO_THROW(tray.mouseMessage(514));
}

}  // namespace
}  // namespace rovalink::app
