#include "devices/device_table.h"

#include "settings/hs.h"

namespace rovalink::devices {

std::string HexByte(std::uint8_t n) {
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  return {kDigits[n / 16], kDigits[n % 16]};
}

Devices BuildDeviceTable() {
  Devices devices;
  std::string kind = "Switch";
  for (std::size_t i = 0; i < kDeviceNames.size(); ++i) {
    const std::string_view name = kDeviceNames[i];
    if (name == "Volume") {
      kind = "Index";
    } else if (name == "File") {
      kind = "Relay";
    }
    Device device;
    device.Name = std::string(name);
    device.FunctionType = kind;
    device.uID = HexByte(static_cast<std::uint8_t>(i + 1));
    devices.add(std::move(device));
  }
  return devices;
}

RobotCredentials ReadRobotCredentials(const settings::hs& settings) {
  RobotCredentials credentials;
  credentials.RobotPassword =
      settings.GetINISetting("SPYKEE", "password", "kelpo", "qbtRovalink.ini");
  credentials.RobotUserName =
      settings.GetINISetting("SPYKEE", "username", "admin", "qbtRovalink.ini");
  return credentials;
}

std::string DeviceUid(const Device& device, std::string_view programUid) {
  return std::string(programUid.substr(0, programUid.rfind(':') + 1)) + device.uID;
}

std::string DeviceSubAddress(const Device& device) {
  return "spykee." + device.Name + "." + device.FunctionType;
}

}  // namespace rovalink::devices
