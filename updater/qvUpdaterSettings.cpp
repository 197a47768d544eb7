#include "qvUpdaterSettings.h"

#include <unistd.h>

#include <climits>
#include <fstream>

#include "qvUpText.h"

std::string UpdaterOwnFolder() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string exe(path, static_cast<size_t>(n));
  size_t slash = exe.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : exe.substr(0, slash);
}

std::string ReadIniValue(const std::string& path, const std::string& section, const std::string& key) {
  std::ifstream in(path, std::ios::binary);
  std::string raw;
  bool inSection = false;
  while (std::getline(in, raw)) {
    std::string_view line = qvUpText::Trim(raw);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      size_t close = line.find(']');
      inSection = close != std::string_view::npos && qvUpText::EqualsNoCase(qvUpText::Trim(line.substr(1, close - 1)), section);
      continue;
    }
    size_t eq = line.find('=');
    if (!inSection || eq == std::string_view::npos || !qvUpText::EqualsNoCase(qvUpText::Trim(line.substr(0, eq)), key))
      continue;
    std::string_view value = qvUpText::Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return std::string(value);
  }
  return std::string();
}

UpdaterSettings ReadUpdaterSettings(const std::string& folder) {
  const std::string file = folder + "/update.dat";
  auto folderOr = [&](const char* key) {
    std::string value = ReadIniValue(file, "update", key);
    while (value.size() > 1 && value.back() == '/') value.pop_back();
    return value.empty() ? folder : value;
  };
  UpdaterSettings settings;
  settings.folders = UpdaterFolders{folder, folderOr("windowsdir"), folderOr("systemdir")};
  settings.registerCommand = ReadIniValue(file, "update", "register");
  settings.caFile = ReadIniValue(file, "update", "cafile");
  return settings;
}
