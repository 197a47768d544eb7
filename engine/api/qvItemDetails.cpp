// The details of one result row: name, folder, times, size, attributes
// and icon. Times, size and attributes come from statx of the item's full
// path; a row whose file has vanished keeps its name and path with zero
// times and size.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "qvFileBaseApp.h"
#include "qvIconRegistry.h"
#include "qvKearchImpl.h"
#include "qvNameCodec.h"
#include "qvNtfsItemDetails.h"
#include "qvPath.h"
#include "qvRecordPath.h"
#include "qvUtils.h"

namespace {

// 100 ns units since 1601-01-01 UTC.
uint64_t ToFileTime(const struct statx_timestamp& t) {
  constexpr int64_t kEpochDelta = 11644473600LL;  // seconds from 1601 to 1970
  int64_t seconds = t.tv_sec + kEpochDelta;
  if (seconds < 0) return 0;
  return static_cast<uint64_t>(seconds) * 10000000ULL + t.tv_nsec / 100;
}

uint32_t AttributesOf(const struct statx& st, const qvChar* name) {
  uint32_t a = 0;
  mode_t type = st.stx_mode & S_IFMT;
  if (type == S_IFDIR) a |= QV_ATTR_DIRECTORY;
  if (type == S_IFLNK) a |= QV_ATTR_REPARSE_POINT;
  if (type == S_IFSOCK || type == S_IFCHR || type == S_IFBLK || type == S_IFIFO) a |= QV_ATTR_SYSTEM;
  if (!(st.stx_mode & S_IWUSR)) a |= QV_ATTR_READONLY;
  if (name[0] == u'.') a |= QV_ATTR_HIDDEN;
  return a;
}

}  // namespace

int32_t qvKearchImpl::GetItemDetails(ItemDetails* d, int32_t row) {
  if (!d) return 0;
  std::memset(d, 0, sizeof *d);
  // Names and the icon cache are read under the engine lock; the disk
  // (statx, a launcher's icon) only after it is released, so a slow disk
  // never holds up a search.
  size_t nameLength = 0, pathLength = 0;
  bool isFolder = false;
  bool hasExtension = false;
  uint32_t extId = 0;
  int32_t icon = 0;
  uint64_t generation = 0;
  int ntfsSource = -1;
  uint32_t ntfsNumber = 0;
  {
    qvMutexLock guard(lock);
    qvFileBaseApp& app = IndexLocked();
    if (row < 0) return 0;
    const uint8_t* record = app.RowRecord(static_cast<size_t>(row), &isFolder);
    if (!record) return 0;
    generation = app.generation;
    nameLength = qvBuildDisplayName(app, record, isFolder, d->name, QV_MAX_PATH, d->extension, QV_MAX_PATH);
    RecordRef parent = isFolder ? DirRecord::Parent(record) : FileRecord::Parent(record);
    pathLength = qvBuildFolderPath(app, parent, d->folderPath, QV_MAX_PATH);
    // A raw NTFS volume's rows read their file record (below, unlocked).
    DirKey key = isFolder ? DirRecord::Key(record) : DirRecord::Key(app.Resolve(parent));
    ntfsSource = app.volumes.sourceIndex[DirKeySlot(key) % QV_VOLUME_SLOTS];
    ntfsNumber = isFolder ? key & QV_MAX_RECORD_NUMBER : FileRecord::RecordNumber(record);
    if (isFolder) {
      icon = pathLength == 0 ? rootIconIndex : folderIconIndex;
    } else if (!FileRecord::HasExtension(record)) {
      icon = qvIconRegistry::kNoExtension;
    } else {
      hasExtension = true;
      extId = FileRecord::ExtId(record);
      icon = extId < 4 ? FileRecord::IconSlot(record) : app.extTable.Icon(extId);
    }
  }
  d->nameLength = static_cast<int32_t>(nameLength);
  d->isFolder = isFolder ? 1 : 0;

  std::string full = qvNameCodec::EncodeToString(qvPath::RowPath(std::u16string_view(d->folderPath, pathLength),
                                                                 std::u16string_view(d->name, nameLength), isFolder));
  struct statx st;
  if (qvReadNtfsItemDetails(source_.get(), ntfsSource, ntfsNumber, isFolder, d)) {
  } else if (statx(AT_FDCWD, full.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &st) == 0) {
    // A birth time of exactly the epoch was never recorded (images made
    // by tools that leave it zero): the change time says more.
    bool born = (st.stx_mask & STATX_BTIME) && (st.stx_btime.tv_sec != 0 || st.stx_btime.tv_nsec != 0);
    d->creationTime = born ? ToFileTime(st.stx_btime) : ToFileTime(st.stx_ctime);
    d->modificationTime = ToFileTime(st.stx_mtime);
    d->accessTime = ToFileTime(st.stx_atime);
    d->attributes = AttributesOf(st, d->name);
    if (!isFolder) d->size = st.stx_size;
  } else {
    d->attributes = (isFolder ? QV_ATTR_DIRECTORY : 0) | (d->name[0] == u'.' ? QV_ATTR_HIDDEN : 0);
  }

  // Icons not known yet: a launcher's own (its file is read) is kept in its
  // record, a type's in the extension table, unless the row changed
  // meanwhile.
  bool perFile = hasExtension && extId < 4;
  bool unknown = perFile ? icon == -1 : (hasExtension && icon == ExtTable::kIconUnknown);
  if (unknown) {
    icon = perFile ? qvUtils::QV_GetFileIconIndex(d->folderPath, static_cast<int32_t>(pathLength), d->name,
                                                   static_cast<int32_t>(nameLength))
                   : qvIconRegistry::ForFileName(d->name, nameLength);
    qvMutexLock guard(lock);
    qvFileBaseApp& app = IndexLocked();
    bool same;
    const uint8_t* record = app.RowRecord(static_cast<size_t>(row), &same);
    if (record && app.generation == generation) {
      if (perFile) FileRecord::SetIconSlot(const_cast<uint8_t*>(record), icon);
      else app.extTable.SetIcon(extId, icon);
    }
  }
  d->iconIndex = icon;
  return 1;
}
