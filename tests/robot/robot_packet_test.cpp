#include "robot/robot_packet.h"

#include <gtest/gtest.h>

#include "robot/hex.h"

namespace rovalink::robot {
namespace {

using test::toHex;

struct EncoderCase {
  const char* name;
  std::optional<std::string> packet;
  const char* hex;
};

class PacketEncoder : public ::testing::TestWithParam<EncoderCase> {};

TEST_P(PacketEncoder, ProducesTheWireBytes) {
  ASSERT_TRUE(GetParam().packet.has_value());
  EXPECT_EQ(toHex(*GetParam().packet), GetParam().hex);
}

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
        EncoderCase{"VideoOn", mediaPacket(MediaChannel::Video, true), "50 4B 0F 00 02 01 01"},
        EncoderCase{"VoipOff", mediaPacket(MediaChannel::Voip, false), "50 4B 0F 00 02 03 00"},
        EncoderCase{"Dock", dockPacket(DockCode::Dock), "50 4B 10 00 01 06"},
        EncoderCase{"Undock", dockPacket(DockCode::Undock), "50 4B 10 00 01 05"},
        EncoderCase{"StopDocking", dockPacket(DockCode::StopDocking), "50 4B 10 00 01 07"},
        EncoderCase{"PostLogin", postLoginPacket(), "50 4B 12 00 00"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(PacketEncoder, RejectsValuesThatDoNotFitOneByte) {
  EXPECT_FALSE(volumePacket(256).has_value());
  EXPECT_FALSE(volumePacket(-1).has_value());
  EXPECT_FALSE(motorPacket(125 + 131, 0).has_value());
  EXPECT_FALSE(soundPacket(-3).has_value());
}

TEST(PacketEncoder, LoginFitsUpTo253CredentialCharactersTogether) {
  const std::string user(200, 'u');
  const auto longest = loginPacket(user, std::string(53, 'p'));
  ASSERT_TRUE(longest.has_value());
  EXPECT_EQ(longest->size(), 5u + 255u);
  EXPECT_EQ(static_cast<unsigned char>((*longest)[4]), 255);
  EXPECT_EQ(static_cast<unsigned char>((*longest)[5]), 200);
  EXPECT_EQ(static_cast<unsigned char>((*longest)[206]), 53);

  EXPECT_FALSE(loginPacket(user, std::string(54, 'p')).has_value());
  EXPECT_FALSE(loginPacket(std::string(300, 'u'), "").has_value());
}

TEST(PacketEncoder, LoginSendsEightBitCharactersUnchanged) {
  const auto packet = loginPacket("\xE9", "\xFF");
  ASSERT_TRUE(packet.has_value());
  EXPECT_EQ(toHex(*packet), "50 4B 0A 00 04 01 E9 01 FF");
}

TEST(PacketEncoder, DiscoveryDatagramIsDscvAndOne) {
  EXPECT_EQ(toHex(kDiscoveryDatagram), "44 53 43 56 01");
}

}  // namespace
}  // namespace rovalink::robot
