#include "CInetFiles.h"

void CInetFiles::Add(std::unique_ptr<CInetFile> file) {
  std::lock_guard<std::mutex> hold(lock_);
  files_.push_back(std::move(file));
}

CInetFile* CInetFiles::GetHead() {
  std::lock_guard<std::mutex> hold(lock_);
  return files_.empty() ? nullptr : files_.front().get();
}

void CInetFiles::Remove(CInetFile* file) {
  std::list<std::unique_ptr<CInetFile>> removed;
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto it = files_.begin(); it != files_.end();) {
      if (it->get() == file) removed.splice(removed.end(), files_, it++);
      else ++it;
    }
  }
  // Destroyed outside the lock: each waits for its thread.
}

size_t CInetFiles::GetCount() {
  std::lock_guard<std::mutex> hold(lock_);
  return files_.size();
}

void CInetFiles::RemoveAll() {
  std::list<std::unique_ptr<CInetFile>> removed;
  {
    std::lock_guard<std::mutex> hold(lock_);
    removed.swap(files_);
  }
  for (auto& file : removed) file->Cancel();
}
