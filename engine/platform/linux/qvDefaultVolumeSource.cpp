#include "qvLinuxVolumeSource.h"
#include "qvNtfsVolumeSource.h"

std::unique_ptr<qvVolumeSource> qvMakeDefaultVolumeSource(const std::vector<qvString>& roots) {
  if (auto ntfs = qvMakeNtfsVolumeSource(roots)) return ntfs;  // images, devices, unmounted NTFS partitions
  if (roots.empty()) return std::make_unique<qvLinuxVolumeSource>();
  return std::make_unique<qvLinuxVolumeSource>(roots);
}
