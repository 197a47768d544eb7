#include "qvAppFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "qvNameCodec.h"
#include "qvPath.h"

namespace {

constexpr const char* kFolderName = "qvsearch/";

std::string Home() {
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return home;
  struct passwd pw, *found = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir && found->pw_dir[0] == '/')
    return found->pw_dir;
  return std::string();
}

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

// $name when it is an absolute path (relative ones are to be ignored),
// else the home folder followed by `fallback`; empty without a home.
std::string XdgFolder(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  if (value && value[0] == '/') return WithSlash(value);
  std::string home = Home();
  return home.empty() ? std::string() : WithSlash(home) + fallback;
}

// Written to at run time: the user may write there, and it is not a part
// of the file system that only the package manager changes.
bool IsWritableAppFolder(const std::string& folder) {
  if (folder.rfind("/usr/", 0) == 0) return false;
  return access(folder.c_str(), W_OK) == 0;
}

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

qvString Wide(const std::string& bytes) { return qvNameCodec::DecodeToString(bytes); }

}  // namespace

qvAppFolders qvAppFolders::Locate(const qvString& appFolder, const char* systemConfigFolder) {
  const std::string app = WithSlash(qvNameCodec::EncodeToString(appFolder));
  qvAppFolders folders;
  folders.dataFolder = Wide(app + "data/");
  folders.configFile = Wide(app + "qvConfig.ini");
  folders.updateFile = Wide(app + "update.dat");
  if (IsWritableAppFolder(app)) return folders;

  // Without a home folder there is no per-user place: the files stay
  // beside the program, and writing them fails as it would have.
  const std::string data = XdgFolder("XDG_DATA_HOME", ".local/share/");
  const std::string config = XdgFolder("XDG_CONFIG_HOME", ".config/");
  if (data.empty() || config.empty()) return folders;
  folders.portable = false;
  folders.dataFolder = Wide(data + kFolderName);
  folders.configFile = Wide(config + kFolderName + "qvConfig.ini");
  const std::string systemUpdateFile = WithSlash(systemConfigFolder ? systemConfigFolder : "") + "update.dat";
  if (systemConfigFolder && *systemConfigFolder && IsFile(systemUpdateFile)) folders.updateFile = Wide(systemUpdateFile);
  return folders;
}

bool qvAppFolders::MakeFolders() const {
  // The base directory rules ask for 0700 on folders they make.
  const unsigned mode = portable ? 0777 : 0700;
  const qvString configFolder = qvPath::GetDirectoryName(configFile.c_str());
  const bool dataMade = qvPath::CreateDirectoryW(dataFolder.c_str(), mode) != 0;
  const bool configMade = qvPath::CreateDirectoryW(configFolder.c_str(), mode) != 0;
  return dataMade && configMade;
}
