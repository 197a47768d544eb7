#include "qvNtfsMachinePartitions.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "qvNtfsMounts.h"
#include "qvNtfsPartitions.h"

namespace {

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Unknown when the device cannot be opened.
bool BootSectorSaysNtfs(const std::string& device) {
  int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  NtfsReadAt read = [fd](uint64_t offset, size_t size, uint8_t* out) {
    return pread(fd, out, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
  };
  bool ntfs = IsNtfsAt(read, 0);
  close(fd);
  return ntfs;
}

bool IsNtfs(const qvNtfsDiscoveryOptions& o, const std::string& devNumber, const std::string& device,
            const std::vector<NtfsMount>& mounts) {
  std::string udev = ReadSmallFile(o.udevDataRoot + "/b" + devNumber);
  if (udev.find("E:ID_FS_TYPE=") != std::string::npos) return udev.find("E:ID_FS_TYPE=ntfs\n") != std::string::npos;
  for (const NtfsMount& m : mounts)
    if (m.fsType == "ntfs" || m.fsType == "ntfs3") return true;
  return BootSectorSaysNtfs(device);
}

}  // namespace

std::vector<qvRawNtfsPartition> FindRawNtfsPartitions(const qvNtfsDiscoveryOptions& o) {
  std::vector<qvRawNtfsPartition> out;
  std::string mountInfo = ReadSmallFile(o.mountInfoPath);
  std::string classDir = o.sysfsRoot + "/class/block";
  DIR* dir = opendir(classDir.c_str());
  if (!dir) return out;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0) continue;
    if (name.rfind("loop", 0) == 0 && !Exists(classDir + "/" + name + "/loop/backing_file")) continue;
    std::string devNumber = ReadSmallFile(classDir + "/" + name + "/dev");
    while (!devNumber.empty() && (devNumber.back() == '\n' || devNumber.back() == ' ')) devNumber.pop_back();
    if (devNumber.empty()) continue;
    std::string device = o.devRoot + "/" + name;
    std::vector<NtfsMount> mounts = FindNtfsMounts(mountInfo, {device, devNumber}, o.sysfsRoot);
    if (!IsNtfs(o, devNumber, device, mounts)) continue;
    bool readWrite = std::any_of(mounts.begin(), mounts.end(), [](const NtfsMount& m) { return !m.readOnly; });
    if (readWrite) continue;  // walked and followed live as a mounted file system
    out.push_back({device, mounts.empty() ? std::string() : mounts.front().point});
  }
  return out;
}
