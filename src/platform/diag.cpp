#include "platform/diag.h"

#include <iostream>
#include <string>

namespace rovalink::diag {
namespace {

// The one piece of process-wide state: an output threshold, not program state.
Level& threshold() {
  static Level current = Level::Status;
  return current;
}

constexpr std::string_view kNames[] = {"debug", "info", "status", "warning", "error"};

}  // namespace

void setLevel(Level newLevel) {
  threshold() = newLevel;
}
Level level() {
  return threshold();
}

void write(Level messageLevel, std::string_view text) {
  if (messageLevel < threshold() || messageLevel == Level::Off) return;
  // One write per line, so lines from a shutdown racing a signal do not interleave.
  std::string line = messageLevel == Level::Status
                         ? "rovalink: "
                         : "rovalink[" + std::string(kNames[static_cast<int>(messageLevel)]) + "] ";
  line.append(text);
  line.push_back('\n');
  std::cerr << line << std::flush;
}

}  // namespace rovalink::diag
