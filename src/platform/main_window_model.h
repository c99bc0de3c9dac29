#pragma once

#include <cstdint>

namespace rovalink::platform {

// A colour as the desktop numbers it: 0x00BBGGRR (0x0000FF is red).
using Colour = std::uint32_t;

// The main window's shared state that the robot link writes and the status refresh and the
// views read: the frame counter and the indicator colours.
struct MainWindowModel {
  static constexpr Colour kIndicatorOff = 0xE0E0E0;
  static constexpr Colour kConnected = 0x00FF00;     // green
  static constexpr Colour kConnecting = 0x00FFFF;    // yellow
  static constexpr Colour kRefused = 0x00BFFF;       // amber: connected, login refused
  static constexpr Colour kNotConnected = 0x0000FF;  // red
  static constexpr Colour kDocked = 0x000000;        // black
  static constexpr Colour kHeadOn = 0xFFFFFF;        // white
  static constexpr Colour kLeftOn = 0x00FFFF;        // yellow
  static constexpr Colour kRightOn = 0x0080FF;       // orange
  static constexpr Colour kAudioOn = 0x008080;       // olive
  static constexpr Colour kVOIPOn = 0x808000;        // teal

  // Video frames completed since the last status refresh.
  std::int32_t FrameCount = 0;

  Colour aConnectStatus = kIndicatorOff;
  Colour aDockStatus = kIndicatorOff;
  Colour aHeadStatus = kIndicatorOff;
  Colour aLeftStatus = kIndicatorOff;
  Colour aRightStatus = kIndicatorOff;
  Colour aAudioStatus = kIndicatorOff;
  Colour aVOIPStatus = kIndicatorOff;
};

}  // namespace rovalink::platform
