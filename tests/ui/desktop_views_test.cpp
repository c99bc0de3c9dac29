#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QTest>

#include "gui_fixture.h"
#include "support/recording_procedure_runner.h"

namespace rovalink::ui::testing {
namespace {

using app::ArrowKey;
using TrayViewTest = GuiTest;
using VideoViewTest = GuiTest;
using KeyStateTest = GuiTest;

TEST_F(TrayViewTest, TheMenuIsSpykeeWithItsItemsInOrder) {
  QMenu& menu = trayView->menu();
  EXPECT_EQ(menu.title(), "Spykee");
  QStringList items;
  for (QAction* action : menu.actions()) items << (action->isSeparator() ? "-" : action->text());
  EXPECT_EQ(items, (QStringList{"Show Form", "System Config", "System Status", "Query Spykee",
                                "Help", "-", "Exit"}));
}

TEST_F(TrayViewTest, ShowFormShowsTheHiddenMainWindow) {
  EXPECT_FALSE(mainView->isVisible());
  trayView->menu().findChild<QAction*>("MenuArray0")->trigger();
  EXPECT_TRUE(mainView->isVisible());
}

TEST_F(TrayViewTest, ExitAsksForTheShutdown) {
  int shutdowns = 0;
  window->setExitHandler([&] { ++shutdowns; });
  trayView->menu().findChild<QAction*>("MenuArray6")->trigger();
  EXPECT_EQ(shutdowns, 1);
  EXPECT_TRUE(window->ExitRequested());
}

TEST_F(TrayViewTest, ButtonReleasesOnTheIconOpenTheMenu) {
  EXPECT_FALSE(trayView->menu().isVisible());
  emit trayView->icon().activated(QSystemTrayIcon::Context);
  EXPECT_TRUE(trayView->menu().isVisible());
  trayView->menu().hide();
  emit trayView->icon().activated(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(trayView->menu().isVisible());
  trayView->menu().hide();
  emit trayView->icon().activated(QSystemTrayIcon::DoubleClick);
  emit trayView->icon().activated(QSystemTrayIcon::MiddleClick);
  EXPECT_FALSE(trayView->menu().isVisible());
}

TEST(TrayViewMessages, ActivationsMapToTheDesktopsMouseMessages) {
  EXPECT_EQ(TrayIconView::messageFor(QSystemTrayIcon::Trigger), 514);
  EXPECT_EQ(TrayIconView::messageFor(QSystemTrayIcon::Context), 517);
  EXPECT_EQ(TrayIconView::messageFor(QSystemTrayIcon::DoubleClick), 515);
  EXPECT_EQ(TrayIconView::messageFor(QSystemTrayIcon::MiddleClick), 0);
  EXPECT_EQ(TrayIconView::messageFor(QSystemTrayIcon::Unknown), 0);
}

TEST_F(TrayViewTest, UpdateShowsTheIconWithItsTipAndRemovesIt) {
  tray->Update(true);
  EXPECT_TRUE(trayView->icon().isVisible());
  EXPECT_EQ(trayView->icon().toolTip(), "Spykee");
  tray->Update(false);
  EXPECT_FALSE(trayView->icon().isVisible());
}

TEST_F(VideoViewTest, ShowsTheLatestFrameAndKeepsItWhenAFileIsBad) {
  EXPECT_EQ(videoView->windowTitle(), "SpykeeVideo");
  QImage frame(320, 240, QImage::Format_RGB32);
  frame.fill(QColor(10, 200, 30));
  const std::string good = folder.file("Video0.jpg");
  ASSERT_TRUE(frame.save(QString::fromStdString(good), "JPG"));
  port->showVideoWindow();
  videoWindow->ShowFrame(good);
  ASSERT_FALSE(videoView->image().pixmap().isNull());
  EXPECT_EQ(videoView->image().pixmap().size(), QSize(320, 240));
  EXPECT_TRUE(videoWindow->VideoTimer().enabled());

  const std::string bad = folder.file("broken.jpg");
  rovalink::testing::writeFile(bad, "not a picture");
  videoWindow->ShowFrame(bad);
  EXPECT_EQ(videoView->image().pixmap().size(), QSize(320, 240));
}

TEST_F(VideoViewTest, AFrameRewrittenUnderTheSameNameIsShownAfresh) {
  const std::string path = folder.file("Video0.jpg");
  QImage first(320, 240, QImage::Format_RGB32);
  first.fill(Qt::black);
  ASSERT_TRUE(first.save(QString::fromStdString(path), "JPG"));
  videoWindow->ShowFrame(path);
  QImage second(160, 120, QImage::Format_RGB32);
  second.fill(Qt::white);
  ASSERT_TRUE(second.save(QString::fromStdString(path), "JPG"));
  videoWindow->ShowFrame(path);
  EXPECT_EQ(videoView->image().pixmap().size(), QSize(160, 120));
}

TEST_F(VideoViewTest, ActivationStartsAndStopsTheKeyboardDrive) {
  port->showVideoWindow();
  QApplication::setActiveWindow(videoView.get());
  QTRY_VERIFY_WITH_TIMEOUT(videoWindow->KeyTimer().enabled(), 5000);
  port->showMainWindow();
  QApplication::setActiveWindow(mainView.get());
  QTRY_VERIFY_WITH_TIMEOUT(!videoWindow->KeyTimer().enabled(), 5000);
}

TEST_F(KeyStateTest, AKeyHeldDownStaysDown) {
  QTest::keyPress(videoView.get(), Qt::Key_Up);
  EXPECT_TRUE(port->isKeyDown(ArrowKey::Up));
  EXPECT_TRUE(port->isKeyDown(ArrowKey::Up));
  EXPECT_FALSE(port->isKeyDown(ArrowKey::Down));
  QTest::keyRelease(videoView.get(), Qt::Key_Up);
  EXPECT_FALSE(port->isKeyDown(ArrowKey::Up));
}

TEST_F(KeyStateTest, AKeyTappedBetweenTwoQueriesCountsOnce) {
  QTest::keyClick(videoView.get(), Qt::Key_Left);
  EXPECT_TRUE(port->isKeyDown(ArrowKey::Left));
  EXPECT_FALSE(port->isKeyDown(ArrowKey::Left));
}

TEST_F(KeyStateTest, KeysInAnyWindowOfTheProgramCount) {
  QTest::keyClick(mainView->button("aDock"), Qt::Key_Right);
  QTest::keyPress(mainView.get(), Qt::Key_Down);
  EXPECT_TRUE(port->isKeyDown(ArrowKey::Right));
  EXPECT_TRUE(port->isKeyDown(ArrowKey::Down));
  QTest::keyRelease(mainView.get(), Qt::Key_Down);
}

TEST_F(KeyStateTest, OtherKeysAreNotArrows) {
  QTest::keyClick(videoView.get(), Qt::Key_A);
  QTest::keyClick(videoView.get(), Qt::Key_Space);
  for (ArrowKey key : {ArrowKey::Left, ArrowKey::Up, ArrowKey::Right, ArrowKey::Down}) {
    EXPECT_FALSE(port->isKeyDown(key));
  }
}

TEST_F(KeyStateTest, LeavingTheProgramReleasesHeldKeys) {
  QTest::keyPress(videoView.get(), Qt::Key_Up);
  EXPECT_TRUE(port->isKeyDown(ArrowKey::Up));
  QEvent deactivate(QEvent::ApplicationDeactivate);
  QCoreApplication::sendEvent(qApp, &deactivate);
  EXPECT_FALSE(port->isKeyDown(ArrowKey::Up));
}

TEST_F(KeyStateTest, ArrowKeysDriveTheRobotThroughTheRealKeyState) {
  test::RecordingProcedureRunner runner(sim.clock());
  dispatcher.setProcedureRunner(&runner);
  videoWindow->KeyTimer().setEnabled(true);
  QTest::keyClick(videoView.get(), Qt::Key_Up);
  sim.advanceMs(250);
  EXPECT_EQ(runner.procedures(), (std::vector<std::string>{"MoveForward", "MoveStop"}));
  dispatcher.setProcedureRunner(nullptr);
}

}  // namespace
}  // namespace rovalink::ui::testing

// Fontconfig keeps a cache for the life of the process that LeakSanitizer reports when the
// sanitizer build runs the GUI tests; it is not ours to free.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}
