#include "robot/robot_packet.h"

#include <gtest/gtest.h>

#include "robot/fakes.h"

namespace rovalink::robot {
namespace {

// An encoder's packet as hex, or "refused" when a value does not fit its byte.
struct EncoderCase {
  const char* name;
  std::optional<std::string> packet;
  std::string hex;
};

class PacketEncoder : public ::testing::TestWithParam<EncoderCase> {};

TEST_P(PacketEncoder, ProducesTheWireBytesOrRefuses) {
  EXPECT_EQ(GetParam().packet ? test::toHex(*GetParam().packet) : "refused", GetParam().hex);
}

const std::string kUser200(200, 'u'), kPassword53(53, 'p');

INSTANTIATE_TEST_SUITE_P(
    RobotPackets, PacketEncoder,
    ::testing::Values(
        EncoderCase{"HeadLedOn", ledPacket(Led::Head, true), "50 4B 04 00 02 00 01"},
        EncoderCase{"RightLedOff", ledPacket(Led::Right, false), "50 4B 04 00 02 02 00"},
        EncoderCase{"ForwardAt73", motorPacket(52, 52), "50 4B 05 00 02 34 34"},
        EncoderCase{"Stop", motorPacket(0, 0), "50 4B 05 00 02 00 00"},
        EncoderCase{"Turbo", motorPacket(100, 100), "50 4B 05 00 02 64 64"},
        EncoderCase{"Laugh", soundPacket(3), "50 4B 07 00 01 03"},
        EncoderCase{"Camera", soundPacket(kCameraSound), "50 4B 07 00 01 10"},
        EncoderCase{"MidVolume", volumePacket(50), "50 4B 09 00 01 32"},
        EncoderCase{"VolumeTop", volumePacket(255), "50 4B 09 00 01 FF"},
        EncoderCase{"LoginEmptyPassword", loginPacket("abc", ""), "50 4B 0A 00 05 03 61 62 63 00"},
        EncoderCase{"LoginBoth", loginPacket("ab", "xy"), "50 4B 0A 00 06 02 61 62 02 78 79"},
        EncoderCase{
            "Login253Characters", loginPacket(kUser200, kPassword53),
            "50 4B 0A 00 FF C8 " + test::toHex(kUser200) + " 35 " + test::toHex(kPassword53)},
        EncoderCase{"LoginEightBit", loginPacket("\xE9", "\xFF"), "50 4B 0A 00 04 01 E9 01 FF"},
        EncoderCase{"VideoOn", mediaPacket(MediaChannel::Video, true), "50 4B 0F 00 02 01 01"},
        EncoderCase{"VoipOff", mediaPacket(MediaChannel::Voip, false), "50 4B 0F 00 02 03 00"},
        EncoderCase{"Dock", dockPacket(DockCode::Dock), "50 4B 10 00 01 06"},
        EncoderCase{"Undock", dockPacket(DockCode::Undock), "50 4B 10 00 01 05"},
        EncoderCase{"StopDocking", dockPacket(DockCode::StopDocking), "50 4B 10 00 01 07"},
        EncoderCase{"PostLogin", postLoginPacket(), "50 4B 12 00 00"},
        EncoderCase{"Volume256", volumePacket(256), "refused"},
        EncoderCase{"VolumeMinusOne", volumePacket(-1), "refused"},
        EncoderCase{"Motor256", motorPacket(125 + 131, 0), "refused"},
        EncoderCase{"SoundMinusThree", soundPacket(-3), "refused"},
        EncoderCase{"Login254Characters", loginPacket(kUser200, std::string(54, 'p')), "refused"},
        EncoderCase{"LoginUser300", loginPacket(std::string(300, 'u'), ""), "refused"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace rovalink::robot
