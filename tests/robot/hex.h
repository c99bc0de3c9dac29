#pragma once

#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

namespace rovalink::robot::test {

// "50 4B 05" <-> bytes, so tables read like the wire.
inline std::string fromHex(std::string_view hex) {
  std::string bytes;
  int high = -1;
  for (char c : hex) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    const int digit = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + digit));
      high = -1;
    }
  }
  return bytes;
}

inline std::string toHex(std::string_view bytes) {
  std::string hex;
  char buffer[4];
  for (unsigned char c : bytes) {
    std::snprintf(buffer, sizeof buffer, hex.empty() ? "%02X" : " %02X", c);
    hex += buffer;
  }
  return hex;
}

}  // namespace rovalink::robot::test
