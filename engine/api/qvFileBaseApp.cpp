#include "qvFileBaseApp.h"

qvFileBaseApp::qvFileBaseApp()
    : extTable(heap),
      folderList(heap),
      fileList(heap),
      recordPool(heap, kRecordPoolTag),
      secondPool(heap, kSecondPoolTag),
      folderResults(heap),
      fileResults(heap),
      dirMap(heap),
      patternSet(heap) {
  volumes.Clear();
  Register(this);
}

qvFileBaseApp::~qvFileBaseApp() = default;

void qvFileBaseApp::ClearIndex() {
  folderResults.Clear();
  fileResults.Clear();
  folderList.Clear();
  fileList.Clear();
  dirMap.Clear();
  recordPool.Reset();
  secondPool.Reset();
  extTable.Reset();
  extCase.Clear();
}

size_t qvFileBaseApp::IndexBytes() const {
  return recordPool.BytesAllocated() + secondPool.BytesAllocated() + folderList.BytesAllocated() +
         fileList.BytesAllocated() + dirMap.BytesAllocated() + extTable.BytesAllocated();
}
