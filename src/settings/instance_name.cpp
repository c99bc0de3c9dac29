#include "settings/instance_name.h"

#include <algorithm>

namespace rovalink::settings {

std::string ChooseInstanceName(std::string_view instanceSetting, std::string_view hostName) {
  const auto usable = [](std::string_view name) {
    return !name.empty() && name.size() <= 32 && std::all_of(name.begin(), name.end(), [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
             c == '-' || c == '_';
    });
  };
  if (usable(instanceSetting)) return std::string(instanceSetting);
  // A dotted host name would add elements to the address and break "qbt.Spykee.*" matching.
  const std::string_view label = hostName.substr(0, hostName.find('.'));
  return label.empty() ? "Unknown" : std::string(label);
}

}  // namespace rovalink::settings
