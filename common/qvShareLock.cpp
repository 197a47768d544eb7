#include "qvShareLock.h"

#include <fcntl.h>

#include <cerrno>
#include <climits>

namespace qvShareLock {

namespace {

enum Range { kHasRead, kHasWrite, kDenyRead, kDenyWrite, kRangeCount };

// Each range has room for many write-only openers (see Announce).
constexpr off_t kRangeLength = 1 << 16;
constexpr off_t kFirst = LLONG_MAX - kRangeCount * kRangeLength + 1;

off_t Start(Range r) { return kFirst + r * kRangeLength; }

enum class Result { kOk, kConflict, kUnsupported };

Result FromErrno() {
  return (errno == EAGAIN || errno == EACCES) ? Result::kConflict : Result::kUnsupported;
}

// Holds one byte of the range. A readable descriptor holds byte 0 with a
// shared lock, which any number of opens can do. A write-only descriptor
// cannot take shared locks, so it holds a byte of its own with an exclusive
// lock, searching from byte 1 for one nobody holds.
Result Announce(int fd, Range r, bool readable) {
  struct flock lock = {};
  lock.l_whence = SEEK_SET;
  lock.l_len = 1;
  if (readable) {
    lock.l_type = F_RDLCK;
    lock.l_start = Start(r);
    return fcntl(fd, F_OFD_SETLK, &lock) == 0 ? Result::kOk : FromErrno();
  }
  lock.l_type = F_WRLCK;
  for (off_t i = 1; i < kRangeLength; ++i) {
    lock.l_start = Start(r) + i;
    if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return Result::kOk;
    if (FromErrno() != Result::kConflict) return Result::kUnsupported;
  }
  return Result::kConflict;
}

// True when another open file description holds any lock in the range.
bool HeldByOthers(int fd, Range r) {
  struct flock probe = {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = Start(r);
  probe.l_len = kRangeLength;
  if (fcntl(fd, F_OFD_GETLK, &probe) != 0) return false;
  return probe.l_type != F_UNLCK;
}

}  // namespace

bool Acquire(int fd, const Request& request) {
  const struct {
    bool wanted;
    Range mine;
    Range against;  // another open holding this range conflicts with ours
  } steps[] = {
      {request.read, kHasRead, kDenyRead},
      {request.write, kHasWrite, kDenyWrite},
      {request.denyRead, kDenyRead, kHasRead},
      {request.denyWrite, kDenyWrite, kHasWrite},
  };
  // Announce first, check afterwards: of two opens racing each other at
  // least one sees the other, so they cannot both get in.
  for (const auto& s : steps) {
    if (!s.wanted) continue;
    Result r = Announce(fd, s.mine, request.read);
    if (r == Result::kUnsupported) return true;
    if (r == Result::kConflict) return false;
  }
  for (const auto& s : steps)
    if (s.wanted && HeldByOthers(fd, s.against)) return false;
  return true;
}

bool Overlaps(uint64_t offset, uint64_t length) {
  if (length == 0) return false;
  uint64_t last = offset + length - 1;
  if (last < offset) return true;  // wraps around
  return last >= static_cast<uint64_t>(kFirst);
}

}  // namespace qvShareLock
