#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QTest>
#include <memory>
#include <optional>
#include <vector>

#include "app/gateway.h"
#include "gui_fixture.h"
#include "support/gateway_rig.h"
#include "ui/desktop_ui_port.h"
#include "ui/main_window_view.h"
#include "ui/tray_icon_view.h"
#include "ui/video_window_view.h"

namespace rovalink::ui::testing {
namespace {

// The desktop program as main() assembles it (Qt views over the Gateway's models, the Qt UI
// port), with the robot and the hub on the simulated network. The process end is recorded
// instead of leaving an event loop.
class DesktopExit : public ::testing::Test {
 protected:
  struct Views {
    explicit Views(app::Gateway& g)
        : main(g.mainWindow()), video(g.videoWindow()), tray(g.trayIcon(), g.mainWindow()) {}
    MainWindowView main;
    VideoWindowView video;
    TrayIconView tray;
  };

  DesktopExit() {
    guiApplication();
    port.setProcessEnd([this](int code) { processEnds.push_back(code); });
    rig = std::make_unique<test::GatewayRig>(&port);
    rig->gateway->onModelsReady([this](app::Gateway& g) {
      views = std::make_unique<Views>(g);
      port.attach(&views->main, &views->video, &views->tray);
    });
  }
  ~DesktopExit() override {
    port.attach(nullptr, nullptr, nullptr);
    views.reset();  // the views go before the models they show
    rig.reset();
  }

  // Opens the tray menu the way a right click on the icon does and clicks one item.
  void clickTrayMenu(const char* item) {
    emit views->tray.icon().activated(QSystemTrayIcon::Context);
    QMenu& menu = views->tray.menu();
    ASSERT_TRUE(menu.isVisible());
    auto* action = menu.findChild<QAction*>(item);
    ASSERT_NE(action, nullptr);
    QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.actionGeometry(action).center());
  }

  DesktopUiPort port;
  std::vector<int> processEnds;
  std::unique_ptr<test::GatewayRig> rig;
  std::unique_ptr<Views> views;
};

TEST_F(DesktopExit, ExitInTheTrayMenuShutsDownAndEndsTheProcessWithZero) {
  ASSERT_EQ(rig->gateway->Start(), std::nullopt);
  ASSERT_TRUE(views->tray.icon().isVisible());
  ASSERT_TRUE(views->main.isVisible());
  ASSERT_TRUE(rig->robot.connected());

  clickTrayMenu("MenuArray6");

  EXPECT_EQ(processEnds, std::vector<int>{0});
  EXPECT_FALSE(views->tray.icon().isVisible());
  rig->sim.advanceMs(10);
  EXPECT_FALSE(rig->robot.connected());
  EXPECT_EQ(rig->robot.closes, 1);
  // Once "Exit" asked for the unload, the window may close for good.
  EXPECT_TRUE(views->main.close());
}

TEST_F(DesktopExit, ClosingTheMainWindowKeepsTheProgramAndShowFormBringsItBack) {
  ASSERT_EQ(rig->gateway->Start(), std::nullopt);

  EXPECT_FALSE(views->main.close());
  EXPECT_FALSE(views->main.isVisible());
  EXPECT_TRUE(views->tray.icon().isVisible());
  rig->sim.advanceMs(1000);
  EXPECT_TRUE(processEnds.empty());
  EXPECT_TRUE(rig->robot.connected());

  clickTrayMenu("MenuArray0");
  EXPECT_TRUE(views->main.isVisible());
  EXPECT_TRUE(processEnds.empty());
}

}  // namespace
}  // namespace rovalink::ui::testing
