#include "qvStatxBatch.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/io_uring.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

// The ring as the kernel lays it out in the three shared mappings.
struct qvStatxBatch::Ring {
  void* sqMap = MAP_FAILED;
  size_t sqMapSize = 0;
  void* cqMap = MAP_FAILED;
  size_t cqMapSize = 0;
  void* sqeMap = MAP_FAILED;
  size_t sqeMapSize = 0;

  unsigned* sqHead;
  unsigned* sqTail;
  unsigned sqMask;
  unsigned sqEntries;
  unsigned* sqArray;
  io_uring_sqe* sqes;
  unsigned* cqHead;
  unsigned* cqTail;
  unsigned cqMask;
  io_uring_cqe* cqes;

  ~Ring() {
    if (sqeMap != MAP_FAILED) munmap(sqeMap, sqeMapSize);
    if (cqMap != MAP_FAILED && cqMap != sqMap) munmap(cqMap, cqMapSize);
    if (sqMap != MAP_FAILED) munmap(sqMap, sqMapSize);
  }
};

namespace {

template <typename T>
T* At(void* base, uint32_t offset) {
  return reinterpret_cast<T*>(static_cast<char*>(base) + offset);
}

unsigned LoadAcquire(unsigned* p) { return std::atomic_ref<unsigned>(*p).load(std::memory_order_acquire); }
void StoreRelease(unsigned* p, unsigned v) { std::atomic_ref<unsigned>(*p).store(v, std::memory_order_release); }

}  // namespace

qvStatxBatch::qvStatxBatch(unsigned depth) {
  io_uring_params params;
  std::memset(&params, 0, sizeof params);
  int fd = static_cast<int>(syscall(SYS_io_uring_setup, std::max(depth, 1u), &params));
  if (fd < 0) return;
  auto* ring = new Ring;
  ring->sqMapSize = params.sq_off.array + params.sq_entries * sizeof(unsigned);
  ring->cqMapSize = params.cq_off.cqes + params.cq_entries * sizeof(io_uring_cqe);
  bool single = params.features & IORING_FEAT_SINGLE_MMAP;
  if (single) ring->sqMapSize = ring->cqMapSize = std::max(ring->sqMapSize, ring->cqMapSize);
  ring->sqMap = mmap(nullptr, ring->sqMapSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, IORING_OFF_SQ_RING);
  if (ring->sqMap != MAP_FAILED)
    ring->cqMap = single ? ring->sqMap
                         : mmap(nullptr, ring->cqMapSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd,
                                IORING_OFF_CQ_RING);
  ring->sqeMapSize = params.sq_entries * sizeof(io_uring_sqe);
  if (ring->cqMap != MAP_FAILED)
    ring->sqeMap = mmap(nullptr, ring->sqeMapSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd,
                        IORING_OFF_SQES);
  if (ring->sqeMap == MAP_FAILED) {
    delete ring;
    close(fd);
    return;
  }
  ring->sqHead = At<unsigned>(ring->sqMap, params.sq_off.head);
  ring->sqTail = At<unsigned>(ring->sqMap, params.sq_off.tail);
  ring->sqMask = *At<unsigned>(ring->sqMap, params.sq_off.ring_mask);
  ring->sqEntries = params.sq_entries;
  ring->sqArray = At<unsigned>(ring->sqMap, params.sq_off.array);
  ring->sqes = static_cast<io_uring_sqe*>(ring->sqeMap);
  ring->cqHead = At<unsigned>(ring->cqMap, params.cq_off.head);
  ring->cqTail = At<unsigned>(ring->cqMap, params.cq_off.tail);
  ring->cqMask = *At<unsigned>(ring->cqMap, params.cq_off.ring_mask);
  ring->cqes = At<io_uring_cqe>(ring->cqMap, params.cq_off.cqes);
  ring_ = fd;
  map_ = ring;
}

qvStatxBatch::~qvStatxBatch() {
  delete map_;
  if (ring_ >= 0) close(ring_);
}

bool qvStatxBatch::Enter(unsigned submit, unsigned waitFor) {
  for (;;) {
    long done = syscall(SYS_io_uring_enter, ring_, submit, waitFor, waitFor ? IORING_ENTER_GETEVENTS : 0, nullptr, 0);
    if (done >= 0) return true;
    // Busy: completions are waiting to be reaped; the caller reaps and
    // comes back.
    if (errno == EBUSY || errno == EAGAIN) return true;
    if (errno != EINTR) return false;
  }
}

size_t qvStatxBatch::Reap(qvStatxItem* items) {
  unsigned head = *map_->cqHead;
  unsigned tail = LoadAcquire(map_->cqTail);
  size_t reaped = 0;
  for (; head != tail; ++head, ++reaped) {
    const io_uring_cqe& cqe = map_->cqes[head & map_->cqMask];
    items[cqe.user_data].result = cqe.res;
  }
  StoreRelease(map_->cqHead, head);
  return reaped;
}

void qvStatxBatch::Run(qvStatxItem* items, size_t count, unsigned mask, int flags) {
  if (!Ready()) return;
  size_t queued = 0;  // placed in the ring
  size_t reaped = 0;
  bool failed = false;
  while (reaped < count && !failed) {
    unsigned tail = *map_->sqTail;
    while (queued < count && queued - reaped < map_->sqEntries) {
      unsigned slot = tail & map_->sqMask;
      io_uring_sqe* sqe = &map_->sqes[slot];
      std::memset(sqe, 0, sizeof *sqe);
      sqe->opcode = IORING_OP_STATX;
      sqe->fd = items[queued].dir;
      sqe->addr = reinterpret_cast<uint64_t>(items[queued].name);
      sqe->len = mask;
      sqe->off = reinterpret_cast<uint64_t>(items[queued].out);
      sqe->statx_flags = static_cast<uint32_t>(flags);
      sqe->user_data = queued;
      map_->sqArray[slot] = slot;
      ++tail;
      ++queued;
    }
    StoreRelease(map_->sqTail, tail);
    unsigned unsent = tail - LoadAcquire(map_->sqHead);
    failed = !Enter(unsent, 1);
    reaped += Reap(items);
  }
  if (!failed) return;
  // The kernel refused the ring midway: wait for what it took (it may
  // still write into `items`), then leave the rest to plain statx.
  size_t taken = queued - (*map_->sqTail - LoadAcquire(map_->sqHead));
  while (reaped < taken) {
    size_t got = Reap(items);
    reaped += got;
    if (!got) sched_yield();
  }
  delete map_;
  map_ = nullptr;
  close(ring_);
  ring_ = -1;
}
