#include "platform/diag.h"

#include <cstdlib>
#include <iostream>
#include <string>

namespace rovalink::diag {
namespace {

Level levelFromEnvironment() {
  const char* value = std::getenv("ROVALINK_DIAG");
  if (value == nullptr) return Level::Warning;
  const std::string name(value);
  if (name == "debug") return Level::Debug;
  if (name == "info") return Level::Info;
  if (name == "error") return Level::Error;
  if (name == "off") return Level::Off;
  return Level::Warning;
}

// The one piece of process-wide state: a diagnostics threshold, not program state.
Level& threshold() {
  static Level current = levelFromEnvironment();
  return current;
}

constexpr std::string_view kNames[] = {"debug", "info", "warning", "error"};

}  // namespace

void setLevel(Level newLevel) {
  threshold() = newLevel;
}
Level level() {
  return threshold();
}

void write(Level messageLevel, std::string_view text) {
  if (messageLevel < threshold() || messageLevel == Level::Off) return;
  std::cerr << "rovalink[" << kNames[static_cast<int>(messageLevel)] << "] " << text << '\n';
}

}  // namespace rovalink::diag
