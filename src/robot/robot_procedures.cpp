#include "robot/robot_procedures.h"

#include <algorithm>
#include <array>

#include "commands/number_text.h"
#include "devices/device_table.h"

namespace rovalink::robot {
namespace {

using platform::MainWindowModel;

constexpr int kOff = 0;
constexpr int kOn = 1;

// The procedure table: every command name the robot link runs, with its action and constants.
struct ProcedureEntry {
  std::string_view name;
  RobotProcedures::Action action;
  int a = 0;
  int b = 0;
};

// Motor byte of a motion: 125 - S, 125 + S (S = DriveSpeed), or a fixed value.
struct MotorByte {
  int speedSign;  // -1, +1, or 0 for fixed
  int fixed;
  int value(int speed) const { return speedSign == 0 ? fixed : 125 + speedSign * speed; }
};
struct Motion {
  MotorByte first;
  MotorByte second;
};
constexpr MotorByte kSlower{-1, 0};
constexpr MotorByte kFaster{+1, 0};
constexpr MotorByte kZero{0, 0};
// Indexed by movement code.
constexpr std::array<Motion, 9> kMotions = {{
    {kZero, kZero},       // 0 stop
    {kSlower, kSlower},   // 1 forward
    {kFaster, kFaster},   // 2 backward
    {kSlower, kFaster},   // 3 right
    {kFaster, kSlower},   // 4 left
    {kSlower, {0, 25}},   // 5 forward right
    {kFaster, {0, 231}},  // 6 backward right
    {{0, 25}, kSlower},   // 7 forward left
    {{0, 231}, kFaster},  // 8 backward left
}};
constexpr int kTurboByte = 100;
constexpr int kSoundCount = 8;

struct LedTarget {
  std::string_view device;
  platform::Colour MainWindowModel::*indicator;
  platform::Colour onColour;
};
constexpr std::array<LedTarget, 3> kLeds = {{
    {"HeadLED", &MainWindowModel::aHeadStatus, MainWindowModel::kHeadOn},
    {"LeftLED", &MainWindowModel::aLeftStatus, MainWindowModel::kLeftOn},
    {"RightLED", &MainWindowModel::aRightStatus, MainWindowModel::kRightOn},
}};

struct MediaTarget {
  std::string_view device;
  platform::Colour MainWindowModel::*indicator;  // nullptr: no indicator
  platform::Colour onColour;
};
// Indexed by channel number.
constexpr std::array<MediaTarget, 4> kMediaTargets = {{
    {"", nullptr, 0},
    {"Video", nullptr, 0},
    {"Audio", &MainWindowModel::aAudioStatus, MainWindowModel::kAudioOn},
    {"VOIP", &MainWindowModel::aVOIPStatus, MainWindowModel::kVOIPOn},
}};

}  // namespace

// The one list of procedure names; adding a command means adding its line here.
struct ProcedureTable {
  static const ProcedureEntry* find(std::string_view name);
};

const ProcedureEntry* ProcedureTable::find(std::string_view name) {
  using P = RobotProcedures;
  static constexpr ProcedureEntry kProcedures[] = {
      {"HeadLEDOn", &P::led, 0, kOn},
      {"HeadLEDOff", &P::led, 0, kOff},
      {"LeftLEDOn", &P::led, 1, kOn},
      {"LeftLEDOff", &P::led, 1, kOff},
      {"RightLEDOn", &P::led, 2, kOn},
      {"RightLEDOff", &P::led, 2, kOff},
      {"MoveStop", &P::motion, 0},
      {"MoveForward", &P::motion, 1},
      {"MoveBackward", &P::motion, 2},
      {"MoveRight", &P::motion, 3},
      {"MoveLeft", &P::motion, 4},
      {"MoveForwardRight", &P::motion, 5},
      {"MoveBackwardRight", &P::motion, 6},
      {"MoveForwardLeft", &P::motion, 7},
      {"MoveBackwardLeft", &P::motion, 8},
      {"TurboOn", &P::turbo, kOn},
      {"TurboOff", &P::turbo, kOff},
      {"SoundAlarm", &P::sound, 0},
      {"SoundBomb", &P::sound, 1},
      {"SoundLazer", &P::sound, 2},
      {"SoundLaugh", &P::sound, 3},
      {"SoundEngine", &P::sound, 4},
      {"SoundRobot", &P::sound, 5},
      {"SoundLove", &P::sound, 6},
      {"SoundCall", &P::sound, 7},
      {"SoundCamera", &P::takePicture},
      {"TakePicture", &P::takePicture},
      {"Volume", &P::volume},
      {"SetMidVolume", &P::midVolume},
      {"Speed", &P::speed},
      {"VideoOn", &P::media, static_cast<int>(MediaChannel::Video), kOn},
      {"VideoOff", &P::media, static_cast<int>(MediaChannel::Video), kOff},
      {"AudioOn", &P::media, static_cast<int>(MediaChannel::Audio), kOn},
      {"AudioOff", &P::media, static_cast<int>(MediaChannel::Audio), kOff},
      {"VOIPOn", &P::media, static_cast<int>(MediaChannel::Voip), kOn},
      {"VOIPOff", &P::media, static_cast<int>(MediaChannel::Voip), kOff},
      {"Dock", &P::dock, static_cast<int>(DockCode::Dock), kOn},
      {"DockedOn", &P::dock, static_cast<int>(DockCode::Dock), kOn},
      {"UnDock", &P::dock, static_cast<int>(DockCode::Undock), kOff},
      {"DockedOff", &P::dock, static_cast<int>(DockCode::Undock), kOff},
      {"StopDock", &P::dock, static_cast<int>(DockCode::StopDocking), kOff},
      {"Login_Post2", &P::postLogin},
      {"LoginSequence", &P::loginSequence},
      {"ConnectedOn", &P::connectedOn},
      {"ConnectedOff", &P::connectedOff},
  };
  for (const ProcedureEntry& entry : kProcedures) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

RobotProcedures::RobotProcedures(Wiring wiring)
    : m_connection(wiring.connection),
      m_devices(wiring.devices),
      m_reportStatus(std::move(wiring.reportStatus)),
      m_services(wiring.services),
      m_window(wiring.window),
      m_state(wiring.state) {}

bool RobotProcedures::isProcedure(std::string_view name) {
  return ProcedureTable::find(name) != nullptr;
}

bool RobotProcedures::runProcedure(const commands::Command& command) {
  return runProcedure(command.Procedure, command.Parameter);
}

bool RobotProcedures::runProcedure(std::string_view procedure, const std::string& parameter) {
  const ProcedureEntry* entry = ProcedureTable::find(procedure);
  if (entry == nullptr) return false;
  (this->*(entry->action))(entry->a, entry->b, parameter);
  return true;
}

void RobotProcedures::SetMovement(int code) {
  devices::Device* movement = m_devices.find("Movement");
  if (movement == nullptr) return;
  movement->Value = static_cast<std::int16_t>(code);
  const bool moving = code != 0;
  if (movement->Status != moving) {
    movement->Status = moving;
    report("Movement");
  }
}

void RobotProcedures::SetTurbo(bool wanted) {
  devices::Device* turboDevice = m_devices.find("Turbo");
  if (turboDevice != nullptr && turboDevice->Status != wanted) {
    send(motorPacket(kTurboByte, kTurboByte), "Turbo");
    turboDevice->Status = wanted;
  }
  report("Turbo");
}

void RobotProcedures::PlaySound(int n) {
  if (n < 0 || n >= kSoundCount) {
    m_services.LogEvent(settings::kProgramWord,
                        "Sound " + std::to_string(n) + " not sent: the robot has sounds 0 to 7");
    return;
  }
  send(soundPacket(n), "Sound");
  const std::string name(devices::kDeviceNames[n + devices::kFirstSoundPosition]);
  setStatus(name, true);
  report(name);
}

void RobotProcedures::SetVolume(int level) {
  if (!send(volumePacket(level), "Volume " + std::to_string(level))) return;
  if (devices::Device* volumeDevice = m_devices.find("Volume")) {
    volumeDevice->Status = true;
    volumeDevice->Value = static_cast<std::int16_t>(level);
  }
  report("Volume");
}

void RobotProcedures::SetSpeed(int p) {
  const int speed = std::clamp(p + 24, int{RobotState::kMinSpeed}, int{RobotState::kMaxSpeed});
  m_state.DriveSpeed = static_cast<std::int16_t>(speed);
  if (devices::Device* speedDevice = m_devices.find("Speed")) speedDevice->setValue(p);
}

void RobotProcedures::SetDocked(bool docked) {
  m_state.RobotDocked = docked;
  setStatus("Docked", docked);
  report("Docked");
  if (docked) {
    for (std::string_view name : {"HeadLED", "LeftLED", "RightLED", "Audio"}) {
      setStatus(name, false);
    }
  }
  setStatus("Video", !docked);
}

bool RobotProcedures::SendLogin(const std::string& user, const std::string& password) {
  if (!send(loginPacket(user, password), "Login")) return false;
  setStatus("LoginSequence", true);
  report("LoginSequence");
  return true;
}

void RobotProcedures::led(int number, int on, const std::string&) {
  const LedTarget& target = kLeds[static_cast<std::size_t>(number)];
  const std::string device(target.device);
  setStatus(device, on != 0);
  report(device);
  send(ledPacket(static_cast<Led>(number), on != 0), device);
  m_window.*(target.indicator) = on != 0 ? target.onColour : MainWindowModel::kIndicatorOff;
}

void RobotProcedures::motion(int code, int, const std::string&) {
  const Motion& m = kMotions[static_cast<std::size_t>(code)];
  const int speed = m_state.DriveSpeed;
  send(motorPacket(m.first.value(speed), m.second.value(speed)), "Motion " + std::to_string(code));
  SetMovement(code);
}

void RobotProcedures::turbo(int on, int, const std::string&) {
  SetTurbo(on != 0);
}

void RobotProcedures::sound(int n, int, const std::string&) {
  PlaySound(n);
}

void RobotProcedures::takePicture(int, int, const std::string&) {
  send(soundPacket(kCameraSound), "SoundCamera");
  setStatus("SoundCamera", true);
  report("SoundCamera");
}

void RobotProcedures::volume(int, int, const std::string& parameter) {
  SetVolume(commands::ParameterToInt16(parameter));
}

void RobotProcedures::midVolume(int, int, const std::string&) {
  SetVolume(50);
}

void RobotProcedures::speed(int, int, const std::string& parameter) {
  SetSpeed(commands::ParameterToInt16(parameter));
}

void RobotProcedures::media(int channel, int on, const std::string&) {
  const MediaTarget& target = kMediaTargets[static_cast<std::size_t>(channel)];
  const std::string device(target.device);
  send(mediaPacket(static_cast<MediaChannel>(channel), on != 0), device);
  setStatus(device, on != 0);
  report(device);
  if (target.indicator != nullptr) {
    m_window.*(target.indicator) = on != 0 ? target.onColour : MainWindowModel::kIndicatorOff;
  }
}

void RobotProcedures::dock(int code, int docked, const std::string&) {
  send(dockPacket(static_cast<DockCode>(code)), "Dock");
  SetDocked(docked != 0);
}

void RobotProcedures::postLogin(int, int, const std::string&) {
  m_connection.SendToRobot(postLoginPacket());
}

void RobotProcedures::loginSequence(int, int, const std::string&) {
  m_connection.LoginSequenceRun();
}

void RobotProcedures::connectedOn(int, int, const std::string&) {
  m_connection.ConnectedOn();
}

void RobotProcedures::connectedOff(int, int, const std::string&) {
  m_connection.ConnectedOff();
}

bool RobotProcedures::send(const std::optional<std::string>& packet, std::string_view what) {
  if (!packet) {
    m_services.LogEvent(settings::kProgramWord,
                        std::string(what) + " not sent: a value does not fit the robot packet");
    return false;
  }
  m_connection.SendToRobot(*packet);
  return true;
}

void RobotProcedures::setStatus(std::string_view device, bool status) {
  if (devices::Device* d = m_devices.find(device)) d->Status = status;
}

void RobotProcedures::report(const std::string& device) {
  if (m_reportStatus) m_reportStatus(device, false);
}

}  // namespace rovalink::robot
