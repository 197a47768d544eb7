// What the NTFS tests share: a temporary folder, commands run through the
// shell, the shared sample images decompressed once (sparse), and the
// entries of a volume turned into relative paths to compare.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "qvMftReader.h"
#include "qvNameCodec.h"
#include "qvNtfsVolume.h"

namespace ntfstest {

struct Entry {
  uint64_t ref;
  uint64_t parent;
  uint32_t attributes;
  std::u16string name;
};

inline std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  if (status) *status = rc;
  return out;
}

inline bool HaveTool(const char* name) {
  return Shell(std::string("command -v ") + name + " >/dev/null 2>&1 && echo yes") == "yes\n";
}

class TempDir {
 public:
  TempDir() {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/qvntfs.XXXXXX";
    path_ = mkdtemp(tmpl.data()) ? tmpl : "";
  }
  ~TempDir() {
    if (!path_.empty()) Shell("rm -rf '" + path_ + "'");
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The shared samples, each decompressed (sparse) into one temporary folder
// the first time a test asks for it.
class SharedImages {
 public:
  static SharedImages& Get() {
    static SharedImages images;
    return images;
  }
  std::string Dir() const { return QV_SHARED_DIR "testdata/ntfs/"; }
  // Whether the tools to unpack them are there and the samples unpack.
  bool Ok() { return !Charlie().empty() && !Windows10().empty(); }
  // The 64 GiB sparse Windows 10 disk (NTFS at byte 1048576).
  std::string Windows10() { return Unpacked("ntfs.raw", "tar -xSzf '" + Dir() + "ntfs-samples__ntfs.tgz' -C '%D'"); }
  std::string LastAccess() {
    return Unpacked("lastaccess.raw",
                    "gunzip -c '" + Dir() + "ntfs-samples__ntfs-lastaccess.raw.gz' | cp --sparse=always /dev/stdin '%F'");
  }
  std::string SiVsFn() {
    return Unpacked("sivsfn.raw",
                    "gunzip -c '" + Dir() + "ntfs-samples__ntfs-si-vs-fn.raw.gz' | cp --sparse=always /dev/stdin '%F'");
  }
  std::string Charlie() { return Unpacked("charlie.dd", "bunzip2 -c '" + Dir() + "go-ntfs__charlie.dd.bz2' > '%F'"); }
  std::string MftExtract() const { return Dir() + "ntfs-samples__ntfs.raw__MFT.bin"; }
  std::string JWindows10() const { return Dir() + "ntfs-samples__ntfs.raw__UsnJrnl_J.bin"; }
  std::string JPlaso() const { return Dir() + "plaso__UsnJrnl.raw"; }
  std::string JGoNtfs() const { return Dir() + "go-ntfs__tests_usn_sample.bin"; }

 private:
  // Runs `command` once (%D: the folder, %F: the file) and answers the
  // file's path, or "" when it could not be made.
  std::string Unpacked(const std::string& name, std::string command) {
    auto it = made_.find(name);
    if (it != made_.end()) return it->second;
    std::string file = tmp_.path() + "/" + name;
    for (size_t at; (at = command.find("%D")) != std::string::npos;) command.replace(at, 2, tmp_.path());
    for (size_t at; (at = command.find("%F")) != std::string::npos;) command.replace(at, 2, file);
    int rc = 0;
    Shell(command, &rc);
    struct stat st;
    if (rc != 0 || stat(file.c_str(), &st) != 0) file.clear();
    return made_[name] = file;
  }
  TempDir tmp_;
  std::map<std::string, std::string> made_;
};

inline std::vector<Entry> ReadEntries(const qvNtfsVolume& volume, MftReadStats* stats = nullptr) {
  std::vector<Entry> out;
  qvMftReader reader(volume);
  reader.Read([&](const ScanEntry* e, size_t n) {
    for (size_t i = 0; i < n; ++i)
      out.push_back({e[i].fileRef, e[i].parentRef, e[i].attributes, std::u16string(e[i].name, e[i].nameLength)});
  });
  if (stats) *stats = reader.Stats();
  return out;
}

// Paths relative to the root ("a/b/c"), folders marked with a final '/',
// for the entries whose every ancestor is a folder entry (as the index
// keeps them).
inline std::set<std::string> Paths(const std::vector<Entry>& entries, std::map<std::string, uint64_t>* refs = nullptr) {
  std::map<uint64_t, const Entry*> folders;
  for (const Entry& e : entries)
    if (e.attributes & QV_ATTR_DIRECTORY) folders[e.ref] = &e;
  std::set<std::string> out;
  for (const Entry& e : entries) {
    std::string path = qvNameCodec::EncodeToString(e.name);
    uint64_t parent = e.parent;
    bool reached = false;
    for (int depth = 0; depth < 4096; ++depth) {
      if (parent == 5) {
        reached = true;
        break;
      }
      auto it = folders.find(parent);
      if (it == folders.end()) break;
      path = qvNameCodec::EncodeToString(it->second->name) + "/" + path;
      parent = it->second->parent;
    }
    if (!reached) continue;
    if (e.attributes & QV_ATTR_DIRECTORY) path += "/";
    out.insert(path);
    if (refs) (*refs)[path] = e.ref;
  }
  return out;
}

// What Sleuth Kit lists below the root: user records only, no named
// streams, nothing under $Extend.
inline std::set<std::string> FlsPaths(const std::string& image, uint64_t offsetBytes) {
  std::string out = Shell("fls -r -p -u -o " + std::to_string(offsetBytes / 512) + " '" + image + "'");
  std::set<std::string> paths;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find('\n', pos);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(pos, end - pos);
    pos = end + 1;
    size_t tab = line.find('\t');
    if (tab == std::string::npos || line.size() < 4) continue;
    char type = line[2];
    if (type != 'd' && type != 'r' && type != 'l') continue;
    uint64_t record = std::strtoull(line.c_str() + 4, nullptr, 10);
    std::string path = line.substr(tab + 1);
    size_t slash = path.rfind('/');
    if (record < 16 || path.rfind("$Extend/", 0) == 0) continue;
    if (path.find(':', slash == std::string::npos ? 0 : slash) != std::string::npos) continue;  // a stream
    if (type == 'd') path += "/";
    paths.insert(path);
  }
  return paths;
}

// What a walk of a mounted folder finds, relative to it.
inline std::set<std::string> MountPaths(const std::string& mount) {
  std::string out = Shell("cd '" + mount + "' && find . -mindepth 1 \\( -type d -printf '%P/\\0' \\) -o -printf '%P\\0'");
  std::set<std::string> paths;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find('\0', pos);
    if (end == std::string::npos) break;
    paths.insert(out.substr(pos, end - pos));
    pos = end + 1;
  }
  return paths;
}

}  // namespace ntfstest
