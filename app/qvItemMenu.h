// The context menu of a list row: what a file manager offers for an item
// (open it, open the folder that holds it, copy its path or its name).
#pragma once

#include <QString>

#include "IQvSearch.h"

class QMenu;
class QWidget;

// The menu for a result row, or null when the engine no longer has it.
// The caller shows it and deletes it.
QMenu* qvBuildResultMenu(IQvSearch* engine, int row, QWidget* parent);

// The menu for a volume row.
QMenu* qvBuildVolumeMenu(const QString& root, QWidget* parent);
