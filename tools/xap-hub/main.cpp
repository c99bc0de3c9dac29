// xap-hub: forwards xAP bus traffic to the programs on this computer that announce a port in
// their heartbeats. Usage: xap-hub [--port PORT]  (default 3639; 0 picks a free port)
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
  parser.process(app);

  bool ok = false;
  const uint port = parser.value(portOption).toUInt(&ok);
  if (!ok || port > 65535) {
    std::fprintf(stderr, "xap-hub: bad port '%s'\n", qPrintable(parser.value(portOption)));
    return 2;
  }

  rovalink::tools::Hub hub;
  QString error;
  if (!hub.listen(static_cast<quint16>(port), &error)) {
    std::fprintf(stderr, "xap-hub: cannot listen on port %u: %s\n", port, qPrintable(error));
    return 1;
  }
  std::printf("listening on %u\n", static_cast<unsigned>(hub.port()));
  std::fflush(stdout);
  return QCoreApplication::exec();
}
