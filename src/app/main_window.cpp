#include "app/main_window.h"

#include <charconv>
#include <cmath>
#include <exception>
#include <utility>

#include "commands/number_text.h"
#include "commands/path_player.h"
#include "commands/path_recorder.h"
#include "platform/diag.h"
#include "xap/xap_helpers.h"

namespace rovalink::app {
namespace {

constexpr std::int32_t kLeftButtonUp = tray_message::kLeftButtonUp;
constexpr std::int32_t kRightButtonUp = tray_message::kRightButtonUp;

}  // namespace

MainWindow::MainWindow(Wiring wiring)
    : m_loop(wiring.loop),
      m_ui(wiring.ui),
      m_model(wiring.model),
      m_robotState(wiring.robotState),
      m_robot(wiring.robot),
      m_dispatcher(wiring.dispatcher),
      m_devices(wiring.devices),
      m_reportStatus(std::move(wiring.reportStatus)),
      m_settings(wiring.settings),
      m_credentials(wiring.credentials),
      m_errorLog(wiring.errorLog),
      m_pathFolder(std::move(wiring.pathFolder)),
      m_VideoRateTimer(wiring.loop.createTimer()) {
  // Like every timer of the window it waits for start-up to enable it.
  m_VideoRateTimer->setEnabled(false);
  m_VideoRateTimer->setInterval(kVideoRateDefinitionMs);
  m_VideoRateTimer->onTick([this] {
    try {
      refreshStatus();
    } catch (const std::exception& e) {
      diag::error(std::string("status refresh failed: ") + e.what());
    }
  });
}

void MainWindow::setMessageSource(std::function<std::string()> getMessage,
                                  std::function<void(const std::string&)> dispatchBscMessage) {
  m_getMessage = std::move(getMessage);
  m_dispatchBscMessage = std::move(dispatchBscMessage);
}

void MainWindow::aConnectClick() {
  m_robot.LoginSequenceRun();
}

void MainWindow::aDisconnectClick() {
  m_robot.CloseConnection();
}

bool MainWindow::queueButtonClick(std::string_view control) {
  for (const QueueButton& button : kQueueButtons) {
    if (button.control == control) {
      m_dispatcher.QueueCommand(std::string(button.procedure));
      return true;
    }
  }
  return false;
}

void MainWindow::aSoundClick(int index) {
  if (index < 0 || index >= static_cast<int>(kSoundCaptions.size())) return;
  m_robot.PlaySound(index);
}

void MainWindow::aSpeedChange(int value) {
  m_aSpeed = value;
  m_robot.SetSpeed(value);
}

void MainWindow::aRecordPathClick() {
  if (m_recorder != nullptr) m_recorder->aRecordPathClick();
}

std::string MainWindow::aRecordPathCaption() const {
  return m_recorder != nullptr ? m_recorder->caption() : std::string("Record File");
}

void MainWindow::aRunPathClick() {
  const std::optional<std::string> chosen = m_ui.chooseFile(m_pathFolder);
  if (!chosen || chosen->empty()) return;
  if (m_player != nullptr) {
    m_player->runChosenFile(*chosen);
  } else {
    m_dispatcher.QueueCommand(commands::Command{"File", *chosen, 0.0});
  }
}

void MainWindow::aVideoWindowClick() {
  m_ui.showVideoWindow();
}

void MainWindow::aUsernameChange(const std::string& text) {
  m_aUsername = text;
  if (text.empty()) return;
  m_settings.SaveIniSetting("SPYKEE", "username", text, kSettingsFile);
  m_credentials.RobotUserName = text;
}

void MainWindow::aPasswordChange(const std::string& text) {
  m_aPassword = text;
  // "*" is what start-up shows in place of the stored password; it is never a new one.
  if (text.empty() || text.front() == '*') return;
  m_settings.SaveIniSetting("SPYKEE", "password", text, kSettingsFile);
  m_credentials.RobotPassword = text;
}

void MainWindow::FillCredentialBoxes() {
  // Only shown, not saved: a name read with its default must not be written into the user's file.
  m_aUsername = m_credentials.RobotUserName;
  m_aPassword = "*";
}

void MainWindow::onMessage() {
  if (m_InOnMessage) return;
  m_InOnMessage = true;
  try {
    if (m_getMessage && m_dispatchBscMessage) {
      // After Exit a flood of messages must not keep the program from ending.
      for (std::string text; !m_ExitRequested && !(text = m_getMessage()).empty();) {
        m_dispatchBscMessage(text);
      }
    }
  } catch (const std::exception& e) {
    m_errorLog.LogError(std::string(xap::kProgramWord), "Main OnMessage", e.what());
  } catch (...) {
    m_errorLog.LogError(std::string(xap::kProgramWord), "Main OnMessage", "unknown error");
  }
  m_InOnMessage = false;
}

void MainWindow::TrayIconCallback(std::int32_t msg) {
  if (msg != kLeftButtonUp && msg != kRightButtonUp) return;
  if (m_menuPopup) m_menuPopup();
}

void MainWindow::MenuArrayClick(int index) {
  if (index == kMenuShowForm) {
    m_ui.showMainWindow();
  } else if (index == kMenuExit) {
    m_ExitRequested = true;
    if (m_onExit) {
      m_onExit();
    } else {
      m_ui.exitProcess(0);
    }
  }
}

bool MainWindow::QueryUnload() {
  if (m_ExitRequested) return true;
  m_ui.hideMainWindow();
  return false;
}

std::string MainWindow::VideoRateText(double rate) {
  // Round half to even at one decimal (the default rounding mode); the shortest text of the
  // result then has at most that one decimal.
  const double rounded = std::nearbyint(rate * 10.0) / 10.0;
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, rounded, std::chars_format::fixed);
  return std::string(buffer, result.ptr) + " Hz";
}

