#include "qvWriteMgr.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

std::atomic<size_t> gFlushBytes{CWriteMgr::kDefaultFlushBytes};

bool WriteAllAt(int fd, const uint8_t* p, size_t n, off_t at) {
  while (n > 0) {
    ssize_t w = ::pwrite(fd, p, n, at);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = ENOSPC;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
    at += w;
  }
  return true;
}

}  // namespace

void CWriteMgr::SetFlushBytes(size_t bytes) { gFlushBytes = bytes; }

CWriteMgr::CWriteMgr(qvHeap& heap) : heap_(heap) {
  if (qvGrowArray(heap_, chunks_, capacity_, 512)) AddChunk();
}

CWriteMgr::~CWriteMgr() {
  if (fd_ >= 0) ::close(fd_);
  if (!path_.empty() && !finished_) ::unlink(path_.c_str());
  for (size_t i = 0; i < allocated_; ++i) heap_.Free(chunks_[i], sizeof(Chunk));
  heap_.Free(chunks_, capacity_ * sizeof(Chunk*));
}

bool CWriteMgr::StreamTo(const std::string& path) {
  if (total_ != 0 || fd_ >= 0) {
    errno = EINVAL;
    return false;
  }
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  fd_ = fd;
  path_ = path;
  size_t bytes = gFlushBytes;
  flushChunks_ = bytes <= kChunkSize ? 1 : (bytes + kChunkSize - 1) / kChunkSize;
  return true;
}

bool CWriteMgr::AddChunk() {
  // Every chunk is full here: a streaming writer that holds enough writes
  // them all out and fills them again.
  if (fd_ >= 0 && count_ >= flushChunks_ && !FlushChunks(count_)) return false;
  if (count_ < allocated_) {
    chunks_[count_++]->freeBytes = kChunkSize;
    return true;
  }
  if (count_ == capacity_ && !qvGrowArray(heap_, chunks_, capacity_, capacity_ + capacity_ / 2 + 32)) return false;
  auto* chunk = static_cast<Chunk*>(heap_.Alloc(sizeof(Chunk)));
  if (!chunk) return false;
  chunk->freeBytes = kChunkSize;
  chunks_[count_++] = chunk;
  allocated_ = count_;
  return true;
}

bool CWriteMgr::Append(const void* bytes, size_t n) {
  if (writeError_) return false;
  const auto* src = static_cast<const uint8_t*>(bytes);
  while (n > 0) {
    if (count_ == 0 || chunks_[count_ - 1]->freeBytes == 0) {
      if (!AddChunk()) return false;
      continue;
    }
    Chunk* chunk = chunks_[count_ - 1];
    size_t used = kChunkSize - chunk->freeBytes;
    size_t take = n < chunk->freeBytes ? n : chunk->freeBytes;
    std::memcpy(chunk->data + used, src, take);
    chunk->freeBytes -= static_cast<uint32_t>(take);
    src += take;
    n -= take;
    total_ += take;
  }
  return true;
}

bool CWriteMgr::Patch(size_t offset, const void* bytes, size_t n) {
  if (offset + n > total_) return false;
  const auto* src = static_cast<const uint8_t*>(bytes);
  if (offset < written_) {
    size_t onDisk = n < written_ - offset ? n : written_ - offset;
    if (!WriteAllAt(fd_, src, onDisk, static_cast<off_t>(offset))) {
      writeError_ = errno;
      return false;
    }
    src += onDisk;
    offset += onDisk;
    n -= onDisk;
  }
  // Only full chunks are written out, so the held ones start at a chunk
  // boundary.
  for (size_t i = 0; i < n; ++i) {
    size_t at = offset + i - written_;
    chunks_[at / kChunkSize]->data[at % kChunkSize] = src[i];
  }
  return true;
}

bool CWriteMgr::FlushChunks(size_t n) {
  if (!WriteChunks(fd_, 0, n)) {
    writeError_ = errno;
    return false;
  }
  for (size_t i = 0; i < n; ++i) written_ += kChunkSize - chunks_[i]->freeBytes;
  // The written chunks go behind the held ones, to be filled again.
  for (size_t i = n; i < count_; ++i) std::swap(chunks_[i - n], chunks_[i]);
  count_ -= n;
  return true;
}

// writev of up to IOV_MAX chunks a call, resumed where a short write ended.
bool CWriteMgr::WriteChunks(int fd, size_t first, size_t end) const {
  iovec iov[IOV_MAX];
  size_t next = first;
  int pending = 0, head = 0;
  while (next < end || head < pending) {
    if (head == pending) {
      head = pending = 0;
      for (; next < end && pending < IOV_MAX; ++next) {
        size_t used = kChunkSize - chunks_[next]->freeBytes;
        if (used) iov[pending++] = {chunks_[next]->data, used};
      }
      continue;
    }
    ssize_t w = ::writev(fd, iov + head, pending - head);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = ENOSPC;
      return false;
    }
    auto left = static_cast<size_t>(w);
    while (head < pending && left >= iov[head].iov_len) left -= iov[head++].iov_len;
    if (left) {
      iov[head].iov_base = static_cast<uint8_t*>(iov[head].iov_base) + left;
      iov[head].iov_len -= left;
    }
  }
  return true;
}

bool CWriteMgr::WriteSynced(const std::string& path) {
  if (fd_ >= 0 || !path_.empty()) {
    if (path != path_ || fd_ < 0) {
      errno = EINVAL;
      return false;
    }
    if (writeError_) {
      errno = writeError_;
      return false;
    }
    if (!FlushChunks(count_) || ::fsync(fd_) != 0) return false;
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return false;
    finished_ = true;
    return true;
  }
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteChunks(fd, 0, count_) && ::fsync(fd) == 0;
  int saved = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  errno = saved;
  return ok;
}

bool CWriteMgr::ForEachWrittenPiece(void (*fn)(void*, const uint8_t*, size_t), void* context) const {
  if (written_ == 0) return true;
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  constexpr size_t kPiece = size_t{1} << 20;
  const size_t size = written_ < kPiece ? written_ : kPiece;
  auto* buffer = static_cast<uint8_t*>(heap_.Alloc(size));
  if (!buffer) {
    errno = ENOMEM;
    return false;
  }
  bool ok = true;
  for (size_t at = 0; at < written_ && ok;) {
    size_t want = written_ - at < size ? written_ - at : size;
    ssize_t n = ::pread(fd_, buffer, want, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENODATA;
      ok = false;
      break;
    }
    fn(context, buffer, static_cast<size_t>(n));
    at += static_cast<size_t>(n);
  }
  int saved = errno;
  heap_.Free(buffer, size);
  errno = saved;
  return ok;
}
