#include "qvLinuxVolumeSource.h"

std::unique_ptr<qvVolumeSource> qvMakeDefaultVolumeSource(const std::vector<qvString>& roots) {
  if (roots.empty()) return std::make_unique<qvLinuxVolumeSource>();
  return std::make_unique<qvLinuxVolumeSource>(roots);
}
