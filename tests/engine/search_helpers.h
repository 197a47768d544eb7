// Helpers for the search tests: an engine over one volume that is released
// at the end of the test, and the result rows as text.
#pragma once

#include <string>
#include <vector>

#include "engine_fixture.h"

namespace qvsearchtest {

using E = qvStreamVolumeSource;

// An engine over one volume "/" with a recording sink and list window.
class SearchEngine {
 public:
  explicit SearchEngine(std::vector<E::Entry> entries, const std::string& root = "/") {
    engine = MakeEngine({MakeVolume(root, std::move(entries))}, &sink, "/nonexistent-qv-data/");
    if (!engine) return;
    engine->SetListWindow(&list);
    // These tests only search: nothing is saved on release.
    auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
    config->SetOption("no_save", "1");
  }
  ~SearchEngine() {
    if (engine) engine->Release();
  }
  SearchEngine(const SearchEngine&) = delete;
  SearchEngine& operator=(const SearchEngine&) = delete;

  void Search(const std::u16string& query, const std::u16string& filter = u"", int32_t reset = 1) {
    engine->Search(query.c_str(), filter.c_str(), reset);
  }

  int32_t RowCount() { return engine->GetFolderResultCount() + engine->GetFileResultCount(); }

  // Every row as "folder path|display name".
  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    for (int32_t r = 0, n = RowCount(); r < n; ++r) rows.push_back(RowText(engine, r));
    return rows;
  }

  // The display names of every row.
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const std::string& row : Rows()) names.push_back(row.substr(row.find('|') + 1));
    return names;
  }

  std::vector<std::string> TakeListCalls() {
    std::lock_guard<std::mutex> g(list.lock);
    std::vector<std::string> calls;
    calls.swap(list.calls);
    return calls;
  }
  std::vector<std::pair<int32_t, std::string>> TakeStatuses() {
    std::lock_guard<std::mutex> g(sink.lock);
    std::vector<std::pair<int32_t, std::string>> s;
    s.swap(sink.statuses);
    return s;
  }

  RecordingSink sink;
  RecordingList list;
  qvKearchImpl* engine = nullptr;
};

// Entries that hang every name below the root, folders and files alike.
inline std::vector<E::Entry> FlatEntries(const std::vector<std::u16string>& folders,
                                         const std::vector<std::u16string>& files) {
  std::vector<E::Entry> entries;
  uint64_t ref = 16;
  for (const auto& f : folders) entries.push_back(E::Folder(ref++, 5, f));
  for (const auto& f : files) entries.push_back(E::File(ref++, 5, f));
  return entries;
}

}  // namespace qvsearchtest
