// Share modes ("deny read", "deny write") between opens of one file, made
// from advisory open-file-description locks. Every open announces the
// access it has and the access it denies by holding a lock in one of four
// reserved byte ranges at the very top of the offset space; an open fails
// when another open denies what it wants, or already has what it denies.
//
// The locks belong to the open file description, so duplicates of the
// descriptor share them and they go away when the last duplicate is closed.
// Only opens that use these locks are held back: they are advisory.
#pragma once

#include <cstdint>

namespace qvShareLock {

struct Request {
  bool read = false;   // this open reads
  bool write = false;  // this open writes
  bool denyRead = false;
  bool denyWrite = false;
};

// Takes the locks for `fd` (whose own access is `request.read`/`write`).
// False when the request conflicts with another open of the same file.
// A file system without locks is not an error: nothing is enforced there.
bool Acquire(int fd, const Request& request);

// True when [offset, offset + length) touches the reserved ranges; record
// locks there would disturb the share state.
bool Overlaps(uint64_t offset, uint64_t length);

}  // namespace qvShareLock
