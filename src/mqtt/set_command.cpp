#include "mqtt/set_command.h"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "mqtt/mqtt_topics.h"
#include "robot/robot_state.h"
#include "settings/ascii_case.h"
#include "settings/text_trim.h"

namespace rovalink::mqtt {
namespace {

std::string_view trimmed(std::string_view text) {
  return settings::trimmedOf(text, " \t\r\n");
}

// A level for Volume or Speed, plain or as a JSON block's text: a decimal number, rounded half
// away from zero (Home Assistant's slider may send 40.5), within the device's range. A drive
// speed goes on as the setting the robot link adds 24 to.
std::optional<std::string> levelText(const devices::Device& device, std::string_view text,
                                     std::string& error) {
  const NumberRange range = RangeOf(device);
  double number = 0;
  const auto result =
      std::from_chars(text.data(), text.data() + text.size(), number, std::chars_format::fixed);
  const double rounded = std::round(number);
  if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() ||
      !std::isfinite(number) || rounded < range.min || rounded > range.max) {
    error =
        "expected a number from " + std::to_string(range.min) + " to " + std::to_string(range.max);
    return std::nullopt;
  }
  int value = static_cast<int>(rounded);
  if (device.Name == "Speed") value -= robot::RobotState::kMinSpeed - 1;
  return std::to_string(value);
}

std::optional<BscFields> fromJson(const devices::Device& device, std::string_view payload,
                                  std::string& error) {
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
  // The same rule as a plain level, so either form is checked and converted alike.
  if (settings::toLowerAscii(device.FunctionType) == "index" && fields.Text != "Unknown") {
    const auto level = levelText(device, trimmed(fields.Text), error);
    if (!level) return std::nullopt;
    fields.Text = *level;
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
  if (!text.empty() && text.front() == '{') return fromJson(device, text, error);

  const std::string word = settings::toUpperAscii(text);
  const std::string kind = settings::toLowerAscii(device.FunctionType);
  if (kind == "relay") {
    if (word == "ON" || word == "OFF") return BscFields{word, "Unknown"};
    error = "expected ON or OFF";
    return std::nullopt;
  }
  if (kind == "index") {
    const auto level = levelText(device, text, error);
    if (!level) return std::nullopt;
    return BscFields{"ON", *level};
  }
  if (word == "PRESS" || word == "ON") return BscFields{"ON", "Unknown"};
  error = "expected PRESS";
  return std::nullopt;
}

}  // namespace rovalink::mqtt
