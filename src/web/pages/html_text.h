#pragma once

#include <string>
#include <string_view>

#include "web/server/html_escape.h"

namespace rovalink::web {

// Text for a JavaScript string in either quotes inside a script element or an HTML attribute.
std::string JsEscape(std::string_view text);

// ASCII letter case folded, for the settings' flag and mode words.
std::string UpperCase(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);

// "YES", "TRUE", "ON" or "1", in any letter case.
bool IsTrueWord(std::string_view text);

}  // namespace rovalink::web
