#pragma once

#include <functional>
#include <string>
#include <vector>

#include "xap/error_log.h"
#include "xap/xap_sender.h"

// Recording fakes of the error log and of the xAP sender.
namespace rovalink::xap::testing {

class RecordingErrorLog : public ErrorLog {
 public:
  struct Entry {
    std::string first, second, description;
  };

  void LogError(const std::string& first, const std::string& second,
                const std::string& description) override {
    entries.push_back({first, second, description});
  }

  std::vector<Entry> entries;
};

// Every SendXap call as "target|class|section|data|subaddress|uid", the data's code 1 shown as
// "=" and its code 0 as ";". onSend, when set, gets the class and gives the result (or throws).
class RecordingSender : public XapSender {
 public:
  std::string SendXap(const std::string& sTarget, const std::string& sClass,
                      const std::string& sSection, const std::string& sData,
                      const std::string& sSubaddress, const std::string& sUID) override {
    std::string data;
    for (char c : sData) data += c == '\1' ? '=' : c == '\0' ? ';' : c;
    sent.push_back(sTarget + "|" + sClass + "|" + sSection + "|" + data + "|" + sSubaddress + "|" +
                   sUID);
    return onSend ? onSend(sClass) : "";
  }

  std::vector<std::string> sent;
  std::function<std::string(const std::string&)> onSend;
};

}  // namespace rovalink::xap::testing
