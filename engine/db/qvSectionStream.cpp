#include "qvSectionStream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

bool qvFileByteSource::ReadAt(uint64_t at, uint8_t* out, size_t n) const {
  if (at > size_ || n > size_ - at) return false;
  while (n > 0) {
    ssize_t got = ::pread(fd_, out, n, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // an error, or the file shrank
    out += got;
    at += static_cast<uint64_t>(got);
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool qvImageByteSource::ReadAt(uint64_t at, uint8_t* out, size_t n) const {
  if (at > size_ || n > size_ - at) return false;
  if (n) std::memcpy(out, data_ + at, n);
  return true;
}

qvSectionStream::qvSectionStream(const qvByteSource& source, uint64_t begin, uint64_t end, size_t keep,
                                 size_t chunk)
    : source_(source),
      position_(begin),
      end_(std::max(begin, end)),
      readTo_(begin),
      keep_(keep),
      chunk_(std::max(chunk, 2 * keep)),
      buffer_(new uint8_t[kSlack + chunk_ + kSlack]),
      cursor_(Start()),
      bufferEnd_(Start()) {
  // Only the slack is cleared: the reads write the rest, and zeroing a
  // fresh buffer would touch every page of it twice.
  std::memset(buffer_.get(), 0, kSlack);
  std::memset(Start() + chunk_, 0, kSlack);
}

bool qvSectionStream::Refill() {
  // The bytes not yet passed move to the front, and the rest of the
  // buffer is read after them.
  const size_t held = static_cast<size_t>(bufferEnd_ - cursor_);
  std::memmove(Start(), cursor_, held);
  const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk_ - held, end_ - readTo_));
  if (!source_.ReadAt(readTo_, Start() + held, want)) return false;
  readTo_ += want;
  cursor_ = Start();
  bufferEnd_ = Start() + held + want;
  return true;
}
