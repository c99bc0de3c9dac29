#pragma once

#include <functional>
#include <string>
#include <utility>

#include "devices/devices.h"
#include "settings/services.h"
#include "xap/xap_sender.h"

namespace rovalink::devices {

// "ON" or "OFF".
std::string OnOffText(bool b);

// Publishes one device's state as a BSC status message. The message is built from the table
// alone; the robot is not asked.
class StatusReporter {
 public:
  // sendXapMessage: the holding sender (XapHelpers::HeldSender()), so reports made before the
  // transport is ready go out, in order, once it is. services: LogEvent.
  StatusReporter(const Devices& devices, xap::XapSender& sendXapMessage,
                 settings::Services& services);

  // Sends "xapBSC.Info" (isInfo, answering a query) or "xapBSC.Event" for the device called
  // name (any letter case). A name that is not a device is only logged.
  void ReportStatus(const std::string& name, bool isInfo);

  // The program's UID; device reports carry it with their own last two digits.
  void setUid(std::string uid) { m_uid = std::move(uid); }

  // A second bus that mirrors every change report (not the query answers): called with the
  // device's stored name after the xAP message went out.
  void setChangeListener(std::function<void(const std::string& name)> listener) {
    m_changeListener = std::move(listener);
  }

 private:
  const Devices& m_devices;
  xap::XapSender& m_sendXapMessage;
  settings::Services& m_services;
  std::function<void(const std::string&)> m_changeListener;
  std::string m_uid = "FF.0065:00";
};

}  // namespace rovalink::devices
