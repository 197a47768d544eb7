// Loading "ntfsqs.db" at start-up.
//
// The file is trusted for nothing: every length is checked against the
// buffer, every position must name the start of a folder record, parent
// chains must end at a volume root, names must be well-formed packed
// bytes, and each record's flags must agree with its stored widths. Any
// failure empties the tables and the caller scans instead.
#include <cstring>
#include <vector>

#include "IQvSearch.h"
#include "qvDatabase.h"
#include "qvDatabaseChains.h"
#include "qvDatabaseFormat.h"
#include "qvDatabaseIo.h"
#include "qvDatabaseStartIndex.h"
#include "qvErrorBox.h"
#include "qvFileBaseApp.h"
#include "qvPackedName.h"

namespace qvDatabase {

namespace {

using namespace qvDbFormat;

struct StoredVolume {
  bool held;
  uint64_t journalId;
  int64_t nextUsn;
};

struct Header {
  uint32_t headerSize;
  uint32_t folderOffset;
  uint32_t fileOffset;
  uint32_t folderCount;
  uint32_t fileCount;
  StoredVolume volumes[QV_VOLUME_SLOTS];
  bool held[QV_VOLUME_SLOTS];
};

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

bool ReadVolumeTable(const uint8_t* data, Header& h) {
  size_t at = kVolumeTableAt;
  for (int slot = 0; slot < QV_VOLUME_SLOTS; ++slot) {
    if (at >= h.headerSize || data[at] > 1) return false;
    StoredVolume& v = h.volumes[slot];
    v = {data[at++] == 1, 0, 0};
    h.held[slot] = v.held;
    if (!v.held) continue;
    if (h.headerSize - at < 16) return false;
    v.journalId = Load64(data + at);
    v.nextUsn = static_cast<int64_t>(Load64(data + at + 8));
    at += 16;
  }
  // The header holds the volume table and nothing else.
  return at == h.headerSize;
}

// The design's checks in its order, then those that keep every later read
// inside the buffer: the sections follow each other inside the file.
bool ReadHeader(const uint8_t* data, size_t size, Header& h) {
  if (size < kMinHeaderSize) return false;
  h.headerSize = LoadU32(data + kHeaderSizeAt);
  h.folderOffset = LoadU32(data + kFolderOffsetAt);
  h.fileOffset = LoadU32(data + kFileOffsetAt);
  h.folderCount = LoadU32(data + kFolderCountAt);
  h.fileCount = LoadU32(data + kFileCountAt);
  if (h.folderCount == 0 || LoadU32(data + kTotalSizeAt) != size || h.headerSize < kMinHeaderSize) return false;
  if (h.folderOffset < h.headerSize || h.folderOffset - h.headerSize != 4ull * h.folderCount) return false;
  if (LoadU32(data + kMagic1At) != kMagic1 || LoadU32(data + kMagic2At) != kMagic2 ||
      LoadU32(data + kVersionAt) != kVersion)
    return false;
  if (h.headerSize > kMaxHeaderSize || h.fileOffset < h.folderOffset || h.fileOffset > size) return false;
  return ReadVolumeTable(data, h);
}

// Current when every slot holds the same volume as at the save and its
// journal still reaches back to where the saved index ends.
bool IsCurrent(const Header& h, const VolumeState& now) {
  for (int slot = 0; slot < QV_VOLUME_SLOTS; ++slot) {
    const StoredVolume& v = h.volumes[slot];
    if (!v.held) {
      if (now.journalId[slot] != 0) return false;
      continue;
    }
    // A stored entry for a slot without a volume is stale even when its
    // journal id is 0.
    if (now.journalId[slot] == 0 || v.journalId != now.journalId[slot] || v.nextUsn < now.firstUsn[slot])
      return false;
  }
  return true;
}

// Packed bytes as the encoder writes them: a wide unit is the marker and
// two bytes of a unit of 128 or more, never cut by the end; the non-ASCII
// flag is set exactly when one is present.
bool NameMatches(const uint8_t* name, size_t length, bool nonAscii) {
  if (!nonAscii) {
    uint8_t any = 0;
    for (size_t i = 0; i < length; ++i) any |= name[i];
    return any < 0x80;
  }
  bool wide = false;
  for (size_t i = 0; i < length;) {
    if (name[i] < 0x80) {
      ++i;
      continue;
    }
    if (name[i] != QV_WIDE_MARKER || length - i < 3 || (name[i + 1] | (name[i + 2] << 8)) < 0x80) return false;
    wide = true;
    i += 3;
  }
  return wide;
}

class IndexLoader {
 public:
  IndexLoader(qvFileBaseApp& app, const uint8_t* data, size_t size, const Header& h)
      : app_(app), data_(data), size_(size), h_(h) {}

