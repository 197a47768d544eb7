// File access shared by the two database files: their paths in the data
// folder and reading a whole file into one heap buffer (a large one is
// mapped instead).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "qvHeap.h"

class qvIndex;

namespace qvDbIo {

// "<data folder><name>" as a file-system path.
std::string DataFilePath(const qvIndex& app, const char* name);

// How a mapped file's pages come in: all of them before the read returns,
// or each as it is first read, to be given back once read (a reader that
// passes through a large file once need not hold all of it at once).
enum class Pages { kAtOnce, kAsRead };

// A heap block, or a read-only mapping of a file, that frees itself.
class HeapBuffer {
 public:
  explicit HeapBuffer(qvHeap& heap) : heap_(heap) {}
  ~HeapBuffer() { Release(); }
  HeapBuffer(const HeapBuffer&) = delete;
  HeapBuffer& operator=(const HeapBuffer&) = delete;

  // Data() is not null after a successful call, even for size 0.
  bool Allocate(size_t size);
  // Maps `size` bytes of the open file read-only. A mapped buffer must not
  // be written.
  bool Map(int fd, size_t size, Pages pages = Pages::kAtOnce);
  uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }
  bool Mapped() const { return mapped_; }

  // For a mapping: reads the pages of [from, to) in now, in one call
  // rather than a fault each.
  void ReadAhead(size_t from, size_t to) const;
  // For a mapping: gives back the pages wholly before `at`. They still
  // hold the file's bytes: reading one again reads it from the file.
  void GiveBackBefore(size_t at);
  // For a mapping: gives back the pages wholly inside [from, to), for a
  // second reader of the buffer; it may run on another thread than the
  // one that calls GiveBackBefore.
  void GiveBack(size_t from, size_t to) const;

 private:
  void Release();

  qvHeap& heap_;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t allocated_ = 0;
  bool pages_ = false;   // whole huge pages rather than a heap block
  bool mapped_ = false;  // a file mapping
  size_t givenBack_ = 0;
};

enum class ReadResult {
  kOk,
  kOpenFailed,    // `error` says why; ENOENT when there is no such file
  kStatFailed,
  kNotRegular,    // a folder, FIFO, device or socket: never read
  kTooSmall,      // below the minimum size
  kTooLarge,      // above the maximum size
  kSizeMismatch,  // not the size the caller expected
  kAllocFailed,   // already reported by the heap
  kReadFailed,    // an error, or fewer bytes than the size
};

// What a file must be before a byte of it is read.
struct SizeRule {
  uint64_t minSize = 0;
  uint64_t maxSize = UINT32_MAX;
  uint64_t expected = kAnySize;  // the exact size, when it is known
  static constexpr uint64_t kAnySize = UINT64_MAX;
};

// Reads the file at `path` into `out` with one buffer of its size, or
// maps it when it is large: the page cache's pages are then the buffer's,
// neither copied nor zeroed first, brought in as `pages` says. The saves
// replace files by renaming new ones over them, so a mapped file keeps its
// bytes while it is read. The open never blocks (a FIFO in place of the
// file), and nothing but a regular file within the rule is read. `error`
// receives the system error code of a failure, or the closest one where
// the system reported none (EISDIR, EINVAL, ENODATA, EFBIG).
ReadResult ReadWholeFile(const std::string& path, const SizeRule& rule, HeapBuffer& out, int& error,
                         Pages pages = Pages::kAtOnce);

// Holds flock() on "<data folder>db.lock": exclusive while a save
// replaces the files, shared while a load reads them, so that two
// processes sharing a data folder neither interleave their saves nor read
// a set half replaced. Taking it blocks until the other side is done.
class FolderLock {
 public:
  enum Mode { kShared, kExclusive };
  FolderLock(const qvIndex& app, Mode mode);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  // False when the lock file could not be opened or locked; `Error()` says
  // why. A reader goes on without it (a folder it may not write to).
  bool Held() const { return fd_ >= 0; }
  int Error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace qvDbIo
