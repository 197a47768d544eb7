// Search latency over synthetic indexes of 1 and 5 million names, for each
// kind of scan, next to a floor: one memchr pass over the same packed name
// bytes, walked the same way.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include "qvFileBaseApp.h"
#include "qvKearchImpl.h"
#include "qvScans.h"
#include "qvStreamVolumeSource.h"
#include "synthetic_index.h"

namespace {

// One engine per process: the current one is kept while benchmarks ask
// for the same size and replaced when the size changes.
qvKearchImpl* EngineOf(size_t count) {
  static qvKearchImpl* engine = nullptr;
  static size_t engineCount = 0;
  if (engine && engineCount == count) return engine;
  if (engine) engine->Release();
  engine = static_cast<qvKearchImpl*>(CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION));
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  config->SetDataFolder(u"/nonexistent-qv-bench-data/");
  config->SetOption("no_save", "1");
  qvStreamVolumeSource::Volume v;
  v.info.root = u"/";
  v.info.opened = true;
  v.info.journalId = 1;
  v.entries = MakeSyntheticEntries(count, 42);
  std::vector<qvStreamVolumeSource::Volume> volumes;
  volumes.push_back(std::move(v));
  engine->SetVolumeSource(std::make_unique<qvStreamVolumeSource>(std::move(volumes)));
  engine->Initialize(nullptr);
  engine->WaitUntilInitialised();
  engineCount = count;
  return engine;
}

void Search(benchmark::State& state, const char16_t* query, const char16_t* filter) {
  size_t count = static_cast<size_t>(state.range(0));
  qvKearchImpl* engine = EngineOf(count);
  SetScanThreads(static_cast<unsigned>(state.range(1)));
  for (auto _ : state) engine->Search(query, filter, 1);
  state.counters["rows"] = engine->GetFolderResultCount() + engine->GetFileResultCount();
  state.counters["names/s"] = benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate);
}

// The same, with the engine's search options set for the run and put
// back to the designed test after it.
void SearchIn(benchmark::State& state, std::initializer_list<const char*> options, const char16_t* query) {
  qvKearchImpl* engine = EngineOf(static_cast<size_t>(state.range(0)));
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  for (const char* o : options) config->SetOption(o, o == std::string_view("show_hidden") ? "0" : "1");
  Search(state, query, u"");
  for (const char* o : options) config->SetOption(o, o == std::string_view("show_hidden") ? "1" : "0");
}

template <bool Files>
size_t MemchrList(RecordList& list) {
  size_t found = 0;
  for (size_t p = 0; p < list.PageCount(); ++p) {
    const RecordPage* page = list.Page(p);
    for (uint32_t i = page->first; i < page->end; ++i) {
      // Fetched ahead the way the scans fetch them.
      if (i + 32 < page->end) {
        __builtin_prefetch(page->slots[i + 32]);
        __builtin_prefetch(page->slots[i + 32] + 48);
      }
      const uint8_t* r = page->slots[i];
      const uint8_t* name = Files ? FileRecord::Name(r) : DirRecord::Name(r);
      size_t length = Files ? FileRecord::NameLength(r) : DirRecord::NameLength(r);
      found += std::memchr(name, 0x7F, length) != nullptr;
    }
  }
  return found;
}

void BM_MemchrFloor(benchmark::State& state) {
  size_t count = static_cast<size_t>(state.range(0));
  EngineOf(count);
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  for (auto _ : state) {
    size_t found = MemchrList<false>(app->folderList) + MemchrList<true>(app->fileList);
    benchmark::DoNotOptimize(found);
  }
  state.counters["names/s"] = benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ShortTerm(benchmark::State& s) { Search(s, u"a", u""); }
void BM_SelectiveTerm(benchmark::State& s) { Search(s, u"report", u""); }
void BM_TwoTerms(benchmark::State& s) { Search(s, u"photo final", u""); }
void BM_QuestionPattern(benchmark::State& s) { Search(s, u"d?ta", u""); }
void BM_StarPattern(benchmark::State& s) { Search(s, u"rep*t", u""); }
void BM_CjkTerm(benchmark::State& s) { Search(s, u"\u62A5\u544A", u""); }
void BM_AnyWithFilter(benchmark::State& s) { Search(s, u"*?", u"jpg png pdf"); }

// The modes beyond the designed test, each against "report" above.
void BM_WholeName(benchmark::State& s) { SearchIn(s, {"whole_name"}, u"report"); }
void BM_WindowModes(benchmark::State& s) {
  SearchIn(s, {"whole_name", "pinyin", "path_terms", "query_prefixes"}, u"report");
}
void BM_WholeNameStar(benchmark::State& s) { SearchIn(s, {"whole_name"}, u"*.pdf"); }
void BM_PinyinTerm(benchmark::State& s) { SearchIn(s, {"whole_name", "pinyin"}, u"bg"); }
void BM_Regex(benchmark::State& s) { SearchIn(s, {"whole_name", "regex"}, u"report"); }
void BM_RegexPattern(benchmark::State& s) { SearchIn(s, {"whole_name", "regex"}, u"^rep.*t\\.(pdf|txt)$"); }
void BM_PathTerm(benchmark::State& s) { SearchIn(s, {"whole_name", "path_terms"}, u"data/report"); }
void BM_HiddenLeftOut(benchmark::State& s) { SearchIn(s, {"whole_name", "show_hidden"}, u"report"); }

}  // namespace

// Registered size by size, so that each index is built once.
int main(int argc, char** argv) {
  const std::pair<const char*, void (*)(benchmark::State&)> benches[] = {
      {"MemchrFloor", BM_MemchrFloor},   {"ShortTerm", BM_ShortTerm},     {"SelectiveTerm", BM_SelectiveTerm},
      {"TwoTerms", BM_TwoTerms},         {"QuestionPattern", BM_QuestionPattern},
      {"StarPattern", BM_StarPattern},   {"CjkTerm", BM_CjkTerm},         {"AnyWithFilter", BM_AnyWithFilter},
      {"WholeName", BM_WholeName},       {"WindowModes", BM_WindowModes}, {"WholeNameStar", BM_WholeNameStar},
      {"PinyinTerm", BM_PinyinTerm},     {"Regex", BM_Regex},             {"RegexPattern", BM_RegexPattern},
      {"PathTerm", BM_PathTerm},         {"HiddenLeftOut", BM_HiddenLeftOut}};
  // Arguments: names in the index, threads a scan may use (the floor is
  // one thread's pass).
  for (int64_t count : {1000000, 5000000}) {
    for (const auto& [name, fn] : benches) {
      for (int64_t threads : {1, 2}) {
        if (fn == BM_MemchrFloor && threads > 1) continue;
        benchmark::RegisterBenchmark(name, fn)
            ->Args({count, threads})
            ->Unit(benchmark::kMillisecond)
            // The machine may be shared: the fastest repetition is the one
            // least disturbed.
            ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
