// The layout file of the lightweight GTK desktop (its file manager's
// desktop mode): "desktop-items-N.conf" for screen N in the profile's
// configuration folder. Its "[*]" group holds the desktop's settings; each
// other group is named by a file of the desktop folder and, when the user
// has placed that item by hand, holds "x" and "y": the item's top-left
// corner relative to the screen. Items the desktop arranges itself are not
// in the file.
#pragma once

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <vector>

struct PinnedItem {
  QString fileName;  // in the desktop folder
  QPoint position;   // relative to the screen's top-left corner
};

// The items with a valid position, in file order. Coordinates outside
// +/-1000000 are treated as damage and the item is skipped.
std::vector<PinnedItem> ParseDesktopItems(const QByteArray& bytes);

// The label a launcher (".desktop" file) shows: its "Name" in the first of
// the languages it has (for example "zh_CN", "zh"), else its plain
// "Name"; empty when the launcher has none.
QString LauncherLabel(const QByteArray& launcher, const QStringList& languages);

// The language keys to try for a locale name such as "zh_CN.UTF-8@euro":
// "zh_CN@euro", "zh_CN", "zh@euro", "zh" (those that differ).
QStringList LocaleLanguages(const QString& locale);
