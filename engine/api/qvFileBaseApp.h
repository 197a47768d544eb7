// The single owner of the index inside the engine: the private heap and
// every table built from it. Reached through qvSingleton.
#pragma once

#include <memory>

#include "qvDirMap.h"
#include "qvExtCase.h"
#include "qvExtTable.h"
#include "qvHeap.h"
#include "qvMemoryPool.h"
#include "qvOutVector.h"
#include "qvPatternSet.h"
#include "qvRecordList.h"
#include "qvSingleton.h"
#include "qvVolumeState.h"

class qvFileBaseApp : public qvSingleton<qvFileBaseApp> {
 public:
  static constexpr uint32_t kRecordPoolTag = 0;
  static constexpr uint32_t kSecondPoolTag = 0x80000000u;

  qvFileBaseApp();
  virtual ~qvFileBaseApp();
  qvFileBaseApp(const qvFileBaseApp&) = delete;
  qvFileBaseApp& operator=(const qvFileBaseApp&) = delete;

  // The record a ref names in either pool, or null.
  uint8_t* Resolve(RecordRef ref) const {
    return (ref & kSecondPoolTag) ? secondPool.Resolve(ref) : recordPool.Resolve(ref);
  }

  // Empties every record table and puts the extension table back to its
  // built-in entries (after a failed load, before a scan).
  void ClearIndex();

  // Bytes held by the index: records, list slots, map entries, names.
  size_t IndexBytes() const;

  // Members in construction order; destroyed in reverse.
  qvHeap heap;
  ExtTable extTable;
  RecordList folderList;
  RecordList fileList;
  CMemoryPool recordPool;
  CMemoryPool secondPool;
  COutVector folderResults;
  COutVector fileResults;
  DirMap dirMap;
  CPatternSet patternSet;
  ExtCaseMap extCase;  // real case of the extensions that are not lower-case
  VolumeState volumes;
  qvString dataFolder;  // ends in '/'
};
