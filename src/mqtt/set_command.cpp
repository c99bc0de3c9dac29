#include "mqtt/set_command.h"

#include <charconv>
#include <nlohmann/json.hpp>

#include "mqtt/mqtt_topics.h"
#include "robot/robot_state.h"
#include "settings/ascii_case.h"

namespace rovalink::mqtt {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' ||
                           text.front() == '\n'))
    text.remove_prefix(1);
  while (!text.empty() &&
         (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
    text.remove_suffix(1);
  return text;
}

std::optional<BscFields> fromJson(std::string_view payload, std::string& error) {
  const nlohmann::json block = nlohmann::json::parse(payload, nullptr, false);
  if (!block.is_object()) {
    error = "not a JSON object";
    return std::nullopt;
  }
  BscFields fields;
  for (const auto& [key, value] : block.items()) {
    std::string* target = key == "state" ? &fields.State : key == "text" ? &fields.Text : nullptr;
    if (target == nullptr) {
      error = "unknown key " + key;
      return std::nullopt;
    }
    if (value.is_string()) {
      *target = value.get<std::string>();
    } else if (value.is_number()) {
      *target = value.dump();
    } else {
      error = key + " is neither text nor a number";
      return std::nullopt;
    }
  }
  if (fields == BscFields{}) {
    error = "no state and no text";
    return std::nullopt;
  }
  return fields;
}

}  // namespace

std::optional<BscFields> MapSetPayload(const devices::Device& device, std::string_view payload,
                                       std::string& error) {
  if (!IsCommandable(device)) {
    error = device.Name + " takes no commands";
    return std::nullopt;
  }
  if (payload.size() > kMaxPayloadBytes) {
    error = "payload longer than " + std::to_string(kMaxPayloadBytes) + " bytes";
    return std::nullopt;
  }
  const std::string_view text = trimmed(payload);
  if (!text.empty() && text.front() == '{') return fromJson(text, error);

  const std::string word = settings::toUpperAscii(text);
  const std::string kind = settings::toLowerAscii(device.FunctionType);
  if (kind == "relay") {
    if (word == "ON" || word == "OFF") return BscFields{word, "Unknown"};
    error = "expected ON or OFF";
    return std::nullopt;
  }
  if (kind == "index") {
    const NumberRange range = RangeOf(device);
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        value < range.min || value > range.max) {
      error = "expected a whole number from " + std::to_string(range.min) + " to " +
              std::to_string(range.max);
      return std::nullopt;
    }
    // The robot link turns a speed setting p into the drive speed p + 24.
    if (device.Name == "Speed") value -= robot::RobotState::kMinSpeed - 1;
    return BscFields{"ON", std::to_string(value)};
  }
  if (word == "PRESS" || word == "ON") return BscFields{"ON", "Unknown"};
  error = "expected PRESS";
  return std::nullopt;
}

}  // namespace rovalink::mqtt
