#include "devices/devices.h"

#include <algorithm>
#include <stdexcept>

#include "xap/ascii_case.h"

namespace rovalink::devices {
namespace {

bool sameName(std::string_view a, std::string_view b) {
  return xap::equalsNoCase(a, b);
}

}  // namespace

bool Devices::add(Device device) {
  if (contains(device.Name)) return false;
  m_devices.push_back(std::move(device));
  return true;
}

Device* Devices::find(std::string_view name) {
  // A linear search: the table holds a few dozen devices and never grows after start-up.
  auto it = std::find_if(m_devices.begin(), m_devices.end(),
                         [&](const Device& d) { return sameName(d.Name, name); });
  return it == m_devices.end() ? nullptr : &*it;
}

const Device* Devices::find(std::string_view name) const {
  return const_cast<Devices*>(this)->find(name);
}

Device& Devices::at(std::string_view name) {
  Device* device = find(name);
  if (device == nullptr) throw std::out_of_range("no device named " + std::string(name));
  return *device;
}

const Device& Devices::at(std::string_view name) const {
  return const_cast<Devices*>(this)->at(name);
}

std::vector<std::string> Devices::names() const {
  std::vector<std::string> keys;
  keys.reserve(m_devices.size());
  for (const Device& d : m_devices) keys.push_back(d.Name);
  return keys;
}

}  // namespace rovalink::devices
