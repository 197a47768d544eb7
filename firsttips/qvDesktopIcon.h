// Desktop icons as the tips program sees them, and the interface of the
// sources that can list them.
#pragma once

#include <QRect>
#include <QString>

#include <optional>
#include <vector>

struct DesktopIcon {
  QString label;  // as the desktop shows it
  QRect rect;     // the whole item (picture and label), screen coordinates
};

// One way of reading the running desktop's icons. The index of an icon is
// its place in the list.
class qvDesktopIconProvider {
 public:
  virtual ~qvDesktopIconProvider() = default;
  // A short name for messages and tests.
  virtual QString Name() const = 0;
  // The desktop's icons in their order, or nothing when this source sees
  // no desktop at all (so the next source is asked).
  virtual std::optional<std::vector<DesktopIcon>> ReadIcons() = 0;
};
