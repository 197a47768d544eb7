// Whether a volume's change journal can be trusted to tell every change
// since a saved index. Windows writes each change to it; Linux (ntfs-3g)
// writes none, but empties the $LogFile when it mounts a volume read-write,
// which Windows never leaves so. A volume left dirty (mounted now, or not
// cleanly unmounted) is no more trusted.
#pragma once

#include "qvNtfsVolume.h"

struct NtfsVolumeState {
  bool dirty = false;         // $Volume's dirty flag
  bool logFileEmpty = false;  // no restart page at the start of $LogFile
};

NtfsVolumeState ReadNtfsVolumeState(const qvNtfsVolume& volume);
