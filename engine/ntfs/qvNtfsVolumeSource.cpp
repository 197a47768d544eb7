#include "qvNtfsVolumeSource.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <fstream>
#include <iterator>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "qvIndex.h"
#include "qvJournal.h"
#include "qvMftReader.h"
#include "qvNameCodec.h"
#include "qvNtfsMounts.h"
#include "qvNtfsVolumeState.h"
#include "qvErrorBox.h"

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

qvNtfsVolumeSource::qvNtfsVolumeSource(std::unique_ptr<qvVolumeSource> inner, std::vector<Raw> raw,
                                       FolderSourceMaker makeFolderSource)
    : inner_(std::move(inner)), makeFolderSource_(std::move(makeFolderSource)) {
  for (Raw& r : raw) {
    opened_.push_back(std::make_unique<Opened>());
    opened_.back()->raw = std::move(r);
  }
}

bool qvNtfsVolumeSource::OpenRaw(Opened& o, VolumeInfo* v) {
  v->root = qvNameCodec::DecodeToString((o.raw.mountPoint.empty() ? o.raw.root : o.raw.mountPoint) + "/");
  auto volume = std::make_unique<qvNtfsVolume>();
  std::string why;
  int error = 0;
  o.volume.reset();
  if (!volume->Open(o.raw.path, o.raw.offset, &why, &error)) {
    if (!o.raw.machine) {  // a root the user named is listed, as not opened
      v->opened = false;
      v->errorCode = error ? error : EINVAL;
      return true;
    }
    if (!o.reported) {
      o.reported = true;
      if (o.raw.mountPoint.empty())
        ShowErrorBox("无法直接读取 NTFS 分区%s（%s），已略过；加入 disk 组或经 udisks2 授权后可读取", o.raw.path.c_str(),
                     std::strerror(error ? error : EINVAL));
      else
        ShowErrorBox("无法直接读取 NTFS 分区%s（%s），改为遍历其挂载点%s", o.raw.path.c_str(),
                     std::strerror(error ? error : EINVAL), o.raw.mountPoint.c_str());
    }
    return false;
  }
  v->opened = true;
  o.journal = UsnJournalInfo();
  bool hasJournal = FindUsnJournal(*volume, &o.journal) && o.journal.journalId != 0;
  NtfsVolumeState state = ReadNtfsVolumeState(*volume);
  o.journalTrusted = hasJournal && !state.dirty && !state.logFileEmpty;
  if (o.journalTrusted) {
    v->journalId = o.journal.journalId;
    v->firstUsn = o.journal.lowestValidUsn;
    v->nextUsn = o.journal.nextUsn;
  } else {
    v->journalId = UntrustedJournalId(o.raw.root);
  }
  o.volume = std::move(volume);
  return true;
}

std::vector<VolumeInfo> qvNtfsVolumeSource::Discover() {
  parts_.clear();
  std::vector<VolumeInfo> raw;
  std::vector<Part> rawParts;
  std::vector<std::string> readRaw, walkedElsewhere;  // mount points, ending in '/'
  for (size_t i = 0; i < opened_.size(); ++i) {
    Opened& o = *opened_[i];
    o.walked.reset();
    o.handedOver = false;
    VolumeInfo v;
    if (OpenRaw(o, &v)) {
      if (!o.raw.mountPoint.empty()) readRaw.push_back(o.raw.mountPoint + "/");
      raw.push_back(std::move(v));
      rawParts.push_back({Part::kRaw, i});
    } else if (!o.raw.mountPoint.empty()) {
      walkedElsewhere.push_back(o.raw.mountPoint + "/");
      rawParts.push_back({Part::kWalked, i});
      raw.emplace_back();
    }
  }

  std::vector<VolumeInfo> out;
  partOfInner_.clear();
  if (inner_) {
    std::vector<VolumeInfo> inner = inner_->Discover();
    partOfInner_.assign(inner.size(), SIZE_MAX);
    for (size_t i = 0; i < inner.size(); ++i) {
      std::string root = qvNameCodec::EncodeToString(inner[i].root);
      // A read-only mount read raw is not walked as well.
      if (std::find(readRaw.begin(), readRaw.end(), root) != readRaw.end()) continue;
      // A mount the wrapped source walks already needs no walk of its own.
      auto same = std::find(walkedElsewhere.begin(), walkedElsewhere.end(), root);
      if (same != walkedElsewhere.end()) same->clear();
      partOfInner_[i] = out.size();
      parts_.push_back({Part::kInner, i});
      out.push_back(std::move(inner[i]));
    }
  }
  for (size_t k = 0; k < rawParts.size(); ++k) {
    if (rawParts[k].kind == Part::kWalked) {
      Opened& o = *opened_[rawParts[k].at];
      std::string root = o.raw.mountPoint + "/";
      if (std::find(walkedElsewhere.begin(), walkedElsewhere.end(), root) == walkedElsewhere.end()) continue;
      if (!makeFolderSource_) continue;
      o.walked = makeFolderSource_({qvNameCodec::DecodeToString(o.raw.mountPoint)});
      std::vector<VolumeInfo> walked = o.walked ? o.walked->Discover() : std::vector<VolumeInfo>();
      if (walked.size() != 1) {
        o.walked.reset();
        continue;
      }
      if (exclusions_) o.walked->SetExclusions(exclusions_);
      raw[k] = std::move(walked.front());
    }
    parts_.push_back(rawParts[k]);
    out.push_back(std::move(raw[k]));
    if (rawParts[k].kind == Part::kWalked) HookWalked(parts_.size() - 1);
  }
  return out;
}

