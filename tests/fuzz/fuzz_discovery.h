// The fuzz targets of the saved index take the input's own volume table
// as what discovery found, so that inputs get past the currency test into
// the sections.
#pragma once

#include <cstdint>
#include <cstring>

#include "database_fixture.h"

inline void DiscoverFromInput(qvFileBaseApp& app, const uint8_t* data, size_t size) {
  app.volumes.Clear();
  size_t at = 44;
  for (int slot = 0; slot < QV_VOLUME_SLOTS && at < size; ++slot) {
    if (data[at++] != 1) continue;
    if (size - at < 16) return;
    uint64_t journal;
    std::memcpy(&journal, data + at, 8);
    at += 16;
    app.volumes.indexed[slot] = true;
    app.volumes.journalId[slot] = journal;
    app.volumes.firstUsn[slot] = INT64_MIN;  // every saved position is still held
  }
}
