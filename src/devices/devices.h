#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "devices/device.h"

namespace rovalink::devices {

// The device table: devices keyed by name without regard to letter case, enumerated in the
// order they were added. Built once at start-up; device references stay valid for its life.
class Devices {
 public:
  using const_iterator = std::deque<Device>::const_iterator;
  using iterator = std::deque<Device>::iterator;

  // Adds a device under its Name; false (and nothing added) when the name is already a key.
  bool add(Device device);

  bool contains(std::string_view name) const { return find(name) != nullptr; }
  // nullptr when name is not a key.
  Device* find(std::string_view name);
  const Device* find(std::string_view name) const;
  // The device under name; throws std::out_of_range when it is not a key.
  Device& at(std::string_view name);
  const Device& at(std::string_view name) const;

  // The keys (device names as stored) in insertion order.
  std::vector<std::string> names() const;
  std::size_t size() const { return m_devices.size(); }

  iterator begin() { return m_devices.begin(); }
  iterator end() { return m_devices.end(); }
  const_iterator begin() const { return m_devices.begin(); }
  const_iterator end() const { return m_devices.end(); }

 private:
  std::deque<Device> m_devices;
};

}  // namespace rovalink::devices
