#pragma once

#include <string>
#include <vector>

#include "settings/ini_tool.h"

namespace rovalink::settings {

// One line (file, line number, key) for every value of the loaded file that the program never
// reads: one outside any section, or one missing from the table of known keys (known_settings.cpp)
// for a section of the program's own files. At most kMaxReportedBadLines such lines, then one
// that counts the rest.
std::vector<std::string> UnknownSettings(const IniTool& store);

}  // namespace rovalink::settings
