#include "commands/path_player.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "commands/command_dispatcher.h"
#include "commands/path_recorder.h"
#include "devices/device_table.h"
#include "platform/sim/sim_platform.h"
#include "settings/recording_services.h"
#include "settings/test_folder.h"
#include "support/fake_ui_port.h"

namespace rovalink::commands {
namespace {

using platform::PriorityClass;
using testing::readFile;
using testing::RecordingServices;
using testing::TestFolder;
using testing::writeFile;

constexpr double kMsPerSecond = 1000.0;

class FakeRunner : public ProcedureRunner {
 public:
  explicit FakeRunner(platform::SimPlatform& sim) : m_sim(sim) {}
  bool runProcedure(const Command& c) override {
    ran.push_back({c.Procedure, c.Parameter, m_sim.nowMs()});
    if (onRun) onRun(c);
    return true;
  }
  struct Ran {
    std::string procedure;
    std::string parameter;
    double atMs;
  };
  std::vector<Ran> ran;
  std::function<void(const Command&)> onRun;

 private:
  platform::SimPlatform& m_sim;
};

// Dispatcher, recorder and player wired as the program wires them, on virtual time, with a
// real temporary folder for the files.
class PathTest : public ::testing::Test {
 protected:
  PathTest()
      : dispatcher(sim.loop(), sim.clock()),
        devices(devices::BuildDeviceTable()),
        recorder(sim.clock(), ui, services, folder.path().string()),
        player(
            dispatcher, sim.clock(), sim.process(), devices,
            [this](const std::string& name, bool isInfo) {
              reports.push_back(name + (isInfo ? " info" : " event"));
            },
            services, (folder.path() / "data").string()) {
    dispatcher.setProcedureRunner(&runner);
    dispatcher.setRecordHook(&recorder);
    dispatcher.setPathRunHooks(&player);
    sim.advanceMs(5000);  // clear of the start-up second
  }

  void runUntilIdle() {
    sim.advanceMs(1);
    ASSERT_TRUE(sim.runUntil(
        [&] { return !dispatcher.CommandBusy() && dispatcher.queue().empty(); }, 3'600'000));
  }

  std::vector<std::string> ranNames() const {
    std::vector<std::string> names;
    for (const auto& r : runner.ran) names.push_back(r.procedure);
    return names;
  }

  std::vector<std::string> eventTexts() const {
    std::vector<std::string> texts;
    for (const auto& e : services.events) texts.push_back(e.first + ": " + e.second);
    return texts;
  }

  bool fileDeviceOn() const { return devices.at("File").Status; }

