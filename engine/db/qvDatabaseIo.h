// File access shared by the two database files: their paths in the data
// folder and reading a whole file into one heap buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "qvHeap.h"

class qvFileBaseApp;

namespace qvDbIo {

// "<data folder><name>" as a file-system path.
std::string DataFilePath(const qvFileBaseApp& app, const char* name);

// A heap block that frees itself.
class HeapBuffer {
 public:
  explicit HeapBuffer(qvHeap& heap) : heap_(heap) {}
  ~HeapBuffer() { Release(); }
  HeapBuffer(const HeapBuffer&) = delete;
  HeapBuffer& operator=(const HeapBuffer&) = delete;

  // Data() is not null after a successful call, even for size 0.
  bool Allocate(size_t size);
  uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  void Release();

  qvHeap& heap_;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t allocated_ = 0;
  bool pages_ = false;  // whole huge pages rather than a heap block
};

enum class ReadResult {
  kOk,
  kOpenFailed,
  kSizeFailed,   // the size could not be had, or is below the minimum
  kTooLarge,     // above what a 32-bit size field can describe
  kAllocFailed,  // already reported by the heap
  kReadFailed,   // an error or fewer bytes than the size
};

// Reads the file at `path` into `out` with one buffer of its size. `error`
// receives the system error code of a failure (0 when there is none, as
// for a file below `minSize` bytes).
ReadResult ReadWholeFile(const std::string& path, size_t minSize, HeapBuffer& out, int& error);

}  // namespace qvDbIo
