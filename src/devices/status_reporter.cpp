#include "devices/status_reporter.h"

#include <exception>

#include "devices/device_table.h"
#include "xap/xap_helpers.h"
#include "xap/xap_transport.h"

namespace rovalink::devices {

std::string OnOffText(bool b) {
  return b ? "ON" : "OFF";
}

StatusReporter::StatusReporter(const Devices& devices, xap::XapSender& sendXapMessage,
                               settings::Services& services)
    : m_devices(devices), m_sendXapMessage(sendXapMessage), m_services(services) {}

void StatusReporter::ReportStatus(const std::string& name, bool isInfo) {
  const std::string programWord(xap::kProgramWord);
  const Device* device = m_devices.find(name);
  if (device == nullptr) {
    m_services.LogEvent(programWord,
                        "ReportStatus for " + name + " is not recognized as a item in spykee");
    return;
  }
  try {
    // The stored name decides, so "battery" and "Battery" report the same device the same way.
    const bool isInput = device->Name == "Movement" || device->Name == "Battery";
    m_sendXapMessage.SendXap("", isInfo ? "xapBSC.Info" : "xapBSC.Event",
                             isInput ? "input.state" : "output.state",
                             xap::PackItems({{"State", OnOffText(device->Status)},
                                             {"Text", std::to_string(device->Value)}}),
                             DeviceSubAddress(*device), DeviceUid(*device, m_uid));
  } catch (const std::exception& e) {
    // A report that failed half-way is not retried: the next change reports the device again.
    m_services.LogEvent(programWord, "ReportEvent " + name, e.what());
  }
  // The second bus does not depend on the first one's send.
  if (!isInfo && m_changeListener) m_changeListener(device->Name);
}

}  // namespace rovalink::devices
