// The change journal's decision table: which reason bits make an entry
// appear, disappear or change its name.
#include <vector>

#include "qvIndex.h"
#include "qvIndexEdit.h"
#include "qvJournal.h"
#include "qvPatternSet.h"
#include "qvVolumeSource.h"

bool ApplyJournalRecord(qvIndex& index, uint32_t slot, const JournalRecord& r) {
  if (slot >= QV_VOLUME_SLOTS || r.fileRef > QV_MAX_RECORD_NUMBER || r.parentRef > QV_MAX_RECORD_NUMBER ||
      r.nameLength == 0 || r.nameLength > kMaxRecordNameBytes)
    return false;
  const uint32_t number = static_cast<uint32_t>(r.fileRef);
  const uint32_t parent = static_cast<uint32_t>(r.parentRef);
  const qvIndexEdit::Name name(r.name, r.nameLength);
  const uint32_t reason = r.reason;
  const bool folder = (r.attributes & QV_ATTR_DIRECTORY) != 0;
  const bool close = (reason & USN_REASON_CLOSE) != 0;
  const bool create = (reason & USN_REASON_FILE_CREATE) != 0;
  if (create && close) return qvIndexEdit::AddEntry(index, slot, parent, number, name, folder);
  if ((reason & USN_REASON_RENAME_NEW_NAME) && close) {
    if (!folder) return qvIndexEdit::AddEntry(index, slot, parent, number, name, false);
    RecordRef detached = index.detachedFolder;
    index.detachedFolder = kNullRef;
    return qvIndexEdit::AttachFolder(index, slot, parent, number, name, detached);
  }
  if ((reason & USN_REASON_RENAME_OLD_NAME) && !create) {
    if (!folder) return qvIndexEdit::RemoveFile(index, slot, parent, number, name);
    RecordRef old = qvIndexEdit::DetachFolder(index, slot, number);
    if (old == kNullRef) return false;
    index.detachedFolder = old;
    return true;
  }
  if ((reason & USN_REASON_RENAME_OLD_NAME) && create) return false;
  if ((reason & USN_REASON_FILE_DELETE) && close && !create)
    return folder ? qvIndexEdit::RemoveFolder(index, slot, number)
                  : qvIndexEdit::RemoveFile(index, slot, parent, number, name);
  return false;
}

bool ApplyJournalBatch(qvIndex& index, const CPatternSet& query, uint32_t slot, const JournalRecord* records,
                       size_t count) {
  bool searchDue = false;
  for (size_t i = 0; i < count; ++i) {
    const JournalRecord& r = records[i];
    if (!ApplyJournalRecord(index, slot, r) || !query.Active()) continue;
    std::vector<qvChar> name(r.name, r.name + r.nameLength);
    searchDue |= query.MatchName(name.data(), name.size());
  }
  return searchDue;
}
