// A saved file read front to back a chunk at a time into one buffer that
// is used again and again. A reader that passes over a large file once
// reads it this way rather than mapping it: the first touch of every page
// a process maps costs far more than the copy a read makes from the page
// cache (on the machines measured, a mapped 29 MB index took 17 – 22 ms
// to touch, read in 256 KB chunks 3 ms), and the buffer stays in cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Where the bytes come from: a file, or an image in memory (tests, fuzzing).
class qvByteSource {
 public:
  virtual ~qvByteSource() = default;
  virtual uint64_t Size() const = 0;
  // [at, at + n) into `out`; false when the read fails or comes up short.
  virtual bool ReadAt(uint64_t at, uint8_t* out, size_t n) const = 0;
};

class qvFileByteSource : public qvByteSource {
 public:
  qvFileByteSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t at, uint8_t* out, size_t n) const override;

 private:
  int fd_;
  uint64_t size_;
};

class qvImageByteSource : public qvByteSource {
 public:
  qvImageByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t at, uint8_t* out, size_t n) const override;

 private:
  const uint8_t* data_;
  size_t size_;
};

// The bytes [begin, end) of a source, a window at a time: after Fill(),
// at least min(keep, Left()) bytes lie at Cursor(), kSlack readable bytes
// (of no meaning) follow the last one buffered, and at least kSlack
// readable bytes lie before the cursor.
class qvSectionStream {
 public:
  static constexpr size_t kDefaultChunk = 256 * 1024;
  static constexpr size_t kSlack = 64;

  // `keep` is the most a caller reads at once (a whole record); `chunk`,
  // at least twice `keep`, the size of each read.
  qvSectionStream(const qvByteSource& source, uint64_t begin, uint64_t end, size_t keep,
                  size_t chunk = kDefaultChunk);

  const uint8_t* Cursor() const { return cursor_; }
  // Bytes buffered at the cursor.
  size_t Buffered() const { return static_cast<size_t>(bufferEnd_ - cursor_); }
  // Bytes of the section from the cursor on, buffered or not.
  uint64_t Left() const { return end_ - position_; }
  void Advance(size_t n) {
    cursor_ += n;
    position_ += n;
  }
  // Reads on when fewer than `keep` bytes are buffered and more are left;
  // false when a read fails.
  bool Fill() {
    if (Buffered() >= keep_ || Buffered() == Left()) return true;
    return Refill();
  }

 private:
  bool Refill();
  uint8_t* Start() { return buffer_.get() + kSlack; }

  const qvByteSource& source_;
  uint64_t position_;  // the cursor's place in the source
  uint64_t end_;
  uint64_t readTo_;    // the source's bytes up to here are or were buffered
  size_t keep_;
  size_t chunk_;
  std::unique_ptr<uint8_t[]> buffer_;
  const uint8_t* cursor_;
  const uint8_t* bufferEnd_;
};
