#include "xap_text.h"

#include <QJsonArray>
#include <QList>

namespace rovalink::tools {
namespace {

QByteArray headerText(const ClientIdentity& me, const char* kind, const QString& msgClass,
                      const QString& target) {
  QByteArray text = kind;
  text += "\n{\nv=13\nhop=1\nuid=" + me.uid.toLatin1() + "\nclass=" + msgClass.toLatin1() +
          "\nsource=" + me.source.toLatin1() + '\n';
  if (!target.isEmpty()) text += "target=" + target.toLatin1() + '\n';
  return text;
}

}  // namespace

QByteArray heartbeatText(const ClientIdentity& me, const QString& hbClass, int intervalSeconds) {
  return headerText(me, "xap-hbeat", hbClass, QString()) +
         "interval=" + QByteArray::number(intervalSeconds) +
         "\nport=" + QByteArray::number(me.port) + "\n}\n";
}

QByteArray queryText(const ClientIdentity& me, const QString& target) {
  return headerText(me, "xap-header", QStringLiteral("xAPBSC.query"), target) +
         "}\nrequest\n{\n}\n";
}

QByteArray commandText(const ClientIdentity& me, const QString& target, const QString& id,
                       const QString& state, const QString& text) {
  QByteArray body = "output.state.1\n{\nID=" + id.toLatin1() + "\nState=" + state.toLatin1() + '\n';
  if (!text.isNull()) body += "Text=" + text.toLatin1() + '\n';
  return headerText(me, "xap-header", QStringLiteral("xAPBSC.cmd"), target) + "}\n" + body + "}\n";
}

QJsonObject describeDatagram(const QByteArray& datagram) {
  QList<QByteArray> lines = datagram.split('\n');
  for (auto& line : lines) {
    if (line.endsWith('\r')) line.chop(1);
  }

  QJsonObject header;
  QJsonArray sections;
  QString sectionName;
  QJsonObject items;
  bool inHeader = true;
  bool inBlock = false;
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QByteArray line = lines[i].trimmed();
    if (line == "{") {
      inBlock = true;
    } else if (line == "}") {
      if (!inHeader) sections.append(QJsonObject{{"name", sectionName}, {"items", items}});
      inHeader = false;
      inBlock = false;
      items = QJsonObject();
    } else if (!inBlock) {
      sectionName = QString::fromLatin1(line);
    } else if (const auto eq = line.indexOf('='); eq >= 0) {
      const QString name = QString::fromLatin1(line.left(eq).trimmed());
      const QString value = QString::fromLatin1(lines[i].mid(lines[i].indexOf('=') + 1));
      if (inHeader) {
        header.insert(name.toLower(), value.trimmed());
      } else {
        items.insert(name, value);
      }
    }
  }

  return QJsonObject{
      {"kind", QString::fromLatin1(lines.value(0).trimmed()).toLower()},
      {"class", header.value("class").toString()},
      {"source", header.value("source").toString()},
      {"target", header.value("target").toString()},
      {"uid", header.value("uid").toString()},
      {"sections", sections},
      {"raw", QString::fromLatin1(datagram)},
  };
}

}  // namespace rovalink::tools
