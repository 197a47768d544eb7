// What the updater reads from "update.dat" beside it (section [update]):
//   windowsdir = folder that InstallDir "WINDOWSDIR" stands for
//   systemdir  = folder that InstallDir "SYSTEMDIR" stands for
//   register   = command run with the installed file's path for Register
//   cafile     = certificate bundle trusted for https besides the system's
// Unset folders are the updater's own folder; an unset register command
// makes Register do nothing.
#pragma once

#include <string>

#include "CMiniUpFileXmlLogic.h"

struct UpdaterSettings {
  UpdaterFolders folders;
  std::string registerCommand;
  std::string caFile;
};

// The folder of the running program, without a trailing "/".
std::string UpdaterOwnFolder();

// Settings for an updater living in folder; reads folder + "/update.dat".
UpdaterSettings ReadUpdaterSettings(const std::string& folder);

// [section] key of an INI file: names compared without letter case, the
// first match wins, the value trimmed and unquoted; empty when missing.
std::string ReadIniValue(const std::string& path, const std::string& section, const std::string& key);
