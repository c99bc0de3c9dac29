#include <QCoreApplication>
#include <QTextStream>

#include "packet_log.h"
#include "robot_peer.h"
#include "sim_options.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("robot-sim");
  const auto options = robotsim::parseOptions(QCoreApplication::arguments());
  if (!options) return 2;

  robotsim::PacketLog log;
  if (!log.open(options->logFile)) {
    QTextStream(stderr) << "robot-sim: cannot open the log " << options->logFile << "\n";
    return 1;
  }
  robotsim::RobotPeer peer(*options, log);
  if (!peer.start()) return 1;
  QTextStream out(stdout);
  out << "robot-sim ready udp=" << peer.udpPort() << " tcp=" << peer.tcpPort() << Qt::endl;
  return app.exec();
}
