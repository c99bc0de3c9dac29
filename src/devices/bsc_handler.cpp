#include "devices/bsc_handler.h"

#include <algorithm>
#include <exception>
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
    HandleBscQuery(message.MsgTarget());
  } else if (message.CompareClass("xAPBSC.cmd")) {
    std::string section = "output.state.1";
    std::string id = message.GetItem(section, "ID");
    if (id == kUnknown) {
      section = "output.state";
      id = message.GetItem(section, "ID");
    }
    HandleBscCommand(message.MsgTarget(), id, message.GetItem(section, "State"),
                     message.GetItem(section, "Text"));
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
        m_wiring.heldSender->SendXap(message.msgSource(), "WDT.Echo", "Echo.Response",
                                     xap::PackItems({{"Response", query}}), "", m_uid);
      }
    }
  } else if (message.CompareClass("Time.Today")) {
    m_SunriseText = message.GetItem("Time.Today", "Sunrise");
    m_SunsetText = message.GetItem("Time.Today", "Sunset");
  }
}

void BscHandler::HandleBscCommand(const std::string& target, const std::string& ID,
                                  const std::string& State, const std::string& Text) {
  try {
    TargetParts parts = {"*", "*", "*"};
    const std::size_t colon = target.find(':');
    if (colon == std::string::npos) return;
    const std::string_view subAddress = std::string_view(target).substr(colon + 1);
    if (subAddress.empty()) return;
    const auto pieces = splitAtDots(subAddress);
    if (pieces.size() > 3) return;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (pieces[i] == ">") break;
      parts[i] = xap::toLowerAscii(pieces[i]);
    }

    const Device* chosen = nullptr;
    for (const Device& device : m_devices) {
      if ((device.uID == ID || ID == "*") && matches(parts, device)) {
        chosen = &device;
        break;
      }
    }
    if (chosen == nullptr) return;

    std::string procedure = chosen->Name;
    if (xap::toLowerAscii(chosen->FunctionType) == "relay")
      procedure += xap::toUpperAscii(State) == "ON" ? "On" : "Off";

    const double now = m_clock.timeOfDay();
    if (commands::IsNumericText(Text)) {
      // A numeric Text is a duration: this command starts where the previous one said it ends.
      commands::Command command{procedure, Text, m_NextCommandTime};
      m_NextCommandTime = now + commands::ReadLeadingNumber(Text);
      m_dispatcher.QueueCommand(std::move(command));
    } else if (Text != kUnknown) {
      m_NextCommandTime = now;
      m_dispatcher.QueueCommand(commands::Command{procedure, Text, 0.0});
    } else {
      m_NextCommandTime = now;
      m_dispatcher.QueueCommand(procedure);
    }
  } catch (const std::exception& e) {
    logEvent("BSCCmd", e.what());
  }
}

void BscHandler::HandleBscQuery(const std::string& target) {
  try {
    TargetParts parts = {"*", "*", "*"};
    const std::size_t colon = target.find(':');
    if (colon == std::string::npos) return;
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
