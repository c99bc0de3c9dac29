// A /set payload comes from anyone who may publish on the broker: mapping it must neither crash
// nor let through a command the device cannot take.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "devices/device_table.h"
#include "mqtt/mqtt_topics.h"
#include "mqtt/set_command.h"

using namespace rovalink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const devices::Devices table = devices::BuildDeviceTable();
  if (size == 0) return 0;
  // The first byte picks the device, the rest is the payload.
  const devices::Device& device = *(table.begin() + data[0] % table.size());
  const std::string_view payload(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string error;
  const auto fields = mqtt::MapSetPayload(device, payload, error);
  if (fields) {
    if (!mqtt::IsCommandable(device) || payload.size() > mqtt::kMaxPayloadBytes) __builtin_trap();
  } else if (error.empty()) {
    __builtin_trap();
  }
  return 0;
}
