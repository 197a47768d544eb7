// The index itself: the record pools, the two sorted lists, the folder
// map, the extension tables, the volumes and the last search's results
// (record pointers, so they live and die with the records). Everything in
// store/ works on this; the engine object adds the search state on top.
// Every member is guarded by the engine lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvDirMap.h"
#include "qvExtCase.h"
#include "qvExtTable.h"
#include "qvHeap.h"
#include "qvMemoryPool.h"
#include "qvOutVector.h"
#include "qvRecordList.h"
#include "qvRecords.h"
#include "qvVolumeState.h"

class qvIndex {
 public:
  static constexpr uint32_t kRecordPoolTag = 0;
  static constexpr uint32_t kSecondPoolTag = 0x80000000u;

  qvIndex();
  virtual ~qvIndex();
  qvIndex(const qvIndex&) = delete;
  qvIndex& operator=(const qvIndex&) = delete;

  // The record a ref names in either pool, or null.
  uint8_t* Resolve(RecordRef ref) const {
    return (ref & kSecondPoolTag) ? secondPool.Resolve(ref) : recordPool.Resolve(ref);
  }

  // Empties every record table and puts the extension table back to its
  // built-in entries (after a failed load, before a scan).
  void ClearIndex();

  // Bytes held by the index: records, list slots, map entries, names.
  size_t IndexBytes() const;

  // The record of result row `row` (folders first, then files), or null
  // past the last row.
  const uint8_t* RowRecord(size_t row, bool* isFolder) const {
    size_t folders = folderResults.Count();
    *isFolder = row < folders;
    return *isFolder ? folderResults.At(row) : fileResults.At(row - folders);
  }

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
  ExtCaseMap extCase;  // real case of the extensions that are not lower-case
  VolumeState volumes;
  qvString dataFolder;  // ends in '/'
  // A folder taken out by the old-name half of a change-journal rename:
  // its children still name it until the new-name half puts it back.
  RecordRef detachedFolder = kNullRef;
  // Moves on with every search and with every change that can alter a
  // row already found (a record removed, moved or renamed; added records
  // alter no row), so that a reader can tell that the rows it read belong
  // to one answer.
  uint64_t generation = 1;
};
