// Picks the live monitor for a volume source.
#include <memory>
#include <string>

#include "qvFanotifyMonitor.h"
#include "qvInotifyMonitor.h"
#include "qvLinuxVolumeSource.h"
#include "qvNtfsVolumeSource.h"

namespace {

template <class Monitor, class... Args>
std::unique_ptr<qvVolumeMonitor> Started(qvKearchImpl& engine, Args... args) {
  auto monitor = std::make_unique<Monitor>(engine, args...);
  if (!monitor->Ready()) return nullptr;
  return monitor;
}

}  // namespace

std::unique_ptr<qvVolumeMonitor> qvMakeDefaultMonitor(qvKearchImpl& engine, qvVolumeSource& source,
                                                      const char* tier) {
  std::string kind = tier ? tier : "";
  if (kind == "off") return nullptr;
  // Raw NTFS volumes are left alone until a mount takes them over.
  if (!dynamic_cast<qvLinuxVolumeSource*>(&source) && !dynamic_cast<qvNtfsVolumeSource*>(&source)) return nullptr;
  using Marks = qvFanotifyMonitor::Marks;
  if (kind == "fanotify-fs") return Started<qvFanotifyMonitor>(engine, Marks::FileSystem);
  if (kind == "fanotify-marks") return Started<qvFanotifyMonitor>(engine, Marks::Folders);
  if (kind == "inotify") return Started<qvInotifyMonitor>(engine);
  if (auto m = Started<qvFanotifyMonitor>(engine, Marks::FileSystem)) return m;
  if (auto m = Started<qvFanotifyMonitor>(engine, Marks::Folders)) return m;
  return Started<qvInotifyMonitor>(engine);
}
