#include "devices/bsc_handler.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <string_view>
#include <vector>

#include "commands/number_text.h"
#include "xap/ascii_case.h"
#include "xap/xap_message.h"
#include "xap/xap_transport.h"

namespace rovalink::devices {
namespace {

using settings::kProgramWord;
constexpr std::string_view kUnknown = "Unknown";

std::vector<std::string_view> splitAtDots(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = text.find('.', start);
    if (dot == std::string_view::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, dot - start));
    start = dot + 1;
  }
}

}  // namespace

BscHandler::StateWord BscHandler::readState(std::string_view state) {
  if (state == kUnknown) return StateWord::Absent;
  const std::string word = xap::toLowerAscii(state);
  for (const char* on : {"on", "true", "yes", "1"}) {
    if (word == on) return StateWord::On;
  }
  for (const char* off : {"off", "false", "no", "0"}) {
    if (word == off) return StateWord::Off;
  }
  return word == "toggle" ? StateWord::Toggle : StateWord::Invalid;
}

std::optional<double> BscHandler::scaledLevel(std::string_view deviceName, std::string_view level) {
  const auto slash = level.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view top = level.substr(0, slash);
  const std::string_view bottom = level.substr(slash + 1);
  if (!commands::IsNumericText(top) || !commands::IsNumericText(bottom)) return std::nullopt;
  const double n = commands::ReadLeadingNumber(top);
  const double m = commands::ReadLeadingNumber(bottom);
  if (!(m > 0)) return std::nullopt;
  const LevelRange range = xap::equalsNoCase(deviceName, "Speed") ? kSpeedRange : kVolumeRange;
  const double fraction = std::clamp(n / m, 0.0, 1.0);
  return std::round(range.low + fraction * (range.high - range.low));
}

BscHandler::BscHandler(Devices& devices, commands::CommandDispatcher& dispatcher,
                       platform::Clock& clock, Wiring wiring)
    : m_devices(devices), m_dispatcher(dispatcher), m_clock(clock), m_wiring(std::move(wiring)) {}

void BscHandler::logEvent(const std::string& routine, const std::string& error) {
  if (m_wiring.services) m_wiring.services->LogEvent(kProgramWord, routine, error);
}

bool BscHandler::matches(const TargetParts& parts, const Device& device) const {
  const std::array<std::string, 3> own = {"spykee", xap::toLowerAscii(device.Name),
                                          xap::toLowerAscii(device.FunctionType)};
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (parts[i] != "*" && parts[i] != own[i]) return false;
  }
  return true;
}

void BscHandler::DispatchBscMessage(const std::string& raw) {
  // Errors end the handling of this message only; the next one is handled normally.
  try {
    dispatch(raw);
  } catch (const std::exception& e) {
    logEvent("Readmessage", e.what());
  }
}

void BscHandler::dispatch(const std::string& raw) {
  if (!xap::containsNoCase(raw, "source=")) return;
  xap::XapMessage message(m_wiring.errorLog);
  message.FromXap(raw);

  if (message.CompareClass("xAPBSC.query")) {
    HandleBscQuery(std::string(message.MsgTarget()));
  } else if (message.CompareClass("xAPBSC.cmd")) {
    std::string section = "output.state.1";
    std::string id = message.GetItem(section, "ID");
    if (id == kUnknown) {
      section = "output.state";
      id = message.GetItem(section, "ID");
    }
    HandleBscCommand(std::string(message.MsgTarget()), id, message.GetItem(section, "State"),
                     message.GetItem(section, "Text"), message.GetItem(section, "Level"));
  } else if (message.CompareClass("Homeseer.Role")) {
    const std::string role = xap::toLowerAscii(message.GetItem("Role.Query", "Role"));
    if ((role == "computer management" || role == "any") && m_wiring.transport) {
      m_wiring.transport->SendXap("", "Homeseer.Role", "Role.Notification",
                                  xap::PackItems({{"Role", "Interface"}, {"Path", m_ProgramFile}}),
                                  "", m_uid);
    }
  } else if (message.CompareClass("WDT.Echo")) {
    if (message.CompareTarget(m_XapSource) || message.MsgTarget() == kUnknown) {
      const std::string query = xap::toLowerAscii(message.GetItem("Echo.Query", "Query"));
      if (query != "unknown" && m_wiring.heldSender) {
        m_wiring.heldSender->SendXap(std::string(message.msgSource()), "WDT.Echo", "Echo.Response",
                                     xap::PackItems({{"Response", query}}), "", m_uid);
      }
    }
  } else if (message.CompareClass("Time.Today")) {
    m_SunriseText = message.GetItem("Time.Today", "Sunrise");
    m_SunsetText = message.GetItem("Time.Today", "Sunset");
  }
}

