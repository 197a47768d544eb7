// qvUtils: the XDG autostart entry.
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "qvDesktopEntry.h"
#include "qvNameCodec.h"
#include "qvPath.h"
#include "qvUtils.h"

namespace {

// $XDG_CONFIG_HOME when it is an absolute path (relative ones are to be
// ignored), else ~/.config; empty when there is no home folder.
std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config";
  struct passwd pw, *found = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
    return std::string(found->pw_dir) + "/.config";
  return std::string();
}

std::string RunningExecutable() {
  char buf[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Writes the file whole or not at all: a temporary beside it, renamed over.
bool WriteFileAtomically(const std::string& path, const std::string& content) {
  std::string temp = path + ".tmp." + std::to_string(getpid());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == content.size() && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
  unlink(temp.c_str());
  return false;
}

}  // namespace

int qvUtils::QV_SetAutoStart(int enable, const qvChar* name) {
  if (!name || !*name) return 0;
  const std::string base = qvNameCodec::EncodeToString(std::u16string_view(name, qvStrLen(name)));
  // The name becomes a file name: it must not lead out of the folder.
  if (base.find('/') != std::string::npos || base == "." || base == "..") return 0;
  const std::string config = ConfigHome();
  if (config.empty()) return 0;
  const std::string folder = config + "/autostart/";
  const std::string file = folder + base + ".desktop";

  if (!enable) return unlink(file.c_str()) == 0 || errno == ENOENT ? 1 : 0;

  const std::string exe = RunningExecutable();
  if (exe.empty()) return 0;
  // Folders the configuration standard makes are private to the user.
  if (!qvPath::CreateDirectoryW(qvNameCodec::DecodeToString(folder).c_str(), 0700)) return 0;
  using qvDesktopEntry::EscapeValue;
  const std::string content = "[Desktop Entry]\nType=Application\nName=" + EscapeValue(base) +
                              "\nExec=" + EscapeValue(qvDesktopEntry::QuoteExecArg(exe)) +
                              "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
  return WriteFileAtomically(file, content) ? 1 : 0;
}
