#include "CMiniUpFileParse.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "qvMd5.h"
#include "qvUpText.h"

namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDifference = 11644473600ull;

class FileHandle {
 public:
  explicit FileHandle(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~FileHandle() {
    if (fd_ >= 0) close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int fd() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

std::string LastComponent(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool CMiniUpFileParse::ReadLocalInfo() {
  if (m_strTargetPath.empty()) return false;
  bool opened = false;
  {
    FileHandle file(m_strTargetPath);
    struct stat st;
    if (file.ok() && fstat(file.fd(), &st) == 0) {
      m_Length = st.st_size;
      m_FileName = LastComponent(m_strTargetPath);
      opened = true;
    }
  }
  bool versionRead = opened && GetVersionInfo(m_strTargetPath) >= 0;
  bool timeRead = GetLastWriteTime(m_strTargetPath) >= 0;
  bool hashRead = GetFileHash(m_strTargetPath) >= 0;
  return versionRead || timeRead || hashRead;
}

int CMiniUpFileParse::GetVersionInfo(const std::string& path) {
  FileHandle file(path);
  struct stat st;
  if (!file.ok() || fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return -1;
  size_t size = static_cast<size_t>(st.st_size);
  void* image = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.fd(), 0);
  if (image == MAP_FAILED) return -1;
  VS_FIXEDFILEINFO info;
  bool found = FindFixedFileInfo(std::string_view(static_cast<const char*>(image), size), &info);
  munmap(image, size);
  if (!found) return -1;
  m_FixedFileInfo = info;
  m_FileVersion = FormatVersion(info.dwFileVersionMS, info.dwFileVersionLS);
  m_ProductVersion = FormatVersion(info.dwProductVersionMS, info.dwProductVersionLS);
  return 0;
}

int CMiniUpFileParse::GetLastWriteTime(const std::string& path) {
  FileHandle file(path);
  struct stat st;
  if (!file.ok() || fstat(file.fd(), &st) != 0) return -1;
  uint64_t ticks = (static_cast<uint64_t>(st.st_mtim.tv_sec) + kEpochDifference) * 10000000ull +
                   static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
  m_FileDate.dwLowDateTime = static_cast<uint32_t>(ticks);
  m_FileDate.dwHighDateTime = static_cast<uint32_t>(ticks >> 32);
  return 0;
}

int CMiniUpFileParse::GetFileHash(const std::string& path) {
  std::optional<std::string> hex = Md5HexOfFile(path);
  if (!hex) return -1;
  m_FileHash += *hex;
  return 0;
}

bool CMiniUpFileParse::NeedUpdate() {
  {
    FileHandle probe(m_strTargetPath);
    if (!probe.ok()) {
      m_bNeedUpdate = true;
      return true;
    }
  }
  auto local = std::make_unique<CMiniUpFileParse>(m_strTargetPath);
  if (!local->ReadLocalInfo()) return m_bNeedUpdate;
  m_bNeedUpdate = !qvUpText::EqualsNoCase(local->m_FileHash, m_FileHash) ||
                  !qvUpText::EqualsNoCase(local->m_FileVersion, m_FileVersion);
  return m_bNeedUpdate;
}