void BscHandler::HandleBscCommand(const std::string& target, const std::string& ID,
                                  const std::string& State, const std::string& Text,
                                  const std::string& Level) {
  try {
    const std::size_t colon = target.find(':');
    if (colon == std::string::npos) return;
    // Another gateway's devices have the same sub-addresses: the address must be ours first.
    if (!xap::XapMessage::CompareAddress(std::string_view(target).substr(0, colon), m_XapSource))
      return;
    const std::string_view subAddress = std::string_view(target).substr(colon + 1);
    if (subAddress.empty()) return;
    const auto pieces = splitAtDots(subAddress);
    if (pieces.size() > 3) return;
    TargetParts parts = {"*", "*", "*"};
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (pieces[i] == ">") break;
      parts[i] = xap::toLowerAscii(pieces[i]);
    }

    std::vector<Device*> chosen;
    for (Device& device : m_devices) {
      if ((device.uID == ID || ID == "*") && matches(parts, device)) chosen.push_back(&device);
    }
    if (chosen.empty()) return;

    const StateWord state = readState(State);
    if (state == StateWord::Invalid) {
      // Bus text in an event is shown only in part: it came from anyone.
      logEvent("BSCCmd", "State \"" + State.substr(0, 40) +
                             "\" is not on, off or toggle; command to " + target.substr(0, 80) +
                             " ignored");
      return;
    }

    const double now = m_clock.timeOfDay();
    const bool numericText = commands::IsNumericText(Text);
    // One message is one moment: every device it selects starts together.
    const double stamp = numericText ? m_NextCommandTime : 0.0;
    bool queued = false;

    for (Device* device : chosen) {
      std::string procedure = device->Name;
      std::string parameter = Text;
      const std::string kind = xap::toLowerAscii(device->FunctionType);
      if (kind == "relay") {
        if (state == StateWord::Absent) {
          logEvent("BSCCmd", "no State for " + device->Name + "; command ignored");
          continue;
        }
        const bool on = state == StateWord::Toggle ? !device->Status : state == StateWord::On;
        procedure += on ? "On" : "Off";
      } else if (kind == "index" && !numericText) {
        const std::optional<double> level = scaledLevel(device->Name, Level);
        if (!level) {
          logEvent("BSCCmd",
                   "no number in Text or Level for " + device->Name + "; value left unchanged");
          continue;
        }
        parameter = commands::FormatSeconds3(*level);
      }
      if (parameter == kUnknown) {
        m_dispatcher.QueueCommand(procedure);
      } else {
        m_dispatcher.QueueCommand(commands::Command{procedure, parameter, stamp});
      }
      queued = true;
    }
    if (queued) m_NextCommandTime = numericText ? now + commands::ReadLeadingNumber(Text) : now;
  } catch (const std::exception& e) {
    logEvent("BSCCmd", e.what());
  }
}

void BscHandler::HandleBscQuery(const std::string& target) {
  try {
    TargetParts parts = {"*", "*", "*"};
    const std::size_t colon = target.find(':');
    if (colon == std::string::npos) return;
    if (!xap::XapMessage::CompareAddress(std::string_view(target).substr(0, colon), m_XapSource))
      return;
    const std::string_view subAddress = std::string_view(target).substr(colon + 1);
    if (!subAddress.empty()) {
      const auto pieces = splitAtDots(subAddress);
      for (std::size_t i = 0; i < pieces.size() && i < parts.size(); ++i) {
        if (pieces[i] == ">") break;
        parts[i] = xap::toLowerAscii(pieces[i]);
      }
    }
    for (const Device& device : m_devices) {
      if (matches(parts, device) && m_wiring.reportStatus) m_wiring.reportStatus(device.Name, true);
    }
  } catch (const std::exception& e) {
    logEvent("BSCQuery", e.what());
  }
}

}  // namespace rovalink::devices
