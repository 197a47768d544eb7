// Helpers for the platform tests: temporary trees made through descriptors
// (so paths beyond PATH_MAX work) and the listing a walk produced.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "qvNameCodec.h"
#include "qvVolumeSource.h"

namespace qvtest {

// Removes `name` in folder `dirFd` with everything below it, whatever the
// depth and the permissions.
inline void RemoveAt(int dirFd, const char* name) {
  if (unlinkat(dirFd, name, 0) == 0 || errno != EISDIR) return;
  fchmodat(dirFd, name, 0700, 0);
  int fd = openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    DIR* d = fdopendir(fd);
    while (dirent* e = readdir(d)) {
      if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) RemoveAt(dirfd(d), e->d_name);
    }
    closedir(d);
  }
  unlinkat(dirFd, name, AT_REMOVEDIR);
}

// A temporary folder that records what is made in it: relative path
// (bytes) -> is a folder.
class TempTree {
 public:
  TempTree() {
    char tmpl[] = "/tmp/qv_walk_XXXXXX";
    path_ = mkdtemp(tmpl);
    fd_ = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  ~TempTree() {
    close(fd_);
    std::string parent = path_.substr(0, path_.rfind('/'));
    std::string leaf = path_.substr(path_.rfind('/') + 1);
    int p = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    RemoveAt(p, leaf.c_str());
    close(p);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& Path() const { return path_; }
  int Fd() const { return fd_; }
  std::map<std::string, bool>& Expected() { return expected_; }

  bool Dir(const std::string& rel) { return Made(rel, true, mkdirat(fd_, rel.c_str(), 0755)); }
  bool File(const std::string& rel) {
    int f = openat(fd_, rel.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (f >= 0) close(f);
    return Made(rel, false, f >= 0 ? 0 : -1);
  }
  bool Link(const std::string& rel, const std::string& target) {
    return Made(rel, false, symlinkat(target.c_str(), fd_, rel.c_str()));
  }

  // A chain of folders below `rel` whose path passes `bytes` bytes, made
  // level by level through descriptors; a file sits at the bottom.
  bool DeepChain(const std::string& rel, size_t bytes) {
    if (!Dir(rel)) return false;
    int cur = openat(fd_, rel.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string path = rel;
    std::string name(200, 'd');
    for (int level = 0; path.size() <= bytes; ++level) {
      name[0] = static_cast<char>('a' + level % 26);
      if (mkdirat(cur, name.c_str(), 0755) != 0) return close(cur), false;
      int next = openat(cur, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      close(cur);
      cur = next;
      path += "/" + name;
      expected_[path] = true;
    }
    int f = openat(cur, "bottom.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    close(f);
    close(cur);
    expected_[path + "/bottom.txt"] = false;
    return f >= 0;
  }

 private:
  bool Made(const std::string& rel, bool dir, int rc) {
    if (rc != 0) return false;
    expected_[rel] = dir;
    return true;
  }
  std::string path_;
  int fd_ = -1;
  std::map<std::string, bool> expected_;
};

// What a walk handed to its sink, with the checks every stream must pass.
struct Listing {
  struct Item {
    uint64_t parent;
    qvString name;
    bool dir;
  };
  std::map<uint64_t, Item> byRef;
  size_t duplicateRefs = 0;
  size_t lowRefs = 0;         // numbers below 16 (5 is the root's)
  size_t concurrentCalls = 0;
  size_t oversizedBatches = 0;
  size_t batchLimit = SIZE_MAX;
  int inSink = 0;

  void Add(const ScanEntry* e, size_t n) {
    if (__atomic_fetch_add(&inSink, 1, __ATOMIC_SEQ_CST) != 0) ++concurrentCalls;
    if (n > batchLimit) ++oversizedBatches;
    for (size_t i = 0; i < n; ++i) {
      if (e[i].fileRef < 16) ++lowRefs;
      Item item{e[i].parentRef, qvString(e[i].name, e[i].nameLength),
                (e[i].attributes & QV_ATTR_DIRECTORY) != 0};
      if (!byRef.emplace(e[i].fileRef, std::move(item)).second) ++duplicateRefs;
    }
    __atomic_fetch_sub(&inSink, 1, __ATOMIC_SEQ_CST);
  }

  // Relative paths rebuilt from the parent links, names encoded back to
  // bytes; an entry whose chain does not reach the root (5) maps to "?".
  std::map<std::string, bool> Paths() const {
    std::map<std::string, bool> out;
    for (const auto& [ref, item] : byRef) {
      std::string path = qvNameCodec::EncodeToString(item.name);
      uint64_t up = item.parent;
      size_t steps = 0;
      while (up != 5 && steps++ < byRef.size()) {
        auto it = byRef.find(up);
        if (it == byRef.end() || !it->second.dir) break;
        path = qvNameCodec::EncodeToString(it->second.name) + "/" + path;
        up = it->second.parent;
      }
      out[up == 5 ? path : "?" + path] = item.dir;
    }
    return out;
  }
};

// Open descriptors of this process, to see that a walk leaves none behind.
inline int OpenFdCount() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (d && readdir(d)) ++n;
  if (d) closedir(d);
  return n;
}

}  // namespace qvtest

namespace qvtest {

inline int ReadSmallFile(const char* path, std::string* text) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  char buf[256];
  ssize_t n = read(fd, buf, sizeof buf);
  close(fd);
  if (n < 0) return errno;
  text->assign(buf, static_cast<size_t>(n));
  return 0;
}

inline bool WriteSmallFile(const char* path, const std::string& text) {
  int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

}  // namespace qvtest
