// The context menu of a list row: what a file manager offers for an item
// (open it, open the folder that holds it, copy its path or its name).
#pragma once

#include <QString>

#include <functional>

#include "IQvSearch.h"

class QMenu;
class QWidget;

// What the window does for "open" and "open the containing folder" (it
// reports failures and shows items selected in the file manager); without
// them the menu opens with the desktop's program, silently.
struct qvResultMenuActions {
  std::function<void()> open;
  std::function<void()> openFolder;
};

// The menu for a result row, or null when the engine no longer has it.
// The caller shows it and deletes it.
QMenu* qvBuildResultMenu(IQvSearch* engine, int row, QWidget* parent, const qvResultMenuActions& actions = {});

// The menu for a volume row.
QMenu* qvBuildVolumeMenu(const QString& root, QWidget* parent);
