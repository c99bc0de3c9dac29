#include "robot/lan_robot_list.h"

#include <gtest/gtest.h>

#include "settings/recording_services.h"
#include "support/fake_spykee.h"

namespace rovalink::robot {
namespace {

TEST(LanRobotList, EachQueryMarksWhoAnsweredAndKeepsEveryRobotSeen) {
  platform::SimPlatform sim;
  testing::RecordingServices services;
  settings::hs settings(services);  // no application folder: the described defaults
  rovalink::test::FakeSpykee first(sim, "10.0.0.10", 9000), second(sim, "10.0.0.2", 9000);
  LanRobotList list(sim, settings);
  EXPECT_TRUE(list.Robots().empty());

  ASSERT_TRUE(list.Query());
  ASSERT_TRUE(sim.runUntil([&] { return list.Robots().size() == 2; }, 1000));
  auto robots = list.Robots();
  EXPECT_EQ(robots[0].IP, "10.0.0.10");
  EXPECT_EQ(robots[0].IPSort, "010.000.000.010");
  EXPECT_EQ(robots[0].Name, "spykee");
  EXPECT_EQ(robots[0].MAC, "");
  EXPECT_TRUE(robots[0].Online && robots[1].Online);
  EXPECT_EQ(first.discoveries, std::vector<std::string>{std::string("DSCV\x01", 5)});

  // Within 2 s of a datagram a query sends none, however often it is asked for.
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(list.Query());
  sim.runUntil([] { return false; }, LanRobotList::kQueryGapMs - 200);
  EXPECT_EQ(first.discoveries.size(), 1u);
  EXPECT_TRUE(list.Robots()[0].Online);
  sim.runUntil([] { return false; }, 200);

  // Until the answers to a new query arrive nobody counts as online; one robot stays silent.
  second.answerDiscovery = false;
  ASSERT_TRUE(list.Query());
  EXPECT_FALSE(list.Robots()[0].Online || list.Robots()[1].Online);
  sim.runUntil([] { return false; }, 100);
  robots = list.Robots();
  ASSERT_EQ(robots.size(), 2u);
  EXPECT_TRUE(robots[0].Online);
  EXPECT_FALSE(robots[1].Online);
  EXPECT_EQ(second.discoveries.size(), 2u);
}

TEST(LanRobotList, RepliesFromStrangersAreBoundedAndMadePrintable) {
  platform::SimPlatform sim;
  testing::RecordingServices services;
  settings::hs settings(services);
  std::vector<std::unique_ptr<rovalink::test::FakeSpykee>> crowd;
  for (std::size_t i = 1; i <= LanRobotList::kMaxRobots + 3; ++i) {
    crowd.push_back(
        std::make_unique<rovalink::test::FakeSpykee>(sim, "10.0.1." + std::to_string(i), 9000));
  }
  LanRobotList list(sim, settings);
  ASSERT_TRUE(list.Query());
  sim.runUntil([] { return false; }, 100);
  EXPECT_EQ(list.Robots().size(), LanRobotList::kMaxRobots);

  const std::pair<std::string, std::string> names[] = {
      {std::string("DSCV\x01\x00\x05Spy<kee>\x7F\x80!", 18), "DSCV Spy<kee> !"},
      {"DSCV" + std::string(200, 'x'), "DSCV" + std::string(60, 'x')},
      {std::string("\x01\x02", 2), ""},
  };
  for (const auto& [reply, name] : names) {
    EXPECT_EQ(LanRobotList::PrintableText(reply), name);
  }
  EXPECT_EQ(LanRobotList::SortKey("192.168.1.7"), "192.168.001.007");
  EXPECT_EQ(LanRobotList::SortKey("300.1.1.1"), "300.1.1.1");
}

}  // namespace
}  // namespace rovalink::robot
