#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/tray_icon.h"
#include "commands/command_dispatcher.h"
#include "devices/device_table.h"
#include "devices/devices.h"
#include "platform/event_loop.h"
#include "platform/main_window_model.h"
#include "platform/socket_state.h"
#include "platform/ui_port.h"
#include "robot/robot_state.h"
#include "settings/hs.h"
#include "xap/error_log.h"

namespace rovalink::commands {
class PathPlayer;
class PathRecorder;
}  // namespace rovalink::commands

namespace rovalink::app {

// What the main window's buttons and its status refresh need from the robot link.
class MainWindowRobot {
 public:
  virtual ~MainWindowRobot() = default;
  // `aConnect`: the login sequence, at once.
  virtual void LoginSequenceRun() = 0;
  // `aDisconnect`: closes the control connection, at once.
  virtual void CloseConnection() = 0;
  // `aSound`(index): one of the eight sounds, at once.
  virtual void PlaySound(int index) = 0;
  // `aSpeed`: the drive speed, at once; the link limits the value itself.
  virtual void SetSpeed(int value) = 0;
  // State of the control connection.
  virtual platform::SocketState ConnectionState() const = 0;
};

// A button of the main window that queues one robot command.
struct QueueButton {
  std::string_view control;
  std::string_view caption;
  std::string_view procedure;
};

inline constexpr std::array<QueueButton, 16> kQueueButtons{{
    {"aDock", "Dock", "Dock"},
    {"aUndock", "UnDock", "UnDock"},
    {"aStopDoc", "Stop Dock", "StopDock"},
    {"aVideoOn", "Video On", "VideoOn"},
    {"aVideoOff", "Video Off", "VideoOff"},
    {"aPicture", "Picture", "TakePicture"},
    {"aVOIPon", "VOIP On", "VOIPOn"},
    {"aVOIPoff", "VOIP Off", "VOIPOff"},
    {"aMicOn", "Audio On", "AudioOn"},
    {"aMicOff", "Audio Off", "AudioOff"},
    {"aHeadOn", "Head On", "HeadLEDOn"},
    {"aHeadOff", "Head Off", "HeadLEDOff"},
    {"aLeftOn", "Left On", "LeftLEDOn"},
    {"aLeftOff", "Left Off", "LeftLEDOff"},
    {"aRightOn", "Right On", "RightLEDOn"},
    {"aRightOff", "Right Off", "RightLEDOff"},
}};

// Captions of the `aSound` buttons, by index.
inline constexpr std::array<std::string_view, 8> kSoundCaptions{"Alarm",  "Bomb",  "Lazer", "Laugh",
                                                                "Engine", "Robot", "Love",  "Call"};

// The tray menu `MenuArray`, by index; "-" is a separator.
inline constexpr std::array<std::string_view, 7> kMenuItems{
    "Show Form", "System Config", "System Status", "Query Spykee", "Help", "-", "Exit"};
inline constexpr int kMenuShowForm = 0;
inline constexpr int kMenuExit = 6;

// The main window `Rovalink`: the handlers of its controls, the hand-over of received xAP
// messages, the tray menu and the status refresh. The Qt view shows this state and forwards
// the user's actions here; it holds no logic of its own.
class MainWindow : public TrayIconOwner {
 public:
  // ReportStatus(device name, isInfo) of the status reporting.
  using ReportStatusFn = std::function<void(const std::string& deviceName, bool isInfo)>;

  // What the window works with; all references outlive the window.
  struct Wiring {
    platform::EventLoop& loop;
    platform::UiPort& ui;
    platform::MainWindowModel& model;
    robot::RobotState& robotState;
    MainWindowRobot& robot;
    commands::CommandDispatcher& dispatcher;
    devices::Devices& devices;
    ReportStatusFn reportStatus;
    settings::hs& settings;
    devices::RobotCredentials& credentials;
    xap::ErrorLog& errorLog;
    // Where the path-file dialogs start (Data/xapqbtSpykee below the application folder).
    std::string pathFolder;
  };

  static constexpr int kVideoRateDefinitionMs = 1000;
  static constexpr int kStatusRefreshMs = 333;
  static constexpr std::string_view kCaption = "Rovalink";
  static constexpr std::string_view kSettingsFile = "qbtRovalink.ini";
  // The speed bar holds the setting the robot link turns into a drive speed (setting + 24), so
  // its range covers the drive speeds exactly and it starts at the start speed.
  static constexpr int kSpeedSettingOffset = 24;
  static constexpr int kSpeedBarMin = robot::RobotState::kMinSpeed - kSpeedSettingOffset;
  static constexpr int kSpeedBarMax = robot::RobotState::kMaxSpeed - kSpeedSettingOffset;
  static constexpr int kSpeedBarStart = robot::RobotState::kStartSpeed - kSpeedSettingOffset;

