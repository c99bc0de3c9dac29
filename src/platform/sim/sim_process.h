#pragma once

#include <vector>

#include "platform/host_info.h"

namespace rovalink::platform {

// Records every priority change; can be told to refuse them.
class SimProcess : public Process {
 public:
  bool setPriority(PriorityClass priority) override {
    if (m_refuse) return false;
    m_changes.push_back(priority);
    m_current = priority;
    return true;
  }

  PriorityClass current() const { return m_current; }
  const std::vector<PriorityClass>& changes() const { return m_changes; }
  void refuseChanges(bool refuse) { m_refuse = refuse; }

 private:
  PriorityClass m_current = PriorityClass::Normal;
  std::vector<PriorityClass> m_changes;
  bool m_refuse = false;
};

}  // namespace rovalink::platform
