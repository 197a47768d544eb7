// Follows the indexed volumes while the engine runs and applies their
// changes to the index (as change-journal records, under the engine lock).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qvVolumeSource.h"

class qvKearchImpl;

class qvVolumeMonitor {
 public:
  // What follows the volumes (the engine's "monitor_tier" value).
  enum Tier { kTierNone = 0, kTierInotify = 1, kTierFanotifyMarks = 2, kTierFanotifyFs = 3 };

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
  virtual Tier Kind() const = 0;

  // What a change of the exclusion rules lets into the index again: the
  // folder or file at `path` (bytes, absolute) of volume `slot`, or, with
  // an empty path, everything on the volume (a name pattern was dropped).
  struct Reinclusion {
    uint32_t slot;
    std::string path;
  };
  // Walks those in on the monitor's thread, outside the engine lock, and
  // adds what it finds under it. Any thread; returns at once.
  virtual void WalkIn(std::vector<Reinclusion> what) = 0;
  // The index dropped these folders of volume `slot`: stop following them.
  // Any thread.
  virtual void ForgetFolders(uint32_t slot, const std::vector<uint32_t>& numbers) = 0;
};

// The monitor for the source's volumes, or null where the source cannot be
// followed (entry streams). `tier`: "" (or an unknown name) picks the best
// the process may use: fanotify on the whole file system (CAP_SYS_ADMIN),
// else fanotify marks on every folder (kernel 5.13+), else inotify.
// "fanotify-fs", "fanotify-marks" or "inotify" asks for that kind only:
// when it cannot start, there is no monitor (a forced kind never turns
// silently into another); "off": none.
std::unique_ptr<qvVolumeMonitor> qvMakeDefaultMonitor(qvKearchImpl& engine, qvVolumeSource& source,
                                                      const char* tier);
