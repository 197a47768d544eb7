#include "qvNtfsVolumeSource.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "qvIndex.h"
#include "qvJournal.h"
#include "qvMftReader.h"
#include "qvNameCodec.h"
#include "qvNtfsVolumeState.h"

namespace {

bool IsFileOrDevice(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

std::string WithoutFinalSlash(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// A journal id no saved index holds: the volume is read afresh at every
// start and its saved index never taken as current.
uint64_t UntrustedJournalId(const std::string& root) {
  uint64_t now = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  std::string text = root + "\n" + std::to_string(now) + ":" + std::to_string(getpid());
  uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a
  for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ULL;
  return h | 1;
}

}  // namespace

bool ParseNtfsRoot(const std::string& rootIn, std::string* path, int64_t* offset) {
  std::string root = WithoutFinalSlash(rootIn);
  if (IsFileOrDevice(root)) {
    *path = root;
    *offset = qvNtfsVolume::kFindPartition;
    return true;
  }
  size_t at = root.rfind('@');
  if (at == std::string::npos || at + 1 >= root.size()) return false;
  std::string number = root.substr(at + 1);
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(number.c_str(), &end, 0);
  if (errno != 0 || *end != 0 || v < 0) return false;
  std::string file = root.substr(0, at);
  if (!IsFileOrDevice(file)) return false;
  *path = file;
  *offset = v;
  return true;
}

qvNtfsVolumeSource::qvNtfsVolumeSource(std::unique_ptr<qvVolumeSource> inner, std::vector<Raw> raw)
    : inner_(std::move(inner)) {
  for (Raw& r : raw) opened_.push_back({std::move(r), nullptr, {}, false});
}

std::vector<VolumeInfo> qvNtfsVolumeSource::Discover() {
  std::vector<VolumeInfo> out;
  if (inner_) out = inner_->Discover();
  innerCount_ = out.size();
  for (Opened& o : opened_) {
    VolumeInfo v;
    v.root = qvNameCodec::DecodeToString(o.raw.root + "/");
    auto volume = std::make_unique<qvNtfsVolume>();
    std::string why;
    int error = 0;
    if (!volume->Open(o.raw.path, o.raw.offset, &why, &error)) {
      v.opened = false;
      v.errorCode = error ? error : EINVAL;
      o.volume.reset();
      out.push_back(std::move(v));
      continue;
    }
    v.opened = true;
    o.journal = UsnJournalInfo();
    bool hasJournal = FindUsnJournal(*volume, &o.journal) && o.journal.journalId != 0;
    NtfsVolumeState state = ReadNtfsVolumeState(*volume);
    o.journalTrusted = hasJournal && !state.dirty && !state.logFileEmpty;
    if (o.journalTrusted) {
      v.journalId = o.journal.journalId;
      v.firstUsn = o.journal.lowestValidUsn;
      v.nextUsn = o.journal.nextUsn;
    } else {
      v.journalId = UntrustedJournalId(o.raw.root);
    }
    o.volume = std::move(volume);
    out.push_back(std::move(v));
  }
  return out;
}

bool qvNtfsVolumeSource::Enumerate(size_t index, const ScanSink& sink) {
  if (index < innerCount_) return inner_->Enumerate(index, sink);
  const qvNtfsVolume* volume = RawVolume(index);
  if (!volume) return false;
  qvMftReader reader(*volume);
  return reader.Read(sink, &stop_);
}

void qvNtfsVolumeSource::Stop() {
  stop_ = true;
  if (inner_) inner_->Stop();
}

void qvNtfsVolumeSource::SetFolderHook(FolderHook hook) {
  if (inner_) inner_->SetFolderHook(std::move(hook));
}

const qvNtfsVolume* qvNtfsVolumeSource::RawVolume(size_t index) const {
  if (index < innerCount_ || index - innerCount_ >= opened_.size()) return nullptr;
  return opened_[index - innerCount_].volume.get();
}

const UsnJournalInfo* qvNtfsVolumeSource::Journal(size_t index) const {
  if (!RawVolume(index)) return nullptr;
  const Opened& o = opened_[index - innerCount_];
  return o.journalTrusted ? &o.journal : nullptr;
}

void qvNtfsVolumeSource::CatchUp(qvIndex& index) {
  for (int slot = 0; slot < QV_VOLUME_SLOTS; ++slot) {
    if (!index.volumes.indexed[slot] || index.volumes.sourceIndex[slot] < 0) continue;
    size_t source = static_cast<size_t>(index.volumes.sourceIndex[slot]);
    const qvNtfsVolume* volume = RawVolume(source);
    const UsnJournalInfo* journal = Journal(source);
    if (!volume || !journal) continue;
    ReadUsnJournal(*volume, *journal, index.volumes.nextUsn[slot], [&](const UsnRecord& r) {
      JournalRecord j{r.reason,
                      (r.fileAttributes & QV_ATTR_DIRECTORY) ? QV_ATTR_DIRECTORY : 0u,
                      qvNtfs::RecordNumber(r.fileRef),
                      qvNtfs::RecordNumber(r.parentRef),
                      r.name.data(),
                      static_cast<uint32_t>(r.name.size())};
      ApplyJournalRecord(index, static_cast<uint32_t>(slot), j);
    });
    index.volumes.nextUsn[slot] = journal->nextUsn;
  }
}

// --- discovery --------------------------------------------------------------

namespace {

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// "major:minor" -> whether it is mounted, and read-only, from mountinfo.
struct MountState {
  bool mounted = false;
  bool readOnly = true;
};

MountState MountOf(const std::string& mountInfo, const std::string& devNumber) {
  MountState m;
  std::istringstream lines(mountInfo);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    std::string id, parent, dev, root, point, options;
    f >> id >> parent >> dev >> root >> point >> options;
    if (dev != devNumber) continue;
    m.mounted = true;
    if (("," + options + ",").find(",ro,") == std::string::npos) m.readOnly = false;
  }
  return m;
}

}  // namespace

std::vector<std::string> FindRawNtfsPartitions(const qvNtfsDiscoveryOptions& options) {
  std::vector<std::string> out;
  std::string mountInfo = ReadSmallFile(options.mountInfoPath);
  std::string classDir = options.sysfsRoot + "/class/block";
  DIR* dir = opendir(classDir.c_str());
  if (!dir) return out;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0 || name.rfind("loop", 0) == 0) continue;
    std::string devNumber = ReadSmallFile(classDir + "/" + name + "/dev");
    while (!devNumber.empty() && (devNumber.back() == '\n' || devNumber.back() == ' ')) devNumber.pop_back();
    if (devNumber.empty()) continue;
    // udev names the file system type without opening the device, so
    // one we may not open is still known to be NTFS.
    std::string udev = ReadSmallFile(options.udevDataRoot + "/b" + devNumber);
    if (udev.find("E:ID_FS_TYPE=ntfs\n") == std::string::npos) continue;
    MountState m = MountOf(mountInfo, devNumber);
    if (m.mounted && !m.readOnly) continue;  // walked and followed live as a mounted file system
    out.push_back(options.devRoot + "/" + name);
  }
  return out;
}

std::unique_ptr<qvVolumeSource> qvMakeNtfsVolumeSource(const std::vector<qvString>& roots,
                                                       const FolderSourceMaker& makeFolderSource) {
  std::vector<qvNtfsVolumeSource::Raw> raw;
  std::vector<qvString> folders;
  for (const qvString& r : roots) {
    std::string bytes = qvNameCodec::EncodeToString(r);
    qvNtfsVolumeSource::Raw v;
    if (ParseNtfsRoot(bytes, &v.path, &v.offset)) {
      v.root = WithoutFinalSlash(bytes);
      raw.push_back(std::move(v));
    } else {
      folders.push_back(r);
    }
  }
  if (raw.empty()) return nullptr;
  std::unique_ptr<qvVolumeSource> inner;
  if (!folders.empty() && makeFolderSource) inner = makeFolderSource(std::move(folders));
  return std::make_unique<qvNtfsVolumeSource>(std::move(inner), std::move(raw));
}

void qvNtfsCatchUp(qvIndex& index, qvVolumeSource* source) {
  if (auto* ntfs = dynamic_cast<qvNtfsVolumeSource*>(source)) ntfs->CatchUp(index);
}
