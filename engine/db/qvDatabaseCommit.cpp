#include "qvDatabaseCommit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "qvDatabaseIo.h"
#include "qvIndex.h"
#include "qvNameCodec.h"
#include "qvSavedSet.h"
#include "qvWriteMgr.h"

namespace qvDbCommit {

namespace {

constexpr const char* kMarker = "db.commit";

StepHook& Hook() {
  static StepHook hook;
  return hook;
}

void Step(const char* step, const char* name) {
  if (Hook()) Hook()(step, name);
}

// Makes the folder's entries (creations, renames, removals) durable.
bool SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  int saved = errno;
  ::close(fd);
  errno = saved;
  return ok;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

class Commit {
 public:
  Commit(const qvIndex& app, const NewFile* files, size_t count)
      : app_(app), files_(files), count_(count), folder_(qvNameCodec::EncodeToString(app.dataFolder)) {}

  qvStatus Run() {
    for (size_t i = 0; i < count_; ++i) {
      Step("write", files_[i].name);
      if (!files_[i].contents->WriteSynced(Path(files_[i].name, ".tmp"))) return Fail(i);
    }
    // A marker left by a save cut short: its ".prev" set is the one to
    // keep, unless that save got all its files in place before it ended.
    if (!Exists(Path(kMarker)) || CurrentIsWhole()) {
      for (size_t i = 0; i < count_; ++i)
        if (!KeepOld(files_[i].name)) return Fail(i);
      Step("mark", kMarker);
      int fd = ::open(Path(kMarker).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0) return Fail(0);
      ::close(fd);
    }
    if (!SyncFolder(folder_)) return Fail(0);
    for (size_t i = 0; i < count_; ++i) {
      Step("rename", files_[i].name);
      if (::rename(Path(files_[i].name, ".tmp").c_str(), Path(files_[i].name).c_str()) != 0) {
        qvStatus failed = Fail(i);
        RollBack(i);
        return failed;
      }
    }
    if (!SyncFolder(folder_)) return Fail(count_ - 1);
    Finish();
    return qvStatus::Ok();
  }

 private:
  std::string Path(const char* name, const char* suffix = "") const { return folder_ + name + suffix; }

  // Each file is summed a step at a time: the index being saved is in
  // memory, and the old one must not join it there.
  bool CurrentIsWhole() const {
    qvSavedSet set = qvSavedSet::Open(app_, qvSavedSet::kCurrent);
    if (!set.SealStatus().ok()) return false;
    const char* names[qvDbSeal::kFileCount] = {"ntfsqs.db", "ext.db", "extcase.db"};
    for (int f = 0; f < qvDbSeal::kFileCount; ++f) {
      auto file = static_cast<qvDbSeal::File>(f);
      qvDbIo::HeapBuffer buffer(const_cast<qvIndex&>(app_).heap);
      int error = 0;
      if (qvDbIo::ReadWholeFile(Path(names[f]), set.Rule(file, 0, UINT32_MAX), buffer, error,
                                qvDbIo::Pages::kAsRead) != qvDbIo::ReadResult::kOk ||
          !qvSealCheck(set, file, names[f], buffer).Finish().ok())
        return false;
    }
    return true;
  }

  // The old file under its second name; nothing to keep when it is not
  // there (a first save).
  bool KeepOld(const char* name) {
    std::string prev = Path(name, ".prev");
    Step("unlink", name);
    if (::unlink(prev.c_str()) != 0 && errno != ENOENT) return false;
    Step("link", name);
    return ::link(Path(name).c_str(), prev.c_str()) == 0 || errno == ENOENT;
  }

  // Renaming file `failed` went wrong: the ones before it go back to their
  // old contents, through a temporary name so that the ".prev" set stays
  // whole until the marker is gone.
  void RollBack(size_t failed) {
    bool whole = true;
    for (size_t i = 0; i < failed; ++i) {
      std::string prev = Path(files_[i].name, ".prev"), temp = Path(files_[i].name, ".tmp");
      if (Exists(prev)) {
        ::unlink(temp.c_str());
        whole = ::link(prev.c_str(), temp.c_str()) == 0 &&
                ::rename(temp.c_str(), Path(files_[i].name).c_str()) == 0 && whole;
      } else {
        ::unlink(Path(files_[i].name).c_str());
      }
    }
    for (size_t i = failed; i < count_; ++i) ::unlink(Path(files_[i].name, ".tmp").c_str());
    // Only a set that is whole again under the plain names ends the commit.
    if (whole && SyncFolder(folder_)) Finish();
  }

  void Finish() {
    Step("unmark", kMarker);
    if (::unlink(Path(kMarker).c_str()) != 0 || !SyncFolder(folder_)) return;
    for (size_t i = 0; i < count_; ++i) {
      Step("drop", files_[i].name);
      ::unlink(Path(files_[i].name, ".prev").c_str());
    }
  }

  qvStatus Fail(size_t i) {
    int error = errno;
    // A partial temporary file is of no use to anyone.
    for (size_t k = 0; k < count_; ++k) ::unlink(Path(files_[k].name, ".tmp").c_str());
    return qvStatus::Error(qvStatus::Code::kIoError, error, files_[i].failText);
  }

  const qvIndex& app_;
  const NewFile* files_;
  size_t count_;
  std::string folder_;
};

}  // namespace

void SetStepHook(StepHook hook) { Hook() = std::move(hook); }

qvStatus Replace(const qvIndex& app, const NewFile* files, size_t count) {
  return Commit(app, files, count).Run();
}

}  // namespace qvDbCommit
