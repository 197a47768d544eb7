// What the engine knows about each of its 26 volume slots.
#pragma once

#include <cstdint>

#include "qvTypes.h"

constexpr int QV_VOLUME_SLOTS = 26;

struct VolumeState {
  int64_t firstUsn[QV_VOLUME_SLOTS];
  int64_t nextUsn[QV_VOLUME_SLOTS];
  uint64_t journalId[QV_VOLUME_SLOTS];
  // In place of a volume handle: whether the slot is indexed, and the index
  // of the volume in the source's discovery list.
  bool indexed[QV_VOLUME_SLOTS];
  int sourceIndex[QV_VOLUME_SLOTS];
  qvString root[QV_VOLUME_SLOTS];  // root text ending in '/'

  void Clear() {
    for (int i = 0; i < QV_VOLUME_SLOTS; ++i) {
      firstUsn[i] = nextUsn[i] = 0;
      journalId[i] = 0;
      indexed[i] = false;
      sourceIndex[i] = -1;
      root[i].clear();
    }
  }
};
