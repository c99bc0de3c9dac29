#include <gtest/gtest.h>

#include <QBuffer>
#include <QCursor>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include "gui_fixture.h"

namespace rovalink::ui::testing {
namespace {

using platform::ArrowKey;
using Strings = std::vector<std::string>;
using DesktopViewsTest = GuiTest;

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

TEST_F(DesktopViewsTest, TypingInTheCredentialBoxesSavesAllButEmptyOrStarredText) {
  credentials = {"spykee", "secret"};
  window.FillCredentialBoxes();
  mainView.refresh();
  auto* user = mainView.findChild<QLineEdit*>("aUsername");
  auto* password = mainView.findChild<QLineEdit*>("aPassword");
  EXPECT_EQ(user->text() + " " + password->text(), "spykee *");
  user->clear();
  QTest::keyClicks(user, "bob");
  QTest::keyClicks(password, "abc");  // "*abc"
  const auto stored = [&](const char* key) {
    return settingsObject.GetINISetting("SPYKEE", key, "<none>", "qbtRovalink.ini");
  };
  EXPECT_EQ(stored("username") + " " + stored("password"), "bob <none>");
  password->selectAll();
  QTest::keyClicks(password, "pw");
  EXPECT_EQ(stored("password"), "pw");
}

TEST_F(DesktopViewsTest, TheVideoWindowShowsEveryFrameAndKeepsTheLastWhenOneIsBad) {
  for (const QSize size : {QSize(320, 240), QSize(160, 120)}) {
    QImage frame(size, QImage::Format_RGB32);
    frame.fill(Qt::green);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    ASSERT_TRUE(frame.save(&buffer, "JPG"));
    videoWindow.ShowFrame(
        std::string_view(jpeg.constData(), static_cast<std::size_t>(jpeg.size())));
    EXPECT_EQ(videoView.image().pixmap().size(), size);
  }
  videoWindow.ShowFrame("not a picture");
  EXPECT_EQ(videoView.image().pixmap().size(), QSize(160, 120));
}

TEST_F(DesktopViewsTest, ActivatingTheVideoWindowStartsTheKeyboardDriveAndLeavingItStops) {
  port.showVideoWindow();
  QApplication::setActiveWindow(&videoView);
  QTRY_VERIFY_WITH_TIMEOUT(videoWindow.KeyTimer().enabled(), 5000);
  port.showMainWindow();
  QApplication::setActiveWindow(&mainView);
  QTRY_VERIFY_WITH_TIMEOUT(!videoWindow.KeyTimer().enabled(), 5000);
}

TEST_F(DesktopViewsTest, ArrowKeysInAnyWindowReadLikeTheDesktopsKeyState) {
  QTest::keyPress(&videoView, Qt::Key_Up);
  EXPECT_TRUE(port.isKeyDown(ArrowKey::Up) && port.isKeyDown(ArrowKey::Up));  // held: stays down
  QTest::keyRelease(&videoView, Qt::Key_Up);
  EXPECT_FALSE(port.isKeyDown(ArrowKey::Up));
  QTest::keyClick(mainView.button("aDock"), Qt::Key_Left);  // tapped between two queries
  EXPECT_TRUE(port.isKeyDown(ArrowKey::Left));
  EXPECT_FALSE(port.isKeyDown(ArrowKey::Left));
  QTest::keyPress(&mainView, Qt::Key_Down);
  EXPECT_TRUE(port.isKeyDown(ArrowKey::Down));
  QEvent deactivate(QEvent::ApplicationDeactivate);  // leaving the program releases held keys
  QCoreApplication::sendEvent(qApp, &deactivate);
  EXPECT_FALSE(port.isKeyDown(ArrowKey::Down));
}

// Renders the windows as a user sees them while connected and driving: the pixels show the
// model's colours, the labels its texts. With ROVALINK_SCREENSHOT_DIR set (scripts/screenshots)
// the pictures are saved there; ROVALINK_SCREENSHOT_FRAME names the camera frame.
using UiScreenshots = GuiTest;

TEST_F(UiScreenshots, TheRenderedWindowsShowTheirState) {
  window.FillCredentialBoxes();
  robot.state = platform::SocketState::Connected;
  robotState.BatteryLevel = 97;
  model.FrameCount = 8;
  window.VideoRateTimer().setInterval(app::MainWindow::kStatusRefreshMs);
  window.refreshStatus();
  model.aHeadStatus = platform::MainWindowModel::kHeadOn;
  model.aRightStatus = platform::MainWindowModel::kRightOn;
  model.aAudioStatus = platform::MainWindowModel::kAudioOn;
  std::string frame = qEnvironmentVariable("ROVALINK_SCREENSHOT_FRAME").toStdString();
  if (frame.empty()) {
    frame = folder.file("Video0.jpg");
    QImage picture(320, 240, QImage::Format_RGB32);
    picture.fill(QColor(40, 70, 110));
    ASSERT_TRUE(picture.save(QString::fromStdString(frame), "JPG"));
  }
  port.showMainWindow();
  port.showVideoWindow();
  videoWindow.ShowFrame(rovalink::testing::readFile(frame));
  QTest::qWait(200);  // the view follows the model on its own; both windows lay out and paint

  EXPECT_EQ(mainView.findChild<QLabel*>("aBattery")->text(), "Battery 97");
  EXPECT_EQ(mainView.findChild<QLabel*>("aVideoRate")->text(), "24 Hz");
  const QImage main = mainView.grab().toImage();
  const auto centreOf = [&](const char* name) {
    const IndicatorLight* light = mainView.indicator(name);
    return main.pixelColor(light->mapTo(&mainView, light->rect().center()) *
                           main.devicePixelRatio());
  };
  EXPECT_EQ(centreOf("aRightStatus"), QColor(255, 128, 0));
  EXPECT_EQ(centreOf("aConnectStatus"), QColor(0, 255, 0));

  const QString out = qEnvironmentVariable("ROVALINK_SCREENSHOT_DIR");
  if (out.isEmpty()) return;
  ASSERT_TRUE(QDir().mkpath(out));
  EXPECT_TRUE(main.save(out + "/main_window.png"));
  EXPECT_TRUE(videoView.grab().toImage().save(out + "/video_window.png"));
  if (QGuiApplication::platformName() != "xcb") return;
  // The whole screen with the tray icon and its menu, opened by a right click on the icon.
  tray.Update(true);
  mainView.move(40, 40);
  videoView.move(mainView.frameGeometry().right() + 30, 40);
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
