#pragma once

#include <cstdint>
#include <string>

namespace rovalink::devices {

// One robot function published as an xAP BSC device. Plain data: the command procedures, the
// status refresh and the path player write it, the BSC handlers and status reports read it.
struct Device {
  std::string Name;
  std::string FunctionType = "Switch";  // "Switch", "Index" or "Relay"
  bool Status = false;
  std::int16_t Value = 0;
  std::string uID;  // two upper-case hex digits: the device's number within the program's UID

  // Stores a fractional level (the frame rate) rounded half to even; values beyond the 16-bit
  // range are held at its ends and a NaN stores 0, so a bad reading cannot wrap around.
  void setValue(double value);
};

}  // namespace rovalink::devices
