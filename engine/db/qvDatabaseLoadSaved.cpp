// Loading the saved set at start-up, and saying why one was dropped.
#include <cerrno>

#include "qvDatabase.h"
#include "qvErrorBox.h"
#include "qvExtCaseFile.h"
#include "qvIndex.h"

namespace qvDatabase {

namespace {

using Code = qvStatus::Code;

qvStatus LoadSet(qvIndex& app, IQvSearchNotify* sink, const qvSavedSet& set) {
  qvStatus status = LoadIndex(app, sink, set);
  if (status.ok()) status = ReadExtensionFile(app, set);
  if (status.ok()) status = qvExtCaseFile::Load(app, set);
  if (!status.ok()) app.ClearIndex();
  return status;
}

}  // namespace

qvStatus LoadSavedIndex(qvIndex& app, IQvSearchNotify* sink) {
  // Waits for a save of another process sharing the folder to finish.
  qvDbIo::FolderLock lock(app, qvDbIo::FolderLock::kShared);
  qvStatus current = LoadSet(app, sink, qvSavedSet::Open(app, qvSavedSet::kCurrent));
  if (current.ok() || current.code() == Code::kStale || current.code() == Code::kNoMemory) return current;
  // A save cut short while it renamed its files leaves the old set whole
  // under its second names.
  qvSavedSet previous = qvSavedSet::Open(app, qvSavedSet::kPrevious);
  if (previous.SealStatus().ok() && LoadSet(app, nullptr, previous).ok()) return qvStatus::Ok();
  return current;
}

void ReportDropped(const qvStatus& why) {
  switch (why.code()) {
    case Code::kOk:
    case Code::kNotFound:  // the first start
    case Code::kStale:     // the volumes moved on: scanning is the normal answer
    case Code::kNoMemory:  // the heap said so already
      return;
    default:
      ShowErrorBox("%s", why.text().c_str());
  }
}

}  // namespace qvDatabase
