#include <gtest/gtest.h>

#include <QBuffer>
#include <QCursor>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include "gui_fixture.h"
#include "support/recording_procedure_runner.h"

namespace rovalink::ui::testing {
namespace {

using platform::ArrowKey;
using Strings = std::vector<std::string>;
using DesktopViewsTest = GuiTest;

// A camera frame of one colour, as the robot's JPEG bytes.
std::string jpeg(QSize size, QColor colour) {
  QImage picture(size, QImage::Format_RGB32);
  picture.fill(colour);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  EXPECT_TRUE(buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "JPG"));
  return bytes.toStdString();
}

TEST_F(DesktopViewsTest, EveryControlShowsItsCaptionAndForwardsTheUsersAction) {
  for (const app::QueueButton& b : app::kQueueButtons) {
    QPushButton* button = mainView.button(QString::fromUtf8(b.control.data(), b.control.size()));
    ASSERT_NE(button, nullptr) << b.control;
    EXPECT_EQ(button->text().toStdString(), b.caption);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(dispatcher.queue().commands().back().Procedure, b.procedure);
  }
  EXPECT_EQ(dispatcher.queue().size(), app::kQueueButtons.size());
  QTest::mouseClick(mainView.button("aConnect"), Qt::LeftButton);
  QTest::mouseClick(mainView.button("aSound2"), Qt::LeftButton);
  auto* bar = mainView.findChild<QScrollBar*>("aSpeed");
  // Settings 1..99 are the drive speeds 25..123; the bar starts at the start speed 73.
  EXPECT_EQ((std::array{bar->minimum(), bar->maximum(), bar->value()}), (std::array{1, 99, 49}));
  bar->setValue(76);
  EXPECT_EQ(robot.calls, (Strings{"LoginSequenceRun", "PlaySound 2", "SetSpeed 76"}));
}

TEST_F(DesktopViewsTest, EachIndicatorShowsItsOwnModelColour) {
  platform::Colour* fields[] = {&model.aConnectStatus, &model.aDockStatus,  &model.aHeadStatus,
                                &model.aLeftStatus,    &model.aRightStatus, &model.aAudioStatus,
                                &model.aVOIPStatus};
  const char* names[] = {"aConnectStatus", "aDockStatus",  "aHeadStatus", "aLeftStatus",
                         "aRightStatus",   "aAudioStatus", "aVOIPStatus"};
  for (int i = 0; i < 7; ++i) *fields[i] = static_cast<platform::Colour>(i + 1) * 0x010203;
  mainView.refresh();
  for (int i = 0; i < 7; ++i) {  // the model numbers a colour 0x00BBGGRR
    EXPECT_EQ(mainView.indicator(names[i])->fill(), QColor(3 * (i + 1), 2 * (i + 1), i + 1));
  }
}

TEST_F(DesktopViewsTest, TheCredentialBoxesShowTheModelAndHandOnWhatIsTyped) {
  credentials = {"spykee", "secret"};
  window.FillCredentialBoxes();
  mainView.refresh();
  auto* user = mainView.findChild<QLineEdit*>("aUsername");
  auto* password = mainView.findChild<QLineEdit*>("aPassword");
  EXPECT_EQ(user->text() + " " + password->text(), "spykee *");
  // What is saved and what is not is the model's; here: each box hands on what is typed.
  user->clear();
  QTest::keyClicks(user, "bob");
  password->selectAll();
  QTest::keyClicks(password, "pw");
  EXPECT_EQ(credentials.RobotUserName + " " + credentials.RobotPassword, "bob pw");
}

TEST_F(DesktopViewsTest, TheVideoWindowShowsEveryFrameAndKeepsTheLastWhenOneIsBad) {
  for (const QSize size : {QSize(320, 240), QSize(160, 120)}) {
    videoWindow.ShowFrame(jpeg(size, Qt::green));
    EXPECT_EQ(videoView.image().pixmap().size(), size);
  }
  videoWindow.ShowFrame("not a picture");
  EXPECT_EQ(videoView.image().pixmap().size(), QSize(160, 120));
}

// Only what the video window receives while it has the focus drives: a Down typed in the User
// box or the tray menu, then a click on the video window, must not move the robot. Activating
// the window starts the keyboard drive; leaving it stops the drive and releases the keys held.
TEST_F(DesktopViewsTest, ArrowKeysCountOnlyAsTheFocusedVideoWindowReceivesThem) {
  test::RecordingProcedureRunner runner{sim.clock()};
  dispatcher.setProcedureRunner(&runner);
  port.showMainWindow();
  QApplication::setActiveWindow(&mainView);
  QTest::keyPress(mainView.findChild<QLineEdit*>("aUsername"), Qt::Key_Down);
  QTest::keyPress(&trayView.menu(), Qt::Key_Left);
  QTest::keyPress(&videoView, Qt::Key_Up);  // not the active window
  EXPECT_FALSE(port.isKeyDown(ArrowKey::Up));
  port.showVideoWindow();
  QApplication::setActiveWindow(&videoView);
  QTRY_VERIFY_WITH_TIMEOUT(videoWindow.KeyTimer().enabled(), 5000);
  sim.advanceMs(2000);
  EXPECT_EQ(runner.procedures(), Strings{});

  QTest::keyPress(&videoView, Qt::Key_Up);
  EXPECT_TRUE(port.isKeyDown(ArrowKey::Up) && port.isKeyDown(ArrowKey::Up));  // held: stays down
  QTest::keyRelease(&videoView, Qt::Key_Up);
  EXPECT_FALSE(port.isKeyDown(ArrowKey::Up));
  QTest::keyClick(&videoView, Qt::Key_Left);  // tapped between two queries
  EXPECT_TRUE(port.isKeyDown(ArrowKey::Left));
  EXPECT_FALSE(port.isKeyDown(ArrowKey::Left));
  QTest::keyPress(&videoView, Qt::Key_Down);
  port.showMainWindow();
  QApplication::setActiveWindow(&mainView);
  QTRY_VERIFY_WITH_TIMEOUT(!videoWindow.KeyTimer().enabled(), 5000);
  EXPECT_FALSE(port.isKeyDown(ArrowKey::Down));
}

// Without a tray nothing could bring a hidden window back: closing the main window minimises
// it, and the main window reopens a closed video window.
TEST_F(DesktopViewsTest, WithoutATrayClosingMinimisesAndTheVideoWindowCanBeReopened) {
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  port.showMainWindow();
  port.showVideoWindow();
  videoView.close();
  mainView.close();
  EXPECT_TRUE(mainView.isVisible());
  EXPECT_TRUE(mainView.isMinimized());
  EXPECT_FALSE(videoView.isVisible());
  QTest::mouseClick(mainView.button("aVideoWindow"), Qt::LeftButton);
  EXPECT_TRUE(videoView.isVisible());
}

// Each state of the robot link as a person sees it: the connection light, the battery label
// greyed while its level is not a current one, and "no video" instead of the last frame; while
// connected and driving, the pixels show the model's colours and the labels its texts. With
// ROVALINK_SCREENSHOT_DIR set (scripts/screenshots) the two windows are saved side by side as
// state_NAME.png, the connected ones also alone and with the desktop; ROVALINK_SCREENSHOT_FRAME
// names the camera frame.
using UiScreenshots = GuiTest;

TEST_F(UiScreenshots, EachLinkStateShowsInTheLightTheBatteryAndTheVideo) {
  using robot::LinkStatus;
  const struct {
    const char* name;
    platform::SocketState socket;
    LinkStatus link;
    QColor light;
  } cases[] = {
      {"searching", platform::SocketState::Closed, LinkStatus::Searching, QColor(255, 0, 0)},
      {"refused", platform::SocketState::Connected, LinkStatus::Refused, QColor(255, 191, 0)},
      {"lost", platform::SocketState::Closed, LinkStatus::Lost, QColor(255, 0, 0)},
      {"connected", platform::SocketState::Connected, LinkStatus::LoggedIn, QColor(0, 255, 0)},
  };
  const QString frameFile = qEnvironmentVariable("ROVALINK_SCREENSHOT_FRAME");
  const std::string frame = frameFile.isEmpty()
                                ? jpeg(QSize(320, 240), QColor(40, 70, 110))
                                : rovalink::testing::readFile(frameFile.toStdString());
  window.FillCredentialBoxes();
  window.VideoRateTimer().setInterval(app::MainWindow::kStatusRefreshMs);
  robotState.BatteryLevel = 97;
  port.showMainWindow();
  port.showVideoWindow();
  const QString out = qEnvironmentVariable("ROVALINK_SCREENSHOT_DIR");
  if (!out.isEmpty()) {
    ASSERT_TRUE(QDir().mkpath(out));
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    robot.state = c.socket;
    robotState.Status = c.link;
    const bool live = c.link == LinkStatus::LoggedIn;
    model.FrameCount = live ? 8 : 0;
    window.refreshStatus();
    if (live) {
      model.aHeadStatus = platform::MainWindowModel::kHeadOn;
      model.aRightStatus = platform::MainWindowModel::kRightOn;
      model.aAudioStatus = platform::MainWindowModel::kAudioOn;
      videoWindow.ShowFrame(frame);
    } else {
      videoWindow.ShowNoVideo();
    }
    mainView.refresh();
    QTest::qWait(50);
    const QImage main = mainView.grab().toImage();
    const auto centreOf = [&](const char* name) {
      const IndicatorLight* light = mainView.indicator(name);
      return main.pixelColor(light->mapTo(&mainView, light->rect().center()) *
                             main.devicePixelRatio());
    };
    EXPECT_EQ(centreOf("aConnectStatus"), c.light);
    EXPECT_EQ(mainView.findChild<QLabel*>("aBattery")->isEnabled(), live);
    EXPECT_EQ(videoView.showsNoVideo(), !live);
    EXPECT_EQ(mainView.findChild<QLabel*>("aVideoRate")->text(), live ? "24 Hz" : "0 Hz");
    if (live) {
      EXPECT_EQ(mainView.findChild<QLabel*>("aBattery")->text(), "Battery 97");
      EXPECT_EQ(centreOf("aRightStatus"), QColor(255, 128, 0));
    }
    if (out.isEmpty()) continue;
    const QImage video = videoView.grab().toImage();
    QImage both(main.width() + video.width() + 10, std::max(main.height(), video.height()),
                QImage::Format_RGB32);
    both.fill(Qt::white);
    QPainter painter(&both);
    painter.drawImage(0, 0, main);
    painter.drawImage(main.width() + 10, 0, video);
    painter.end();
    EXPECT_TRUE(both.save(out + "/state_" + c.name + ".png"));
    if (live) {
      EXPECT_TRUE(main.save(out + "/main_window.png"));
      EXPECT_TRUE(video.save(out + "/video_window.png"));
    }
  }
  if (out.isEmpty() || QGuiApplication::platformName() != "xcb") return;
  mainView.move(40, 40);
  videoView.move(mainView.frameGeometry().right() + 30, 40);
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    // No tray: the closed main window stays on the desktop, minimised.
    mainView.close();
    QTest::qWait(500);
    EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0).save(out + "/desktop_no_tray.png"));
    return;
  }
  // The whole screen with the tray icon and its menu, opened by a right click on the icon.
  tray.Update(true);
  QTest::qWait(1500);  // the tray takes the icon in
  QCursor::setPos(trayView.icon().geometry().bottomLeft() + QPoint(0, 4));
  emit trayView.icon().activated(QSystemTrayIcon::Context);
  QTest::qWait(300);
  EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0).save(out + "/desktop.png"));
  trayView.menu().hide();
  tray.Update(false);
}

}  // namespace
}  // namespace rovalink::ui::testing

// Fontconfig keeps a cache for the life of the process that LeakSanitizer reports when the
// sanitizer build runs the GUI tests; it is not ours to free.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}
