// Saving and loading the index of 1,000,000 synthetic entries: building
// the file contents in memory, the whole save (both files written, synced
// and renamed into place), the whole load from files in the page cache,
// and the load from a buffer alone. Reports the file sizes.
#include <benchmark/benchmark.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "qvCollation.h"
#include "qvDatabase.h"
#include "qvDatabaseIo.h"
#include "qvFileBaseApp.h"
#include "qvNameCodec.h"
#include "qvResource.h"
#include "qvStreamScan.h"
#include "qvWriteMgr.h"
#include "synthetic_index.h"

namespace {

constexpr uint64_t kJournal = 0x5EED;

void Discover(qvFileBaseApp& app) {
  app.volumes.Clear();
  app.volumes.indexed[0] = true;
  app.volumes.journalId[0] = kJournal;
}

// One scanned index of a million entries and a data folder holding its
// saved files, shared by every benchmark.
class SavedIndex {
 public:
  static SavedIndex& Get() {
    static SavedIndex index;
    return index;
  }
  qvFileBaseApp& App() { return *app_; }
  // The folder with a '/', followed by `name`.
  std::string Path(const char* name = "") const {
    std::string path = folder_;
    path.append(1, '/').append(name);
    return path;
  }
  size_t Entries() const { return app_->folderList.Count() + app_->fileList.Count(); }
  off_t FileSize(const char* name) const {
    struct stat st;
    return ::stat(Path(name).c_str(), &st) == 0 ? st.st_size : -1;
  }

 private:
  SavedIndex() {
    char pattern[] = "/tmp/qvdb-bench-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    size_t size = 0;
    qvCollation::SetRankTable(static_cast<const uint16_t*>(qvFindResource("ZISORT", QV_RESOURCE_ZISORT, &size)));
    auto entries = MakeSyntheticEntries(1000000, 42);
    std::vector<ScanEntry> stream;
    stream.reserve(entries.size());
    for (const auto& e : entries)
      stream.push_back({e.fileRef, e.parentRef, e.attributes, e.name.data(), static_cast<uint32_t>(e.name.size())});
    app_ = std::make_unique<qvFileBaseApp>();
    app_->extTable.Reset();
    app_->dataFolder = qvNameCodec::DecodeToString(Path());
    Discover(*app_);
    qvStreamScan scan(*app_, nullptr);
    scan.BeginVolume(0, u"/");
    scan.AddEntries(stream.data(), stream.size());
    scan.EndVolume();
    if (!scan.Finish() || !qvDatabase::SaveIndex(*app_).ok()) throw std::runtime_error("building the index failed");
  }
  ~SavedIndex() {
    nftw(
        folder_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }

  std::unique_ptr<qvFileBaseApp> app_;
  std::string folder_;
};

void ReportSizes(benchmark::State& state, SavedIndex& index) {
  state.counters["entries"] = static_cast<double>(index.Entries());
  state.counters["ntfsqs_db_bytes"] = static_cast<double>(index.FileSize("ntfsqs.db"));
  state.counters["ext_db_bytes"] = static_cast<double>(index.FileSize("ext.db"));
  state.counters["bytes_per_entry"] =
      static_cast<double>(index.FileSize("ntfsqs.db")) / static_cast<double>(index.Entries());
}

void BM_BuildImages(benchmark::State& state) {
  SavedIndex& index = SavedIndex::Get();
  for (auto _ : state) {
    CWriteMgr db(index.App().heap), ext(index.App().heap);
    if (!qvDatabase::BuildIndexImage(index.App(), db) || !qvDatabase::BuildExtImage(index.App(), ext))
      state.SkipWithError("build failed");
    benchmark::DoNotOptimize(db.Total());
  }
  ReportSizes(state, index);
}
BENCHMARK(BM_BuildImages)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Save(benchmark::State& state) {
  SavedIndex& index = SavedIndex::Get();
  for (auto _ : state)
    if (!qvDatabase::SaveIndex(index.App()).ok()) state.SkipWithError("save failed");
  ReportSizes(state, index);
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Load(benchmark::State& state) {
  SavedIndex& index = SavedIndex::Get();
  auto app = std::make_unique<qvFileBaseApp>();
  app->dataFolder = qvNameCodec::DecodeToString(index.Path());
  for (auto _ : state) {
    state.PauseTiming();
    app->ClearIndex();
    Discover(*app);
    state.ResumeTiming();
    if (!qvDatabase::LoadSavedIndex(*app, nullptr).ok())
      state.SkipWithError("load failed");
  }
  ReportSizes(state, index);
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->Iterations(10);

// The load without the file read: the parse, checks and table building.
void BM_LoadImage(benchmark::State& state) {
  SavedIndex& index = SavedIndex::Get();
  auto app = std::make_unique<qvFileBaseApp>();
  app->extTable.Reset();
  qvDbIo::HeapBuffer buffer(app->heap);
  int error = 0;
  if (qvDbIo::ReadWholeFile(index.Path("ntfsqs.db"), qvDbIo::SizeRule{}, buffer, error) != qvDbIo::ReadResult::kOk) {
    state.SkipWithError("read failed");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    app->ClearIndex();
    Discover(*app);
    state.ResumeTiming();
    if (!qvDatabase::LoadIndexImage(*app, buffer.Data(), buffer.Size()).ok()) state.SkipWithError("load failed");
  }
  ReportSizes(state, index);
}
BENCHMARK(BM_LoadImage)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
