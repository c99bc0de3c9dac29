#include "ui/main_window_view.h"

#include <gtest/gtest.h>

#include <ostream>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "gui_fixture.h"

namespace rovalink::ui::testing {
namespace {

using MainWindowViewTest = GuiTest;

struct ButtonCase {
  const char* control;
  const char* caption;
  const char* procedure;
};
void PrintTo(const ButtonCase& c, std::ostream* os) {
  *os << c.control;
}

class QueueButtonView : public GuiTest, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(QueueButtonView, ClickingTheButtonQueuesItsCommand) {
  QPushButton* button = mainView->button(GetParam().control);
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->text(), GetParam().caption);
  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_EQ(dispatcher.queue().size(), 1u);
  EXPECT_EQ(dispatcher.queue().front().Procedure, GetParam().procedure);
  EXPECT_EQ(dispatcher.queue().front().TimeStamp, 0.0);
}

INSTANTIATE_TEST_SUITE_P(ControlTable, QueueButtonView,
                         ::testing::Values(ButtonCase{"aDock", "Dock", "Dock"},
                                           ButtonCase{"aUndock", "UnDock", "UnDock"},
                                           ButtonCase{"aStopDoc", "Stop Dock", "StopDock"},
                                           ButtonCase{"aVideoOn", "Video On", "VideoOn"},
                                           ButtonCase{"aVideoOff", "Video Off", "VideoOff"},
                                           ButtonCase{"aPicture", "Picture", "TakePicture"},
                                           ButtonCase{"aVOIPon", "VOIP On", "VOIPOn"},
                                           ButtonCase{"aVOIPoff", "VOIP Off", "VOIPOff"},
                                           ButtonCase{"aMicOn", "Audio On", "AudioOn"},
                                           ButtonCase{"aMicOff", "Audio Off", "AudioOff"},
                                           ButtonCase{"aHeadOn", "Head On", "HeadLEDOn"},
                                           ButtonCase{"aHeadOff", "Head Off", "HeadLEDOff"},
                                           ButtonCase{"aLeftOn", "Left On", "LeftLEDOn"},
                                           ButtonCase{"aLeftOff", "Left Off", "LeftLEDOff"},
                                           ButtonCase{"aRightOn", "Right On", "RightLEDOn"},
                                           ButtonCase{"aRightOff", "Right Off", "RightLEDOff"}),
                         [](const auto& testInfo) { return std::string(testInfo.param.control); });

TEST_F(MainWindowViewTest, DirectButtonsActWithoutTheQueue) {
  QTest::mouseClick(mainView->button("aConnect"), Qt::LeftButton);
  QTest::mouseClick(mainView->button("aDisconnect"), Qt::LeftButton);
  QTest::mouseClick(mainView->button("aSound2"), Qt::LeftButton);
  EXPECT_EQ(robot.calls,
            (std::vector<std::string>{"LoginSequenceRun", "CloseConnection", "PlaySound 2"}));
  EXPECT_TRUE(dispatcher.queue().empty());
}

TEST_F(MainWindowViewTest, CaptionsAreTheWindowsOwn) {
  EXPECT_EQ(mainView->windowTitle(), "Rovalink");
  EXPECT_EQ(mainView->button("aConnect")->text(), "Connect");
  EXPECT_EQ(mainView->button("aDisconnect")->text(), "DisConnect");
  EXPECT_EQ(mainView->button("aRecordPath")->text(), "Record File");
  EXPECT_EQ(mainView->button("aRunPath")->text(), "Run File");
  const char* sounds[] = {"Alarm", "Bomb", "Lazer", "Laugh", "Engine", "Robot", "Love", "Call"};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(mainView->button(QString("aSound%1").arg(i))->text(), sounds[i]);
  }
  EXPECT_EQ(mainView->findChild<QLabel*>("Label1")->text(), "Speed");
  EXPECT_EQ(mainView->findChild<QLabel*>("Label2")->text(), "User");
  EXPECT_EQ(mainView->findChild<QLabel*>("Label3")->text(), "Password");
  EXPECT_EQ(mainView->findChild<QLabel*>("aBattery")->text(), "Battery 100%");
  EXPECT_EQ(mainView->findChild<QLabel*>("aVideoRate")->text(), "");
  EXPECT_EQ(mainView->findChild<QGroupBox*>("Frame1")->title(), "Sounds");
  EXPECT_EQ(mainView->findChild<QGroupBox*>("Frame2")->title(), "LED");
  EXPECT_EQ(mainView->findChild<QGroupBox*>("Audio")->title(), "Audio / VOIP");
  EXPECT_EQ(mainView->findChild<QScrollBar*>("aSpeed")->orientation(), Qt::Vertical);
}

TEST_F(MainWindowViewTest, StartsHiddenWithEveryIndicatorOff) {
  EXPECT_FALSE(mainView->isVisible());
  for (const char* name : {"aConnectStatus", "aDockStatus", "aHeadStatus", "aLeftStatus",
                           "aRightStatus", "aAudioStatus", "aVOIPStatus"}) {
    ASSERT_NE(mainView->indicator(name), nullptr) << name;
    EXPECT_EQ(mainView->indicator(name)->fill(), QColor(0xE0, 0xE0, 0xE0)) << name;
  }
}

struct ColourCase {
  const char* indicator;
  app::Colour app::MainWindowModel::*field;
  app::Colour colour;
  QColor shown;
};
void PrintTo(const ColourCase& c, std::ostream* os) {
  *os << c.indicator;
}

class IndicatorView : public GuiTest, public ::testing::WithParamInterface<ColourCase> {};

