#include "qvRecordPath.h"

#include <vector>

#include "qvIndex.h"
#include "qvPackedName.h"

namespace {

// No real chain of folders is deeper than this; a longer one is a cycle.
constexpr size_t kMaxDepth = 1 << 16;

// Appends decoded units to out[*w..], bounded by capacity - 1.
bool AppendUnits(const uint8_t* bytes, size_t length, qvChar* out, size_t capacity, size_t* w) {
  size_t room = capacity - 1 - *w;
  size_t i = 0;
  while (i < length) {
    if (room == 0) return false;
    if (bytes[i] & 0x80) {
      if (i + 3 > length) break;
      out[(*w)++] = static_cast<qvChar>(bytes[i + 1] | (bytes[i + 2] << 8));
      i += 3;
    } else {
      out[(*w)++] = bytes[i++];
    }
    --room;
  }
  return true;
}

bool AppendUnit(qvChar c, qvChar* out, size_t capacity, size_t* w) {
  if (*w + 1 >= capacity) return false;
  out[(*w)++] = c;
  return true;
}

}  // namespace

// The folders from the record with this ref up to its volume's root,
// nearest first.
static const std::vector<const uint8_t*>& FolderChain(const qvIndex& app, RecordRef parent) {
  thread_local std::vector<const uint8_t*> chain;
  chain.clear();
  for (RecordRef ref = parent; ref != kNullRef && chain.size() < kMaxDepth;) {
    const uint8_t* r = app.Resolve(ref);
    if (!r) break;
    chain.push_back(r);
    ref = DirRecord::Parent(r);
  }
  return chain;
}

size_t qvBuildFolderPath(const qvIndex& app, RecordRef parent, qvChar* out, size_t capacity) {
  if (!out || capacity == 0) return 0;
  const std::vector<const uint8_t*>& chain = FolderChain(app, parent);
  size_t w = 0;
  bool fits = true;
  for (size_t k = chain.size(); k-- > 0 && fits;) {
    const uint8_t* r = chain[k];
    fits = AppendUnits(DirRecord::Name(r), DirRecord::NameLength(r), out, capacity, &w) &&
           AppendUnit(u'/', out, capacity, &w);
  }
  if (!fits) w = qvCharBoundary(out, w);
  out[w] = 0;
  return w;
}

void qvAppendFolderPath(const qvIndex& app, RecordRef parent, qvString* out) {
  const std::vector<const uint8_t*>& chain = FolderChain(app, parent);
  for (size_t k = chain.size(); k-- > 0;) {
    const uint8_t* name = DirRecord::Name(chain[k]);
    size_t length = DirRecord::NameLength(chain[k]);
    for (size_t i = 0; i < length;) {
      if (name[i] & 0x80) {
        if (i + 3 > length) break;
        out->push_back(static_cast<qvChar>(name[i + 1] | (name[i + 2] << 8)));
        i += 3;
      } else {
        out->push_back(name[i++]);
      }
    }
    out->push_back(u'/');
  }
}

size_t qvBuildDisplayName(const qvIndex& app, const uint8_t* record, bool isFolder, qvChar* out,
                          size_t capacity, qvChar* ext, size_t extCapacity) {
  if (ext && extCapacity) ext[0] = 0;
  if (!out || capacity == 0) return 0;
  size_t w = 0;
  bool fits;
  if (isFolder) {
    fits = AppendUnits(DirRecord::Name(record), DirRecord::NameLength(record), out, capacity, &w);
  } else {
    fits = AppendUnits(FileRecord::Name(record), FileRecord::NameLength(record), out, capacity, &w);
    if (fits && FileRecord::HasExtension(record)) {
      // The real extension where the file's is not lower-case.
      const qvString* real = app.extCase.Get(record);
      const qvChar* text = real ? real->c_str() : app.extTable.Text(FileRecord::ExtId(record));
      size_t n = qvStrLen(text);
      fits = AppendUnit(u'.', out, capacity, &w);
      for (size_t i = 0; i < n && fits; ++i) fits = AppendUnit(text[i], out, capacity, &w);
      if (ext && extCapacity) qvStrCopy(ext, extCapacity, text, qvCharBoundary(text, n < extCapacity ? n : extCapacity - 1));
    }
  }
  if (!fits) w = qvCharBoundary(out, w);
  out[w] = 0;
  return w;
}
