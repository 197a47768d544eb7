// Helpers for the database tests: an index built straight from entry
// streams (no engine object), a picture of the tables to compare, a
// byte writer for databases made by hand, a temporary data folder and a
// capture of error texts.
#pragma once

#include <ftw.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "qvDatabase.h"
#include "qvDatabaseSeal.h"
#include "qvErrorBox.h"
#include "qvFileBaseApp.h"
#include "qvNameCodec.h"
#include "qvStreamScan.h"
#include "qvStreamVolumeSource.h"

// Reasons print as their numbers in test failures.
inline void PrintTo(qvStatus::Code code, std::ostream* os) { *os << "reason " << static_cast<int>(code); }

namespace dbtest {

using Entry = qvStreamVolumeSource::Entry;

struct VolumeSpec {
  int slot;
  std::string root;  // ending in '/'
  uint64_t journalId;
  int64_t firstUsn;
  int64_t nextUsn;
  std::vector<Entry> entries;
};

// What volume discovery would have found, without the entries.
inline void Discover(qvFileBaseApp& app, const std::vector<VolumeSpec>& volumes) {
  app.volumes.Clear();
  for (const VolumeSpec& v : volumes) {
    app.volumes.indexed[v.slot] = true;
    app.volumes.journalId[v.slot] = v.journalId;
    app.volumes.firstUsn[v.slot] = v.firstUsn;
    app.volumes.nextUsn[v.slot] = v.nextUsn;
    app.volumes.root[v.slot] = qvNameCodec::DecodeToString(v.root);
  }
}

// 2,000 folders of 40 files each: well over a megabyte saved.
inline std::vector<VolumeSpec> LargeVolume() {
  using E = qvStreamVolumeSource;
  std::vector<Entry> entries;
  uint64_t ref = 16;
  for (int d = 0; d < 2000; ++d) {
    uint64_t folder = ref++;
    std::string name = "folder " + std::to_string(d * 7919 % 2000);
    uint64_t parent = d % 10 == 0 ? 5 : folder - 41;  // the root, or the folder made before
    entries.push_back(E::Folder(folder, parent, std::u16string(name.begin(), name.end())));
    for (int f = 0; f < 40; ++f) {
      std::string file = "report " + std::to_string((d * 40 + f) * 104729ull % 80000) + (f % 3 ? ".txt" : ".PDF");
      entries.push_back(E::File(ref++, folder, std::u16string(file.begin(), file.end())));
    }
  }
  return {{0, "/", 0x100, 0, 111, entries}};
}

// A fresh index owner with its extension table reset, as the engine makes.
inline std::unique_ptr<qvFileBaseApp> NewApp(const std::string& dataFolder = "") {
  auto app = std::make_unique<qvFileBaseApp>();
  app->extTable.Reset();
  if (!dataFolder.empty()) app->dataFolder = qvNameCodec::DecodeToString(dataFolder + "/");
  return app;
}

// Discovery and a full scan of the volumes.
inline void Scan(qvFileBaseApp& app, const std::vector<VolumeSpec>& volumes) {
  Discover(app, volumes);
  qvStreamScan scan(app, nullptr);
  for (const VolumeSpec& v : volumes) {
    if (!scan.BeginVolume(static_cast<uint32_t>(v.slot), qvNameCodec::DecodeToString(v.root)))
      throw std::runtime_error("BeginVolume failed");
    std::vector<ScanEntry> batch;
    for (const Entry& e : v.entries)
      batch.push_back({e.fileRef, e.parentRef, e.attributes, e.name.data(), static_cast<uint32_t>(e.name.size())});
    scan.AddEntries(batch.data(), batch.size());
    scan.EndVolume();
  }
  if (!scan.Finish()) throw std::runtime_error("scan failed");
}

// The tables as plain values: list orders, keys, names, parents (by key),
// file flags and extension texts.
struct Picture {
  struct Folder {
    DirKey key;
    int64_t parentKey;  // -1 for a volume root
    std::string name;
    bool nonAscii;
    bool operator==(const Folder&) const = default;
  };
  struct File {
    uint32_t flags;
    DirKey parentKey;
    std::string name;
    std::u16string ext;  // empty text for "no extension" is told apart by flags
    int32_t icon;        // -2 when the record has no icon slot
    bool operator==(const File&) const = default;
  };
  std::vector<Folder> folders;
  std::vector<File> files;
  std::vector<DirKey> mapKeys;
  bool operator==(const Picture&) const = default;
};

inline Picture Take(const qvFileBaseApp& app) {
  Picture pic;
  for (size_t i = 0; i < app.folderList.Count(); ++i) {
    const uint8_t* r = app.folderList.At(i);
    RecordRef parent = DirRecord::Parent(r);
    pic.folders.push_back({DirRecord::Key(r), parent == kNullRef ? int64_t{-1} : int64_t{DirRecord::Key(app.Resolve(parent))},
                           std::string(reinterpret_cast<const char*>(DirRecord::Name(r)), DirRecord::NameLength(r)),
                           DirRecord::IsNonAscii(r)});
  }
  for (size_t i = 0; i < app.fileList.Count(); ++i) {
    uint8_t* r = app.fileList.At(i);
    uint32_t flags = FileRecord::Flags(r);
    std::u16string ext;
    if (FileRecord::HasExtension(r)) {
      const qvChar* text = app.extTable.Text(FileRecord::ExtId(r));
      if (!text) throw std::runtime_error("extension id without a text");
      ext = text;
    }
    pic.files.push_back({flags, DirRecord::Key(app.Resolve(FileRecord::Parent(r))),
                         std::string(reinterpret_cast<const char*>(FileRecord::Name(r)), FileRecord::NameLength(r)),
                         ext, (flags & FileRecord::kIconSlot) ? FileRecord::IconSlot(r) : -2});
  }
  for (size_t p = 0; p < app.dirMap.PageCount(); ++p) {
    const DirMapPage* page = app.dirMap.Page(p);
    for (uint32_t e = page->first; e < page->end; ++e) {
      const DirMapEntry& entry = page->entries[e];
      if (entry.record == kNullRef) continue;
      // The map must name the record that carries the key.
      if (DirRecord::Key(app.Resolve(entry.record)) != entry.key) throw std::runtime_error("map entry mismatch");
      pic.mapKeys.push_back(entry.key);
    }
  }
  return pic;
}

inline bool TablesEmpty(const qvFileBaseApp& app) {
  return app.folderList.Count() == 0 && app.fileList.Count() == 0 && app.dirMap.Count() == 0 &&
         app.recordPool.BlockCount() == 1 && app.recordPool.UsedInCurrentBlock() == 0 &&
         app.extTable.Count() == 4 && app.extTable.BuiltinsStatic();
}

// What a successful load must leave, checked without trusting it: every
// ref resolves, parent chains end at a root, the map ascends and names
// its records, names decode fully, extension ids have texts (once the
// dictionary is in). Returns "" or what is wrong.
inline std::string CheckLoaded(const qvFileBaseApp& app, bool withExtensions) {
  auto wellFormed = [](const uint8_t* name, size_t length) {
    for (size_t i = 0; i < length; i += (name[i] & 0x80) ? 3 : 1)
      if ((name[i] & 0x80) && length - i < 3) return false;
    return true;
  };
  const size_t folders = app.folderList.Count();
  auto reachesRoot = [&](RecordRef ref) {
    for (size_t steps = 0; steps <= folders; ++steps) {
      if (ref == kNullRef) return true;
      const uint8_t* r = app.Resolve(ref);
      if (!r) return false;
      ref = DirRecord::Parent(r);
    }
    return false;
  };
  for (size_t p = 0; p < app.folderList.PageCount(); ++p) {
    const RecordPage* page = app.folderList.Page(p);
    for (uint32_t s = page->first; s < page->end; ++s) {
      const uint8_t* r = page->slots[s];
      if (!wellFormed(DirRecord::Name(r), DirRecord::NameLength(r))) return "folder name";
      if (!reachesRoot(DirRecord::Parent(r))) return "folder parents";
    }
  }
  for (size_t p = 0; p < app.fileList.PageCount(); ++p) {
    const RecordPage* page = app.fileList.Page(p);
    for (uint32_t s = page->first; s < page->end; ++s) {
      const uint8_t* r = page->slots[s];
      if (!wellFormed(FileRecord::Name(r), FileRecord::NameLength(r))) return "file name";
      RecordRef parent = FileRecord::Parent(r);
      if (parent == kNullRef || !reachesRoot(parent)) return "file parents";
      if (withExtensions && FileRecord::HasExtension(r) && !app.extTable.Text(FileRecord::ExtId(r)))
        return "extension id";
    }
  }
  size_t mapped = 0;
  bool first = true;
  DirKey last = 0;
  for (size_t p = 0; p < app.dirMap.PageCount(); ++p) {
    const DirMapPage* page = app.dirMap.Page(p);
    for (uint32_t e = page->first; e < page->end; ++e) {
      const DirMapEntry& entry = page->entries[e];
      if (!first && entry.key <= last) return "map order";
      first = false;
      last = entry.key;
      const uint8_t* r = app.Resolve(entry.record);
      if (!r || DirRecord::Key(r) != entry.key) return "map entry";
      ++mapped;
    }
  }
  return mapped == folders ? "" : "map count";
}

// Little-endian bytes, written field by field.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& U8(uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  Bytes& U16(uint32_t v) { return U8(v).U8(v >> 8); }
  Bytes& U24(uint32_t v) { return U16(v).U8(v >> 16); }
  Bytes& U32(uint32_t v) { return U16(v).U16(v >> 16); }
  Bytes& U64(uint64_t v) { return U32(static_cast<uint32_t>(v)).U32(static_cast<uint32_t>(v >> 32)); }
  Bytes& Str(const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& Units(const std::u16string& s) {
    for (char16_t c : s) U16(c);
    return U16(0);
  }
  size_t Size() const { return b.size(); }
  void Put32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
};

// A "ntfsqs.db" written from the format's tables. Every field is given
// as it is stored (prefix lengths, positions, flags); only the header's
// sizes, offsets and counts are summed up from the sections.
struct HandDb {
  struct Volume {
    int slot;
    uint64_t journalId;
    int64_t nextUsn;
  };
  struct Folder {
    uint32_t key;
    uint32_t parentPos;
    uint32_t p;
    std::string suffix;
    uint32_t top = 0;  // bit 20: non-ASCII; bits 21-23 are reserved
  };
  struct File {
    uint32_t flags;
    uint32_t parentPos;
    uint32_t p;
    std::string suffix;
    uint32_t width;  // 0, 1, 2 or 4
    uint32_t extId;
  };
  std::vector<Volume> volumes;
  std::vector<uint32_t> keySection;
  std::vector<Folder> folders;
  std::vector<File> files;

