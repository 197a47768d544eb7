#include "qvLayoutFileProvider.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "qvDesktopItemsFile.h"

namespace {

// Layout and launcher files are small; anything larger is not one.
constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;

std::optional<QByteArray> ReadSmallFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileBytes) return std::nullopt;
  return file.read(kMaxFileBytes);
}

}  // namespace

qvLayoutFileProvider::qvLayoutFileProvider(QString profileDir, QString desktopDir,
                                           std::vector<QRect> screens, QStringList languages)
    : profileDir_(std::move(profileDir)),
      desktopDir_(std::move(desktopDir)),
      screens_(std::move(screens)),
      languages_(std::move(languages)) {}

std::optional<std::vector<DesktopIcon>> qvLayoutFileProvider::ReadIcons() {
  bool sawLayout = false;
  std::vector<DesktopIcon> icons;
  for (size_t screen = 0; screen < screens_.size(); ++screen) {
    const QString path = QDir(profileDir_).filePath(QStringLiteral("desktop-items-%1.conf").arg(screen));
    const std::optional<QByteArray> bytes = ReadSmallFile(path);
    if (!bytes) continue;
    sawLayout = true;
    for (const PinnedItem& item : ParseDesktopItems(*bytes)) {
      // A group name is a file name, never a path into another folder.
      if (item.fileName.contains(QLatin1Char('/')) || item.fileName == QLatin1String("..")) continue;
      if (!QFileInfo::exists(QDir(desktopDir_).filePath(item.fileName))) continue;
      icons.push_back({LabelOf(item.fileName),
                       QRect(screens_[screen].topLeft() + item.position, kItemSize)});
    }
  }
  if (!sawLayout) return std::nullopt;
  return icons;
}

QString qvLayoutFileProvider::LabelOf(const QString& fileName) const {
  if (fileName.endsWith(QLatin1String(".desktop"))) {
    if (const std::optional<QByteArray> bytes = ReadSmallFile(QDir(desktopDir_).filePath(fileName))) {
      const QString label = LauncherLabel(*bytes, languages_);
      if (!label.isEmpty()) return label;
    }
  }
  return fileName;
}
