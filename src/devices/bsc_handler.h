#pragma once

#include <array>
#include <functional>
#include <string>

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

  // One command: queues at most one robot command.
  void HandleBscCommand(const std::string& target, const std::string& ID, const std::string& State,
                        const std::string& Text);
  // Reports every device that matches target.
  void HandleBscQuery(const std::string& target);

  double NextCommandTime() const { return m_NextCommandTime; }
  const std::string& SunriseText() const { return m_SunriseText; }
  const std::string& SunsetText() const { return m_SunsetText; }

 private:
  using TargetParts = std::array<std::string, 3>;
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
