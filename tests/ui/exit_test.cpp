#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QTest>

#include "app/gateway.h"
#include "gui_fixture.h"
#include "support/gateway_rig.h"

namespace rovalink::ui::testing {
namespace {

struct Views {
  explicit Views(app::Gateway& g)
      : main(g.mainWindow()), video(g.videoWindow()), tray(g.trayIcon(), g.mainWindow()) {}
  MainWindowView main;
  VideoWindowView video;
  TrayIconView tray;
};

// The desktop program as main() assembles it, with the robot and the hub on the simulated
// network. The process end is recorded instead of leaving an event loop.
TEST(DesktopExit, ClosingTheWindowOnlyHidesItAndExitInTheTrayMenuEndsTheProcessWithZero) {
  guiApplication();
  DesktopUiPort port;
  std::vector<int> processEnds;
  port.setProcessEnd([&](int code) { processEnds.push_back(code); });
  test::GatewayRig rig(&port);
  std::unique_ptr<Views> views;  // goes first, before the models it shows
  rig.gateway->onModelsReady([&](app::Gateway& g) {
    views = std::make_unique<Views>(g);
    port.attach(&views->main, &views->video, &views->tray);
  });
  // Opens the tray menu with a button release on the icon and clicks one item.
  const auto clickTrayMenu = [&](QSystemTrayIcon::ActivationReason release, const char* item) {
    emit views->tray.icon().activated(release);
    QMenu& menu = views->tray.menu();
    ASSERT_TRUE(menu.isVisible());
    QTest::mouseClick(&menu, Qt::LeftButton, {},
                      menu.actionGeometry(menu.findChild<QAction*>(item)).center());
  };

  ASSERT_EQ(rig.gateway->Start(), std::nullopt);
  ASSERT_TRUE(views->main.isVisible());
  EXPECT_FALSE(views->main.close());
  // Hidden with a tray to bring it back; minimised without one (as here, offscreen).
  EXPECT_EQ(views->main.isVisible(), !QSystemTrayIcon::isSystemTrayAvailable());
  EXPECT_TRUE(views->tray.icon().isVisible());
  rig.sim.advanceMs(1000);
  EXPECT_TRUE(processEnds.empty());
  clickTrayMenu(QSystemTrayIcon::Trigger, "MenuArray0");  // left button: Show Form
  EXPECT_TRUE(views->main.isVisible());

  clickTrayMenu(QSystemTrayIcon::Context, "MenuArray6");  // right button: Exit
  EXPECT_EQ(processEnds, std::vector<int>{0});
  EXPECT_FALSE(views->tray.icon().isVisible());
  EXPECT_TRUE(views->main.close());  // once "Exit" asked for the unload, the window may close
}

}  // namespace
}  // namespace rovalink::ui::testing