  TestFolder folder;
  platform::SimPlatform sim;
  CommandDispatcher dispatcher;
  FakeRunner runner{sim};
  devices::Devices devices;
  RecordingServices services;
  test::FakeUiPort ui;
  std::vector<std::string> reports;
  PathRecorder recorder;
  PathPlayer player;
};

TEST_F(PathTest, ReplaysAtTheRecordedPaceAndWritesAByteExactProof) {
  const std::string path = folder.file("walk.txt");
  writeFile(path, "MoveForward\t1.25\t\r\nMoveStop\t0.5\t\r\nSoundAlarm\t0\t\r\nFile\t0\tEnd\r\n");
  player.runChosenFile(path);
  runUntilIdle();

  ASSERT_EQ(ranNames(), (std::vector<std::string>{"MoveForward", "MoveStop", "SoundAlarm"}));
  EXPECT_DOUBLE_EQ(runner.ran[1].atMs - runner.ran[0].atMs, 1250.0);
  EXPECT_DOUBLE_EQ(runner.ran[2].atMs - runner.ran[1].atMs, 500.0);

  EXPECT_EQ(readFile(folder.file("walk_Proof.txt")), "0\tFile\t0\t" + path +
                                                         "\r\n"
                                                         "0\tMoveForward\t1.25\t\r\n"
                                                         "1.25\tMoveStop\t0.5\t\r\n"
                                                         "1.75\tSoundAlarm\t0\t\r\n"
                                                         "1.75\tFile\t0\tEnd\r\n");
  EXPECT_FALSE(fileDeviceOn());
  EXPECT_EQ(sim.simProcess().changes(),
            (std::vector<PriorityClass>{PriorityClass::High, PriorityClass::Normal}));
  EXPECT_EQ(reports, (std::vector<std::string>{"File event", "File event"}));
  EXPECT_EQ(dispatcher.MaxSyncGap(), 5000);
  EXPECT_FALSE(std::filesystem::exists(folder.file("walk_Proof.txt.tmp")));
}

TEST_F(PathTest, RecordingThenReplayingReproducesTheGaps) {
  const std::string path = folder.file("recorded.txt");
  ASSERT_TRUE(recorder.startRecording(path));
  dispatcher.QueueTimedCommand("MoveForward");
  sim.advanceMs(800);
  dispatcher.QueueTimedCommand("MoveLeft");
  sim.advanceMs(1234);
  dispatcher.QueueCommand(Command{"Volume", "40", 0.0});
  sim.advanceMs(300);
  recorder.aRecordPathClick();  // stop
  EXPECT_FALSE(recorder.Recording());
  EXPECT_EQ(recorder.caption(), "Record Path");
  EXPECT_EQ(readFile(path),
            "MoveForward\t0.8\t\r\n"
            "MoveLeft\t1.234\t\r\n"
            "Volume\t0\t40\r\n"
            "File\t0\tEnd\r\n");

  runner.ran.clear();
  player.runChosenFile(path);
  runUntilIdle();
  ASSERT_EQ(ranNames(), (std::vector<std::string>{"MoveForward", "MoveLeft", "Volume"}));
  EXPECT_DOUBLE_EQ(runner.ran[1].atMs - runner.ran[0].atMs, 800.0);
  EXPECT_DOUBLE_EQ(runner.ran[2].atMs - runner.ran[1].atMs, 1234.0);
  EXPECT_EQ(runner.ran[2].parameter, "40");
}

TEST_F(PathTest, RecordingOneButtonCommandGivesItAndTheEndLine) {
  ui.fileAnswers.push_back(folder.file("one.txt"));
  recorder.aRecordPathClick();
  EXPECT_EQ(recorder.caption(), "Stop Record");
  EXPECT_EQ(ui.dialogFolders, (std::vector<std::string>{folder.path().string()}));
  dispatcher.QueueCommand("HeadLEDOn");
  runUntilIdle();
  recorder.aRecordPathClick();
  EXPECT_EQ(readFile(folder.file("one.txt")), "HeadLEDOn\t0\t\r\nFile\t0\tEnd\r\n");
}

TEST_F(PathTest, CancelledRecordDialogRecordsNothing) {
  EXPECT_EQ(recorder.caption(), "Record File");
  recorder.aRecordPathClick();  // no answer scripted: cancelled
  EXPECT_FALSE(recorder.Recording());
  EXPECT_EQ(recorder.caption(), "Record Path");
  dispatcher.QueueCommand("HeadLEDOn");
  runUntilIdle();
  EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST_F(PathTest, OldPathFileStaysWholeUntilTheNewRecordingEnds) {
  const std::string path = folder.file("keep.txt");
  writeFile(path, "MoveStop\t0\t\r\n");
  ASSERT_TRUE(recorder.startRecording(path));
  dispatcher.QueueCommand("HeadLEDOn");
  runUntilIdle();
  EXPECT_EQ(readFile(path), "MoveStop\t0\t\r\n");
  recorder.stopRecording();
  EXPECT_EQ(readFile(path), "HeadLEDOn\t0\t\r\nFile\t0\tEnd\r\n");
}

TEST_F(PathTest, ParameterWithATabOrLineEndCannotSplitARecordedLine) {
  const std::string path = folder.file("tab.txt");
  ASSERT_TRUE(recorder.startRecording(path));
  dispatcher.QueueCommand(Command{"Volume", "4\t0\r\nx", 0.0});
  runUntilIdle();
  recorder.stopRecording();
  EXPECT_EQ(readFile(path), "Volume\t0\t4 0  x\r\nFile\t0\tEnd\r\n");
}

TEST_F(PathTest, FileWithoutEndLineLeavesTheRunOnUntilTheNextFileCommand) {
  const std::string path = folder.file("open.txt");
  writeFile(path, "MoveForward\t2\t\r\n");
  player.runChosenFile(path);
  runUntilIdle();
  EXPECT_EQ(ranNames(), (std::vector<std::string>{"MoveForward"}));
  EXPECT_TRUE(fileDeviceOn());
  EXPECT_EQ(sim.simProcess().current(), PriorityClass::High);

  sim.advanceMs(3000);
  // Any parameter stops a running path.
  dispatcher.QueueCommand(Command{"FileOn", "whatever.txt", 0.0});
  runUntilIdle();
  EXPECT_FALSE(fileDeviceOn());
  EXPECT_EQ(sim.simProcess().current(), PriorityClass::Normal);
  EXPECT_EQ(readFile(folder.file("open_Proof.txt")), "0\tFile\t0\t" + path +
                                                         "\r\n"
                                                         "0\tMoveForward\t0\t\r\n"
                                                         "3.001\tFileOn\t0\twhatever.txt\r\n");
}

TEST_F(PathTest, NonNumericDurationStartsAtOnceWithoutShiftingTheRest) {
  const std::string path = folder.file("abc.txt");
  writeFile(path, "MoveForward\t1\t\r\nMoveStop\tabc\t\r\nMoveLeft\t1\t\r\nFile\t0\tEnd\r\n");
  player.runChosenFile(path);
  runUntilIdle();
  ASSERT_EQ(ranNames(), (std::vector<std::string>{"MoveForward", "MoveStop", "MoveLeft"}));
  EXPECT_DOUBLE_EQ(runner.ran[1].atMs - runner.ran[0].atMs, 0.0);  // stamp 0: no wait
  // MoveLeft is stamped 1 s after MoveForward, measured from MoveStop's start.
  EXPECT_DOUBLE_EQ(runner.ran[2].atMs - runner.ran[1].atMs, 1000.0);
}

TEST_F(PathTest, LongDurationRaisesMaxSyncGapForTheRunOnly) {
  const std::string path = folder.file("long.txt");
  writeFile(path, "MoveForward\t10\t\r\nMoveStop\t0\t\r\nFile\t0\tEnd\r\n");
  int gapDuringRun = 0;
  runner.onRun = [&](const Command&) { gapDuringRun = dispatcher.MaxSyncGap(); };
  player.runChosenFile(path);
  runUntilIdle();
  EXPECT_EQ(gapDuringRun, 15000);
  ASSERT_EQ(runner.ran.size(), 2u);
  EXPECT_DOUBLE_EQ(runner.ran[1].atMs - runner.ran[0].atMs, 10 * kMsPerSecond);
  EXPECT_EQ(dispatcher.MaxSyncGap(), 5000);
}

TEST_F(PathTest, MissingPathFileIsReportedAndTheRunStillCountsAsOn) {
  const std::string path = folder.file("missing.txt");
  player.runChosenFile(path);
  runUntilIdle();
  EXPECT_EQ(eventTexts(), (std::vector<std::string>{"xapqbtSpykee: File command file " + path +
                                                    " does not exist"}));
  EXPECT_TRUE(fileDeviceOn());
  EXPECT_EQ(reports, (std::vector<std::string>{"File event"}));
  dispatcher.QueueCommand(Command{"File", "End", 0.0});
  runUntilIdle();
  EXPECT_FALSE(fileDeviceOn());
  EXPECT_TRUE(std::filesystem::exists(folder.file("missing_Proof.txt")));
}

TEST_F(PathTest, LinesWithoutATimeFieldAreSkippedWithAnEvent) {
  const std::string path = folder.file("bad.txt");
  writeFile(path, "MoveForward\r\nMoveStop\t0\t\r\nFile\t0\tEnd\r\n");
  player.runChosenFile(path);
  runUntilIdle();
  EXPECT_EQ(ranNames(), (std::vector<std::string>{"MoveStop"}));
  EXPECT_EQ(eventTexts(),
            (std::vector<std::string>{"xapqbtSpykee: Command line does not have a time parameter: "
                                      "MoveForward"}));
}

TEST_F(PathTest, FileOffWithoutARunStartsOne) {
  const std::string path = folder.file("off.txt");
  writeFile(path, "MoveStop\t0\t\r\n");
  dispatcher.QueueCommand(Command{"FileOff", path, 0.0});
  runUntilIdle();
  EXPECT_EQ(ranNames(), (std::vector<std::string>{"MoveStop"}));
  EXPECT_TRUE(fileDeviceOn());
}

TEST_F(PathTest, SecondFileCommandStopsTheRunButQueuedCommandsStillRun) {
  const std::string path = folder.file("twice.txt");
  writeFile(path, "MoveForward\t1\t\r\nMoveStop\t0\t\r\n");
  // The second "File" is queued behind the first before the file's commands.
  dispatcher.QueueCommand(Command{"File", path, 0.0});
  dispatcher.QueueCommand(Command{"File", path, 0.0});
  runUntilIdle();
  EXPECT_FALSE(fileDeviceOn());
  EXPECT_EQ(ranNames(), (std::vector<std::string>{"MoveForward", "MoveStop"}));
}

TEST_F(PathTest, StopWithoutARunWritesNoProof) {
  dispatcher.QueueCommand(Command{"File", "End", 0.0});
  runUntilIdle();
  EXPECT_FALSE(fileDeviceOn());
  EXPECT_EQ(sim.simProcess().changes(), (std::vector<PriorityClass>{PriorityClass::Normal}));
  EXPECT_EQ(reports, (std::vector<std::string>{"File event"}));
  EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST_F(PathTest, PathWithoutADotProvesIntoTheDataFolder) {
  std::filesystem::create_directories(folder.path() / "data");
  const std::string path = folder.file("nodot");
  writeFile(path, "MoveStop\t0\t\r\nFile\t0\tEnd\r\n");
  player.runChosenFile(path);
  runUntilIdle();
  EXPECT_EQ(readFile((folder.path() / "data" / "Proof.txt").string()),
            "0\tFile\t0\t" + path + "\r\n0\tMoveStop\t0\t\r\n0\tFile\t0\tEnd\r\n");
}

}  // namespace
}  // namespace rovalink::commands
