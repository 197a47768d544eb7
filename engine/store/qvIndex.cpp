#include "qvIndex.h"

qvIndex::qvIndex()
    : extTable(heap),
      folderList(heap),
      fileList(heap),
      recordPool(heap, kRecordPoolTag),
      secondPool(heap, kSecondPoolTag),
      folderResults(heap),
      fileResults(heap),
      dirMap(heap) {
  volumes.Clear();
}

qvIndex::~qvIndex() = default;

void qvIndex::ClearIndex() {
  folderResults.Clear();
  fileResults.Clear();
  folderList.Clear();
  fileList.Clear();
  dirMap.Clear();
  recordPool.Reset();
  secondPool.Reset();
  extTable.Reset();
  extCase.Clear();
  detachedFolder = kNullRef;
  ++generation;
}

size_t qvIndex::IndexBytes() const {
  return recordPool.BytesAllocated() + secondPool.BytesAllocated() + folderList.BytesAllocated() +
         fileList.BytesAllocated() + dirMap.BytesAllocated() + extTable.BytesAllocated();
}
