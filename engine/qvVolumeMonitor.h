// Follows the indexed volumes while the engine runs and applies their
// changes to the index (as change-journal records, under the engine lock).
#pragma once

#include <cstdint>
#include <memory>

#include "qvVolumeSource.h"

class qvKearchImpl;

class qvVolumeMonitor {
 public:
  virtual ~qvVolumeMonitor() = default;
  // Handed to the volume source before the scan, so that every folder is
  // watched from the moment it is read.
  virtual qvVolumeSource::FolderHook Hook() = 0;
  // Starts following the volumes once the index is ready. With catchUp
  // (the index came from the saved database) every volume is first
  // scanned again in the background and replaces what was loaded.
  virtual void Start(bool catchUp) = 0;
  // Stops the monitor thread (a flag and a wake-up) and joins it.
  virtual void Stop() = 0;
  // 1 once every volume is followed (after the catch-up), else 0.
  virtual int Following() const = 0;
  // Volumes scanned again since the start (lost events, missing watches).
  virtual int64_t Rescans() const = 0;
};

// The monitor for the source's volumes, or null where the source cannot be
// followed (entry streams). `tier` forces a kind: "inotify", or "" for
// the best the process may use.
std::unique_ptr<qvVolumeMonitor> qvMakeDefaultMonitor(qvKearchImpl& engine, qvVolumeSource& source,
                                                      const char* tier);
