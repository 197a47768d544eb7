#include "qvFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "qvNameCodec.h"
#include "qvShareLock.h"

const qvFile::Handle qvFile::hFileNull = -1;

namespace {

std::string PathBytes(const qvChar* path) {
  return qvNameCodec::EncodeToString(std::u16string_view(path, qvStrLen(path)));
}

uint64_t Position(off_t r) { return r < 0 ? qvFile::kBadPosition : static_cast<uint64_t>(r); }

int OpenFd(const std::string& path, int oflags) {
  int fd;
  do fd = open(path.c_str(), oflags, 0666);
  while (fd < 0 && errno == EINTR);
  return fd;
}

qvShareLock::Request ShareRequest(uint32_t flags, bool read, bool write) {
  qvShareLock::Request r;
  r.read = read;
  r.write = write;
  switch (flags & 0x70) {
    case qvFile::shareDenyWrite:
      r.denyWrite = true;
      break;
    case qvFile::shareDenyRead:
      r.denyRead = true;
      break;
    case qvFile::shareDenyNone:
      break;
    default:  // exclusive, and any other value of the field
      r.denyRead = r.denyWrite = true;
      break;
  }
  return r;
}

int RecordLock(int fd, short type, uint64_t position, uint64_t count) {
  if (fd < 0 || count == 0 || position > static_cast<uint64_t>(LLONG_MAX) ||
      count > static_cast<uint64_t>(LLONG_MAX) - position || qvShareLock::Overlaps(position, count))
    return 0;
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(position);
  lock.l_len = static_cast<off_t>(count);
  return fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 1 : 0;
}

}  // namespace

qvFile::qvFile() : m_hFile(hFileNull), m_bCloseOnDelete(0) {}

qvFile::qvFile(Handle fd) : m_hFile(fd), m_bCloseOnDelete(0) {}

qvFile::qvFile(const qvChar* path, uint32_t flags) : qvFile() { Open(path, flags); }

qvFile::qvFile(const qvFile& other) : qvFile() { CopyFrom(other); }

qvFile& qvFile::operator=(const qvFile& other) {
  if (this != &other) {
    if (m_hFile != hFileNull && m_bCloseOnDelete) close(m_hFile);
    m_hFile = hFileNull;
    CopyFrom(other);
  }
  return *this;
}

void qvFile::CopyFrom(const qvFile& other) {
  m_bCloseOnDelete = other.m_bCloseOnDelete;
  m_strFileName = other.m_strFileName;
  m_hFile = other.m_hFile;
  if (other.m_hFile == hFileNull || !other.m_bCloseOnDelete) return;
  int fdFlags = fcntl(other.m_hFile, F_GETFD);
  bool cloexec = fdFlags >= 0 && (fdFlags & FD_CLOEXEC);
  m_hFile = fcntl(other.m_hFile, cloexec ? F_DUPFD_CLOEXEC : F_DUPFD, 0);
  if (m_hFile < 0) {
    m_hFile = hFileNull;
    m_bCloseOnDelete = 0;
  }
}

qvFile::qvFile(qvFile&& other) noexcept
    : m_hFile(other.m_hFile),
      m_bCloseOnDelete(other.m_bCloseOnDelete),
      m_strFileName(std::move(other.m_strFileName)) {
  other.m_hFile = hFileNull;
  other.m_bCloseOnDelete = 0;
}

qvFile& qvFile::operator=(qvFile&& other) noexcept {
  if (this != &other) {
    if (m_hFile != hFileNull && m_bCloseOnDelete) close(m_hFile);
    m_hFile = other.m_hFile;
    m_bCloseOnDelete = other.m_bCloseOnDelete;
    m_strFileName = std::move(other.m_strFileName);
    other.m_hFile = hFileNull;
    other.m_bCloseOnDelete = 0;
  }
  return *this;
}

qvFile::~qvFile() {
  if (m_hFile != hFileNull && m_bCloseOnDelete) close(m_hFile);
}

uint64_t qvFile::GetPosition() const { return Position(lseek(m_hFile, 0, SEEK_CUR)); }

int qvFile::Open(const qvChar* path, uint32_t flags) {
  if (m_hFile != hFileNull && m_bCloseOnDelete) close(m_hFile);
  m_hFile = hFileNull;
  m_bCloseOnDelete = 0;
  m_strFileName.clear();
  if (!path || !*path) return 0;
  const std::string bytes = PathBytes(path);

  const uint32_t access = flags & 3;
  const bool read = access == modeRead || access == modeReadWrite;
  const bool write = access == modeWrite || access == modeReadWrite;
  const bool create = flags & modeCreate;
  // Truncation waits until the share check has passed: an open that is
  // refused must not have emptied the file.
  const bool truncate = create && !(flags & modeNoTruncate);

  int oflags = (flags & modeNoInherit) ? O_CLOEXEC : 0;
  if (flags & osWriteThrough) oflags |= O_SYNC;
  if (access == modeNoAccess) {
    if (create) {
      int made = OpenFd(bytes, O_WRONLY | O_CREAT | O_CLOEXEC);
      if (made < 0) return 0;
      close(made);
    }
    oflags |= O_PATH;
  } else {
    oflags |= read && write ? O_RDWR : (write ? O_WRONLY : O_RDONLY);
    if (create) oflags |= O_CREAT;
  }

  int fd = -1;
  if ((flags & osNoBuffer) && access != modeNoAccess) {
    fd = OpenFd(bytes, oflags | O_DIRECT);
    if (fd < 0 && errno != EINVAL) return 0;  // EINVAL: the file system has no direct I/O
  }
  if (fd < 0) fd = OpenFd(bytes, oflags);
  if (fd < 0) return 0;

  if (!qvShareLock::Acquire(fd, ShareRequest(flags, read, write))) {
    close(fd);
    errno = EBUSY;
    return 0;
  }
  if (truncate && ftruncate(fd, 0) != 0) {
    close(fd);
    return 0;
  }
  if (flags & osRandomAccess) posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  if (flags & osSequentialScan) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  m_hFile = fd;
  m_bCloseOnDelete = 1;
  return 1;
}

