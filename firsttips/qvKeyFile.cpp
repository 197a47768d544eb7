#include "qvKeyFile.h"

#include <QList>

namespace {

// Values may carry \s \n \t \r and \\ escapes.
QString Unescape(const QString& value) {
  QString out;
  out.reserve(value.size());
  for (qsizetype i = 0; i < value.size(); ++i) {
    const QChar c = value[i];
    if (c != QLatin1Char('\\') || i + 1 == value.size()) {
      out += c;
      continue;
    }
    const QChar next = value[++i];
    switch (next.unicode()) {
      case 's': out += QLatin1Char(' '); break;
      case 'n': out += QLatin1Char('\n'); break;
      case 't': out += QLatin1Char('\t'); break;
      case 'r': out += QLatin1Char('\r'); break;
      default: out += next; break;
    }
  }
  return out;
}

void SetEntry(KeyFileGroup& group, const QString& key, const QString& value) {
  for (auto& entry : group.entries) {
    if (entry.first == key) {
      entry.second = value;
      return;
    }
  }
  group.entries.emplace_back(key, value);
}

}  // namespace

QString KeyFileGroup::Value(const QString& key) const {
  for (const auto& entry : entries) {
    if (entry.first == key) return entry.second;
  }
  return QString();
}

std::vector<KeyFileGroup> ParseKeyFile(const QByteArray& bytes) {
  std::vector<KeyFileGroup> groups;
  KeyFileGroup* current = nullptr;
  for (const QByteArray& rawLine : bytes.split('\n')) {
    const QString line = QString::fromUtf8(rawLine).trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    if (line.startsWith(QLatin1Char('['))) {
      if (!line.endsWith(QLatin1Char(']')) || line.size() < 3) {
        current = nullptr;  // entries under a damaged header belong nowhere
        continue;
      }
      const QString name = line.mid(1, line.size() - 2);
      current = nullptr;
      for (auto& group : groups) {
        if (group.name == name) current = &group;
      }
      if (!current) current = &groups.emplace_back(KeyFileGroup{name, {}});
      continue;
    }
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (!current || equals <= 0) continue;
    SetEntry(*current, line.left(equals).trimmed(), Unescape(line.mid(equals + 1).trimmed()));
  }
  return groups;
}
