#include "qvMftReader.h"

#include <algorithm>
#include <cstring>
#include <future>

using namespace qvNtfs;

namespace {

constexpr size_t kBatchEntries = 4096;
constexpr size_t kMaxNameUnits = 255;

uint32_t EntryAttributes(const NtfsRecord& r) {
  uint32_t a = r.fileAttributes & ~QV_ATTR_DIRECTORY;
  if (r.IsDirectory()) a |= QV_ATTR_DIRECTORY;
  if (r.hasReparsePoint) a |= QV_ATTR_REPARSE_POINT;
  return a;
}

}  // namespace

void qvMftRecordParser::TakeParsed(uint64_t number, const NtfsRecord& r) {
  if (!r.InUse()) return;
  if (r.baseRef != 0) {
    // A name moved out to an extension record: yielded at the end, once its
    // base record is known to be in use and to own it.
    for (const NtfsName& n : r.names) {
      if (n.nameSpace == kNameDos) continue;
      std::u16string name(n.units.size / 2, u'\0');
      std::memcpy(name.data(), n.units.data, n.units.size);
      extensionNames_.push_back({r.baseRef, n.parentRef, std::move(name)});
    }
    return;
  }
  ++stats_.inUse;
  uint32_t attributes = EntryAttributes(r);
  if (r.hasAttributeList) bases_[number] = {r.sequence, attributes};
  if (number < kFirstUserRecord) return;  // metadata files and the root
  for (size_t i = 0; i < r.names.size(); ++i) {
    const NtfsName& n = r.names[i];
    if (n.nameSpace == kNameDos) continue;
    bool repeated = false;  // the same link twice is one entry
    for (size_t j = 0; j < i && !repeated; ++j)
      repeated = r.names[j].parentRef == n.parentRef && r.names[j].units.size == n.units.size &&
                 std::memcmp(r.names[j].units.data, n.units.data, n.units.size) == 0;
    if (!repeated) Emit(number, n.parentRef, attributes, n.units.data, n.units.size / 2);
  }
}

void qvMftRecordParser::Emit(uint64_t number, uint64_t parentRef, uint32_t attributes, const uint8_t* units,
                             size_t count) {
  if (arena_.capacity() == 0) arena_.reserve(kBatchEntries * kMaxNameUnits);
  if (batch_.size() == kBatchEntries || arena_.size() + count > arena_.capacity()) Flush();
  size_t at = arena_.size();
  arena_.resize(at + count);
  std::memcpy(arena_.data() + at, units, count * 2);
  batch_.push_back({number, RecordNumber(parentRef), attributes, arena_.data() + at, static_cast<uint32_t>(count)});
  ++stats_.entries;
}

void qvMftRecordParser::Flush() {
  if (!batch_.empty()) sink_(batch_.data(), batch_.size());
  batch_.clear();
  arena_.clear();
}

void qvMftRecordParser::Finish() {
  for (const ExtensionName& n : extensionNames_) {
    uint64_t base = RecordNumber(n.baseRef);
    auto it = bases_.find(base);
    if (it == bases_.end() || it->second.sequence != SequenceOf(n.baseRef) || base < kFirstUserRecord) continue;
    Emit(base, n.parentRef, it->second.attributes, reinterpret_cast<const uint8_t*>(n.name.data()),
         n.name.size());
  }
  extensionNames_.clear();
  Flush();
}

bool qvMftReader::Read(const ScanSink& sink, const std::atomic<bool>* stop) {
  const size_t recordSize = volume_.RecordSize();
  const uint64_t total = volume_.RecordCount();
  const size_t perChunk = static_cast<size_t>(std::min<uint64_t>(kChunkBytes / recordSize, std::max<uint64_t>(total, 1)));
  qvMftRecordParser parser(sink);
  auto fix = [this](uint8_t* record) { return volume_.FixRecord(record); };

  std::vector<uint8_t> buffers[2] = {std::vector<uint8_t>(perChunk * recordSize),
                                     std::vector<uint8_t>(perChunk * recordSize)};
  // A chunk that cannot be read whole (a cut image, a bad sector) is read
  // record by record; records that cannot be read are left as zeros.
  auto readChunk = [this, total, perChunk, recordSize](uint64_t first, uint8_t* out) -> size_t {
    size_t count = static_cast<size_t>(std::min<uint64_t>(perChunk, total - first));
    if (volume_.ReadRecords(first, count, out)) return count;
    size_t read = 0;
    for (size_t i = 0; i < count; ++i) {
      if (volume_.ReadRecords(first + i, 1, out + i * recordSize)) ++read;
      else std::memset(out + i * recordSize, 0, recordSize);
    }
    return read ? count : 0;
  };
  bool complete = true;
  uint64_t first = 0;
  int current = 0;
  std::future<size_t> pending;
  if (total > 0) pending = std::async(std::launch::async, readChunk, first, buffers[current].data());
  while (first < total) {
    size_t count = pending.get();
    if (count == 0 || (stop && stop->load())) {
      complete = false;
      break;
    }
    uint64_t next = first + count;
    if (next < total) pending = std::async(std::launch::async, readChunk, next, buffers[1 - current].data());
    uint8_t* chunk = buffers[current].data();
    for (size_t i = 0; i < count; ++i) parser.Take(first + i, chunk + i * recordSize, recordSize, fix);
    first = next;
    current = 1 - current;
  }
  if (pending.valid()) pending.wait();
  parser.Finish();
  stats_ = parser.Stats();
  return complete;
}
