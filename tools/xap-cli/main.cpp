// xap-cli: send xAP BSC queries and commands through the local hub and print what comes back.
//   xap-cli query TARGET
//   xap-cli cmd TARGET --id ID --state on|off|toggle [--text T]
//   xap-cli listen
// Options: --port PORT (bus port, default 3639), --wait SECONDS (default 2; listen: until
// interrupted), --count N (stop after N messages; exit 3 when they do not arrive in time),
// --heartbeats (print heartbeats too). Output: one JSON object per received message.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostInfo>
#include <QRegularExpression>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "client.h"

namespace {

// Set from the signal handler, polled by a timer: the one safe way to leave the event loop.
volatile std::sig_atomic_t g_stopRequested = 0;

void requestStop(int) {
  g_stopRequested = 1;
}

int usage(const QString& problem) {
  std::fprintf(stderr, "xap-cli: %s (see --help)\n", qPrintable(problem));
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  using rovalink::tools::ClientOptions;
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("xap-cli"));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Sends xAP BSC queries and commands through the local hub and prints the "
                     "messages that come back, one JSON object per line."));
  parser.addHelpOption();
  parser.addPositionalArgument(QStringLiteral("mode"), QStringLiteral("query, cmd or listen"));
  parser.addPositionalArgument(QStringLiteral("target"),
                               QStringLiteral("xAP target address (query, cmd)"));
  const QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("Bus port."),
                                   QStringLiteral("PORT"), QStringLiteral("3639"));
  const QCommandLineOption waitOpt(QStringLiteral("wait"),
                                   QStringLiteral("Seconds to collect answers."),
                                   QStringLiteral("SECONDS"));
  const QCommandLineOption countOpt(QStringLiteral("count"),
                                    QStringLiteral("Stop after this many messages."),
                                    QStringLiteral("N"), QStringLiteral("0"));
  const QCommandLineOption idOpt(QStringLiteral("id"), QStringLiteral("BSC ID (cmd)."),
                                 QStringLiteral("ID"));
  const QCommandLineOption stateOpt(
      QStringLiteral("state"), QStringLiteral("on, off or toggle (cmd)."), QStringLiteral("STATE"));
  const QCommandLineOption textOpt(QStringLiteral("text"), QStringLiteral("BSC Text (cmd)."),
                                   QStringLiteral("TEXT"));
  const QCommandLineOption beatsOpt(QStringLiteral("heartbeats"),
                                    QStringLiteral("Print heartbeats too."));
  const QCommandLineOption sourceOpt(QStringLiteral("source"),
                                     QStringLiteral("Our xAP source address."),
                                     QStringLiteral("SOURCE"));
  parser.addOptions({portOpt, waitOpt, countOpt, idOpt, stateOpt, textOpt, beatsOpt, sourceOpt});
  parser.process(app);

  ClientOptions options;
  const QStringList args = parser.positionalArguments();
  const QString mode = args.value(0);
  if (mode == QLatin1String("query") || mode == QLatin1String("cmd")) {
    if (args.size() != 2) return usage(QStringLiteral("%1 needs one TARGET").arg(mode));
    options.target = args[1];
    options.mode =
        mode == QLatin1String("query") ? ClientOptions::Mode::Query : ClientOptions::Mode::Command;
  } else if (mode == QLatin1String("listen")) {
    if (args.size() != 1) return usage(QStringLiteral("listen takes no TARGET"));
  } else {
    return usage(QStringLiteral("unknown mode '%1'").arg(mode));
  }

  if (options.mode == ClientOptions::Mode::Command) {
    if (!parser.isSet(idOpt) || !parser.isSet(stateOpt))
      return usage(QStringLiteral("cmd needs --id and --state"));
    options.id = parser.value(idOpt);
    options.state = parser.value(stateOpt);
    static const QStringList kStates = {"on", "off", "toggle"};
    if (!kStates.contains(options.state.toLower()))
      return usage(QStringLiteral("--state must be on, off or toggle"));
    if (parser.isSet(textOpt)) options.text = parser.value(textOpt);
  }

  bool ok = false;
  const uint port = parser.value(portOpt).toUInt(&ok);
  if (!ok || port == 0 || port > 65535) return usage(QStringLiteral("bad --port"));
  options.busPort = static_cast<quint16>(port);

  options.waitSeconds = options.mode == ClientOptions::Mode::Listen ? 0 : 2;
  if (parser.isSet(waitOpt)) {
    options.waitSeconds = parser.value(waitOpt).toDouble(&ok);
    if (!ok || options.waitSeconds < 0) return usage(QStringLiteral("bad --wait"));
  }
  options.count = parser.value(countOpt).toInt(&ok);
  if (!ok || options.count < 0) return usage(QStringLiteral("bad --count"));
  options.heartbeats = parser.isSet(beatsOpt);

  QString host = QHostInfo::localHostName();
  host.remove(QRegularExpression(QStringLiteral("[^A-Za-z0-9-]")));
  options.source = parser.isSet(sourceOpt) ? parser.value(sourceOpt)
                                           : QStringLiteral("rovalink.xapcli.") +
                                                 (host.isEmpty() ? QStringLiteral("host") : host);
  options.uid = QStringLiteral("FF.00CC:00");

  rovalink::tools::Client client(options);
  QString error;
  if (!client.start(&error)) {
    std::fprintf(stderr, "xap-cli: cannot bind a loopback port: %s\n", qPrintable(error));
    return 1;
  }

  std::signal(SIGINT, requestStop);
  std::signal(SIGTERM, requestStop);
  QTimer stopPoll;
  QObject::connect(&stopPoll, &QTimer::timeout, &client, [&client] {
    if (g_stopRequested) client.finish(0);
  });
  stopPoll.start(50);

  return QCoreApplication::exec();
}