void qvNtfsVolumeSource::HookWalked(size_t part) {
  Opened& o = *opened_[parts_[part].at];
  if (!o.walked || !hook_) return;
  o.walked->SetFolderHook([this, part](size_t, uint64_t ref, int fd) { hook_(part, ref, fd); });
}

bool qvNtfsVolumeSource::Enumerate(size_t index, const ScanSink& sink) {
  if (index >= parts_.size()) return false;
  const Part& p = parts_[index];
  if (p.kind == Part::kInner) return inner_->Enumerate(p.at, sink);
  if (p.kind == Part::kWalked) return opened_[p.at]->walked->Enumerate(0, sink);
  const qvNtfsVolume* volume = RawVolume(index);
  if (!volume) return false;
  qvMftReader reader(*volume);
  return reader.Read(sink, &stop_);
}

void qvNtfsVolumeSource::Stop() {
  stop_ = true;
  if (inner_) inner_->Stop();
  for (auto& o : opened_)
    if (o->walked) o->walked->Stop();
}

void qvNtfsVolumeSource::SetFolderHook(FolderHook hook) {
  hook_ = std::move(hook);
  if (inner_) {
    if (hook_)
      inner_->SetFolderHook([this](size_t volume, uint64_t ref, int fd) {
        if (volume < partOfInner_.size() && partOfInner_[volume] != SIZE_MAX) hook_(partOfInner_[volume], ref, fd);
      });
    else
      inner_->SetFolderHook(nullptr);
  }
  for (size_t part = 0; part < parts_.size(); ++part)
    if (parts_[part].kind == Part::kWalked) HookWalked(part);
}

// The raw volumes are never pruned while read; the engine drops what the
// rules leave out of them. The walked ones leave it out themselves.
bool qvNtfsVolumeSource::SetExclusions(std::shared_ptr<const qvExclusions> rules) {
  exclusions_ = rules;
  if (inner_) inner_->SetExclusions(rules);
  for (auto& o : opened_)
    if (o->walked) o->walked->SetExclusions(rules);
  return false;
}

const qvNtfsVolume* qvNtfsVolumeSource::RawVolume(size_t index) const {
  if (index >= parts_.size() || parts_[index].kind != Part::kRaw) return nullptr;
  const Opened& o = *opened_[parts_[index].at];
  return o.handedOver ? nullptr : o.volume.get();
}

const UsnJournalInfo* qvNtfsVolumeSource::Journal(size_t index) const {
  if (!RawVolume(index)) return nullptr;
  const Opened& o = *opened_[parts_[index].at];
  return o.journalTrusted ? &o.journal : nullptr;
}

bool qvNtfsVolumeSource::HasRawVolumes() const {
  for (size_t i = 0; i < parts_.size(); ++i)
    if (RawVolume(i)) return true;
  return false;
}

std::vector<qvNtfsVolumeSource::Mounted> qvNtfsVolumeSource::NewlyMounted(const std::string& mountInfo,
                                                                          const std::string& sysfsRoot) const {
  std::vector<Mounted> out;
  for (size_t i = 0; i < parts_.size(); ++i) {
    if (!RawVolume(i)) continue;
    const Opened& o = *opened_[parts_[i].at];
    NtfsMountable what{o.raw.path, NtfsDeviceNumber(o.raw.path)};
    for (const NtfsMount& m : FindNtfsMounts(mountInfo, what, sysfsRoot)) {
      if (m.point == o.raw.mountPoint && m.readOnly) continue;  // read raw from the start
      out.push_back({i, m.point});
      break;
    }
  }
  return out;
}

void qvNtfsVolumeSource::HandOver(size_t index) {
  if (index < parts_.size() && parts_[index].kind == Part::kRaw) opened_[parts_[index].at]->handedOver = true;
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

std::unique_ptr<qvVolumeSource> qvMakeMachineNtfsVolumeSource(std::unique_ptr<qvVolumeSource> machine,
                                                              const FolderSourceMaker& makeFolderSource,
                                                              const qvNtfsDiscoveryOptions& options) {
  std::vector<qvNtfsVolumeSource::Raw> raw;
  for (qvRawNtfsPartition& p : FindRawNtfsPartitions(options)) {
    qvNtfsVolumeSource::Raw v;
    v.root = p.device;
    v.path = p.device;
    v.offset = 0;
    v.machine = true;
    v.mountPoint = WithoutFinalSlash(p.mountPoint);
    raw.push_back(std::move(v));
  }
  if (raw.empty()) return machine;
  return std::make_unique<qvNtfsVolumeSource>(std::move(machine), std::move(raw), makeFolderSource);
}

bool qvNtfsIsRawVolume(qvVolumeSource* source, size_t index) {
  auto* ntfs = dynamic_cast<qvNtfsVolumeSource*>(source);
  return ntfs && ntfs->RawVolume(index);
}

bool qvNtfsHasRawVolumes(qvVolumeSource* source) {
  auto* ntfs = dynamic_cast<qvNtfsVolumeSource*>(source);
  return ntfs && ntfs->HasRawVolumes();
}

std::vector<qvNtfsVolumeSource::Mounted> qvNtfsTakeMountedVolumes(qvVolumeSource* source,
                                                                  const std::string& mountInfo) {
  auto* ntfs = dynamic_cast<qvNtfsVolumeSource*>(source);
  if (!ntfs) return {};
  std::vector<qvNtfsVolumeSource::Mounted> mounted = ntfs->NewlyMounted(mountInfo);
  for (const auto& m : mounted) ntfs->HandOver(m.index);
  return mounted;
}
