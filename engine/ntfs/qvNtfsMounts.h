// Where a device or an image read raw is mounted, from the kernel's mount
// table. ntfs-3g mounts show as "fuseblk" with an anonymous device number,
// so a mount is matched by its source too: the device itself, a path that
// leads to it, or a loop device whose backing file is the image.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct NtfsMount {
  std::string point;  // unescaped
  std::string fsType;
  bool readOnly = true;
};

// What a mount of a device or image is recognised by: its path, and for a
// block device its number ("major:minor"; empty for an image).
struct NtfsMountable {
  std::string path;
  std::string deviceNumber;
};

// The device number of a block device as "major:minor", or "" when `path`
// is not one.
std::string NtfsDeviceNumber(const std::string& path);

// The mounts of `what` in mountinfo text, in table order. `sysfsRoot`
// tells the backing files of loop devices.
std::vector<NtfsMount> FindNtfsMounts(std::string_view mountInfo, const NtfsMountable& what,
                                      const std::string& sysfsRoot = "/sys");
