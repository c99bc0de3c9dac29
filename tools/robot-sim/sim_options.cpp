#include "sim_options.h"

#include <QCommandLineParser>
#include <QTextStream>

namespace robotsim {

std::optional<SimOptions> parseOptions(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "A Spykee robot simulator: discovery reply, login, dock, battery and JPEG video frames.");
  parser.addHelpOption();
  const QCommandLineOption address("address", "Address to listen on (default 127.0.0.1).",
                                   "ADDRESS", "127.0.0.1");
  const QCommandLineOption port("port", "UDP discovery and TCP control port; 0 picks a free one.",
                                "PORT", "9000");
  const QCommandLineOption user("user", "Accepted user name.", "NAME", "admin");
  const QCommandLineOption password("password", "Accepted password.", "TEXT", "kelpo");
  const QCommandLineOption fps("fps", "Video frames per second while video is on.", "FPS", "10");
  const QCommandLineOption log("log", "Write the packet log to FILE instead of stdout.", "FILE");
  const QCommandLineOption silent("silent", "Do not answer discovery.");
  const QCommandLineOption forgedFrom(
      "forged-reply", "Answer discovery first from ADDRESS with --forged-text, then for real.",
      "ADDRESS");
  const QCommandLineOption forgedText("forged-text", "Text of the forged answer (may be empty).",
                                      "TEXT", "garbage-not-a-robot");
  const QCommandLineOption refuse("refuse-login", "Refuse every login.");
  const QCommandLineOption closeAfter(
      "close-after", "Close the first connection after N received packets.", "N", "0");
  const QCommandLineOption chunk("chunk", "Cut what is sent into chunks of MIN..MAX bytes.",
                                 "MIN:MAX");
  const QCommandLineOption gap(
      "gap-ms", "Pause between two writes in ms (default 0: back to back).", "MS", "0");
  const QCommandLineOption coalesce(
      "coalesce", "Join the packets queued in each 100 ms into one write (several per write).");
  const QCommandLineOption split(
      "split",
      "Cut every write inside a packet header, the parts 1 ms apart (headers across reads).");
  const QCommandLineOption battery("battery", "Battery level at start (0..128).", "LEVEL", "100");
  const QCommandLineOption batteryStep("battery-step", "Seconds per battery level lost.", "S",
                                       "30");
  const QCommandLineOption docked("docked", "Start docked.");
  const QCommandLineOption seed("seed", "Seed of the chunk sizes.", "N", "1");
  parser.addOptions({address, port, user, password, fps, log, silent, forgedFrom, forgedText,
                     refuse, closeAfter, chunk, gap, coalesce, split, battery, batteryStep, docked,
                     seed});
  parser.process(arguments);

  QTextStream err(stderr);
  SimOptions options;
  bool ok = options.address.setAddress(parser.value(address));
  if (!ok) {
    err << "robot-sim: bad --address\n";
    return std::nullopt;
  }
  const auto number = [&](const QCommandLineOption& option, int low, int high, int& out) {
    bool valid = false;
    const int value = parser.value(option).toInt(&valid);
    if (!valid || value < low || value > high) {
      err << "robot-sim: bad --" << option.names().first() << "\n";
      return false;
    }
    out = value;
    return true;
  };
  int portValue = 0;
  int seedValue = 0;
  if (!number(port, 0, 65535, portValue) || !number(closeAfter, 0, 1 << 30, options.closeAfter) ||
      !number(gap, 0, 1000, options.gapMs) || !number(battery, 0, 255, options.battery) ||
      !number(batteryStep, 1, 1 << 20, options.batteryStepSeconds) ||
      !number(seed, 0, 1 << 30, seedValue)) {
    return std::nullopt;
  }
  options.port = static_cast<quint16>(portValue);
  options.seed = static_cast<quint32>(seedValue);
  options.fps = parser.value(fps).toDouble(&ok);
  if (!ok || options.fps < 0 || options.fps > 200) {
    err << "robot-sim: bad --fps\n";
    return std::nullopt;
  }
  options.user = parser.value(user);
  options.password = parser.value(password);
  options.logFile = parser.value(log);
  options.silent = parser.isSet(silent);
  if (parser.isSet(forgedFrom)) {
    options.forgedFrom.emplace();
    if (!options.forgedFrom->setAddress(parser.value(forgedFrom))) {
      err << "robot-sim: bad --forged-reply\n";
      return std::nullopt;
    }
  }
  options.forgedText = parser.value(forgedText).toLatin1();
  options.refuseLogin = parser.isSet(refuse);
  options.docked = parser.isSet(docked);
  options.coalesceMs = parser.isSet(coalesce) ? 100 : 0;
  options.split = parser.isSet(split);
  if (parser.isSet(chunk)) {
    const QStringList parts = parser.value(chunk).split(':');
    bool minOk = false;
    bool maxOk = false;
    if (parts.size() == 2) {
      options.chunkMin = parts[0].toInt(&minOk);
      options.chunkMax = parts[1].toInt(&maxOk);
    }
    if (!minOk || !maxOk || options.chunkMin < 1 || options.chunkMax < options.chunkMin) {
      err << "robot-sim: bad --chunk, want MIN:MAX with 1 <= MIN <= MAX\n";
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace robotsim
