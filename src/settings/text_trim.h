#pragma once

#include <string_view>

namespace rovalink::settings {

// The text without any of `chars` at either end (settings values, list items, MQTT payloads).
inline std::string_view trimmedOf(std::string_view text, std::string_view chars) {
  const auto first = text.find_first_not_of(chars);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(chars) - first + 1);
}

}  // namespace rovalink::settings
