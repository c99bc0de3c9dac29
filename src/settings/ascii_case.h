#pragma once

#include <algorithm>
#include <string>
#include <string_view>

// Letter case for xAP names, MQTT names and the device table: ASCII letters only, whatever the
// process locale, since wire text is 8-bit and peers fold case the same way.
namespace rovalink::settings {

inline char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline char upperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string toLowerAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = lowerAscii(c);
  return result;
}

inline std::string toUpperAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = upperAscii(c);
  return result;
}

inline bool equalsNoCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

inline bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

inline bool containsNoCase(std::string_view text, std::string_view needle) {
  return std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                     [](char x, char y) { return lowerAscii(x) == lowerAscii(y); }) != text.end();
}

}  // namespace rovalink::settings
