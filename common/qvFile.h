// A file object over a POSIX file descriptor.
#pragma once

#include <cstdint>
#include <memory>

#include "qvTypes.h"

class qvFile {
 public:
  using Handle = int;
  static const Handle hFileNull;  // no descriptor: -1

  // Bits of the flags argument of Open.
  enum OpenFlags : uint32_t {
    modeRead = 0x0,
    modeWrite = 0x1,
    modeReadWrite = 0x2,
    modeNoAccess = 0x3,  // neither: the file is only opened for its size and locks
    shareExclusive = 0x10,
    shareDenyWrite = 0x20,
    shareDenyRead = 0x30,
    shareDenyNone = 0x40,
    modeNoInherit = 0x80,      // close-on-exec
    modeCreate = 0x1000,       // create; truncate an existing file...
    modeNoTruncate = 0x2000,   // ...unless this is given too
    osNoBuffer = 0x10000,      // O_DIRECT where the file system allows it; buffers must be aligned
    osWriteThrough = 0x20000,  // O_SYNC
    osRandomAccess = 0x40000,
    osSequentialScan = 0x80000,
  };
  enum SeekOrigin : uint32_t { begin = 0, current = 1, end = 2 };

  // Returned by Seek, GetPosition and GetLength when the system call fails.
  static constexpr uint64_t kBadPosition = UINT64_MAX;

  qvFile();
  // Attaches a descriptor the caller keeps owning: it is not closed on delete.
  explicit qvFile(Handle fd);
  qvFile(const qvChar* path, uint32_t flags);

  // A copy of an object that owns its descriptor owns a duplicate of it
  // (dup: same open file, same position, same share locks), so each object
  // closes only its own descriptor. A copy of an attached object attaches the
  // same descriptor. When the duplicate cannot be made the copy holds none.
  qvFile(const qvFile& other);
  qvFile& operator=(const qvFile& other);
  // Moving transfers the descriptor.
  qvFile(qvFile&& other) noexcept;
  qvFile& operator=(qvFile&& other) noexcept;

  virtual uint64_t GetPosition() const;
  // 1 when the file was opened. A descriptor this object owns is closed
  // first; an attached one is left to its owner.
  virtual int Open(const qvChar* path, uint32_t flags);
  // A new object holding a close-on-exec duplicate of the descriptor, which
  // it owns; null when nothing is open or the duplicate cannot be made.
  virtual std::unique_ptr<qvFile> Duplicate() const;
  virtual uint64_t Seek(int64_t offset, uint32_t origin);
  // Moves to `length` and cuts or extends the file there; 1 on success.
  virtual int SetLength(uint64_t length);
  virtual uint64_t GetLength() const;
  // Reads up to count bytes; fewer only at the end of the file or on error.
  virtual uint32_t Read(void* buffer, uint32_t count);
  // 1 when all count bytes were written.
  virtual int Write(const void* buffer, uint32_t count);
  // Record locks on [position, position + count), never waiting: 1 when
  // taken (released). Exclusive on a writable descriptor, shared on a
  // read-only one. Empty ranges and the top 256 KiB of the offset space
  // (kept for the share modes) are refused.
  virtual int LockRange(uint64_t position, uint64_t count);
  virtual int UnlockRange(uint64_t position, uint64_t count);
  // Closes the descriptor whoever owns it, keeping the close-on-delete flag;
  // never fails.
  virtual void Abort();
  // Writes the file's data to the device; 1 on success.
  virtual int Flush();
  // Closes the descriptor whoever owns it; 1 unless close reported an error.
  virtual int Close();
  virtual ~qvFile();
  // No buffer access is offered: 0, with both out pointers set to null.
  virtual uint32_t GetBufferPtr(uint32_t command, uint32_t count, void** bufferStart,
                                void** bufferMax);

  // Moves a file; fails when the new path exists or lies on another file
  // system. 1 on success.
  static int Rename(const qvChar* oldPath, const qvChar* newPath);
  // Deletes a file; 1 on success.
  static int Remove(const qvChar* path);

  Handle m_hFile;
  int32_t m_bCloseOnDelete;
  qvString m_strFileName;  // kept empty, as the object never learns a name

 private:
  void CopyFrom(const qvFile& other);
};
