#include "qvWriteMgr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CWriteMgr::CWriteMgr(qvHeap& heap) : heap_(heap) {
  if (qvGrowArray(heap_, chunks_, capacity_, 512)) AddChunk();
}

CWriteMgr::~CWriteMgr() {
  for (size_t i = 0; i < count_; ++i) heap_.Free(chunks_[i], sizeof(Chunk));
  heap_.Free(chunks_, capacity_ * sizeof(Chunk*));
}

bool CWriteMgr::AddChunk() {
  if (count_ == capacity_ && !qvGrowArray(heap_, chunks_, capacity_, capacity_ + 32)) return false;
  auto* chunk = static_cast<Chunk*>(heap_.Alloc(sizeof(Chunk)));
  if (!chunk) return false;
  chunk->freeBytes = kChunkSize;
  chunks_[count_++] = chunk;
  return true;
}

bool CWriteMgr::Append(const void* bytes, size_t n) {
  if (count_ == 0) return false;
  const auto* src = static_cast<const uint8_t*>(bytes);
  while (n > 0) {
    Chunk* chunk = chunks_[count_ - 1];
    if (chunk->freeBytes == 0) {
      if (!AddChunk()) return false;
      continue;
    }
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
  for (size_t i = 0; i < n; ++i) {
    size_t at = offset + i;
    chunks_[at / kChunkSize]->data[at % kChunkSize] = src[i];
  }
  return true;
}

bool CWriteMgr::WriteSynced(const std::string& path) const {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t i = 0; i < count_ && ok; ++i) {
    size_t used = kChunkSize - chunks_[i]->freeBytes;
    const uint8_t* p = chunks_[i]->data;
    while (used > 0) {
      ssize_t w = ::write(fd, p, used);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        if (w == 0) errno = ENOSPC;
        ok = false;
        break;
      }
      p += w;
      used -= static_cast<size_t>(w);
    }
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  int saved = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  errno = saved;
  return ok;
}
