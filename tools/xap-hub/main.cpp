// xap-hub: forwards xAP bus traffic to the programs on this computer that announce a port in
// their heartbeats, and heartbeats of its own to them.
// Usage: xap-hub [--port PORT] [--heartbeat SECONDS]  (defaults 3639 and 60; port 0: any free)
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "hub.h"

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("xap-hub"));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Minimal xAP hub: forwards every datagram received on the bus port to the "
                     "loopback ports announced by local heartbeats."));
  parser.addHelpOption();
  const QCommandLineOption portOption(QStringLiteral("port"),
                                      QStringLiteral("Bus port to listen on (0: any free port)."),
                                      QStringLiteral("PORT"), QStringLiteral("3639"));
  parser.addOption(portOption);
  const QCommandLineOption heartbeatOption(
      QStringLiteral("heartbeat"),
      QStringLiteral("Seconds between the hub's own heartbeats to its clients."),
      QStringLiteral("SECONDS"), QStringLiteral("60"));
  parser.addOption(heartbeatOption);
  parser.process(app);

  bool ok = false;
  const uint port = parser.value(portOption).toUInt(&ok);
  if (!ok || port > 65535) {
    std::fprintf(stderr, "xap-hub: bad port '%s'\n", qPrintable(parser.value(portOption)));
    return 2;
  }

  const int heartbeat = parser.value(heartbeatOption).toInt(&ok);
  if (!ok || heartbeat < 1 || heartbeat > 3600) {
    std::fprintf(stderr, "xap-hub: bad heartbeat period '%s'\n",
                 qPrintable(parser.value(heartbeatOption)));
    return 2;
  }

  rovalink::tools::Hub hub;
  hub.setHeartbeatSeconds(heartbeat);
  QString error;
  if (!hub.listen(static_cast<quint16>(port), &error)) {
    std::fprintf(stderr, "xap-hub: cannot listen on port %u: %s\n", port, qPrintable(error));
    return 1;
  }
  std::printf("listening on %u\n", static_cast<unsigned>(hub.port()));
  std::fflush(stdout);
  return QCoreApplication::exec();
}
