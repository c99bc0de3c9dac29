#pragma once

#include <string>

namespace rovalink::web {

// What the live page shows besides the picture; one JSON object goes out on the event stream
// whenever any of it changes.
struct LiveStatus {
  int battery = 0;
  bool docked = false;
  bool connected = false;
  std::string link;  // "searching", "connecting", "logged in", "refused", "lost"
  bool moving = false;
  int movement = 0;  // the last motion code, 0 stopped
  bool headLed = false;
  bool leftLed = false;
  bool rightLed = false;
  int volume = 0;
  int speed = 0;
  bool turbo = false;
  bool video = false;
  bool audio = false;
  bool pathRunning = false;
  int frameRate = 0;  // frames per second the gateway receives

  bool operator==(const LiveStatus&) const = default;

  std::string ToJson() const;
};

}  // namespace rovalink::web
