// What the fuzz targets of the saved index share: the input's own volume
// table taken as what discovery found, so that inputs get past the
// currency test into the sections; an answer's rows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "database_fixture.h"
#include "qvOfflineReader.h"
#include "qvRecordPath.h"
#include "qvSearchDriver.h"

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

// The answer's rows as paths, in result order.
inline std::vector<qvString> AnswerRows(qvFileBaseApp& app, const qvOfflineReader::Query& query,
                                        const qvMatchOptions& options) {
  qvString text = query.text + u'\0', filter = query.extFilter + u'\0';
  RunSearch(app, app.patternSet, {text.data(), filter.data(), 1, &options, nullptr}, {});
  std::vector<qvString> rows;
  qvChar name[QV_MAX_PATH], ext[QV_MAX_PATH];
  bool isFolder;
  for (size_t row = 0; const uint8_t* r = app.RowRecord(row, &isFolder); ++row) {
    qvString path;
    qvAppendFolderPath(app, isFolder ? DirRecord::Parent(r) : FileRecord::Parent(r), &path);
    path.append(name, qvBuildDisplayName(app, r, isFolder, name, QV_MAX_PATH, ext, QV_MAX_PATH));
    rows.push_back(path);
  }
  return rows;
}

// What a read in place left: a refusal must leave empty tables, and what
// was kept must hold together (else the target aborts). True when kept.
inline bool KeptHoldsTogether(const qvFileBaseApp& app, qvOfflineReader::Outcome outcome) {
  if (outcome != qvOfflineReader::Outcome::kLoaded) {
    if (!dbtest::TablesEmpty(app)) {
      std::fprintf(stderr, "a refused read left records behind\n");
      std::abort();
    }
    return false;
  }
  std::string wrong = dbtest::CheckLoaded(app, true);
  if (!wrong.empty()) {
    std::fprintf(stderr, "kept tables do not hold together: %s\n", wrong.c_str());
    std::abort();
  }
  return true;
}
