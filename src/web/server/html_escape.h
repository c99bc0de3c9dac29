#pragma once

#include <string>
#include <string_view>

namespace rovalink::web {

// Text for an HTML element or a quoted attribute: & < > " ' as character references, so the
// browser gives the original text back.
std::string HtmlEscape(std::string_view text);

}  // namespace rovalink::web
