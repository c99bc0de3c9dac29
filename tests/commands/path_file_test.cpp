#include "commands/path_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rovalink::commands {
namespace {

struct FieldCountCase {
  std::string line;
  bool usable;
};

class PathFileFieldCount : public testing::TestWithParam<FieldCountCase> {};

TEST_P(PathFileFieldCount, OnlyTwoOrThreeFieldsAreUsable) {
  const auto lines = ReadPathFileLines(GetParam().line + "\r\n");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].usable, GetParam().usable);
  EXPECT_EQ(lines[0].text, GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PathFileFieldCount,
    testing::Values(FieldCountCase{"", false}, FieldCountCase{"MoveStop", false},
                    FieldCountCase{"MoveStop\t1", true}, FieldCountCase{"MoveStop\t1\tx", true},
                    FieldCountCase{"MoveStop\t1\tx\ty", false}, FieldCountCase{"\t\t", true},
                    FieldCountCase{"a\tb\tc\td\te\tf", false}));

TEST(PathFileLines, AcceptsBareLfAndAMissingLastLineEnd) {
  const auto lines = ReadPathFileLines("MoveLeft\t1\t\nMoveStop\t0");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].procedure, "MoveLeft");
  EXPECT_EQ(lines[1].procedure, "MoveStop");
  EXPECT_EQ(lines[1].parameter, "");
}

TEST(PathRunPlanning, AccumulatesTimeStampsFromDurations) {
  const auto plan = PlanPathRun(
      "MoveForward\t1.25\t\r\nMoveStop\t0.5\t\r\nSoundAlarm\t0\t\r\nFile\t0\tEnd\r\n", 5000);
  ASSERT_EQ(plan.commands.size(), 4u);
  const std::vector<double> stamps = {0.0, 1.25, 1.75, 1.75};
  for (std::size_t i = 0; i < stamps.size(); ++i) {
    EXPECT_DOUBLE_EQ(plan.commands[i].TimeStamp, stamps[i]) << i;
  }
  EXPECT_EQ(plan.commands[3].Procedure, "File");
  EXPECT_EQ(plan.commands[3].Parameter, "End");
  EXPECT_EQ(plan.maxSyncGap, 5000);
  EXPECT_TRUE(plan.unusableLines.empty());
}

TEST(PathRunPlanning, LongDurationRaisesMaxSyncGapToOneAndAHalfTimesIt) {
  EXPECT_EQ(PlanPathRun("MoveForward\t10\t\r\n", 5000).maxSyncGap, 15000);
  EXPECT_EQ(PlanPathRun("MoveForward\t3\t\r\n", 5000).maxSyncGap, 5000);
  // Only ever raised, never lowered, and never wrapped by an absurd duration.
  EXPECT_EQ(PlanPathRun("MoveForward\t3\t\r\n", 20000).maxSyncGap, 20000);
  EXPECT_EQ(PlanPathRun("MoveForward\t1e300\t\r\n", 5000).maxSyncGap, 2147483647);
}

TEST(PathRunPlanning, UnusableLinesAreSkippedAndReported) {
  const auto plan = PlanPathRun("MoveForward\r\n\r\nMoveStop\t1\t\r\n", 5000);
  ASSERT_EQ(plan.commands.size(), 1u);
  EXPECT_EQ(plan.commands[0].Procedure, "MoveStop");
  EXPECT_EQ(plan.unusableLines, (std::vector<std::string>{"MoveForward", ""}));
}

TEST(PathFileLineFormat, JoinsFieldsWithTabsAndEndsWithCrLf) {
  EXPECT_EQ(FormatFileLine({"MoveForward", "1.25", ""}), "MoveForward\t1.25\t\r\n");
  EXPECT_EQ(FormatFileLine({"0.5", "File", "0", "End"}), "0.5\tFile\t0\tEnd\r\n");
}

struct ProofNameCase {
  std::string path;
  std::string proof;
};

class ProofName : public testing::TestWithParam<ProofNameCase> {};

TEST_P(ProofName, InsertsProofBeforeTheLastDot) {
  EXPECT_EQ(ProofFileName(GetParam().path), GetParam().proof);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ProofName,
    testing::Values(ProofNameCase{"walk.txt", "walk_Proof.txt"},
                    ProofNameCase{"/data/walk.v2.txt", "/data/walk.v2_Proof.txt"},
                    ProofNameCase{"/data/my.paths/walk", "/data/my_Proof.paths/walk"},
                    ProofNameCase{"/data/walk", ""}));

}  // namespace
}  // namespace rovalink::commands
