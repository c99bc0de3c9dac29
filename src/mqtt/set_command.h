#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "devices/device.h"

namespace rovalink::mqtt {

// A /set payload's bound, like a received xAP value's.
inline constexpr std::size_t kMaxPayloadBytes = 1024;
inline constexpr std::size_t kMaxTopicBytes = 256;

// The State and Text items of the xAP BSC command block a /set payload stands for; absent items
// read "Unknown", as on the xAP side.
struct BscFields {
  std::string State = "Unknown";
  std::string Text = "Unknown";
  bool operator==(const BscFields&) const = default;
};

// Relays take ON or OFF; buttons PRESS (or ON); Volume a level 0..100; Speed a drive speed
// 25..123 (sent on as the setting 1..99 the robot link adds 24 to); a fractional level is
// rounded. Any commandable device also takes the whole block as JSON:
// {"state":"ON","text":"route.txt"}, a level's text under the same rule as a plain one. nullopt and
// the reason when the payload is no command for that device.
std::optional<BscFields> MapSetPayload(const devices::Device& device, std::string_view payload,
                                       std::string& error);

}  // namespace rovalink::mqtt
