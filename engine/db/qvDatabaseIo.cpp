#include "qvDatabaseIo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "qvIndex.h"
#include "qvNameCodec.h"

namespace qvDbIo {

std::string DataFilePath(const qvIndex& app, const char* name) {
  return qvNameCodec::EncodeToString(app.dataFolder) + name;
}

void HeapBuffer::Release() {
  if (mapped_) ::munmap(data_, allocated_);
  else if (pages_) heap_.FreePages(data_, allocated_);
  else heap_.Free(data_, allocated_);
  data_ = nullptr;
  allocated_ = 0;
  mapped_ = false;
}

bool HeapBuffer::Map(int fd, size_t size, Pages pages) {
  Release();
  if (size == 0) return false;
  int flags = MAP_PRIVATE | (pages == Pages::kAtOnce ? MAP_POPULATE : 0);
  void* p = ::mmap(nullptr, size, PROT_READ, flags, fd, 0);
  if (p == MAP_FAILED) return false;
  data_ = static_cast<uint8_t*>(p);
  size_ = allocated_ = size;
  mapped_ = true;
  givenBack_ = 0;
  return true;
}

namespace {

size_t PageSize() {
  static const size_t size = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

}  // namespace

void HeapBuffer::ReadAhead(size_t from, size_t to) const {
  if (!mapped_) return;
  if (to > size_) to = size_;
  from -= from % PageSize();
  if (from >= to) return;
#ifdef MADV_POPULATE_READ
  if (::madvise(data_ + from, to - from, MADV_POPULATE_READ) == 0) return;
#endif
  // An older kernel: at least the file's pages are read ahead.
  ::madvise(data_ + from, to - from, MADV_WILLNEED);
}

void HeapBuffer::GiveBackBefore(size_t at) {
  if (!mapped_) return;
  if (at > size_) at = size_;
  at -= at % PageSize();
  if (at <= givenBack_) return;
  // The mapping is never written, so no page of it holds anything but the
  // file's bytes: dropping one loses nothing.
  ::madvise(data_ + givenBack_, at - givenBack_, MADV_DONTNEED);
  givenBack_ = at;
}

void HeapBuffer::GiveBack(size_t from, size_t to) const {
  if (!mapped_) return;
  if (to > size_) to = size_;
  from = (from + PageSize() - 1) / PageSize() * PageSize();
  to -= to % PageSize();
  if (from < to) ::madvise(data_ + from, to - from, MADV_DONTNEED);
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

ReadResult ReadWholeFile(const std::string& path, const SizeRule& rule, HeapBuffer& out, int& error, Pages pages) {
  error = 0;
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.Get() < 0) {
    error = errno;
    return ReadResult::kOpenFailed;
  }
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) {
    error = errno;
    return ReadResult::kStatFailed;
  }
  // Only regular files have a size that a read can be checked against;
  // anything else could block or never end.
  if (!S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return ReadResult::kNotRegular;
  }
  uint64_t size64 = static_cast<uint64_t>(st.st_size);
  if (size64 < rule.minSize) {
    error = ENODATA;
    return ReadResult::kTooSmall;
  }
  if (size64 > rule.maxSize || size64 > SIZE_MAX) {
    error = EFBIG;
    return ReadResult::kTooLarge;
  }
  if (rule.expected != SizeRule::kAnySize && size64 != rule.expected) {
    error = EBADMSG;
    return ReadResult::kSizeMismatch;
  }
  size_t size = static_cast<size_t>(size64);
  // Read into a fresh buffer, a large file costs a zeroed page and a copy
  // for every 4 KB; mapped, neither. A mapping that fails is not an
  // error: the file is read as a small one is.
  constexpr size_t kMapFrom = 1u << 20;
  if (size >= kMapFrom && out.Map(fd.Get(), size, pages)) return ReadResult::kOk;
  if (!out.Allocate(size)) {
    error = ENOMEM;
    return ReadResult::kAllocFailed;
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd.Get(), out.Data() + done, size - done);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      // A file that shrank while it was read reports no error of its own.
      error = n < 0 ? errno : ENODATA;
      return ReadResult::kReadFailed;
    }
    done += static_cast<size_t>(n);
  }
  return ReadResult::kOk;
}

FolderLock::FolderLock(const qvIndex& app, Mode mode) {
  std::string path = DataFilePath(app, "db.lock");
  // A reader does not create the file: its folder may be read-only.
  int flags = O_RDWR | O_NONBLOCK | O_CLOEXEC | (mode == kExclusive ? O_CREAT : 0);
  int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0 && mode == kShared) fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error_ = errno;
    return;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error_ = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return;
  }
  int r;
  do r = ::flock(fd, mode == kExclusive ? LOCK_EX : LOCK_SH);
  while (r != 0 && errno == EINTR);
  if (r != 0) {
    error_ = errno;
    ::close(fd);
    return;
  }
  fd_ = fd;
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace qvDbIo
