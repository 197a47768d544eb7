#include "qvLinuxVolumeSource.h"
#include "qvNtfsVolumeSource.h"

std::unique_ptr<qvVolumeSource> qvMakeDefaultVolumeSource(const std::vector<qvString>& roots) {
  auto walked = [](std::vector<qvString> folders) { return std::make_unique<qvLinuxVolumeSource>(std::move(folders)); };
  if (auto ntfs = qvMakeNtfsVolumeSource(roots, walked)) return ntfs;  // NTFS images and devices named as roots
  if (roots.empty()) return qvMakeMachineNtfsVolumeSource(std::make_unique<qvLinuxVolumeSource>(), walked);
  return std::make_unique<qvLinuxVolumeSource>(roots);
}
