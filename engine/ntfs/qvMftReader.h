// Reads a volume's whole master file table in large sequential chunks,
// parsing one chunk while the next is read, and yields the volume's entry
// stream: one entry per name of every folder and file in use (POSIX,
// Win32 and Win32&DOS names; DOS-only names are the short aliases of
// others and are left out), the system records and the root left out.
#pragma once

#include <atomic>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "qvNtfsRecord.h"
#include "qvNtfsVolume.h"
#include "qvVolumeSource.h"

struct MftReadStats {
  uint64_t records = 0;  // slots read
  uint64_t inUse = 0;    // base records in use
  uint64_t torn = 0;     // update sequence mismatch: skipped
  uint64_t damaged = 0;  // header or attributes out of bounds: skipped
  uint64_t entries = 0;  // entries yielded
};

class qvMftRecordParser {
 public:
  explicit qvMftRecordParser(const ScanSink& sink) : sink_(sink) {}
  // Takes one record as read from the table (fixed up here) in any order.
  // `fix` tells how to check it.
  template <class Fix>
  void Take(uint64_t number, uint8_t* record, size_t size, const Fix& fix);
  // Yields what is still batched, and the names found in extension records.
  void Finish();
  const MftReadStats& Stats() const { return stats_; }

 private:
  struct ExtensionName {
    uint64_t baseRef;
    uint64_t parentRef;
    std::u16string name;
  };
  struct BaseOfExtensions {
    uint16_t sequence;
    uint32_t attributes;
  };
  void TakeParsed(uint64_t number, const NtfsRecord& r);
  void Emit(uint64_t number, uint64_t parentRef, uint32_t attributes, const uint8_t* units, size_t count);
  void Flush();

  const ScanSink& sink_;
  NtfsRecord record_;
  MftReadStats stats_;
  std::vector<ScanEntry> batch_;
  std::vector<qvChar> arena_;
  std::vector<ExtensionName> extensionNames_;
  std::unordered_map<uint64_t, BaseOfExtensions> bases_;  // records with an attribute list
};

template <class Fix>
void qvMftRecordParser::Take(uint64_t number, uint8_t* record, size_t size, const Fix& fix) {
  ++stats_.records;
  NtfsFixup f = fix(record);
  if (f == NtfsFixup::kNotARecord) return;
  if (f == NtfsFixup::kTorn) {
    ++stats_.torn;
    return;
  }
  if (!ParseNtfsRecord({record, size}, &record_)) {
    ++stats_.damaged;
    return;
  }
  TakeParsed(number, record_);
}

class qvMftReader {
 public:
  explicit qvMftReader(const qvNtfsVolume& volume) : volume_(volume) {}
  // Streams every entry to `sink`. False when the table could not be read
  // to its end (what was read has been yielded).
  bool Read(const ScanSink& sink, const std::atomic<bool>* stop = nullptr);
  const MftReadStats& Stats() const { return stats_; }

  // Bytes read per chunk.
  static constexpr size_t kChunkBytes = 4u << 20;

 private:
  const qvNtfsVolume& volume_;
  MftReadStats stats_;
};