  bool Run() { return LoadFolders() && LinkFolders() && LoadFiles(); }

 private:
  // Folder records, in section order, into the fresh record pool: each
  // lands where the saver's simulation put it. Parents still hold their
  // stored positions.
  bool LoadFolders() {
    size_t at = h_.folderOffset;
    const size_t end = h_.fileOffset;
    PoolSimulator simulated;
    const uint8_t* prev = nullptr;
    uint32_t prevLength = 0;
    for (uint32_t i = 0; i < h_.folderCount; ++i) {
      if (end - at < kRecordFixedSize) return false;
      const uint8_t* in = data_ + at;
      DirKey key = LoadU32(in);
      uint32_t word = Load24(in + 8);
      uint32_t p = WordPrefix(word), s = WordSuffix(word), length = p + s;
      if ((word & kFolderReservedMask) || p > prevLength || length > kLengthFieldMax ||
          end - at - kRecordFixedSize < s || !KeySlotHeld(key, h_.held))
        return false;
      uint32_t size = static_cast<uint32_t>(DirRecord::kHeaderSize) + length;
      uint32_t pos = simulated.Next(size);
      RecordRef ref;
      uint8_t* r = pos == kNoFolder ? nullptr : app_.recordPool.Alloc(size, &ref);
      if (!r || ref != PosToRef(pos)) return false;
      uint8_t* name = r + DirRecord::kHeaderSize;
      if (p) std::memcpy(name, prev, p);
      std::memcpy(name + p, in + kRecordFixedSize, s);
      bool nonAscii = word & kFolderNonAscii;
      if (!NameMatches(name, length, nonAscii)) return false;
      StoreU32(r, key);
      StoreU32(r + 4, LoadU32(in + 4));
      StoreU16(r + 8, static_cast<uint16_t>(length | (nonAscii ? DirRecord::kNonAscii : 0)));
      if (!app_.folderList.Append(r)) return false;
      starts_.Add(pos);
      prev = name;
      prevLength = length;
      at += kRecordFixedSize + s;
    }
    return at == end;
  }

  // The key section names every folder once, in strictly ascending key
  // order: it fills the map and turns stored parent positions into refs.
  bool LinkFolders() {
    using namespace qvParentChains;
    const uint32_t n = h_.folderCount;
    std::vector<uint8_t> seen(n, 0);
    std::vector<uint8_t> state(n, kUnknown);
    std::vector<uint32_t> parent(n, kNoParent);
    const uint8_t* keys = data_ + h_.headerSize;
    DirKey prevKey = 0;
    for (uint32_t k = 0; k < n; ++k) {
      uint32_t pos = LoadU32(keys + 4 * k);
      uint32_t i = starts_.IndexOf(pos);
      if (i == qvFolderStartIndex::kNone || seen[i]) return false;
      seen[i] = 1;
      uint8_t* r = app_.recordPool.Resolve(PosToRef(pos));
      DirKey key = DirRecord::Key(r);
      if (k > 0 && key <= prevKey) return false;
      prevKey = key;
      uint32_t parentPos = DirRecord::Parent(r);
      if (parentPos == kNoFolder) {
        if (key != RootKey(DirKeySlot(key))) return false;
        DirRecord::SetParent(r, kNullRef);
        state[i] = kGood;
      } else {
        uint32_t pi = starts_.IndexOf(parentPos);
        if (pi == qvFolderStartIndex::kNone) return false;
        // A folder and its parent belong to the same volume.
        if (DirKeySlot(DirRecord::Key(app_.recordPool.Resolve(PosToRef(parentPos)))) != DirKeySlot(key))
          return false;
        DirRecord::SetParent(r, PosToRef(parentPos));
        parent[i] = pi;
      }
      if (!app_.dirMap.Append(key, PosToRef(pos))) return false;
    }
    Resolve(state, parent);
    for (uint8_t s : state)
      if (s != kGood) return false;
    return true;
  }

