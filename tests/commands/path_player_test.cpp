#include "commands/path_player.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "commands/dispatcher_fixture.h"
#include "commands/path_file.h"
#include "commands/path_recorder.h"
#include "devices/device_table.h"
#include "platform/sim/sim_process.h"
#include "settings/log_text.h"
#include "settings/recording_services.h"
#include "settings/test_folder.h"
#include "support/fake_ui_port.h"

namespace rovalink::commands {
namespace {

namespace fs = std::filesystem;
using platform::PriorityClass;
using rovalink::testing::readFile;
using testing_support::kMs;

// Dispatcher, recorder and player wired as the program wires them, on virtual time, with a
// real temporary folder for the files.
class PathTest : public testing_support::DispatcherTest {
 protected:
  PathTest() {
    dispatcher.setRecordHook(&recorder);
    dispatcher.setPathRunHooks(&player);
  }
  // Writes a path file into the folder and returns its path.
  std::string pathFile(const std::string& name, const std::string& content) {
    rovalink::testing::writeFile(folder.file(name), content);
    return folder.file(name);
  }
  bool running() const { return devices.at("File").Status; }

  rovalink::testing::TestFolder folder;
  platform::SimProcess process;
  devices::Devices devices = devices::BuildDeviceTable();
  rovalink::testing::RecordingServices services;
  test::FakeUiPort ui;
  std::string reports;
  PathRecorder recorder{clock, ui, services, folder.path().string()};
  PathPlayer::ReportStatusFn report = [this](const std::string& n, bool) { reports += n + " "; };
  PathPlayer player{dispatcher, clock, process, devices, report, services, folder.file("data")};
};

TEST_F(PathTest, ReplaysAtTheRecordedPaceAndWritesAByteExactProof) {
  // A duration that is no number stamps its command 0 (at once) and adds no time; a line
  // without a duration is skipped and logged; a 10 s duration raises MaxSyncGap for the run.
  const std::string path = pathFile("walk.txt",
                                    "MoveForward\t1.25\t\r\nMoveStop\tabc\t\r\nSoundAlarm\r\n"
                                    "MoveLeft\t10\t\r\nMoveStop\t0\t\r\nFile\t0\tEnd\r\n");
  player.runChosenFile(path);
  runUntilIdle();
  EXPECT_EQ(runner.timeline(), "MoveForward +0 MoveStop +1250 MoveLeft +10000 MoveStop");
  EXPECT_EQ(readFile(folder.file("walk_Proof.txt")),
            "0\tFile\t0\t" + path +
                "\r\n0\tMoveForward\t0\t\r\n0\tMoveStop\t1.25\t\r\n1.25\tMoveLeft\t10\t\r\n"
                "11.25\tMoveStop\t0\t\r\n11.25\tFile\t0\tEnd\r\n");
  EXPECT_EQ(services.events.at(0).second,
            "Command line does not have a time parameter: SoundAlarm");
  EXPECT_EQ(process.changes(), (std::vector{PriorityClass::High, PriorityClass::Normal}));
  EXPECT_EQ(reports, "File File ");
  EXPECT_EQ(dispatcher.MaxSyncGap(), 5000);  // back to the default
  // What a refused duration looks like to the user.
  player.runChosenFile(pathFile("back.txt", "MoveLeft\t-3\t\r\n"));
  runUntilIdle();
  EXPECT_EQ(services.events.back().second,
            "Command line has a negative duration: MoveLeft\\x09-3\\x09");
}

TEST_F(PathTest, RecordingThenReplayingReproducesTheGaps) {
  const std::string path = pathFile("recorded.txt", "MoveStop\t0\t\r\n");
  ui.fileAnswers.push_back(path);
  recorder.aRecordPathClick();
  EXPECT_EQ(recorder.caption(), "Stop Record");
  dispatcher.QueueTimedCommand("MoveForward");
  loop->advance(800 * kMs);
  dispatcher.QueueTimedCommand("MoveLeft");
  loop->advance(1234 * kMs);
  dispatcher.QueueCommand(Command{"Volume", "4\t0\r\nx", 0.0});  // cannot split its line
  loop->advance(300 * kMs);
  EXPECT_EQ(readFile(path), "MoveStop\t0\t\r\n");  // the old file stays whole until the end
  recorder.aRecordPathClick();
  EXPECT_EQ(recorder.caption(), "Record Path");
  EXPECT_EQ(readFile(path),
            "MoveForward\t0.8\t\r\nMoveLeft\t1.234\t\r\nVolume\t0\t4 0  x\r\nFile\t0\tEnd\r\n");

  runner.ran.clear();
  player.runChosenFile(path);
  runUntilIdle();
  EXPECT_EQ(runner.timeline(), "MoveForward +800 MoveLeft +1234 Volume=4 0  x");
}

TEST_F(PathTest, AnyFileCommandStopsARunAndEveryStopSetsNormalPriority) {
  dispatcher.QueueCommand(Command{"File", "End", 0.0});
  runUntilIdle();
  EXPECT_EQ(process.changes(), std::vector{PriorityClass::Normal});  // also without a run
  EXPECT_TRUE(fs::is_empty(folder.path()));                          // and no proof then

  fs::create_directory(folder.path() / "data");
  pathFile("data/walk", "");                                 // no ".": proved into data/Proof.txt
  dispatcher.QueueCommand(Command{"FileOff", "walk", 0.0});  // any of the family starts a run
  runUntilIdle();
  EXPECT_TRUE(running());
  loop->advance(3000 * kMs);
  dispatcher.QueueCommand(Command{"FileOn", "whatever.txt", 0.0});  // any parameter stops it
  EXPECT_FALSE(running());                                          // at once
  runUntilIdle();
  EXPECT_EQ(readFile(folder.file("data/Proof.txt")),
            "0\tFileOff\t0\twalk\r\n3\tFileOn\t0\twhatever.txt\r\n");
}

// A "File" command from the bus names a file inside the path folder (here data/). Anything that
// leads out of it is refused with one event before any file is opened or created, and a file
// that is refused or missing leaves the device off.
TEST_F(PathTest, FileCommandsReachOnlyFilesInsideThePathFolder) {
  pathFile("data/walk.txt", "MoveForward\t0\t\r\n");
  pathFile("data/sub/deep.txt", "MoveLeft\t0\t\r\n");
  pathFile("secret.txt", "Secret\t0\t\r\n");
  fs::create_symlink(folder.file("secret.txt"), folder.file("data/out.txt"));
  fs::create_symlink(folder.file("data/walk.txt"), folder.file("data/in.txt"));
  fs::create_symlink(folder.path(), folder.file("data/up"));
  const std::string refused = " is outside the path folder; refused";
  struct Case {
    std::string name, ran, event;
  };
  const Case cases[] = {
      {"walk.txt", "MoveForward", ""},          {folder.file("data/walk.txt"), "MoveForward", ""},
      {"sub/deep.txt", "MoveLeft", ""},         {"in.txt", "MoveForward", ""},
      {"nothing.txt", "", " does not exist"},   {"/etc/passwd", "", refused},
      {folder.file("secret.txt"), "", refused}, {"../secret.txt", "", refused},
      {"sub/../walk.txt", "", refused},         {"out.txt", "", refused},
      {"up/secret.txt", "", refused},           {std::string("walk.txt\0/x", 12), "", refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    runner.ran.clear();
    services.events.clear();
    const auto filesBefore = std::distance(fs::recursive_directory_iterator(folder.path()), {});
    dispatcher.QueueCommand(Command{"File", c.name, 0.0});
    runUntilIdle();
    EXPECT_EQ(runner.timeline(), c.ran);
    EXPECT_EQ(running(), c.event.empty());
    if (c.event.empty()) {
      EXPECT_TRUE(services.events.empty());
      dispatcher.QueueCommand(Command{"File", "End", 0.0});
      runUntilIdle();
    } else {
      ASSERT_EQ(services.events.size(), 1u);
      EXPECT_EQ(services.events[0].second,
                "File command file " + rovalink::settings::QuotedLine(c.name) + c.event);
      EXPECT_EQ(std::distance(fs::recursive_directory_iterator(folder.path()), {}), filesBefore);
    }
  }
  EXPECT_EQ(readFile(folder.file("data/sub/deep_Proof.txt")).substr(0, 23),
            "0\tFile\t0\tsub/deep.txt\r\n");
}

// Ten bad lines are quoted (short, escaped), the rest counted in one event; a link planted in the
// proof's place is replaced, not written through.
TEST_F(PathTest, JunkLinesAreReportedBoundedAndTheProofNeverFollowsALink) {
  std::string junk = std::string(100, 'x') + "\x1b\r\n";
  for (int i = 0; i < 5000; ++i) junk += "junk\r\n";
  const std::string path = pathFile("junk.txt", junk + "MoveStop\t0\t\r\n");
  pathFile("victim", "keep");
  fs::create_symlink(folder.file("victim"), folder.file("junk_Proof.txt"));
  player.runChosenFile(path);
  runUntilIdle();
  EXPECT_EQ(runner.timeline(), "MoveStop");
  ASSERT_EQ(services.events.size(), 11u);
  EXPECT_EQ(services.events[0].second,
            "Command line does not have a time parameter: " + std::string(77, 'x') + "...");
  EXPECT_EQ(services.events[10].second, "4991 more command lines do not have a time parameter");
  EXPECT_EQ(readFile(folder.file("victim")), "keep");
  dispatcher.QueueCommand(Command{"File", "End", 0.0});
  runUntilIdle();
  EXPECT_NE(readFile(folder.file("junk_Proof.txt")).find("MoveStop"), std::string::npos);
}

struct StopCase {
  const char* name;
  Command stop;
  const char* timeline;
};

class PathStop : public PathTest, public ::testing::WithParamInterface<StopCase> {};

// A path line holding the queue for 24 hours: a stop from outside the path (xAP, a button, the
// keyboard) ends the run at once, takes the path's remaining commands off the queue and lets
// what else was queued meanwhile run in its order.
TEST_P(PathStop, FromOutsideThePathEndsTheRunAtOnce) {
  const StopCase& c = GetParam();
  const std::string path =
      pathFile("long.txt", "MoveForward\t86400\t\r\nMoveLeft\t1\t\r\nFile\t0\tEnd\r\n");
  player.runChosenFile(path);
  // Events that arrive while the dispatcher waits out the first line's gap.
  loop->post(5000 * kMs, [&] {
    dispatcher.QueueCommand("HeadLEDOn");
    dispatcher.QueueCommand(Command{"LeftLEDOn", "", now()});
  });
  bool wasRunning = false;
  loop->post(10000 * kMs, [&] {  // 10 s into the run
    wasRunning = running();
    dispatcher.QueueCommand(c.stop);
    EXPECT_FALSE(running());
    EXPECT_EQ(reports, "File File ");
  });
  loop->advance(10000 * kMs);
  EXPECT_TRUE(wasRunning);
  EXPECT_EQ(readFile(folder.file("long_Proof.txt")),
            "0\tFile\t0\t" + path + "\r\n0\tMoveForward\t86400\t\r\n10\t" + c.stop.Procedure +
                "\t0\t" + c.stop.Parameter + "\r\n");
  runUntilIdle();
  EXPECT_EQ(runner.timeline(), c.timeline);
  EXPECT_EQ(dispatcher.MaxSyncGap(), 5000);
  EXPECT_FALSE(running()) << "the stop started a run";
}

INSTANTIATE_TEST_SUITE_P(
    Commands, PathStop,
    ::testing::Values(
        StopCase{"MoveStopStopsTheMotorsFirst",
                 {"MoveStop", "", 0.0},
                 "MoveForward +10000 MoveStop +0 HeadLEDOn +0 LeftLEDOn"},
        StopCase{"KeyboardMoveStop",
                 {"MoveStop", "", 10.0},
                 "MoveForward +10000 MoveStop +0 HeadLEDOn +0 LeftLEDOn"},
        StopCase{"FileEnd", {"File", "End", 0.0}, "MoveForward +10000 HeadLEDOn +0 LeftLEDOn"},
        StopCase{"FileWithAnotherPath",
                 {"FileOn", "other.txt", 0.0},
                 "MoveForward +10000 HeadLEDOn +0 LeftLEDOn"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(PathFile, LinesNeedTwoOrThreeFieldsProofsGoBeforeTheLastDotAndGapsStayInRange) {
  std::string usable;
  for (const auto& line : ReadPathFileLines("\r\nA\r\nA\t1\r\nA\t1\tx\nA\t1\tx\ty\r\n\t\t\r\nA\t1"))
    usable += line.usable ? '1' : '0';
  EXPECT_EQ(usable, "0011011");  // also a bare LF and a missing last line end
  EXPECT_EQ(ProofFileName("/data/walk.v2.txt"), "/data/walk.v2_Proof.txt");
  EXPECT_EQ(ProofFileName("/data/my.paths/walk"), "/data/my_Proof.paths/walk");
  EXPECT_EQ(ProofFileName("/data/walk"), "");
  // Durations that would hold the queue for days, run backwards or overflow are refused.
  const PathRunPlan plan = PlanPathRun(
      "A\t1e300\t\r\nB\t-0.5\tx\r\nC\t86400.001\t\r\nD\t86400\t\r\nE\t9e999\t\r\n", 5000);
  EXPECT_EQ(plan.refusedLines, (std::vector<std::pair<std::string, std::string>>{
                                   {"has a duration above 24 hours", "A\t1e300\t"},
                                   {"has a negative duration", "B\t-0.5\tx"},
                                   {"has a duration above 24 hours", "C\t86400.001\t"},
                                   {"has a duration that is not a finite number", "E\t9e999\t"}}));
  ASSERT_EQ(plan.commands.size(), 1u);
  EXPECT_EQ(plan.commands[0].Procedure, "D");
  EXPECT_EQ(plan.maxSyncGap, 86400 * 1500);
  // Past the first ten such lines only a count is kept; past 100,000 commands the rest are refused.
  std::string huge;
  for (int i = 0; i < 12; ++i) huge += "B\t-1\t\r\n";
  for (std::size_t i = 0; i <= kMaxPathCommands; ++i) huge += "A\t1\t\r\n";
  const PathRunPlan hugePlan = PlanPathRun(huge, 5000);
  EXPECT_EQ(hugePlan.refusedLines.size(), 10u);
  EXPECT_EQ(hugePlan.refusedLinesNotKept, 2u);
  EXPECT_EQ(hugePlan.commands.size(), 100000u);
  EXPECT_EQ(hugePlan.refusedCommands, 1u);
}

}  // namespace
}  // namespace rovalink::commands
