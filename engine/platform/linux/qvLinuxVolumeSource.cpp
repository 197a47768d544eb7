#include "qvLinuxVolumeSource.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "qvErrorBox.h"
#include "qvMountTable.h"
#include "qvNameCodec.h"

namespace {

// Root texts end in exactly one '/'.
std::string RootText(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path.empty() || path.back() != '/') path.push_back('/');
  return path;
}

std::string Absolute(std::string path) {
  if (!path.empty() && path[0] == '/') return path;
  std::string cwd;
  for (size_t size = 4096; size <= (1u << 20); size *= 2) {
    cwd.resize(size);
    if (getcwd(cwd.data(), size)) {
      cwd.resize(strlen(cwd.c_str()));
      return RootText(cwd) + path;
    }
    if (errno != ERANGE) break;
  }
  return path;  // left relative; opening it will say why
}

int OpenError(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  close(fd);
  return 0;
}

// The device number a mount lives on; file systems that report an
// anonymous number (btrfs) name their block device as the source.
bool BlockDevice(const qvMountEntry& m, dev_t* rdev) {
  if (m.major != 0) {
    *rdev = makedev(m.major, m.minor);
    return true;
  }
  struct stat st;
  if (m.source.rfind("/dev/", 0) == 0 && stat(m.source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
    *rdev = st.st_rdev;
    return true;
  }
  return false;
}

// The file system's UUID: the name of the link in /dev/disk/by-uuid that
// leads to its device. Empty when there is none.
std::string FindUuid(const std::string& byUuid, const qvMountEntry& m) {
  dev_t want;
  if (!BlockDevice(m, &want)) return {};
  DIR* dir = opendir(byUuid.c_str());
  if (!dir) return {};
  std::string uuid;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    struct stat st;
    if (fstatat(dirfd(dir), e->d_name, &st, 0) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == want) {
      uuid = e->d_name;
      break;
    }
  }
  closedir(dir);
  return uuid;
}

// What identifies a file system across runs: its UUID, or else its type
// and device number.
std::string FsIdentity(const std::string& byUuid, const qvMountEntry& m) {
  std::string uuid = FindUuid(byUuid, m);
  if (!uuid.empty()) return "uuid:" + uuid;
  return m.fsType + ":" + std::to_string(m.major) + ":" + std::to_string(m.minor);
}

}  // namespace

uint64_t qvMakeJournalId(std::string_view fsIdentity, std::string_view rootPath) {
  uint64_t h = 0xcbf29ce484222325ULL;
  auto mix = [&h](std::string_view s) {
    for (unsigned char c : s) {
      h ^= c;
      h *= 0x100000001b3ULL;
    }
  };
  mix(fsIdentity);
  mix(std::string_view("\0", 1));
  mix(rootPath);
  return h != 0 ? h : 1;
}

std::vector<VolumeInfo> qvLinuxVolumeSource::Discover() {
  roots_.clear();
  dropped_ = 0;
  std::string mountInfo;
  qvMountTable::ReadFile(options_.mountInfoPath, &mountInfo);

  // (root path, the mount it is on) per volume, in slot order.
  std::vector<std::pair<std::string, qvMountEntry>> picked;
  if (!userFolders_) {
    qvMountSelection sel = qvMountTable::Select(mountInfo, options_.sysfsRoot);
    dropped_ = sel.dropped;
    for (qvMountEntry& m : sel.volumes) {
      std::string root = RootText(m.mountPoint);
      picked.emplace_back(std::move(root), std::move(m));
    }
  } else {
    for (const qvString& folder : folders_) {
      std::string root = RootText(Absolute(qvNameCodec::EncodeToString(folder)));
      bool seen = std::any_of(picked.begin(), picked.end(),
                              [&](const auto& p) { return p.first == root; });
      if (seen) continue;
      if (picked.size() == qvMountTable::kMaxVolumes) {
        ++dropped_;
        continue;
      }
      qvMountEntry m;
      struct stat st;
      if (stat(root.c_str(), &st) == 0 &&
          !qvMountTable::FindDevice(mountInfo, major(st.st_dev), minor(st.st_dev), &m)) {
        m.major = major(st.st_dev);
        m.minor = minor(st.st_dev);
      }
      picked.emplace_back(std::move(root), std::move(m));
    }
  }

  // A chroot, or a container whose root is an overlay, has no local disk
  // of its own in the table: its root folder is indexed as one volume
  // (the walk never crosses into another file system), and that is said.
  if (!userFolders_ && picked.empty()) {
    qvMountEntry m;
    struct stat st;
    if (stat("/", &st) == 0 && !qvMountTable::FindDevice(mountInfo, major(st.st_dev), minor(st.st_dev), &m)) {
      m.major = major(st.st_dev);
      m.minor = minor(st.st_dev);
    }
    picked.emplace_back("/", std::move(m));
    ShowErrorBox("没有找到本地磁盘卷，改为索引根文件夹 /");
  }

  std::vector<VolumeInfo> volumes;
  for (auto& [root, mount] : picked) {
    VolumeInfo v;
    v.root = qvNameCodec::DecodeToString(root);
    v.errorCode = OpenError(root);
    v.opened = v.errorCode == 0;
    v.journalId = qvMakeJournalId(FsIdentity(options_.diskByUuid, mount), root);
    roots_.push_back(Root{root, v.opened});
    volumes.push_back(std::move(v));
  }
  return volumes;
}

bool qvLinuxVolumeSource::Enumerate(size_t index, const ScanSink& sink) {
  if (index >= roots_.size() || !roots_[index].opened) return false;
  qvDirWalker::Options wo;
  wo.threads = options_.threads;
  if (hook_) wo.onFolderOpened = [this, index](uint64_t ref, int fd) { hook_(index, ref, fd); };
  {
    std::lock_guard<std::mutex> lock(walkerMutex_);
    wo.exclusions = exclusions_;
  }
  qvDirWalker walker(wo);
  {
    std::lock_guard<std::mutex> lock(walkerMutex_);
    running_ = &walker;
  }
  struct Done {
    qvLinuxVolumeSource* self;
    qvDirWalker* walker;
    ~Done() {
      std::lock_guard<std::mutex> lock(self->walkerMutex_);
      self->running_ = nullptr;
      self->lastStats_ = walker->Stats();
    }
  } done{this, &walker};
  return walker.Walk(roots_[index].path, sink);
}

bool qvLinuxVolumeSource::SetExclusions(std::shared_ptr<const qvExclusions> rules) {
  std::lock_guard<std::mutex> lock(walkerMutex_);
  exclusions_ = std::move(rules);
  return true;
}

qvWalkStats qvLinuxVolumeSource::LastWalkStats() const {
  std::lock_guard<std::mutex> lock(walkerMutex_);
  return lastStats_;
}

void qvLinuxVolumeSource::Stop() {
  std::lock_guard<std::mutex> lock(walkerMutex_);
  if (running_) running_->Stop();
}
