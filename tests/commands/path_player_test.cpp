#include "commands/path_player.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "commands/dispatcher_fixture.h"
#include "commands/path_file.h"
#include "commands/path_recorder.h"
#include "devices/device_table.h"
#include "platform/sim/sim_process.h"
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
  EXPECT_FALSE(fs::exists(folder.file("walk_Proof.txt.tmp")));
  EXPECT_EQ(process.changes(), (std::vector{PriorityClass::High, PriorityClass::Normal}));
  EXPECT_EQ(reports, "File File ");
  EXPECT_EQ(dispatcher.MaxSyncGap(), 5000);  // back to the default
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
  const std::string missing = folder.file("missing");         // no ".": proved into data/Proof.txt
  dispatcher.QueueCommand(Command{"FileOff", missing, 0.0});  // any of the family starts a run
  runUntilIdle();
  EXPECT_EQ(services.events.at(0).second, "File command file " + missing + " does not exist");
  EXPECT_TRUE(running());
  loop->advance(3000 * kMs);
  dispatcher.QueueCommand(Command{"FileOn", "whatever.txt", 0.0});  // any parameter stops it
  runUntilIdle();
  EXPECT_FALSE(running());
  EXPECT_EQ(readFile(folder.file("data/Proof.txt")),
            "0\tFileOff\t0\t" + missing + "\r\n3.001\tFileOn\t0\twhatever.txt\r\n");
}

TEST(PathFile, LinesNeedTwoOrThreeFieldsProofsGoBeforeTheLastDotAndGapsStayInRange) {
  std::string usable;
  for (const auto& line : ReadPathFileLines("\r\nA\r\nA\t1\r\nA\t1\tx\nA\t1\tx\ty\r\n\t\t\r\nA\t1"))
    usable += line.usable ? '1' : '0';
  EXPECT_EQ(usable, "0011011");  // also a bare LF and a missing last line end
  EXPECT_EQ(ProofFileName("/data/walk.v2.txt"), "/data/walk.v2_Proof.txt");
  EXPECT_EQ(ProofFileName("/data/my.paths/walk"), "/data/my_Proof.paths/walk");
  EXPECT_EQ(ProofFileName("/data/walk"), "");
  EXPECT_EQ(PlanPathRun("A\t1e300\t\r\n", 5000).maxSyncGap, 2147483647);  // never wrapped
}

}  // namespace
}  // namespace rovalink::commands
