// A volume source that yields given entry streams, one per volume: what
// tests, benchmarks and file-table readers hand to the engine.
#pragma once

#include <vector>

#include "qvVolumeSource.h"

class qvStreamVolumeSource : public qvVolumeSource {
 public:
  struct Entry {
    uint64_t fileRef;
    uint64_t parentRef;
    uint32_t attributes;
    qvString name;
  };
  struct Volume {
    VolumeInfo info;
    std::vector<Entry> entries;
  };

  explicit qvStreamVolumeSource(std::vector<Volume> volumes) : volumes_(std::move(volumes)) {}

  std::vector<VolumeInfo> Discover() override;
  bool Enumerate(size_t index, const ScanSink& sink) override;

  // Folder and file entries in the shape the stream expects.
  static Entry Folder(uint64_t ref, uint64_t parent, qvString name) {
    return {ref, parent, QV_ATTR_DIRECTORY, std::move(name)};
  }
  static Entry File(uint64_t ref, uint64_t parent, qvString name) {
    return {ref, parent, QV_ATTR_NORMAL, std::move(name)};
  }

 private:
  std::vector<Volume> volumes_;
};
