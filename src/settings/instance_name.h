#pragma once

#include <string>
#include <string_view>

namespace rovalink::settings {

// The program's name on the bus, the last element of its xAP source: the "[Interface] Instance"
// setting of qbtXap.ini when it is a usable address element (letters, digits, "-" and "_", at
// most 32), else the first label of the host name ("Unknown" when there is none).
std::string ChooseInstanceName(std::string_view instanceSetting, std::string_view hostName);

}  // namespace rovalink::settings
