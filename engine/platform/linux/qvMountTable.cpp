#include "qvMountTable.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

namespace qvMountTable {

namespace {

// Splits off the next space-separated field of a mountinfo line.
bool NextField(std::string_view* rest, std::string_view* field) {
  size_t start = rest->find_first_not_of(' ');
  if (start == std::string_view::npos) return false;
  size_t end = rest->find(' ', start);
  if (end == std::string_view::npos) end = rest->size();
  *field = rest->substr(start, end - start);
  *rest = rest->substr(end);
  return true;
}

// The kernel writes space, tab, newline and backslash in paths as a
// backslash and three octal digits (\040 for a space).
std::string Unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  auto octal = [](char c) { return c >= '0' && c <= '7'; };
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && s.size() - i > 3 && octal(s[i + 1]) &&
        octal(s[i + 2]) && octal(s[i + 3])) {
      int v = (s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0');
      if (v <= 0xFF) {
        out.push_back(static_cast<char>(v));
        i += 3;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

bool ParseUnsigned(std::string_view s, uint32_t* v) {
  auto r = std::from_chars(s.data(), s.data() + s.size(), *v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

// Reads a small sysfs attribute holding a number; false when absent.
bool ReadNumber(const std::string& path, long* value) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[32];
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n <= 0) return false;
  buf[n] = 0;
  char* end = buf;
  long v = strtol(buf, &end, 10);
  if (end == buf) return false;
  *value = v;
  return true;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A device's sysfs folder answers for itself; a partition's folder has no
// usable "removable" of its own, so its disk (the folder above, reached
// through the device link) answers.
bool RemovableAt(const std::string& deviceDir, bool* known) {
  long v = 0;
  if (Exists(deviceDir + "/partition")) {
    *known = ReadNumber(deviceDir + "/../removable", &v);
    return *known && v == 1;
  }
  *known = ReadNumber(deviceDir + "/removable", &v);
  return *known && v == 1;
}

// How well a mount represents its device: whole file system first, then
// the shorter mount point.
bool BetterMount(const qvMountEntry& a, const qvMountEntry& b) {
  bool aWhole = a.fsRoot == "/", bWhole = b.fsRoot == "/";
  if (aWhole != bWhole) return aWhole;
  return a.mountPoint.size() < b.mountPoint.size();
}

bool Qualifies(const qvMountEntry& e, const std::string& sysfsRoot) {
  if (IsExcludedType(e.fsType)) return false;
  bool blockBacked = e.major != 0 || e.source.rfind("/dev/", 0) == 0;
  if (!blockBacked) return false;
  return !IsRemovable(sysfsRoot, e.major, e.minor, e.source);
}

}  // namespace

bool ParseLine(std::string_view line, qvMountEntry* out) {
  // id parent major:minor root mount-point options [optional...] - type source super-options
  std::string_view rest = line, f;
  std::string_view id, parent, dev, root, mountPoint, options;
  if (!NextField(&rest, &id) || !NextField(&rest, &parent) || !NextField(&rest, &dev) ||
      !NextField(&rest, &root) || !NextField(&rest, &mountPoint) || !NextField(&rest, &options))
    return false;
  bool separator = false;
  while (NextField(&rest, &f)) {
    if (f == "-") {
      separator = true;
      break;
    }
  }
  std::string_view type, source;
  if (!separator || !NextField(&rest, &type) || !NextField(&rest, &source)) return false;
  size_t colon = dev.find(':');
  if (colon == std::string_view::npos) return false;
  uint32_t major, minor;
  if (!ParseUnsigned(dev.substr(0, colon), &major) || !ParseUnsigned(dev.substr(colon + 1), &minor))
    return false;
  out->major = major;
  out->minor = minor;
  out->fsRoot = Unescape(root);
  out->mountPoint = Unescape(mountPoint);
  out->fsType = Unescape(type);
  out->source = Unescape(source);
  return !out->mountPoint.empty() && out->mountPoint[0] == '/';
}

std::vector<qvMountEntry> Parse(std::string_view text) {
  std::vector<qvMountEntry> entries;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    qvMountEntry e;
    if (ParseLine(line, &e)) entries.push_back(std::move(e));
  }
  return entries;
}

bool IsExcludedType(std::string_view t) {
  // FUSE carries user-space file systems (sshfs and the like); only
  // fuseblk sits on a local block device.
  if (t.rfind("fuse.", 0) == 0) return true;
  if (t.rfind("cgroup", 0) == 0) return true;
  static constexpr std::string_view kExcluded[] = {
      "proc", "sysfs", "tmpfs", "devtmpfs", "devpts", "ramfs", "overlay", "squashfs",
      "autofs", "mqueue", "debugfs", "tracefs", "securityfs", "pstore", "bpf", "configfs",
      "fusectl", "fuse", "hugetlbfs", "binfmt_misc", "efivarfs", "rpc_pipefs", "nsfs",
      "selinuxfs", "iso9660", "udf", "nfs", "nfs4", "nfsd", "cifs", "smb3", "smbfs",
      "ncpfs", "afs", "ceph", "glusterfs", "9p", "virtiofs", "sshfs", "coda", "zonefs",
      "erofs", "cramfs", "romfs", "aufs", "unionfs"};
  return std::find(std::begin(kExcluded), std::end(kExcluded), t) != std::end(kExcluded);
}

bool IsRemovable(const std::string& sysfsRoot, uint32_t major, uint32_t minor,
                 std::string_view source) {
  bool known = false;
  if (major != 0) {
    std::string dir = sysfsRoot + "/dev/block/" + std::to_string(major) + ":" +
                      std::to_string(minor);
    bool removable = RemovableAt(dir, &known);
    if (known) return removable;
  }
  // File systems such as btrfs report an anonymous device number; their
  // source names the block device.
  if (source.rfind("/dev/", 0) == 0) {
    std::string_view name = source.substr(source.rfind('/') + 1);
    if (!name.empty()) return RemovableAt(sysfsRoot + "/class/block/" + std::string(name), &known);
  }
  return false;
}

qvMountSelection Select(std::string_view mountInfoText, const std::string& sysfsRoot) {
  std::vector<qvMountEntry> best;  // one per device
  for (qvMountEntry& e : Parse(mountInfoText)) {
    if (!Qualifies(e, sysfsRoot)) continue;
    auto same = std::find_if(best.begin(), best.end(), [&](const qvMountEntry& b) {
      return b.major == e.major && b.minor == e.minor;
    });
    if (same == best.end()) best.push_back(std::move(e));
    else if (BetterMount(e, *same)) *same = std::move(e);
  }
  std::stable_sort(best.begin(), best.end(), [](const qvMountEntry& a, const qvMountEntry& b) {
    return a.mountPoint < b.mountPoint;
  });
  qvMountSelection sel;
  if (best.size() > kMaxVolumes) {
    sel.dropped = best.size() - kMaxVolumes;
    best.resize(kMaxVolumes);
  }
  sel.volumes = std::move(best);
  return sel;
}

bool FindDevice(std::string_view mountInfoText, uint32_t major, uint32_t minor,
                qvMountEntry* out) {
  bool found = false;
  for (qvMountEntry& e : Parse(mountInfoText)) {
    if (e.major != major || e.minor != minor) continue;
    if (!found || BetterMount(e, *out)) *out = std::move(e);
    found = true;
  }
  return found;
}

int ReadFile(const std::string& path, std::string* text) {
  text->clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  // Proc files report no size; read until the end.
  char buf[16384];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      close(fd);
      return err;
    }
    if (n == 0) break;
    text->append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return 0;
}

qvMountSelection Discover() {
  std::string text;
  if (ReadFile("/proc/self/mountinfo", &text) != 0) return {};
  return Select(text, "/sys");
}

}  // namespace qvMountTable
