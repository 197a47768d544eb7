#include "qvAnswerCopy.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "qvNameCodec.h"

using qvService::Row;

namespace {

constexpr int32_t kBatch = 4096;  // the most CopyRows hands out at once
constexpr int kTries = 60;

class RowCopy : public IQvRowSink {
 public:
  explicit RowCopy(std::vector<Row>& rows) : rows_(rows) {}
  void OnRow(int32_t, const QvRowText& t) override {
    Row r;
    r.folder = qvNameCodec::EncodeToString(std::u16string_view(t.folderPath, t.folderLength));
    r.name = qvNameCodec::EncodeToString(std::u16string_view(t.name, t.nameLength));
    r.isFolder = t.isFolder != 0;
    rows_.push_back(std::move(r));
  }

 private:
  std::vector<Row>& rows_;
};

bool NeedsDetails(uint8_t column) {
  return column == qvService::kSortSize || column == qvService::kSortCreated || column == qvService::kSortModified ||
         column == qvService::kSortAccessed || column == qvService::kSortAttributes;
}

// The name order is the engine's own order of each group.
bool NeedsWholeAnswer(uint8_t column) { return column != qvService::kSortStore && column != qvService::kSortName; }

uint64_t Key(const Row& r, uint8_t column) {
  switch (column) {
    case qvService::kSortSize: return r.size;
    case qvService::kSortCreated: return r.created;
    case qvService::kSortModified: return r.modified;
    case qvService::kSortAccessed: return r.accessed;
    case qvService::kSortAttributes: return r.attributes;
  }
  return 0;
}

// Reads rows [first, end) of answer `answer`; false when it changed.
bool CopyRange(IQvSearchResults* results, uint64_t answer, int64_t first, int64_t end, std::vector<Row>* rows) {
  RowCopy copy(*rows);
  for (int64_t at = first; at < end;) {
    int32_t want = static_cast<int32_t>(std::min<int64_t>(end - at, kBatch));
    int32_t got = results->CopyRows(answer, static_cast<int32_t>(at), want, &copy);
    if (got < 0) return false;
    if (got == 0) break;
    at += got;
  }
  return static_cast<int64_t>(rows->size()) == end - first;
}

// Details are read row by row (each a statx outside the engine lock).
void ReadDetails(IQvSearch* engine, int64_t first, std::vector<Row>* rows) {
  auto d = std::make_unique<ItemDetails>();
  for (size_t i = 0; i < rows->size(); ++i) {
    Row& r = (*rows)[i];
    engine->GetItemDetails(d.get(), static_cast<int32_t>(first + static_cast<int64_t>(i)));
    r.hasDetails = true;
    r.size = d->size;
    r.created = d->creationTime;
    r.modified = d->modificationTime;
    r.accessed = d->accessTime;
    r.attributes = d->attributes;
  }
}

}  // namespace

void SortRows(std::vector<Row>* rows, uint8_t column, bool reverse) {
  if (column == qvService::kSortStore || (column == qvService::kSortName && !reverse)) return;
  auto less = [column](const Row& a, const Row& b) {
    if (column == qvService::kSortPath) return a.Path() < b.Path();
    if (column == qvService::kSortName) return false;
    return Key(a, column) < Key(b, column);
  };
  auto folderEnd = std::stable_partition(rows->begin(), rows->end(), [](const Row& r) { return r.isFolder; });
  for (auto [from, to] : {std::pair{rows->begin(), folderEnd}, std::pair{folderEnd, rows->end()}}) {
    if (column == qvService::kSortName) {
      std::reverse(from, to);
      continue;
    }
    if (reverse) std::stable_sort(from, to, [&](const Row& a, const Row& b) { return less(b, a); });
    else std::stable_sort(from, to, less);
  }
}

namespace {

// The engine's search options for one request, put back as they were
// afterwards (the window that hosts a service keeps its own).
class RequestModes {
 public:
  RequestModes(IQvSearch* engine, uint32_t match)
      : config_(static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION))) {
    if (!config_) return;
    const bool wanted[kCount] = {!(match & qvService::kBaseName), (match & qvService::kMatchCase) != 0,
                                 (match & qvService::kRegex) != 0, !(match & qvService::kNoPinyin),
                                 !(match & qvService::kHideHidden), true, false};
    for (size_t i = 0; i < kCount; ++i) {
      saved_[i] = config_->QueryValue(kNames[i]);
      config_->SetOption(kNames[i], wanted[i] ? "1" : "0");
    }
  }
  ~RequestModes() {
    if (!config_) return;
    for (size_t i = 0; i < kCount; ++i)
      if (saved_[i] == 0 || saved_[i] == 1) config_->SetOption(kNames[i], saved_[i] ? "1" : "0");
  }
  RequestModes(const RequestModes&) = delete;
  RequestModes& operator=(const RequestModes&) = delete;

 private:
  static constexpr size_t kCount = 7;
  static constexpr const char* kNames[kCount] = {"whole_name", "match_case",  "regex",         "pinyin",
                                                 "show_hidden", "path_terms", "query_prefixes"};
  IQvSearchConfig* config_;
  int64_t saved_[kCount] = {};
};

}  // namespace

bool CopyAnswer(IQvSearch* engine, IQvSearchResults* results, const qvService::SearchRequest& r, qvAnswer* out) {
  const qvString query = qvNameCodec::DecodeToString(r.query), filter = qvNameCodec::DecodeToString(r.extFilter);
  RequestModes modes(engine, r.match);
  // Both bits, or neither, keep every row.
  const bool foldersOnly = (r.match & qvService::kKindBits) == qvService::kFoldersOnly;
  const bool filesOnly = (r.match & qvService::kKindBits) == qvService::kFilesOnly;
  const bool details = r.details || NeedsDetails(r.sort);
  const bool whole = NeedsWholeAnswer(r.sort) || (r.sort == qvService::kSortName && r.reverse);
  for (int tries = 1; tries <= kTries; ++tries) {
    if (tries > 3) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    engine->Search(query.c_str(), filter.c_str(), 1);
    int32_t folders = 0, files = 0;
    uint64_t answer = results->GetAnswer(&folders, &files);
    int64_t begin = filesOnly ? folders : 0, end = foldersOnly ? folders : int64_t{folders} + files;
    out->folders = filesOnly ? 0 : static_cast<uint64_t>(folders);
    out->files = foldersOnly ? 0 : static_cast<uint64_t>(files);
    out->rows.clear();
    if (r.countOnly) return true;
    // Without a reordering only the page asked for is read.
    int64_t first = begin, last = end;
    if (!whole) {
      first = static_cast<int64_t>(std::min<uint64_t>(static_cast<uint64_t>(begin) + r.offset, static_cast<uint64_t>(end)));
      if (r.limit != 0 && static_cast<uint64_t>(last - first) > r.limit) last = first + static_cast<int64_t>(r.limit);
    }
    if (!CopyRange(results, answer, first, last, &out->rows)) continue;
    if (details) {
      ReadDetails(engine, first, &out->rows);
      // The details were read row by row: the rows must still be the
      // answer's whose names were copied.
      if (results->GetAnswer(&folders, &files) != answer) continue;
    }
    if (whole) {
      SortRows(&out->rows, r.sort, r.reverse);
      size_t skip = static_cast<size_t>(std::min<uint64_t>(r.offset, out->rows.size()));
      out->rows.erase(out->rows.begin(), out->rows.begin() + static_cast<std::ptrdiff_t>(skip));
      if (r.limit != 0 && out->rows.size() > r.limit) out->rows.resize(static_cast<size_t>(r.limit));
    }
    return true;
  }
  return false;
}