  explicit MainWindow(Wiring wiring);
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Received xAP texts: the transport's `GetMessage` and the BSC message handling.
  void setMessageSource(std::function<std::string()> getMessage,
                        std::function<void(const std::string&)> dispatchBscMessage);
  // The path recorder behind `aRecordPath` (may stay unset: the button then does nothing).
  void setPathRecorder(commands::PathRecorder* recorder) { m_recorder = recorder; }
  // The path player behind `aRunPath`, told which file the user chose (unset: the "File"
  // command is queued directly).
  void setPathPlayer(commands::PathPlayer* player) { m_player = player; }
  // Pops the tray menu up at the mouse pointer (the view).
  void setMenuPopup(std::function<void()> popup) { m_menuPopup = std::move(popup); }
  // The shutdown that "Exit" asks for (Gateway). Without one, "Exit" ends the process.
  void setExitHandler(std::function<void()> onExit) { m_onExit = std::move(onExit); }

  // Buttons.
  void aConnectClick();
  void aDisconnectClick();
  // The buttons of kQueueButtons, by control name; false for a name not in the table.
  bool queueButtonClick(std::string_view control);
  void aSoundClick(int index);
  void aSpeedChange(int value);
  void aRecordPathClick();
  void aRunPathClick();
  // `aVideoWindow`: shows the video window again (the only way back to it without a tray).
  void aVideoWindowClick();

  // Credential boxes: every change of their text.
  void aUsernameChange(const std::string& text);
  void aPasswordChange(const std::string& text);
  // Start-up: the stored user name into `aUsername`, "*" into `aPassword`; nothing is saved.
  void FillCredentialBoxes();

  // The xAP transport's call-back: takes and handles every waiting message text.
  void onMessage();

  void TrayIconCallback(std::int32_t msg) override;
  void MenuArrayClick(int index);

  // The window's close box: true when the unload may go on (after "Exit"); otherwise the
  // window is hidden and the unload cancelled.
  bool QueryUnload();

  // The status refresh (`VideoRateTimer` tick).
  void refreshStatus();

  platform::Timer& VideoRateTimer() { return *m_VideoRateTimer; }
  const platform::Timer& VideoRateTimer() const { return *m_VideoRateTimer; }

  // What the view shows.
  const platform::MainWindowModel& model() const { return m_model; }
  const std::string& aVideoRate() const { return m_aVideoRate; }
  const std::string& aBattery() const { return m_aBattery; }
  // The battery level is the last one heard, not a current one: the robot is not logged in.
  bool aBatteryStale() const { return m_robotState.Status != robot::LinkStatus::LoggedIn; }
  const std::string& aUsername() const { return m_aUsername; }
  const std::string& aPassword() const { return m_aPassword; }
  int aSpeed() const { return m_aSpeed; }
  std::string aRecordPathCaption() const;

  bool ExitRequested() const { return m_ExitRequested; }
  bool InOnMessage() const { return m_InOnMessage; }

  // The frame-rate caption for a rate: one decimal at most, "." as separator, then " Hz".
  static std::string VideoRateText(double rate);

 private:
  void refreshConnection();
  void refreshDevices();
  devices::Device* device(std::string_view name);
  void report(const std::string& name);

  platform::EventLoop& m_loop;
  platform::UiPort& m_ui;
  platform::MainWindowModel& m_model;
  robot::RobotState& m_robotState;
  MainWindowRobot& m_robot;
  commands::CommandDispatcher& m_dispatcher;
  devices::Devices& m_devices;
  ReportStatusFn m_reportStatus;
  settings::hs& m_settings;
  devices::RobotCredentials& m_credentials;
  xap::ErrorLog& m_errorLog;
  std::string m_pathFolder;

  std::function<std::string()> m_getMessage;
  std::function<void(const std::string&)> m_dispatchBscMessage;
  commands::PathRecorder* m_recorder = nullptr;
  commands::PathPlayer* m_player = nullptr;
  std::function<void()> m_menuPopup;
  std::function<void()> m_onExit;

  std::unique_ptr<platform::Timer> m_VideoRateTimer;

  bool m_ExitRequested = false;
  bool m_InOnMessage = false;
  std::string m_aVideoRate;
  std::string m_aBattery = "Battery 100%";
  std::string m_aUsername;
  std::string m_aPassword;
  int m_aSpeed = kSpeedBarStart;
};

}  // namespace rovalink::app
