#include "qvDesktopItemsFile.h"

#include "qvKeyFile.h"

namespace {

constexpr int kCoordinateLimit = 1000000;

bool ReadCoordinate(const KeyFileGroup& group, const char* key, int* out) {
  const QString value = group.Value(QLatin1String(key));
  if (value.isNull()) return false;
  bool ok = false;
  const int number = value.toInt(&ok);
  if (!ok || number < -kCoordinateLimit || number > kCoordinateLimit) return false;
  *out = number;
  return true;
}

}  // namespace

std::vector<PinnedItem> ParseDesktopItems(const QByteArray& bytes) {
  std::vector<PinnedItem> items;
  for (const KeyFileGroup& group : ParseKeyFile(bytes)) {
    if (group.name == QLatin1String("*")) continue;
    int x = 0;
    int y = 0;
    if (ReadCoordinate(group, "x", &x) && ReadCoordinate(group, "y", &y)) {
      items.push_back({group.name, QPoint(x, y)});
    }
  }
  return items;
}

QString LauncherLabel(const QByteArray& launcher, const QStringList& languages) {
  for (const KeyFileGroup& group : ParseKeyFile(launcher)) {
    if (group.name != QLatin1String("Desktop Entry")) continue;
    for (const QString& language : languages) {
      const QString name = group.Value(QStringLiteral("Name[%1]").arg(language));
      if (!name.isEmpty()) return name;
    }
    return group.Value(QStringLiteral("Name"));
  }
  return QString();
}

QStringList LocaleLanguages(const QString& locale) {
  QString rest = locale;
  QString modifier;
  if (const qsizetype at = rest.indexOf(QLatin1Char('@')); at >= 0) {
    modifier = rest.mid(at);
    rest.truncate(at);
  }
  if (const qsizetype dot = rest.indexOf(QLatin1Char('.')); dot >= 0) rest.truncate(dot);
  const QString language = rest.section(QLatin1Char('_'), 0, 0);
  QStringList keys;
  auto add = [&keys](const QString& key) {
    if (!key.isEmpty() && !keys.contains(key)) keys << key;
  };
  if (!modifier.isEmpty()) add(rest + modifier);
  add(rest);
  if (!modifier.isEmpty()) add(language + modifier);
  add(language);
  keys.removeAll(QStringLiteral("C"));
  keys.removeAll(QStringLiteral("POSIX"));
  return keys;
}
