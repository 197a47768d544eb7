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
  std::lock_guard<std::mutex> guard(lock);
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  if (!app || row < 0) return 0;
  size_t folders = app->folderResults.Count();
  size_t r = static_cast<size_t>(row);
  bool isFolder = r < folders;
  uint8_t* record = isFolder ? app->folderResults.At(r) : app->fileResults.At(r - folders);
  if (!record) return 0;

  size_t nameLength = qvBuildDisplayName(*app, record, isFolder, d->name, QV_MAX_PATH, d->extension,
                                         QV_MAX_PATH);
  RecordRef parent = isFolder ? DirRecord::Parent(record) : FileRecord::Parent(record);
  size_t pathLength = qvBuildFolderPath(*app, parent, d->folderPath, QV_MAX_PATH);
  d->nameLength = static_cast<int32_t>(nameLength);
  d->isFolder = isFolder ? 1 : 0;

  // A volume root is named by its root text without the final '/'; its
  // own path is that text with the '/'.
  std::string full = qvNameCodec::EncodeToString(std::u16string_view(d->folderPath, pathLength)) +
                     qvNameCodec::EncodeToString(std::u16string_view(d->name, nameLength));
  if (isFolder && pathLength == 0) full += '/';
  struct statx st;
  if (statx(AT_FDCWD, full.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &st) == 0) {
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

  if (isFolder) {
    d->iconIndex = pathLength == 0 ? rootIconIndex : folderIconIndex;
  } else if (!FileRecord::HasExtension(record)) {
    d->iconIndex = qvIconRegistry::kNoExtension;
  } else {
    uint32_t id = FileRecord::ExtId(record);
    if (id < 4) {
      int32_t icon = FileRecord::IconSlot(record);
      if (icon == -1) {
        icon = qvUtils::QV_GetFileIconIndex(d->folderPath, static_cast<int32_t>(pathLength), d->name,
                                            static_cast<int32_t>(nameLength));
        FileRecord::SetIconSlot(record, icon);
      }
      d->iconIndex = icon;
    } else {
      int32_t icon = app->extTable.Icon(id);
      if (icon == ExtTable::kIconUnknown) {
        icon = qvIconRegistry::ForFileName(d->name, nameLength);
        app->extTable.SetIcon(id, icon);
      }
      d->iconIndex = icon;
    }
  }
  return 1;
}
