#pragma once

#include "platform/host_info.h"

namespace rovalink::platform {

// Priority through the process's nice value: Normal is 0, High is -10 (needs the right to
// raise priority; without it the change is refused and false returned).
class QtProcess : public Process {
 public:
  bool setPriority(PriorityClass priority) override;
};

}  // namespace rovalink::platform
