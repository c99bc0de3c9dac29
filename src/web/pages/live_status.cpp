#include "web/pages/live_status.h"

#include <nlohmann/json.hpp>

namespace rovalink::web {

std::string LiveStatus::ToJson() const {
  // In this order on the wire, so a page or a log reads the same object every time.
  const nlohmann::ordered_json json = {
      {"battery", battery},
      {"docked", docked},
      {"connected", connected},
      {"link", link},
      {"moving", moving},
      {"movement", movement},
      {"leds", {{"head", headLed}, {"left", leftLed}, {"right", rightLed}}},
      {"volume", volume},
      {"speed", speed},
      {"turbo", turbo},
      {"video", video},
      {"audio", audio},
      {"path", pathRunning},
      {"fps", frameRate}};
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace rovalink::web
