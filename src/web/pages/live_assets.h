#pragma once

#include <optional>
#include <string_view>

namespace rovalink::web {

// The live page's files (live.html, live.css, live.js), built into the program so the page
// works without the html folder and without any outside network.
std::optional<std::string_view> LiveAsset(std::string_view name);

}  // namespace rovalink::web
