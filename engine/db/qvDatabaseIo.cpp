#include "qvDatabaseIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "qvFileBaseApp.h"
#include "qvNameCodec.h"

namespace qvDbIo {

std::string DataFilePath(const qvFileBaseApp& app, const char* name) {
  return qvNameCodec::EncodeToString(app.dataFolder) + name;
}

void HeapBuffer::Release() {
  if (pages_) heap_.FreePages(data_, allocated_);
  else heap_.Free(data_, allocated_);
  data_ = nullptr;
  allocated_ = 0;
}

bool HeapBuffer::Allocate(size_t size) {
  Release();
  // A large file is read into huge pages: a few faults instead of one per
  // 4 KB, which a virtual machine makes costly.
  constexpr size_t kLarge = 1u << 20;
  pages_ = size >= kLarge;
  allocated_ = pages_ ? (size + qvHeap::kHugePage - 1) / qvHeap::kHugePage * qvHeap::kHugePage : size ? size : 1;
  data_ = static_cast<uint8_t*>(pages_ ? heap_.AllocPages(allocated_) : heap_.Alloc(allocated_));
  if (!data_) allocated_ = 0;
  size_ = data_ ? size : 0;
  return data_ != nullptr;
}

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

ReadResult ReadWholeFile(const std::string& path, size_t minSize, HeapBuffer& out, int& error) {
  error = 0;
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    error = errno;
    return ReadResult::kOpenFailed;
  }
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) {
    error = errno;
    return ReadResult::kSizeFailed;
  }
  // Only regular files have a size that a read can be checked against.
  if (!S_ISREG(st.st_mode)) {
    error = EINVAL;
    return ReadResult::kSizeFailed;
  }
  if (static_cast<uint64_t>(st.st_size) < minSize) return ReadResult::kSizeFailed;
  if (static_cast<uint64_t>(st.st_size) > UINT32_MAX) return ReadResult::kTooLarge;
  size_t size = static_cast<size_t>(st.st_size);
  if (!out.Allocate(size)) return ReadResult::kAllocFailed;
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd.Get(), out.Data() + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : 0;
      return ReadResult::kReadFailed;
    }
    done += static_cast<size_t>(n);
  }
  return ReadResult::kOk;
}

}  // namespace qvDbIo
