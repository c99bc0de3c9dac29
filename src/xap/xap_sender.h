#pragma once

#include <string>

namespace rovalink::xap {

// What sends one xAP message on the bus: the transport, or a recording fake in tests.
class XapSender {
 public:
  virtual ~XapSender() = default;

  // Builds and sends one message. sData is packed item data: items separated by char 0, name
  // and value by char 1. Empty text on success, otherwise "line description" of the failure.
  virtual std::string SendXap(const std::string& sTarget, const std::string& sClass,
                              const std::string& sSection, const std::string& sData,
                              const std::string& sSubaddress = {},
                              const std::string& sUID = {}) = 0;
};

}  // namespace rovalink::xap
