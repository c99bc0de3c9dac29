// How faithfully the real dispatcher reproduces recorded gaps: replays a generated path file of
// timed motion commands to tools/robot-sim on loopback and compares the gaps between the motor
// packets the simulator logged with the gaps the file asked for.
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
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "commands/command_dispatcher.h"
#include "commands/number_text.h"
#include "commands/path_file.h"
#include "commands/path_player.h"
#include "devices/device_table.h"
#include "platform/qt/qt_platform.h"
#include "platform/wait.h"
#include "robot/robot_packet.h"
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

// The motions the generated file uses, sent as the robot link sends them (DriveSpeed 73).
class MotorRunner : public commands::ProcedureRunner {
 public:
  explicit MotorRunner(platform::TcpSocket& socket) : m_socket(socket) {}
  bool runProcedure(const commands::Command& command) override {
    constexpr int s = 73;
    std::optional<std::string> packet;
    if (command.Procedure == "MoveForward") packet = robot::motorPacket(125 - s, 125 - s);
    if (command.Procedure == "MoveBackward") packet = robot::motorPacket(125 + s, 125 + s);
    if (command.Procedure == "MoveLeft") packet = robot::motorPacket(125 + s, 125 - s);
    if (command.Procedure == "MoveRight") packet = robot::motorPacket(125 - s, 125 + s);
    if (command.Procedure == "MoveStop") packet = robot::motorPacket(0, 0);
    if (!packet) return false;
    if (!m_socket.send(*packet)) ++failedSends;
    ++sent;
    return true;
  }
  int sent = 0;
  int failedSends = 0;

 private:
  platform::TcpSocket& m_socket;
};

bool parseOptions(const QStringList& args, Options& options) {
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    const bool hasValue = i + 1 < args.size();
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
      std::fprintf(stderr, "unknown or incomplete option %s\n", qPrintable(a));
      return false;
    }
  }
  if (options.robotSim.isEmpty()) {
    options.robotSim = QCoreApplication::applicationDirPath() + "/../tools/robot-sim";
  }
  return options.count >= 2 && options.minMs >= 1 && options.maxMs >= options.minMs;
}

double percentile(std::vector<double> sorted, double p) {
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
  if (!parseOptions(QCoreApplication::arguments(), options)) return 2;

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

  platform::QtPlatform qt;
  auto socket = qt.createTcpSocket();
  socket->setNoDelay(true);
  socket->connect("127.0.0.1", tcpPort);
  if (!platform::waitUntil(qt.loop(), 5000,
                           [&] { return socket->state() == platform::SocketState::Connected; })) {
    std::fprintf(stderr, "cannot connect to robot-sim on %u\n", tcpPort);
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

  devices::Devices devices = devices::BuildDeviceTable();
  StderrServices services;
  commands::CommandDispatcher dispatcher(qt.loop(), qt.clock());
  MotorRunner runner(*socket);
  commands::PathPlayer player(dispatcher, qt.clock(), qt.process(), devices, nullptr, services,
                              dir.path().toStdString());
  dispatcher.setProcedureRunner(&runner);
  dispatcher.setPathRunHooks(&player);

  double total = 0;
  for (double r : recorded) total += r;
  std::printf("replaying %d commands, %.1f s of recorded gaps (%d..%d ms)\n", options.count, total,
              options.minMs, options.maxMs);
  std::fflush(stdout);
  player.runChosenFile(pathFile);
  const int bound = static_cast<int>(total * 1000) + 60000;
  const bool finished = platform::waitUntil(qt.loop(), bound, [&] {
    return runner.sent == options.count && !dispatcher.CommandBusy() && dispatcher.queue().empty();
  });
  platform::pumpFor(qt.loop(), 300);  // let the last packets reach the simulator's log
  sim.terminate();
  sim.waitForFinished(5000);
  if (!finished || runner.failedSends > 0) {
    std::fprintf(stderr, "run incomplete: %d sent, %d failed\n", runner.sent, runner.failedSends);
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

  std::vector<double> errorsMs;
  double signedSum = 0;
  for (std::size_t i = 0; i + 1 < arrivalsUs.size(); ++i) {
    const double actualMs = (arrivalsUs[i + 1] - arrivalsUs[i]) / 1000.0;
    const double error = actualMs - recorded[i] * 1000.0;
    signedSum += error;
    errorsMs.push_back(std::fabs(error));
    if (std::getenv("PACING_BENCH_VERBOSE"))
      std::printf("gap %zu recorded %.0f error %+.3f\n", i, recorded[i] * 1000.0, error);
  }
  std::sort(errorsMs.begin(), errorsMs.end());
  std::printf(
      "gap error |actual - recorded| over %zu gaps: median %.3f ms, p99 %.3f ms, "
      "max %.3f ms (mean signed %+.3f ms)\n",
      errorsMs.size(), percentile(errorsMs, 0.5), percentile(errorsMs, 0.99), errorsMs.back(),
      signedSum / static_cast<double>(errorsMs.size()));
  return 0;
}
