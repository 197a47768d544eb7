// Which file systems of this machine get indexed. The kernel's mount table
// (/proc/self/mountinfo) lists every mount; we keep the local file systems
// that live on a block device which is not removable, each device once.
// Paths here are bytes, as the kernel gives them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One line of the mount table.
struct qvMountEntry {
  uint32_t major = 0;      // device number of the mounted file system
  uint32_t minor = 0;
  std::string fsRoot;      // the folder of the file system mounted here ("/" unless a bind mount)
  std::string mountPoint;  // unescaped
  std::string fsType;      // e.g. "ext4", "fuse.sshfs"
  std::string source;      // e.g. "/dev/sda1", unescaped
};

// The outcome of discovery: the volumes in slot order and how many more
// qualified but did not fit into the slots.
struct qvMountSelection {
  std::vector<qvMountEntry> volumes;
  size_t dropped = 0;
};

namespace qvMountTable {

constexpr size_t kMaxVolumes = 26;

// Parses the text of a mountinfo file. Lines that do not have the format
// are skipped.
std::vector<qvMountEntry> Parse(std::string_view text);

// Parses one line (without its newline). Returns false when malformed.
bool ParseLine(std::string_view line, qvMountEntry* out);

// Whether a file system type is one we never index: kernel views, memory
// file systems, images, network and user-space file systems.
bool IsExcludedType(std::string_view fsType);

// Whether the block device major:minor is removable, read from the sysfs
// tree at `sysfsRoot` (normally "/sys"). A partition answers for its disk.
// Unknown devices count as fixed.
bool IsRemovable(const std::string& sysfsRoot, uint32_t major, uint32_t minor,
                 std::string_view source);

// Picks the volumes to index from mountinfo text: local, block-backed, not
// removable, each device once (a mount of the whole file system beats a
// bind mount of a folder of it, then the shortest mount point, then the
// first), sorted by mount point, at most kMaxVolumes.
qvMountSelection Select(std::string_view mountInfoText, const std::string& sysfsRoot);

// Select() over this process's mount table and /sys.
qvMountSelection Discover();

// The mount that holds device major:minor in mountinfo text, preferring a
// mount of the whole file system; false when there is none.
bool FindDevice(std::string_view mountInfoText, uint32_t major, uint32_t minor,
                qvMountEntry* out);

// Reads a whole (proc) file into `text`. Returns 0 or the errno.
int ReadFile(const std::string& path, std::string* text);

}  // namespace qvMountTable