  bool LoadFiles() {
    size_t at = h_.fileOffset;
    const size_t end = size_;
    const uint8_t* prev = nullptr;
    uint32_t prevLength = 0;
    for (uint32_t j = 0; j < h_.fileCount; ++j) {
      if (end - at < kRecordFixedSize) return false;
      const uint8_t* in = data_ + at;
      uint32_t flags = LoadU32(in);
      uint32_t parentPos = LoadU32(in + 4);
      uint32_t word = Load24(in + 8);
      uint32_t p = WordPrefix(word), s = WordSuffix(word), width = WordFileWidth(word), length = p + s;
      if (width != FileRecord::ExtWidthBytes(flags) || p > prevLength || length > kLengthFieldMax ||
          end - at - kRecordFixedSize < s + width || starts_.IndexOf(parentPos) == qvFolderStartIndex::kNone)
        return false;
      const uint8_t* ext = in + kRecordFixedSize + s;
      uint32_t extId = width == 1 ? ext[0] : width == 2 ? LoadU16(ext) : width == 4 ? LoadU32(ext) : 0;
      // The flags are those the scan would give this record: the smallest
      // id width, the icon slot for the built-in extensions, the long
      // length from 256 bytes up.
      bool icon = width && extId < 4;
      if ((width && FileRecord::ExtWidthCode(extId) != (flags & FileRecord::kExtWidthMask) >> FileRecord::kExtWidthShift) ||
          icon != ((flags & FileRecord::kIconSlot) != 0) ||
          (length >= FileRecord::kLongNameThreshold) != ((flags & FileRecord::kLongLength) != 0))
        return false;
      bool longLength = flags & FileRecord::kLongLength;
      size_t nameAt = longLength ? 10 : 9;
      uint8_t* r = app_.recordPool.Alloc(nameAt + length + width + (icon ? 4 : 0));
      if (!r) return false;
      uint8_t* name = r + nameAt;
      if (p) std::memcpy(name, prev, p);
      std::memcpy(name + p, in + kRecordFixedSize, s);
      if (!NameMatches(name, length, (flags & FileRecord::kNonAscii) != 0)) return false;
      StoreU32(r, flags);
      StoreU32(r + 4, PosToRef(parentPos));
      if (longLength) StoreU16(r + 8, static_cast<uint16_t>(length));
      else r[8] = static_cast<uint8_t>(length);
      std::memcpy(name + length, ext, width);
      if (icon) FileRecord::SetIconSlot(r, -1);
      if (!app_.fileList.Append(r)) return false;
      prev = name;
      prevLength = length;
      at += kRecordFixedSize + s + width;
    }
    return at == end;
  }

  qvFileBaseApp& app_;
  const uint8_t* data_;
  size_t size_;
  const Header& h_;
  qvFolderStartIndex starts_;
};

}  // namespace

bool LoadIndexImage(qvFileBaseApp& app, const uint8_t* data, size_t size) {
  // Positions are places in a fresh record pool; and whatever happens,
  // a false leaves empty tables.
  app.ClearIndex();
  Header h;
  if (!ReadHeader(data, size, h) || !IsCurrent(h, app.volumes)) return false;
  IndexLoader loader(app, data, size, h);
  if (!loader.Run()) {
    app.ClearIndex();
    return false;
  }
  for (int slot = 0; slot < QV_VOLUME_SLOTS; ++slot)
    app.volumes.nextUsn[slot] = h.volumes[slot].held ? h.volumes[slot].nextUsn : 0;
  return true;
}

bool LoadIndex(qvFileBaseApp& app, IQvSearchNotify* sink) {
  if (sink) sink->OnStatus(-1, "正在加载数据库...");
  app.ClearIndex();
  qvDbIo::HeapBuffer buffer(app.heap);
  int error = 0;
  switch (qvDbIo::ReadWholeFile(qvDbIo::DataFilePath(app, kIndexFileName), kMinHeaderSize, buffer, error)) {
    case qvDbIo::ReadResult::kOk:
      return LoadIndexImage(app, buffer.Data(), buffer.Size());
    case qvDbIo::ReadResult::kSizeFailed:
      ShowErrorBox("获取文件大小失败:%d", error);
      return false;
    case qvDbIo::ReadResult::kReadFailed:
      ShowErrorBox("读文件失败:%d", error);
      return false;
    case qvDbIo::ReadResult::kOpenFailed:  // the normal first start
    case qvDbIo::ReadResult::kTooLarge:    // cannot match its 32-bit size field
    case qvDbIo::ReadResult::kAllocFailed:  // reported by the heap
      return false;
  }
  return false;
}

}  // namespace qvDatabase
