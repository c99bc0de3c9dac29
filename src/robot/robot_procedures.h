#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "commands/command_dispatcher.h"
#include "devices/devices.h"
#include "platform/main_window_model.h"
#include "robot/robot_connection.h"
#include "robot/robot_packet.h"
#include "robot/robot_state.h"
#include "settings/services.h"

namespace rovalink::robot {

// Every robot command procedure, driven from one table of procedure names: the packet, the
// device updates, the status reports and the window indicators of each. A value that cannot
// be put on the wire (a volume outside 0..255, credentials longer than 253 characters together,
// a sound number that is not one) rejects the command: it is logged as an event and has no
// other effect.
class RobotProcedures : public commands::ProcedureRunner {
 public:
  using ReportStatusFn = std::function<void(const std::string& name, bool isInfo)>;

  struct Wiring {
    RobotConnection& connection;
    devices::Devices& devices;
    ReportStatusFn reportStatus;
    settings::Services& services;  // LogEvent
    platform::MainWindowModel& window;
    RobotState& state;
  };

  explicit RobotProcedures(Wiring wiring);

  // Runs the procedure named command.Procedure (exact spelling); false for a name that is not
  // one of the table's.
  bool runProcedure(const commands::Command& command) override;
  bool runProcedure(std::string_view procedure, const std::string& parameter = {});

  // Whether name is a procedure of the table.
  static bool isProcedure(std::string_view name);

  // Supporting procedures, also called directly (the main window, the login sequence).
  void SetMovement(int code);
  void SetTurbo(bool wanted);
  void PlaySound(int n);
  void SetVolume(int level);
  void SetSpeed(int p);
  void SetDocked(bool docked);
  // False when the credentials cannot be encoded (logged; nothing sent, nothing changed).
  bool SendLogin(const std::string& user, const std::string& password);

  // The table's action signature: a and b are the entry's constants, parameter the command's.
  using Action = void (RobotProcedures::*)(int a, int b, const std::string& parameter);

 private:
  friend struct ProcedureTable;

  void led(int number, int on, const std::string&);
  void motion(int code, int, const std::string&);
  void turbo(int on, int, const std::string&);
  void sound(int n, int, const std::string&);
  void takePicture(int, int, const std::string&);
  void volume(int, int, const std::string& parameter);
  void midVolume(int, int, const std::string&);
  void speed(int, int, const std::string& parameter);
  void media(int channel, int on, const std::string&);
  void dock(int code, int docked, const std::string&);
  void postLogin(int, int, const std::string&);
  void loginSequence(int, int, const std::string&);
  void connectedOn(int, int, const std::string&);
  void connectedOff(int, int, const std::string&);

  // Sends the packet, or logs why a command was refused; false when refused.
  bool send(const std::optional<std::string>& packet, std::string_view what);
  void setStatus(std::string_view device, bool status);
  void report(const std::string& device);

  RobotConnection& m_connection;
  devices::Devices& m_devices;
  ReportStatusFn m_reportStatus;
  settings::Services& m_services;
  platform::MainWindowModel& m_window;
  RobotState& m_state;
};

}  // namespace rovalink::robot
