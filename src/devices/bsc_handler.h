#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "commands/command_dispatcher.h"
#include "devices/devices.h"
#include "platform/clock.h"
#include "settings/services.h"
#include "xap/error_log.h"
#include "xap/xap_sender.h"

namespace rovalink::devices {

// Turns received xAP messages into work: BSC commands become queued robot commands, BSC queries
// are answered with one status message per matching device, and the HomeSeer role query, the
// watchdog echo and the daily sunrise and sunset times are served.
class BscHandler {
 public:
  // ReportStatus(device name, isInfo) of the status reporting.
  using ReportStatusFn = std::function<void(const std::string& deviceName, bool isInfo)>;

  // What the handler needs of the program's xAP side.
  struct Wiring {
    // Sends at once (the transport's SendXap): the role notification.
    xap::XapSender* transport = nullptr;
    // Sends or holds until the transport is ready (SendXapMessage): the echo response.
    xap::XapSender* heldSender = nullptr;
    ReportStatusFn reportStatus;
    settings::Services* services = nullptr;  // LogEvent
    xap::ErrorLog* errorLog = nullptr;       // parse errors of received text
  };

  BscHandler(Devices& devices, commands::CommandDispatcher& dispatcher, platform::Clock& clock,
             Wiring wiring);

  // The program's own source address (echo targets), executable path and UID (role reply).
  void setXapSource(std::string source) { m_XapSource = std::move(source); }
  void setProgramFile(std::string path) { m_ProgramFile = std::move(path); }
  void setUid(std::string uid) { m_uid = std::move(uid); }

  // The single entry: one received message as raw text.
  void DispatchBscMessage(const std::string& raw);

  // One command: queues one robot command for every device that target and ID select, in table
  // order. State is on/off/toggle or a common synonym; Level is the "n/m" form for Index devices.
  void HandleBscCommand(const std::string& target, const std::string& ID, const std::string& State,
                        const std::string& Text, const std::string& Level = "Unknown");
  // Reports every device that matches target.
  void HandleBscQuery(const std::string& target);

  double NextCommandTime() const { return m_NextCommandTime; }
  const std::string& SunriseText() const { return m_SunriseText; }
  const std::string& SunsetText() const { return m_SunsetText; }

 private:
  using TargetParts = std::array<std::string, 3>;
  enum class StateWord { On, Off, Toggle, Absent, Invalid };
  // The settings the Index devices' procedures take: a volume level and a speed step (the
  // robot's drive speed less 24).
  struct LevelRange {
    double low, high;
  };
  static constexpr LevelRange kVolumeRange{0, 100};
  static constexpr LevelRange kSpeedRange{1, 99};

  static StateWord readState(std::string_view state);
  // "n/m" scaled onto the device's range; nothing when it is not two numbers with m above 0.
  static std::optional<double> scaledLevel(std::string_view deviceName, std::string_view level);
  bool matches(const TargetParts& parts, const Device& device) const;
  void dispatch(const std::string& raw);
  void logEvent(const std::string& routine, const std::string& error);

  Devices& m_devices;
  commands::CommandDispatcher& m_dispatcher;
  platform::Clock& m_clock;
  Wiring m_wiring;

  std::string m_XapSource;
  std::string m_ProgramFile;
  std::string m_uid = "FF.0065:00";
  double m_NextCommandTime = 0.0;
  std::string m_SunriseText;
  std::string m_SunsetText;
};

}  // namespace rovalink::devices
