// Where the program keeps its files. A program whose folder the user can
// write to is a portable install: the saved index, "qvConfig.ini" and
// "update.dat" all live beside it. A program installed by the system (its
// folder is read-only to the user, or lies under /usr, which is never
// written at run time, not even by root) keeps each user's files in that
// user's folders of the XDG base directory rules:
//   saved index    $XDG_DATA_HOME/qvsearch/    (default ~/.local/share/qvsearch/)
//   qvConfig.ini   $XDG_CONFIG_HOME/qvsearch/  (default ~/.config/qvsearch/)
//   update.dat     /etc/qvsearch/ when it is there, else beside the program
// The engine, the search window and qvsearch all ask this one rule.
#pragma once

#include "qvTypes.h"

struct qvAppFolders {
  static constexpr const char* kSystemConfigFolder = "/etc/qvsearch/";

  bool portable = true;
  qvString dataFolder;  // ends in '/'
  qvString configFile;  // full path of "qvConfig.ini"
  qvString updateFile;  // full path of "update.dat"

  // The folders for the program in `appFolder` (ending in '/'), read from
  // the process environment ($HOME, $XDG_DATA_HOME, $XDG_CONFIG_HOME) on
  // every call. Nothing is created.
  static qvAppFolders Locate(const qvString& appFolder, const char* systemConfigFolder = kSystemConfigFolder);

  // Creates the data folder and the settings file's folder where they are
  // missing; folders made in the user's home are private to the user.
  // True when both exist afterwards.
  bool MakeFolders() const;
};
