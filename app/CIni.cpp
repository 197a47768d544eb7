#include "CIni.h"

#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include "qvNameCodec.h"

namespace {

QString FromQv(const qvChar* text) { return text ? QString::fromUtf16(text) : QString(); }

qvString ToQv(const QString& text) { return qvString(reinterpret_cast<const qvChar*>(text.utf16()), text.size()); }

QString FileName(const qvString& path) {
  // File names are bytes: go through the name codec so every path round-trips.
  return QFile::decodeName(QByteArray::fromStdString(qvNameCodec::EncodeToString(path)));
}

bool IsComment(const QString& trimmed) { return trimmed.startsWith(u';') || trimmed.startsWith(u'#'); }

// "[name]" (trailing text after ']' ignored, as the profile reader does).
bool SectionName(const QString& trimmed, QString* name) {
  if (!trimmed.startsWith(u'[')) return false;
  qsizetype close = trimmed.indexOf(u']');
  if (close < 0) return false;
  *name = trimmed.mid(1, close - 1).trimmed();
  return true;
}

bool KeyValue(const QString& trimmed, QString* key, QString* value) {
  qsizetype eq = trimmed.indexOf(u'=');
  if (eq <= 0) return false;
  *key = trimmed.left(eq).trimmed();
  *value = trimmed.mid(eq + 1).trimmed();
  return !key->isEmpty();
}

QString Unquote(const QString& value) {
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
    return value.mid(1, value.size() - 2);
  return value;
}

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

QStringList SplitLines(const std::string& bytes) {
  QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  QStringList lines = text.split(u'\n');
  for (QString& line : lines)
    if (line.endsWith(u'\r')) line.chop(1);
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  return lines;
}

QString TrimTrailingBlanks(QString text) {
  while (!text.isEmpty() && (text.back() == u' ' || text.back() == u'\t')) text.chop(1);
  return text;
}

}  // namespace

std::optional<std::string> CIni::ReadFile() const {
  if (path_.empty()) return std::nullopt;
  QFile file(FileName(path_));
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  return file.readAll().toStdString();
}

qvString CIni::GetString(const qvChar* section, const qvChar* key, const qvChar* defaultValue) const {
  QString fallback = TrimTrailingBlanks(FromQv(defaultValue));
  if (!section || !key) return defaultValue ? qvString(defaultValue) : qvString();
  std::optional<std::string> bytes = ReadFile();
  if (!bytes) return ToQv(fallback);

  const QString wantedSection = FromQv(section).trimmed();
  const QString wantedKey = FromQv(key).trimmed();
  bool inSection = false;
  bool seenSection = false;
  for (const QString& line : SplitLines(*bytes)) {
    QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || IsComment(trimmed)) continue;
    QString name;
    if (SectionName(trimmed, &name)) {
      // Only the first section of that name is searched.
      if (inSection) break;
      inSection = !seenSection && SameName(name, wantedSection);
      seenSection = seenSection || inSection;
      continue;
    }
    QString k, v;
    if (inSection && KeyValue(trimmed, &k, &v) && SameName(k, wantedKey)) return ToQv(Unquote(v));
  }
  return ToQv(fallback);
}

bool CIni::WriteString(const qvChar* section, const qvChar* key, const qvChar* value) const {
  if (!section || !key || path_.empty()) return false;
  const QString wantedSection = FromQv(section).trimmed();
  const QString wantedKey = FromQv(key).trimmed();
  // Names that the reader could not find again are refused.
  if (wantedSection.isEmpty() || wantedKey.isEmpty() || wantedSection.contains(u']') ||
      wantedKey.contains(u'=') || wantedSection.contains(u'\n') || wantedKey.contains(u'\n') ||
      IsComment(wantedKey) || wantedKey.startsWith(u'['))
    return false;
  const QString newValue = value ? FromQv(value) : QString();
  if (newValue.contains(u'\n') || newValue.contains(u'\r')) return false;
  const QString newLine = wantedKey + u'=' + newValue;

  std::optional<std::string> bytes = ReadFile();
  QStringList lines = bytes ? SplitLines(*bytes) : QStringList();

  // Find the first section of that name, the key in it, and the last
  // non-blank line of the section (where a new key goes).
  qsizetype sectionLine = -1, keyLine = -1, lastLine = -1;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    QString trimmed = lines[i].trimmed();
    QString name;
    if (SectionName(trimmed, &name)) {
      if (sectionLine >= 0) break;
      if (SameName(name, wantedSection)) sectionLine = lastLine = i;
      continue;
    }
    if (sectionLine < 0 || trimmed.isEmpty()) continue;
    lastLine = i;
    QString k, v;
    if (keyLine < 0 && !IsComment(trimmed) && KeyValue(trimmed, &k, &v) && SameName(k, wantedKey)) keyLine = i;
  }

  if (keyLine >= 0) {
    if (value) lines[keyLine] = newLine;
    else lines.removeAt(keyLine);
  } else if (value) {
    if (sectionLine >= 0) {
      lines.insert(lastLine + 1, newLine);
    } else {
      if (!lines.isEmpty() && !lines.back().trimmed().isEmpty()) lines.append(QString());
      lines.append(u'[' + wantedSection + u']');
      lines.append(newLine);
    }
  } else {
    return true;  // nothing to remove
  }

  QSaveFile file(FileName(path_));
  if (!file.open(QIODevice::WriteOnly)) return false;
  QByteArray out = lines.join(u'\n').toUtf8();
  if (!lines.isEmpty()) out += '\n';
  if (file.write(out) != out.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}
