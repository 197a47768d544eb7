#include "qvNtfsMounts.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <climits>
#include <cstdlib>
#include <fstream>

namespace {

// mountinfo escapes space, tab, newline and backslash as \ooo.
std::string Unescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' &&
        s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
      out.push_back(static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? std::string(buf) : path;
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

struct MountLine {
  std::string dev, point, options, fsType, source;
};

bool ParseMountLine(std::string_view line, MountLine* m) {
  std::vector<std::string_view> fields;
  size_t at = 0;
  while (at < line.size()) {
    size_t end = line.find(' ', at);
    if (end == std::string_view::npos) end = line.size();
    fields.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  size_t dash = 6;
  while (dash < fields.size() && fields[dash] != "-") ++dash;
  if (fields.size() < 6 || dash + 2 >= fields.size()) return false;
  m->dev = std::string(fields[2]);
  m->point = Unescape(fields[4]);
  m->options = std::string(fields[5]);
  m->fsType = std::string(fields[dash + 1]);
  m->source = Unescape(fields[dash + 2]);
  return true;
}

bool SameDevice(const MountLine& m, const NtfsMountable& what, const std::string& realWhat,
                const std::string& sysfsRoot) {
  if (m.source == what.path || (!m.source.empty() && m.source[0] == '/' && RealPath(m.source) == realWhat))
    return true;
  if (what.deviceNumber.empty()) {
    // An image mounted through a loop device.
    std::string loop = NtfsDeviceNumber(m.source);
    return !loop.empty() && RealPath(FirstLine(sysfsRoot + "/dev/block/" + loop + "/loop/backing_file")) == realWhat;
  }
  return m.dev == what.deviceNumber || NtfsDeviceNumber(m.source) == what.deviceNumber;
}

}  // namespace

std::string NtfsDeviceNumber(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
  return std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
}

std::vector<NtfsMount> FindNtfsMounts(std::string_view mountInfo, const NtfsMountable& what,
                                      const std::string& sysfsRoot) {
  std::vector<NtfsMount> out;
  const std::string realWhat = RealPath(what.path);
  size_t at = 0;
  while (at < mountInfo.size()) {
    size_t end = mountInfo.find('\n', at);
    if (end == std::string_view::npos) end = mountInfo.size();
    MountLine m;
    if (ParseMountLine(mountInfo.substr(at, end - at), &m) && SameDevice(m, what, realWhat, sysfsRoot)) {
      bool readOnly = ("," + m.options + ",").find(",ro,") != std::string::npos;
      out.push_back({m.point, m.fsType, readOnly});
    }
    at = end + 1;
  }
  return out;
}
