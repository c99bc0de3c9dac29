#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <optional>

namespace robotsim {

struct SimOptions {
  QHostAddress address{QHostAddress::LocalHost};
  quint16 port = 9000;  // 0: any free port, the same number for UDP and TCP
  QString user = QStringLiteral("admin");
  QString password = QStringLiteral("kelpo");
  double fps = 10.0;
  QString logFile;  // empty: stdout
  bool silent = false;
  // When set, each discovery is first answered with forgedText from this address, and the real
  // answer follows forgedLeadMs later: a stranger on the network answering first.
  std::optional<QHostAddress> forgedFrom;
  QByteArray forgedText = "garbage-not-a-robot";
  bool refuseLogin = false;
  int closeAfter = 0;  // 0: never
  int chunkMin = 0;    // 0: every packet in one write
  int chunkMax = 0;
  int gapMs = 0;       // pause between two writes; 0 writes back to back, as a robot does
  int coalesceMs = 0;  // 0: one write per packet; else what is queued goes out as one write
  bool split = false;  // every write is cut inside a packet header, 1 ms between the parts
  int battery = 100;
  int batteryStepSeconds = 30;
  bool docked = false;
  quint32 seed = 1;
};

// Parses the command line; on error prints the reason and returns nothing.
std::optional<SimOptions> parseOptions(const QStringList& arguments);

}  // namespace robotsim