devices::Device* MainWindow::device(std::string_view name) {
  return m_devices.find(name);
}

void MainWindow::report(const std::string& name) {
  if (m_reportStatus) m_reportStatus(name, false);
}

void MainWindow::refreshStatus() {
  const double rate =
      static_cast<double>(m_model.FrameCount) * 1000.0 / m_VideoRateTimer->interval();
  m_aVideoRate = VideoRateText(rate);
  if (devices::Device* video = device("Video")) {
    video->setValue(commands::ReadLeadingNumber(m_aVideoRate));
  }
  m_model.FrameCount = 0;

  m_aBattery = "Battery " + std::to_string(m_robotState.BatteryLevel);
  if (devices::Device* battery = device("Battery")) {
    battery->Status = true;
    if (battery->Value != m_robotState.BatteryLevel) {
      battery->Value = m_robotState.BatteryLevel;
      report("Battery");
    }
  }

  m_robotState.FrameWanted = true;
  refreshConnection();
  refreshDevices();
  m_loop.pumpOnce();
}

void MainWindow::refreshConnection() {
  const platform::SocketState state = m_robot.ConnectionState();
  devices::Device* connected = device("Connected");
  if (state == platform::SocketState::Connected) {
    // "Connected" keeps meaning the TCP connection; the light also tells a refused login.
    m_model.aConnectStatus = m_robotState.Status == robot::LinkStatus::Refused
                                 ? platform::MainWindowModel::kRefused
                                 : platform::MainWindowModel::kConnected;
    if (connected != nullptr && !connected->Status) {
      connected->Status = true;
      report("Connected");
    }
    return;
  }
  m_model.aConnectStatus = state == platform::SocketState::Connecting
                               ? platform::MainWindowModel::kConnecting
                               : platform::MainWindowModel::kNotConnected;
  if (connected != nullptr && connected->Status) {
    connected->Status = false;
    report("Connected");
  }
}

void MainWindow::refreshDevices() {
  const bool docked = m_robotState.RobotDocked;
  m_model.aDockStatus =
      docked ? platform::MainWindowModel::kDocked : platform::MainWindowModel::kIndicatorOff;
  if (devices::Device* dock = device("Docked"); dock != nullptr && dock->Status != docked) {
    dock->Status = docked;
    report("Docked");
  }

  const std::int16_t speed = m_robotState.DriveSpeed;
  if (devices::Device* speedDevice = device("Speed");
      speedDevice != nullptr && speedDevice->Value != speed) {
    speedDevice->Status = speed > 75;
    speedDevice->Value = speed;
    report("Speed");
  }
}

}  // namespace rovalink::app
