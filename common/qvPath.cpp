#include "qvPath.h"

#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "qvNameCodec.h"

namespace {

std::u16string_view View(const qvChar* path) {
  return std::u16string_view(path ? path : u"", qvStrLen(path));
}

std::string Bytes(std::u16string_view path) { return qvNameCodec::EncodeToString(path); }

qvString WithSlash(qvString path) {
  if (path.empty() || path.back() != u'/') path += u'/';
  return path;
}

bool Exists(const std::string& bytes) {
  struct stat st;
  return stat(bytes.c_str(), &st) == 0;
}

bool IsDir(const std::string& bytes) {
  struct stat st;
  return stat(bytes.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

qvString qvPath::GetAppPath() {
  static qvString cached;
  static std::once_flag once;
  std::call_once(once, [] {
    char buf[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    std::string path = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("./");
    size_t slash = path.rfind('/');
    path.resize(slash == std::string::npos ? 0 : slash + 1);
    if (path.empty()) path = "./";
    cached = qvNameCodec::DecodeToString(path);
  });
  return cached;
}

qvString qvPath::GetCurDir() {
  std::vector<char> buf(PATH_MAX + 1);
  while (!getcwd(buf.data(), buf.size())) {
    if (errno != ERANGE) return qvString();
    buf.resize(buf.size() * 2);
  }
  return WithSlash(qvNameCodec::DecodeToString(buf.data()));
}

qvString qvPath::GetTempPathW() {
  const char* dir = std::getenv("TMPDIR");
  return WithSlash(qvNameCodec::DecodeToString(dir && *dir ? dir : "/tmp"));
}

qvString qvPath::GetTempFileNameW(const qvChar* name) {
  return GetRandomFileName(GetTempPathW().c_str(), name);
}

qvString qvPath::GetRandomFileName(const qvChar* folder, const qvChar* name) {
  qvString base = IsDirectoryExist(folder) ? qvString(View(folder)) : GetCurDir();
  const qvString stem = GetFileNameWithoutExtension(name);
  const qvString extension = GetExtension(name);
  base += stem;
  for (int n = 2; n <= 9999; ++n) {
    qvString candidate = base;
    for (char c : std::to_string(n)) candidate += static_cast<qvChar>(c);
    if (!extension.empty()) candidate += u'.' + extension;
    // lstat: a dangling symbolic link also takes the name, and creating a
    // file through one would land somewhere else.
    struct stat st;
    if (lstat(Bytes(candidate).c_str(), &st) != 0 && errno == ENOENT) return candidate;
  }
  return qvString();
}

int qvPath::IsFileExist(const qvChar* path) {
  return path && *path && Exists(Bytes(View(path))) ? 1 : 0;
}

int qvPath::IsDirectory(const qvChar* path) {
  return path && *path && IsDir(Bytes(View(path))) ? 1 : 0;
}

int qvPath::IsDirectoryExist(const qvChar* path) { return IsDirectory(path); }

int qvPath::CreateDirectoryW(const qvChar* path, unsigned mode) {
  if (!path || !*path) return 0;
  const std::string bytes = Bytes(View(path));
  std::string deepest;
  for (size_t i = 1; i < bytes.size(); ++i) {
    if (bytes[i] != '/' || bytes[i - 1] == '/') continue;
    deepest = bytes.substr(0, i);
    // Failures (the folder exists, say) are judged once, at the end.
    mkdir(deepest.c_str(), static_cast<mode_t>(mode));
  }
  return deepest.empty() || IsDir(deepest) ? 1 : 0;
}

qvString qvPath::GetPathRoot(const qvChar* path) {
  std::u16string_view p = View(path);
  size_t slash = p.find(u'/');
  return qvString(slash == p.npos ? p : p.substr(0, slash + 1));
}

qvString qvPath::GetDirectoryName(const qvChar* path) {
  std::u16string_view p = View(path);
  size_t slash = p.rfind(u'/');
  return qvString(slash == p.npos ? p : p.substr(0, slash + 1));
}

qvString qvPath::GetFileName(const qvChar* path) {
  std::u16string_view p = View(path);
  size_t slash = p.rfind(u'/');
  return qvString(slash == p.npos ? p : p.substr(slash + 1));
}

qvString qvPath::GetFileNameWithoutExtension(const qvChar* path) {
  qvString name = GetFileName(path);
  size_t dot = name.rfind(u'.');
  if (dot != qvString::npos) name.resize(dot);
  return name;
}

qvString qvPath::GetExtension(const qvChar* path) {
  std::u16string_view p = View(path);
  size_t dot = p.rfind(u'.');
  return dot == p.npos ? qvString() : qvString(p.substr(dot + 1));
}

qvString qvPath::RowPath(std::u16string_view folderPath, std::u16string_view name, bool isFolder) {
  qvString path(folderPath);
  path += name;
  if (isFolder && path.empty()) path = u"/";
  return path;
}

qvString qvPath::GetFullPath(const qvChar* path) {
  std::u16string_view p = View(path);
  if (p.empty()) throw std::invalid_argument("GetFullPath: empty path");
  if (p.front() == u'/') return qvString(p);
  return GetAppPath() + qvString(p);
}

uint32_t qvPath::GetExistPic(const qvChar* pattern) {
  if (!pattern || !*pattern) return 0;
  glob_t found = {};
  uint32_t size = 0;
  if (glob(Bytes(View(pattern)).c_str(), 0, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i) {
      struct stat st;
      if (stat(found.gl_pathv[i], &st) == 0 && !S_ISDIR(st.st_mode)) {
        size = static_cast<uint32_t>(static_cast<uint64_t>(st.st_size));
        break;
      }
    }
  }
  globfree(&found);
  return size;
}
