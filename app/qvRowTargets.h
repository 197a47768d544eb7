// What the mouse actions on a result row reach: the paths of the row and
// what a double-click on one of its columns opens.
#pragma once

#include "IQvSearch.h"
#include "qvTypes.h"

struct qvRowPaths {
  bool valid = false;   // the engine had the row
  bool isRoot = false;  // a volume root: no containing folder
  bool isFolder = false;
  qvString folder;      // the containing folder, ending in '/'
  qvString name;        // the display name
  qvString extension;
  qvString full;        // the item's own path
};

// The row as the engine has it now.
qvRowPaths qvGetRowPaths(IQvSearch* engine, int row);

struct qvOpenTarget {
  enum Kind {
    kNothing,
    kFile,      // open with the desktop's program for it
    kShortcut,  // open what the launcher points at
  };
  Kind kind = kNothing;
  qvString path;
};

// A double-click on `column` of `row`: the name and folder columns open
// the item, the size column opens the folder that holds it, the time and
// attribute columns do nothing. Launchers (".lnk", ".desktop") open their
// target.
qvOpenTarget qvDoubleClickTarget(IQvSearch* engine, int row, int column);
