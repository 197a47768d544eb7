// Building the index from 1,000,000 synthetic entries: record building,
// parent resolution and sorting, and the engine's bytes per entry.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "IQvSearch.h"
#include "qvCollation.h"
#include "qvFileBaseApp.h"
#include "qvResource.h"
#include "qvStreamScan.h"
#include "synthetic_index.h"

namespace {

void BM_BuildIndex(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  auto entries = MakeSyntheticEntries(n, 42);
  std::vector<ScanEntry> stream;
  stream.reserve(entries.size());
  for (const auto& e : entries)
    stream.push_back({e.fileRef, e.parentRef, e.attributes, e.name.data(), static_cast<uint32_t>(e.name.size())});
  size_t size = 0;
  qvCollation::SetRankTable(static_cast<const uint16_t*>(qvFindResource("ZISORT", QV_RESOURCE_ZISORT, &size)));
  double buildMs = 0, linkMs = 0, sortMs = 0, layoutMs = 0, runsMs = 0, bytes = 0;
  for (auto _ : state) {
    auto* app = new qvFileBaseApp();
    app->extTable.Reset();
    auto t0 = std::chrono::steady_clock::now();
    qvStreamScan scan(*app, nullptr);
    scan.BeginVolume(0, u"/");
    for (size_t i = 0; i < stream.size(); i += 4096)
      scan.AddEntries(stream.data() + i, std::min<size_t>(4096, stream.size() - i));
    scan.EndVolume();
    auto t1 = std::chrono::steady_clock::now();
    scan.Finish();
    buildMs += std::chrono::duration<double, std::milli>(t1 - t0).count();
    linkMs += scan.phases().linkMicros / 1e3;
    sortMs += scan.phases().sortMicros / 1e3;
    layoutMs += scan.phases().layoutMicros / 1e3;
    runsMs += scan.phases().sortWhileReadingMicros / 1e3;
    bytes = static_cast<double>(app->IndexBytes());
    state.counters["entries"] = static_cast<double>(app->folderList.Count() + app->fileList.Count());
    state.PauseTiming();
    delete app;
    state.ResumeTiming();
  }
  double iters = static_cast<double>(state.iterations());
  state.counters["records_ms"] = buildMs / iters;
  state.counters["link_ms"] = linkMs / iters;
  state.counters["sort_ms"] = sortMs / iters;
  state.counters["layout_ms"] = layoutMs / iters;
  state.counters["runs_sorted_while_reading_ms"] = runsMs / iters;
  state.counters["bytes_per_entry"] = bytes / static_cast<double>(n);
}
BENCHMARK(BM_BuildIndex)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
