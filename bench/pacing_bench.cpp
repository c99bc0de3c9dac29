// How faithfully the real dispatcher reproduces recorded gaps: replays a generated path file of
// timed motion commands through the robot link to tools/robot-sim on loopback and compares the
// gaps between the motor packets the simulator logged with the gaps the file asked for.
//
//   pacing_bench [--robot-sim PATH] [--count N] [--seed N] [--min-ms MS] [--max-ms MS]
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "commands/command_dispatcher.h"
#include "commands/number_text.h"
#include "commands/path_file.h"
#include "commands/path_player.h"
#include "devices/device_table.h"
#include "platform/main_window_model.h"
#include "platform/qt/qt_platform.h"
#include "platform/ui_port.h"
#include "platform/wait.h"
#include "robot/robot_link.h"
#include "robot/robot_state.h"
#include "settings/hs.h"
#include "settings/services.h"

using namespace rovalink;

namespace {

struct Options {
  QString robotSim;
  int count = 200;
  unsigned seed = 7;
  int minMs = 20;
  int maxMs = 2000;
};

class StderrServices : public settings::Services {
 public:
  void LogError(const std::string& first, const std::string& second,
                const std::string& description) override {
    std::fprintf(stderr, "error: %s %s %s\n", first.c_str(), second.c_str(), description.c_str());
  }
  void LogEvent(const std::string& type, const std::string& data,
                const std::string& description) override {
    std::fprintf(stderr, "event: %s %s %s\n", type.c_str(), data.c_str(), description.c_str());
  }
  bool CreateFolders(const std::string&) override { return true; }
};

// A desktop with nobody at it: message boxes go to stderr.
class StderrUiPort : public platform::UiPort {
 public:
  void messageBox(const std::string& text) override {
    std::fprintf(stderr, "message box: %s\n", text.c_str());
  }
  std::optional<std::string> chooseFile(const std::string&) override { return std::nullopt; }
  void showMainWindow() override {}
  void hideMainWindow() override {}
  void showVideoWindow() override {}
  void showFrame(std::string_view) override {}
  void updateTrayIcon(bool, const std::string&) override {}
  bool isKeyDown(platform::ArrowKey) override { return false; }
  void exitProcess(int) override {}
};

// Notes when each motion starts, then lets the robot link run it.
class TimingRunner : public commands::ProcedureRunner {
 public:
  explicit TimingRunner(commands::ProcedureRunner& inner) : m_inner(inner) {}
  bool runProcedure(const commands::Command& command) override {
    if (command.Procedure.rfind("Move", 0) == 0) {
      sentAtUs.push_back(
          static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count()));
    }
    return m_inner.runProcedure(command);
  }
  std::vector<double> sentAtUs;

 private:
  commands::ProcedureRunner& m_inner;
};

constexpr const char* kUsage =
    "usage: pacing_bench [--robot-sim PATH] [--count N] [--seed N] [--min-ms MS] [--max-ms MS]\n"
    "Replays a generated path file of N timed motion commands (default 200, gaps MS apart,\n"
    "default 20 to 2000) through the robot link to tools/robot-sim and prints how far the\n"
    "gaps between the motor packets it received are from the recorded gaps.\n";

enum class Parsed { Run, Help, Bad };

Parsed parseOptions(const QStringList& args, Options& options) {
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--help" || a == "-h") return Parsed::Help;
    if (a == "--robot-sim" && hasValue) {
      options.robotSim = args[++i];
    } else if (a == "--count" && hasValue) {
      options.count = args[++i].toInt();
    } else if (a == "--seed" && hasValue) {
      options.seed = args[++i].toUInt();
    } else if (a == "--min-ms" && hasValue) {
      options.minMs = args[++i].toInt();
    } else if (a == "--max-ms" && hasValue) {
      options.maxMs = args[++i].toInt();
    } else {
      std::fprintf(stderr, "unknown or incomplete option %s\n%s", qPrintable(a), kUsage);
      return Parsed::Bad;
    }
  }
  if (options.robotSim.isEmpty()) {
    options.robotSim = QCoreApplication::applicationDirPath() + "/../tools/robot-sim";
  }
  if (options.count >= 2 && options.minMs >= 1 && options.maxMs >= options.minMs) {
    return Parsed::Run;
  }
  std::fprintf(stderr, "need --count of at least 2 and 1 <= --min-ms <= --max-ms\n%s", kUsage);
  return Parsed::Bad;
}

double percentile(const std::vector<double>& sorted, double p);

// Prints median, p99 and max of |actual - recorded| for the gaps between the time stamps.
void report(const char* where, const std::vector<double>& timesUs,
            const std::vector<double>& recorded) {
  std::vector<double> errorsMs;
  double signedSum = 0;
  for (std::size_t i = 0; i + 1 < timesUs.size(); ++i) {
    const double error = (timesUs[i + 1] - timesUs[i]) / 1000.0 - recorded[i] * 1000.0;
    signedSum += error;
    errorsMs.push_back(std::fabs(error));
    if (std::getenv("PACING_BENCH_VERBOSE")) {
      std::printf("%s gap %zu recorded %.0f ms error %+.3f ms\n", where, i, recorded[i] * 1000.0,
                  error);
    }
  }
  std::sort(errorsMs.begin(), errorsMs.end());
  std::printf(
      "%s: gap error |actual - recorded| over %zu gaps: median %.3f ms, p99 %.3f ms, "
      "max %.3f ms (mean signed %+.3f ms)\n",
      where, errorsMs.size(), percentile(errorsMs, 0.5), percentile(errorsMs, 0.99),
      errorsMs.back(), signedSum / static_cast<double>(errorsMs.size()));
}

double percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0.0;
  const double rank = p * static_cast<double>(sorted.size() - 1);
  const auto low = static_cast<std::size_t>(std::floor(rank));
  const auto high = static_cast<std::size_t>(std::ceil(rank));
  return sorted[low] + (sorted[high] - sorted[low]) * (rank - static_cast<double>(low));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  Options options;
  switch (parseOptions(QCoreApplication::arguments(), options)) {
    case Parsed::Help:
      std::fputs(kUsage, stdout);
      return 0;
    case Parsed::Bad:
      return 2;
    case Parsed::Run:
      break;
  }

  QTemporaryDir dir;
  if (!dir.isValid()) return 1;
  const QString logPath = dir.filePath("robot-sim.log");

  QProcess sim;
  sim.start(options.robotSim, {"--port", "0", "--fps", "0", "--log", logPath});
  if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
    std::fprintf(stderr, "cannot start %s\n", qPrintable(options.robotSim));
    return 1;
  }
  const QString banner = QString::fromLatin1(sim.readLine());
  const auto match = QRegularExpression("tcp=(\\d+)").match(banner);
  if (!match.hasMatch()) {
    std::fprintf(stderr, "robot-sim said: %s\n", qPrintable(banner));
    return 1;
  }
  const auto tcpPort = static_cast<std::uint16_t>(match.captured(1).toUInt());

  // The program's robot link, told where the simulator is.
  QDir(dir.path()).mkpath("Config");
  {
    QFile ini(dir.filePath("Config/qbtRovalink.ini"));
    if (!ini.open(QIODevice::WriteOnly)) return 1;
    ini.write("[SPYKEE]\r\nDiscoveryAddress=127.0.0.1\r\nRobotPort=" + QByteArray::number(tcpPort) +
              "\r\n");
  }
  platform::QtPlatform qt;
  StderrServices services;
  settings::hs settings(services);
  settings.setAppPath(dir.path().toStdString());
  StderrUiPort ui;
  commands::CommandDispatcher dispatcher(qt.loop(), qt.clock());
  devices::Devices devices = devices::BuildDeviceTable();
  devices::RobotCredentials credentials{"admin", "kelpo"};
  platform::MainWindowModel window;
  robot::RobotState state;
  const std::string dataFolder = dir.filePath("Data/xapqbtSpykee").toStdString();
  robot::RobotLink link(robot::RobotLink::Wiring{qt, settings, services, ui, dispatcher, devices,
                                                 [](const std::string&, bool) {}, credentials,
                                                 window, state, dataFolder});
  TimingRunner runner(link);
  dispatcher.setProcedureRunner(&runner);
  if (!link.Start() || !platform::waitUntil(qt.loop(), 15000, [&] {
        return state.LoggedIn && !dispatcher.CommandBusy() && dispatcher.queue().empty();
      })) {
    std::fprintf(stderr, "no login at robot-sim on port %u\n", tcpPort);
    return 1;
  }

  // The path file: alternating motions with random recorded durations.
  std::mt19937 random(options.seed);
  std::uniform_int_distribution<int> gapMs(options.minMs, options.maxMs);
  const char* motions[] = {"MoveForward", "MoveLeft", "MoveBackward", "MoveRight", "MoveStop"};
  std::vector<double> recorded;
  std::string text;
  for (int i = 0; i < options.count; ++i) {
    const double seconds = gapMs(random) / 1000.0;
    if (i + 1 < options.count) recorded.push_back(seconds);
    text += commands::FormatFileLine({motions[i % 5], commands::FormatSeconds3(seconds), ""});
  }
  text += commands::FormatFileLine({"File", "0", "End"});
  const std::string pathFile = dir.filePath("bench_path.txt").toStdString();
  {
    QFile out(QString::fromStdString(pathFile));
    if (!out.open(QIODevice::WriteOnly)) return 1;
    out.write(text.data(), static_cast<qint64>(text.size()));
  }

  commands::PathPlayer player(dispatcher, qt.clock(), qt.process(), devices, nullptr, services,
                              dir.path().toStdString());
  dispatcher.setPathRunHooks(&player);

  double total = 0;
  for (double r : recorded) total += r;
  std::printf("replaying %d commands, %.1f s of recorded gaps (%d..%d ms)\n", options.count, total,
              options.minMs, options.maxMs);
  std::fflush(stdout);
  player.runChosenFile(pathFile);
  const int bound = static_cast<int>(total * 1000) + 60000;
  const bool finished = platform::waitUntil(qt.loop(), bound, [&] {
    return runner.sentAtUs.size() == static_cast<std::size_t>(options.count) &&
           !dispatcher.CommandBusy() && dispatcher.queue().empty();
  });
  platform::pumpFor(qt.loop(), 300);  // let the last packets reach the simulator's log
  sim.terminate();
  sim.waitForFinished(5000);
  link.Shutdown();
  if (!finished) {
    std::fprintf(stderr, "run incomplete: %zu sent\n", runner.sentAtUs.size());
    return 1;
  }

  QFile log(logPath);
  if (!log.open(QIODevice::ReadOnly)) return 1;
  std::vector<double> arrivalsUs;
  const QRegularExpression packetLine("\"t_us\":(\\d+),\"type\":5,");
  while (!log.atEnd()) {
    const auto m = packetLine.match(QString::fromLatin1(log.readLine()));
    if (m.hasMatch()) arrivalsUs.push_back(m.captured(1).toDouble());
  }
  if (arrivalsUs.size() != static_cast<std::size_t>(options.count)) {
    std::fprintf(stderr, "simulator logged %zu motor packets, expected %d\n", arrivalsUs.size(),
                 options.count);
    return 1;
  }

  report("robot-sim arrivals", arrivalsUs, recorded);
  report("dispatcher sends", runner.sentAtUs, recorded);
  return 0;
}
