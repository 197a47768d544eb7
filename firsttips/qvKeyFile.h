// A reader of the desktop's key files ("[group]" lines followed by
// "key=value" lines, '#' comments), as used by launchers and by the
// desktop's layout files. Bytes are UTF-8; anything that is not a group,
// an entry or a comment is skipped, so a damaged line loses only itself.
#pragma once

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

struct KeyFileGroup {
  QString name;
  std::vector<std::pair<QString, QString>> entries;  // later keys replace earlier ones

  // The value of key, or a null string.
  QString Value(const QString& key) const;
};

// Groups in the order they first appear; a repeated group adds to the first.
std::vector<KeyFileGroup> ParseKeyFile(const QByteArray& bytes);
