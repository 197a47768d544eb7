// qvUtils: opening files and launchers.
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "qvDesktopEntry.h"
#include "qvNameCodec.h"
#include "qvSpawn.h"
#include "qvUtils.h"

namespace {

int OpenBytes(std::string path) {
  if (path.empty()) return 0;
  // xdg-open would take a leading '-' for an option.
  if (path[0] == '-') path = "./" + path;
  return qvSpawn::StartDetached({"xdg-open", path}) ? 1 : 0;
}

bool EndsWith(const std::string& s, const char* tail) {
  std::string t(tail);
  return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

int OpenDesktopEntry(const std::string& file) {
  qvDesktopEntry::Entry entry;
  if (!qvDesktopEntry::Read(file, &entry)) return 0;
  if (entry.type == "Link") return OpenBytes(entry.url);
  if (entry.type != "Application" && !entry.type.empty()) return 0;
  std::vector<std::string> argv;
  if (!qvDesktopEntry::SplitExec(entry, file, &argv)) return 0;
  return qvSpawn::StartDetached(argv, entry.path) ? 1 : 0;
}

}  // namespace

int qvUtils::QV_OpenFile(const qvChar* path) {
  if (!path) return 0;
  return OpenBytes(qvNameCodec::EncodeToString(std::u16string_view(path, qvStrLen(path))));
}

int qvUtils::QV_OpenShortCut(const qvChar* path) {
  if (!path || !*path) return 0;
  const std::string file = qvNameCodec::EncodeToString(std::u16string_view(path, qvStrLen(path)));
  struct stat st;
  if (lstat(file.c_str(), &st) != 0) return 0;
  if (S_ISLNK(st.st_mode)) {
    // The final target, through any chain of links; a dangling link fails.
    char* target = realpath(file.c_str(), nullptr);
    if (!target) return 0;
    std::string resolved(target);
    std::free(target);
    return OpenBytes(resolved);
  }
  if (S_ISREG(st.st_mode) && EndsWith(file, ".desktop")) return OpenDesktopEntry(file);
  return 0;
}
