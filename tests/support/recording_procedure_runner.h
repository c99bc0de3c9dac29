#pragma once

#include <string>
#include <vector>

#include "commands/command_dispatcher.h"
#include "platform/clock.h"

namespace rovalink::test {

// The robot's procedure table, faked: keeps every command the dispatcher ran, with the time of
// day at which it ran.
class RecordingProcedureRunner : public commands::ProcedureRunner {
 public:
  struct Ran {
    commands::Command command;
    double timeOfDay;
  };

  explicit RecordingProcedureRunner(platform::Clock& clock) : m_clock(clock) {}

  bool runProcedure(const commands::Command& command) override {
    ran.push_back({command, m_clock.timeOfDay()});
    return true;
  }

  std::vector<std::string> procedures() const {
    std::vector<std::string> names;
    for (const Ran& r : ran) names.push_back(r.command.Procedure);
    return names;
  }

  std::vector<Ran> ran;

 private:
  platform::Clock& m_clock;
};

}  // namespace rovalink::test
