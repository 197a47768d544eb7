#include "qvStreamVolumeSource.h"

std::vector<VolumeInfo> qvStreamVolumeSource::Discover() {
  std::vector<VolumeInfo> out;
  for (const Volume& v : volumes_) out.push_back(v.info);
  return out;
}

bool qvStreamVolumeSource::Enumerate(size_t index, const ScanSink& sink) {
  if (index >= volumes_.size()) return false;
  constexpr size_t kBatch = 1024;
  std::vector<ScanEntry> batch;
  batch.reserve(kBatch);
  for (const Entry& e : volumes_[index].entries) {
    batch.push_back({e.fileRef, e.parentRef, e.attributes, e.name.data(),
                     static_cast<uint32_t>(e.name.size())});
    if (batch.size() == kBatch) {
      sink(batch.data(), batch.size());
      batch.clear();
    }
  }
  if (!batch.empty()) sink(batch.data(), batch.size());
  return true;
}