TEST_P(IndicatorView, ShowsTheModelsColourAsRedGreenBlue) {
  model.*(GetParam().field) = GetParam().colour;
  mainView->refresh();
  EXPECT_EQ(mainView->indicator(GetParam().indicator)->fill(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Colours, IndicatorView,
    ::testing::Values(ColourCase{"aHeadStatus", &app::MainWindowModel::aHeadStatus, 0xFFFFFF,
                                 QColor(255, 255, 255)},
                      ColourCase{"aLeftStatus", &app::MainWindowModel::aLeftStatus, 0x00FFFF,
                                 QColor(255, 255, 0)},
                      ColourCase{"aRightStatus", &app::MainWindowModel::aRightStatus, 0x0080FF,
                                 QColor(255, 128, 0)},
                      ColourCase{"aAudioStatus", &app::MainWindowModel::aAudioStatus, 0x008080,
                                 QColor(128, 128, 0)},
                      ColourCase{"aVOIPStatus", &app::MainWindowModel::aVOIPStatus, 0x808000,
                                 QColor(0, 128, 128)},
                      ColourCase{"aConnectStatus", &app::MainWindowModel::aConnectStatus, 0x0000FF,
                                 QColor(255, 0, 0)},
                      ColourCase{"aDockStatus", &app::MainWindowModel::aDockStatus, 0x000000,
                                 QColor(0, 0, 0)}));

TEST_F(MainWindowViewTest, TheStatusRefreshReachesTheScreen) {
  robot.state = platform::SocketState::Connected;
  robotState.BatteryLevel = 64;
  model.FrameCount = 8;
  window->VideoRateTimer().setInterval(app::MainWindow::kStatusRefreshMs);
  window->refreshStatus();
  mainView->refresh();
  EXPECT_EQ(mainView->indicator("aConnectStatus")->fill(), QColor(0, 255, 0));
  EXPECT_EQ(mainView->findChild<QLabel*>("aVideoRate")->text(), "24 Hz");
  EXPECT_EQ(mainView->findChild<QLabel*>("aBattery")->text(), "Battery 64");
}

TEST_F(MainWindowViewTest, TheViewFollowsTheModelWithoutBeingAsked) {
  model.aHeadStatus = app::MainWindowModel::kHeadOn;
  QTRY_COMPARE_WITH_TIMEOUT(mainView->indicator("aHeadStatus")->fill(), QColor(255, 255, 255),
                            5000);
}

TEST_F(MainWindowViewTest, TypingAUserNameSavesIt) {
  auto* box = mainView->findChild<QLineEdit*>("aUsername");
  QTest::keyClicks(box, "bob");
  EXPECT_EQ(storedSetting("username"), "bob");
  EXPECT_EQ(credentials.RobotUserName, "bob");
  box->selectAll();
  QTest::keyClick(box, Qt::Key_Backspace);  // empty: kept as it was
  EXPECT_EQ(storedSetting("username"), "bob");
}

TEST_F(MainWindowViewTest, ThePasswordBoxSavesOnlyTextNotStartingWithAStar) {
  window->FillCredentialBoxes();
  mainView->refresh();
  auto* box = mainView->findChild<QLineEdit*>("aPassword");
  EXPECT_EQ(box->text(), "*");
  QTest::keyClicks(box, "abc");  // "*abc"
  EXPECT_EQ(storedSetting("password"), "<none>");
  EXPECT_EQ(credentials.RobotPassword, "kelpo");
  box->selectAll();
  QTest::keyClicks(box, "pw");
  EXPECT_EQ(storedSetting("password"), "pw");
  EXPECT_EQ(credentials.RobotPassword, "pw");
}

TEST_F(MainWindowViewTest, StartUpFillsTheBoxesFromTheStoredLogin) {
  credentials = {"spykee", "secret"};
  window->FillCredentialBoxes();
  mainView->refresh();
  EXPECT_EQ(mainView->findChild<QLineEdit*>("aUsername")->text(), "spykee");
  EXPECT_EQ(mainView->findChild<QLineEdit*>("aPassword")->text(), "*");
  EXPECT_EQ(storedSetting("username"), "spykee");
  EXPECT_EQ(storedSetting("password"), "<none>");
}

TEST_F(MainWindowViewTest, MovingTheSpeedBarSetsTheSpeedAtOnce) {
  auto* bar = mainView->findChild<QScrollBar*>("aSpeed");
  // Settings 1..99 are the drive speeds 25..123; the bar starts at the start speed 73.
  EXPECT_EQ(bar->minimum(), 1);
  EXPECT_EQ(bar->maximum(), 99);
  EXPECT_EQ(bar->value(), 49);
  bar->setValue(76);
  EXPECT_EQ(robot.calls, (std::vector<std::string>{"SetSpeed 76"}));
  EXPECT_TRUE(dispatcher.queue().empty());
}

TEST_F(MainWindowViewTest, ClosingTheWindowOnlyHidesIt) {
  port->showMainWindow();
  EXPECT_TRUE(mainView->isVisible());
  EXPECT_FALSE(mainView->close());
  EXPECT_FALSE(mainView->isVisible());
  port->showMainWindow();
  EXPECT_TRUE(mainView->isVisible());
}

TEST_F(MainWindowViewTest, AfterExitTheWindowCloses) {
  bool shutdown = false;
  window->setExitHandler([&] { shutdown = true; });
  port->showMainWindow();
  window->MenuArrayClick(app::kMenuExit);
  EXPECT_TRUE(shutdown);
  EXPECT_TRUE(mainView->close());
}

}  // namespace
}  // namespace rovalink::ui::testing
