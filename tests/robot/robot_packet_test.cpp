#include "robot/robot_packet.h"

#include <gtest/gtest.h>

#include "robot/fakes.h"

namespace rovalink::robot {
namespace {

// The encoders' edges, as hex; "refused" when a value does not fit its byte. The procedures'
// table has a packet of every other encoder (motors, sounds, dock codes, post-login), and the
// volume and login lengths they log as refused; the link test sends a login with both names.
TEST(PacketEncoder, ProducesTheWireBytesOrRefuses) {
  const std::string user200(200, 'u'), password53(53, 'p');
  const struct {
    const char* name;
    std::optional<std::string> packet;
    std::string hex;
  } cases[] = {
      {"HeadLedOn", ledPacket(Led::Head, true), "50 4B 04 00 02 00 01"},
      {"VolumeTop", volumePacket(255), "50 4B 09 00 01 FF"},
      {"LoginEmptyPassword", loginPacket("abc", ""), "50 4B 0A 00 05 03 61 62 63 00"},
      {"Login253Characters", loginPacket(user200, password53),
       "50 4B 0A 00 FF C8 " + test::toHex(user200) + " 35 " + test::toHex(password53)},
      {"LoginEightBit", loginPacket("\xE9", "\xFF"), "50 4B 0A 00 04 01 E9 01 FF"},
      {"VideoOn", mediaPacket(MediaChannel::Video, true), "50 4B 0F 00 02 01 01"},
      {"Motor256", motorPacket(125 + 131, 0), "refused"},
      {"SoundMinusThree", soundPacket(-3), "refused"},
      {"LoginUser300", loginPacket(std::string(300, 'u'), ""), "refused"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.packet ? test::toHex(*c.packet) : "refused", c.hex) << c.name;
  }
}

}  // namespace
}  // namespace rovalink::robot
