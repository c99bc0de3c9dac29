#include "web/pages/html_text.h"

#include <cstdio>

#include "settings/ascii_case.h"

namespace rovalink::web {

std::string JsEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    // Quotes, backslash and the characters that could end the script or attribute around it.
    if (ch == '"' || ch == '\'' || ch == '\\' || ch == '<' || ch == '>' || ch == '&' ||
        byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out;
}

std::string UpperCase(std::string_view text) {
  return settings::toUpperAscii(text);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return UpperCase(a) == UpperCase(b);
}

bool IsTrueWord(std::string_view text) {
  const std::string word = UpperCase(text);
  return word == "YES" || word == "TRUE" || word == "ON" || word == "1";
}

}  // namespace rovalink::web
