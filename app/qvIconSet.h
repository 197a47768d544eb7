// The icons of the lists: each index of the common icon registry as an
// icon of the desktop's theme, or a standard icon of the style where the
// theme has none. Built once per index.
#pragma once

#include <QHash>
#include <QIcon>

class qvIconSet {
 public:
  qvIconSet();
  QIcon Icon(int index);

 private:
  QHash<int, QIcon> icons_;
};