std::unique_ptr<qvFile> qvFile::Duplicate() const {
  if (m_hFile == hFileNull) return nullptr;
  int fd = fcntl(m_hFile, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  auto copy = std::make_unique<qvFile>(fd);
  // The duplicate is a descriptor we made, so the copy owns it whether or
  // not this object owns its own; otherwise nobody would close it.
  copy->m_bCloseOnDelete = 1;
  return copy;
}

uint64_t qvFile::Seek(int64_t offset, uint32_t origin) {
  int whence = origin == begin     ? SEEK_SET
               : origin == current ? SEEK_CUR
               : origin == end     ? SEEK_END
                                   : -1;
  if (whence < 0) return kBadPosition;
  return Position(lseek(m_hFile, offset, whence));
}

int qvFile::SetLength(uint64_t length) {
  if (length > static_cast<uint64_t>(LLONG_MAX)) return 0;
  auto len = static_cast<off_t>(length);
  if (lseek(m_hFile, len, SEEK_SET) != len) return 0;
  return ftruncate(m_hFile, len) == 0 ? 1 : 0;
}

uint64_t qvFile::GetLength() const {
  struct stat st;
  if (fstat(m_hFile, &st) != 0) return kBadPosition;
  if (S_ISREG(st.st_mode)) return static_cast<uint64_t>(st.st_size);
  // A device: its size is where its end is; the position is put back.
  off_t here = lseek(m_hFile, 0, SEEK_CUR);
  off_t size = lseek(m_hFile, 0, SEEK_END);
  if (here >= 0) lseek(m_hFile, here, SEEK_SET);
  return Position(size);
}

uint32_t qvFile::Read(void* buffer, uint32_t count) {
  if (count == 0 || !buffer) return 0;
  auto* p = static_cast<char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = read(m_hFile, p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<uint32_t>(n);
  }
  return done;
}

int qvFile::Write(const void* buffer, uint32_t count) {
  if (count == 0) return 1;
  if (!buffer) return 0;
  const auto* p = static_cast<const char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = write(m_hFile, p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    done += static_cast<uint32_t>(n);
  }
  return 1;
}

int qvFile::LockRange(uint64_t position, uint64_t count) {
  int mode = fcntl(m_hFile, F_GETFL);
  if (mode < 0) return 0;
  short type = (mode & O_ACCMODE) == O_RDONLY ? F_RDLCK : F_WRLCK;
  return RecordLock(m_hFile, type, position, count);
}

int qvFile::UnlockRange(uint64_t position, uint64_t count) {
  return RecordLock(m_hFile, F_UNLCK, position, count);
}

void qvFile::Abort() {
  if (m_hFile != hFileNull) close(m_hFile);
  m_hFile = hFileNull;
  m_strFileName.clear();
}

int qvFile::Flush() {
  if (m_hFile == hFileNull) return 1;
  return fsync(m_hFile) == 0 ? 1 : 0;
}

int qvFile::Close() {
  int ok = 1;
  // A failed close has still released the descriptor: never retry it.
  if (m_hFile != hFileNull && close(m_hFile) != 0 && errno != EINTR) ok = 0;
  m_hFile = hFileNull;
  m_bCloseOnDelete = 0;
  m_strFileName.clear();
  return ok;
}

uint32_t qvFile::GetBufferPtr(uint32_t, uint32_t, void** bufferStart, void** bufferMax) {
  if (bufferStart) *bufferStart = nullptr;
  if (bufferMax) *bufferMax = nullptr;
  return 0;
}

int qvFile::Rename(const qvChar* oldPath, const qvChar* newPath) {
  if (!oldPath || !*oldPath || !newPath || !*newPath) return 0;
  const std::string from = PathBytes(oldPath), to = PathBytes(newPath);
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 1;
  if (errno != EINVAL && errno != ENOSYS) return 0;
  // No RENAME_NOREPLACE on this file system: check, then rename.
  struct stat st;
  if (lstat(to.c_str(), &st) == 0) return 0;
  return rename(from.c_str(), to.c_str()) == 0 ? 1 : 0;
}

int qvFile::Remove(const qvChar* path) {
  if (!path || !*path) return 0;
  return unlink(PathBytes(path).c_str()) == 0 ? 1 : 0;
}