  std::vector<uint8_t> Build() const {
    Bytes h;
    h.U32(0).U32(0).U32(0).U32(0).U32(0xD0DBC7E0).U32(0xC7E0D0DB).U32(0x01000001);
    h.U32(static_cast<uint32_t>(folders.size())).U32(static_cast<uint32_t>(files.size()));
    h.U16(2024).U16(5).U16(17).U16(9);
    for (int slot = 0; slot < 26; ++slot) {
      const Volume* v = nullptr;
      for (const Volume& x : volumes)
        if (x.slot == slot) v = &x;
      h.U8(v ? 1 : 0);
      if (v) h.U64(v->journalId).U64(static_cast<uint64_t>(v->nextUsn));
    }
    h.Put32(4, static_cast<uint32_t>(h.Size()));
    for (uint32_t pos : keySection) h.U32(pos);
    h.Put32(8, static_cast<uint32_t>(h.Size()));
    for (const Folder& f : folders)
      h.U32(f.key).U32(f.parentPos).U24(f.p | static_cast<uint32_t>(f.suffix.size()) << 10 | f.top).Str(f.suffix);
    h.Put32(12, static_cast<uint32_t>(h.Size()));
    for (const File& f : files) {
      h.U32(f.flags).U32(f.parentPos).U24(f.p | static_cast<uint32_t>(f.suffix.size()) << 10 | f.width << 20);
      h.Str(f.suffix);
      for (uint32_t i = 0; i < f.width; ++i) h.U8(f.extId >> (8 * i));
    }
    h.Put32(0, static_cast<uint32_t>(h.Size()));
    return h.b;
  }
};

struct HandExt {
  uint32_t id;
  int32_t icon;
  std::u16string text;
};

// An "ext.db": the count, then the records as given.
inline std::vector<uint8_t> BuildExt(const std::vector<HandExt>& entries) {
  Bytes b;
  b.U32(static_cast<uint32_t>(entries.size()));
  for (const HandExt& e : entries) b.U32(e.id).U32(static_cast<uint32_t>(e.icon)).Units(e.text);
  return b.b;
}

// The built-in extensions as the saver writes them.
inline std::vector<HandExt> BuiltinExts() {
  return {{0, -3, u"cur"}, {1, -3, u"exe"}, {2, -3, u"ico"}, {3, -3, u"lnk"}};
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = "/tmp/qvdb-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    nftw(
        path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Path(const std::string& rel = "") const { return rel.empty() ? path_ : path_ + "/" + rel; }

 private:
  std::string path_;
};

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The current set of saved files in the app's data folder.
inline qvSavedSet CurrentSet(const qvFileBaseApp& app) { return qvSavedSet::Open(app, qvSavedSet::kCurrent); }

// Writes "seal.db" for the files in `dir` as they are now, for tests that
// make or change a file by hand and mean its contents to be judged.
inline void Reseal(const std::string& dir) {
  qvDbSeal::Seal seal;
  seal.generation = 1;
  const char* names[] = {"ntfsqs.db", "ext.db", "extcase.db"};
  for (int f = 0; f < qvDbSeal::kFileCount; ++f) {
    std::vector<uint8_t> bytes = ReadFile(dir + "/" + names[f]);
    seal.files[f] = qvDbSeal::SumOf(bytes.data(), bytes.size());
  }
  std::vector<uint8_t> out(qvDbSeal::kSize);
  qvDbSeal::Build(seal, out.data());
  WriteFile(dir + "/seal.db", out);
}

// Collects the error texts shown while it lives.
class ErrorCapture {
 public:
  ErrorCapture() { SetErrorBoxReporter(&ErrorCapture::Take, this); }
  ~ErrorCapture() { SetErrorBoxReporter(nullptr, nullptr); }
  ErrorCapture(const ErrorCapture&) = delete;
  ErrorCapture& operator=(const ErrorCapture&) = delete;
  std::vector<std::string> texts;

 private:
  static void Take(void* self, const char* text) { static_cast<ErrorCapture*>(self)->texts.push_back(text); }
};

}  // namespace dbtest
