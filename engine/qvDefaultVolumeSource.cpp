#include "qvVolumeSource.h"

std::unique_ptr<qvVolumeSource> qvMakeDefaultVolumeSource(const std::vector<qvString>&) { return nullptr; }
