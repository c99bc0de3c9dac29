#include <gtest/gtest.h>

#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <cstdlib>

#include "gui_fixture.h"

namespace rovalink::ui::testing {
namespace {

// Renders the windows as a user sees them while connected and driving. Always checks that the
// rendering shows the model's colours; with ROVALINK_SCREENSHOT_DIR set it also saves the
// pictures there (scripts/screenshots), and ROVALINK_SCREENSHOT_FRAME names the camera frame.
class UiScreenshots : public GuiTest {
 protected:
  void prepare() {
    credentials = {"admin", "kelpo"};
    window->FillCredentialBoxes();
    robot.state = platform::SocketState::Connected;
    robotState.BatteryLevel = 97;
    robotState.RobotDocked = false;
    model.FrameCount = 8;
    model.aHeadStatus = app::MainWindowModel::kHeadOn;
    model.aRightStatus = app::MainWindowModel::kRightOn;
    model.aAudioStatus = app::MainWindowModel::kAudioOn;
    window->VideoRateTimer().setInterval(app::MainWindow::kStatusRefreshMs);
    window->refreshStatus();
    mainView->refresh();
  }

  // The camera frame: the one given, else a plain test picture.
  std::string framePath() {
    if (const char* given = std::getenv("ROVALINK_SCREENSHOT_FRAME"); given && *given) {
      return given;
    }
    QImage picture(320, 240, QImage::Format_RGB32);
    picture.fill(QColor(40, 70, 110));
    QPainter painter(&picture);
    painter.setPen(Qt::white);
    painter.drawRect(20, 20, 280, 200);
    painter.end();
    const std::string path = folder.file("Video0.jpg");
    picture.save(QString::fromStdString(path), "JPG");
    return path;
  }

  static QString outputFolder() { return qEnvironmentVariable("ROVALINK_SCREENSHOT_DIR"); }
};

TEST_F(UiScreenshots, TheRenderedWindowsShowTheirState) {
  prepare();
  port->showMainWindow();
  port->showVideoWindow();
  videoWindow->ShowFrame(framePath());
  QTest::qWait(100);  // let both windows lay out and paint

  const QImage main = mainView->grab().toImage();
  ASSERT_FALSE(main.isNull());
  const auto centreOf = [&](const char* name) {
    const IndicatorLight* light = mainView->indicator(name);
    return main.pixelColor(light->mapTo(mainView.get(), light->rect().center()) *
                           main.devicePixelRatio());
  };
  EXPECT_EQ(centreOf("aHeadStatus"), QColor(255, 255, 255));
  EXPECT_EQ(centreOf("aRightStatus"), QColor(255, 128, 0));
  EXPECT_EQ(centreOf("aAudioStatus"), QColor(128, 128, 0));
  EXPECT_EQ(centreOf("aConnectStatus"), QColor(0, 255, 0));
  EXPECT_EQ(centreOf("aLeftStatus"), QColor(0xE0, 0xE0, 0xE0));

  const QImage video = videoView->grab().toImage();
  ASSERT_FALSE(video.isNull());
  EXPECT_GE(video.width(), 320);
  EXPECT_GE(video.height(), 240);

  const QString out = outputFolder();
  if (out.isEmpty()) return;
  ASSERT_TRUE(QDir().mkpath(out));
  EXPECT_TRUE(main.save(out + "/main_window.png"));
  EXPECT_TRUE(video.save(out + "/video_window.png"));

  // The whole screen, with the tray icon and its menu, where a desktop with a tray exists.
  if (QGuiApplication::platformName() == "xcb") {
    tray->Update(true);
    mainView->move(40, 40);
    videoView->move(mainView->frameGeometry().right() + 30, 40);
    QTest::qWait(1500);  // the tray takes the icon in
    // A right click on the icon: the menu opens with its right edge at the pointer.
    QCursor::setPos(trayView->icon().geometry().bottomLeft() + QPoint(0, 4));
    emit trayView->icon().activated(QSystemTrayIcon::Context);
    QTest::qWait(300);
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    EXPECT_TRUE(screen.save(out + "/desktop.png"));
    trayView->menu().hide();
    tray->Update(false);
  }
}

}  // namespace
}  // namespace rovalink::ui::testing
