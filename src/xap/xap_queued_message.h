#pragma once

#include <string>

namespace rovalink::xap {

// The arguments of one send that waits until the transport is ready.
struct xapQueuedMessage {
  std::string MsgTarget;
  std::string MsgUID;
  std::string MsgClass;
  std::string MsgSection;
  std::string MsgData;
  std::string MsgSubAddress;
};

}  // namespace rovalink::xap
