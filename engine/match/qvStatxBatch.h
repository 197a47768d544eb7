// statx of many names with few system calls. A sort by size or time needs
// one statx per row, and where entering the kernel is dear (virtual
// machines that trap every system call) those entries, not the lookups,
// take most of the time. An io_uring ring takes hundreds of statx requests
// per call and the kernel's own workers do the lookups, in parallel.
//
// Where no ring can be had (an old kernel, io_uring switched off, a
// sandbox that forbids it) Ready() is false and the caller uses statx.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

// One name to look up: relative to `dir` (or AT_FDCWD), into `out`. `result`
// is 0 or a negative errno once read, kNotRead before.
struct qvStatxItem {
  static constexpr int kNotRead = 1;
  int dir;
  const char* name;
  struct statx* out;
  int result = kNotRead;
};

class qvStatxBatch {
 public:
  // `depth`: requests in flight at most.
  explicit qvStatxBatch(unsigned depth);
  ~qvStatxBatch();
  qvStatxBatch(const qvStatxBatch&) = delete;
  qvStatxBatch& operator=(const qvStatxBatch&) = delete;

  bool Ready() const { return ring_ >= 0; }

  // Reads every item with statx(dir, name, flags, mask). Items the ring
  // could not read keep kNotRead (the ring is then given up); the others
  // have their result. Returns only when the kernel holds no request
  // pointing into `items` any more.
  void Run(qvStatxItem* items, size_t count, unsigned mask, int flags);

 private:
  struct Ring;
  bool Enter(unsigned submit, unsigned waitFor);
  size_t Reap(qvStatxItem* items);

  int ring_ = -1;
  Ring* map_ = nullptr;
};
