#pragma once

#include "platform/host_info.h"

namespace rovalink::platform {

// Priority through the loop thread's nice value: Normal is 0, High is -10 (needs the right to
// raise priority; without it the change is refused and false returned). High also asks the
// scheduler for a short time slice, so that the thread runs soon after it wakes; Normal gives
// it back.
class QtProcess : public Process {
 public:
  bool setPriority(PriorityClass priority) override;
};

}  // namespace rovalink::platform
