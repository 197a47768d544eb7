// Ten million synthetic entries in memory: the build (entries in, link,
// sort, layout), the engine's bytes per entry, one plain term on one and
// on two cores, the save, the load, and the peak resident memory of each,
// printed as a table with the goal beside each figure.
//
//   ten_million_bench [ENTRIES [FOLDER]]
//   ten_million_bench --build-phase FOLDER   (or --load-phase: one phase again)
//   ten_million_bench --load-only FOLDER     (the load's rows alone, to profile it)
//
// The stream is made first and written to a file in a temporary folder,
// frame by frame; the build then runs in a fresh process that reads the
// file back in frames of 65,536 entries, as a scan reads directory
// entries, so that its peak memory is the build's and not the generator's.
// The load runs in a third process. Everything is removed at the end,
// unless FOLDER was named.
#include <fcntl.h>
#include <ftw.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "qvCollation.h"
#include "qvDatabase.h"
#include "qvFileBaseApp.h"
#include "qvNameCodec.h"
#include "qvResource.h"
#include "qvScans.h"
#include "qvSearchDriver.h"
#include "qvStreamScan.h"
#include "synthetic_index.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// CPU time of this thread, in ms: beside a wall time it tells how much of
// it the thread waited for a core on a shared machine.
double ThreadCpuMs() {
  timespec t;
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "ten_million_bench: %s\n", what.c_str());
  std::exit(1);
}

// A line of /proc/self/status in MB ("VmHWM": the peak resident set so
// far, "VmRSS": the resident set now).
double StatusMb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(status, line))
    if (line.compare(0, n, field) == 0 && line[n] == ':') return std::strtod(line.c_str() + n + 1, nullptr) / 1024.0;
  return -1;
}

// Starts the "VmHWM" count again from the resident set now, so that the
// peak of one step can be told from the peaks before it.
void ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

// The goals are set for ten million entries: a smaller run shows them
// without a verdict.
bool gGoalsApply = false;

void Row(const char* what, const std::string& figure, const char* goal, int met) {
  const char* mark = met < 0 ? "" : !gGoalsApply ? "at 10 M" : met ? "met" : "NOT met";
  std::printf("| %-52s | %-34s | %-9s | %-7s |\n", what, figure.c_str(), goal, mark);
  std::fflush(stdout);
}

std::string Format(const char* fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

// ---- The stream file: frames of {count, units}, `count` fixed records,
// then the frame's name units.

struct FrameHeader {
  uint32_t count;
  uint32_t units;
};
struct FrameRecord {
  uint64_t fileRef;
  uint64_t parentRef;
  uint32_t attributes;
  uint32_t nameLength;
};
constexpr size_t kFrameEntries = 65536;

// Writes `total` entries made by MakeSyntheticEntries a million at a time,
// each million a tree of its own below the root (refs moved past the ones
// before, the root's number kept).
void WriteStream(const std::string& path, size_t total) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) Die("cannot create " + path);
  constexpr size_t kChunk = 1000000;
  constexpr uint64_t kRoot = 5;
  std::vector<FrameRecord> records;
  std::vector<char16_t> units;
  for (size_t done = 0, chunk = 0; done < total; done += kChunk, ++chunk) {
    auto entries = MakeSyntheticEntries(std::min(kChunk, total - done), static_cast<uint32_t>(42 + chunk));
    const uint64_t shift = done;
    for (size_t i = 0; i < entries.size(); i += kFrameEntries) {
      records.clear();
      units.clear();
      for (size_t k = i; k < std::min(entries.size(), i + kFrameEntries); ++k) {
        const auto& e = entries[k];
        records.push_back({e.fileRef + shift, e.parentRef == kRoot ? kRoot : e.parentRef + shift, e.attributes,
                           static_cast<uint32_t>(e.name.size())});
        units.insert(units.end(), e.name.begin(), e.name.end());
      }
      FrameHeader h{static_cast<uint32_t>(records.size()), static_cast<uint32_t>(units.size())};
      if (std::fwrite(&h, sizeof h, 1, out) != 1 ||
          std::fwrite(records.data(), sizeof(FrameRecord), records.size(), out) != records.size() ||
          std::fwrite(units.data(), sizeof(char16_t), units.size(), out) != units.size())
        Die("cannot write " + path);
    }
  }
  if (std::fclose(out) != 0) Die("cannot write " + path);
}

bool ReadAll(int fd, void* data, size_t size) {
  auto* p = static_cast<char*>(data);
  while (size > 0) {
    ssize_t n = ::read(fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// ---- The index and its data folder.

void UseRankTable() {
  size_t size = 0;
  qvCollation::SetRankTable(static_cast<const uint16_t*>(qvFindResource("ZISORT", QV_RESOURCE_ZISORT, &size)));
}

void PrepareIndex(qvFileBaseApp& app, const std::string& dataFolder) {
  app.extTable.Reset();
  app.dataFolder = qvNameCodec::DecodeToString(dataFolder + "/");
  app.volumes.Clear();
  app.volumes.indexed[0] = true;
  app.volumes.journalId[0] = 0x5EED;
}

size_t Entries(const qvFileBaseApp& app) { return app.folderList.Count() + app.fileList.Count(); }

// One plain term, `runs` times on `threads` threads: the median and the
// best in ms, and the rows of the last answer.
struct SearchTimes {
  double median = 0, best = 0;
  size_t rows = 0;
};
SearchTimes TimeSearch(qvFileBaseApp& app, const char16_t* term, unsigned threads, int runs) {
  SetScanThreads(threads);
  std::vector<double> ms;
  SearchTimes t;
  for (int i = 0; i < runs + 1; ++i) {
    std::u16string query = term, filter;
    qvSearchRequest request{query.data(), filter.data(), 1};
    auto t0 = Clock::now();
    RunSearch(app, app.patternSet, request, {nullptr, nullptr});
    if (i > 0) ms.push_back(MillisSince(t0));  // the first run warms the caches
    t.rows = app.folderResults.Count() + app.fileResults.Count();
  }
  std::sort(ms.begin(), ms.end());
  t.median = ms[ms.size() / 2];
  t.best = ms.front();
  return t;
}

constexpr int kSearchRuns = 21;

// The floor a search is measured against: one memchr pass over every
// packed name, walked in list order on one core.
template <bool Files>
size_t MemchrList(const RecordList& list) {
  size_t found = 0;
  for (size_t p = 0; p < list.PageCount(); ++p) {
    const RecordPage* page = list.Page(p);
    for (uint32_t i = page->first; i < page->end; ++i) {
      const uint8_t* r = page->slots[i];
      const uint8_t* name = Files ? FileRecord::Name(r) : DirRecord::Name(r);
      size_t length = Files ? FileRecord::NameLength(r) : DirRecord::NameLength(r);
      found += std::memchr(name, 0x7F, length) != nullptr;
    }
  }
  return found;
}

double MemchrFloorMs(const qvFileBaseApp& app) {
  std::vector<double> ms;
  for (int i = 0; i < kSearchRuns + 1; ++i) {
    auto t0 = Clock::now();
    volatile size_t found = MemchrList<false>(app.folderList) + MemchrList<true>(app.fileList);
    (void)found;
    if (i > 0) ms.push_back(MillisSince(t0));
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

void ReportSearch(qvFileBaseApp& app, const char* when) {
  Row((std::string("floor: memchr over every name, one core, ") + when).c_str(),
      Format("%.1f ms", MemchrFloorMs(app)), "-", -1);
  for (unsigned threads : {1u, 2u}) {
    SearchTimes t = TimeSearch(app, u"report", threads, kSearchRuns);
    std::string what = std::string("\"report\", ") + (threads == 1 ? "one core" : "two cores") + ", " + when;
    std::string figure = Format("%.1f ms", t.median) + Format(" (best %.1f", t.best) + Format(", %.0f rows)",
                                                                                              static_cast<double>(t.rows));
    if (threads == 2) Row(what.c_str(), figure, "<= 25 ms", t.median <= 25.0);
    else Row(what.c_str(), figure, "-", -1);
  }
}

// ---- The three processes.

// A fresh process: reads the stream, builds, searches, saves.
int BuildPhase(const std::string& folder) {
  UseRankTable();
  const double startMb = StatusMb("VmHWM");
  int fd = ::open((folder + "/stream").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Die("cannot open the stream");
  auto app = std::make_unique<qvFileBaseApp>();
  PrepareIndex(*app, folder + "/data");

  std::vector<FrameRecord> records;
  std::vector<char16_t> units;
  std::vector<ScanEntry> stream;
  double readMs = 0;
  const double cpu0 = ThreadCpuMs();
  auto t0 = Clock::now();
  qvStreamScan scan(*app, nullptr);
  if (!scan.BeginVolume(0, u"/")) Die("out of memory");
  for (;;) {
    auto r0 = Clock::now();
    FrameHeader h;
    if (!ReadAll(fd, &h, sizeof h)) break;
    records.resize(h.count);
    units.resize(h.units);
    if (!ReadAll(fd, records.data(), h.count * sizeof(FrameRecord)) || !ReadAll(fd, units.data(), h.units * sizeof(char16_t)))
      Die("the stream is cut short");
    stream.clear();
    const char16_t* name = units.data();
    for (const FrameRecord& f : records) {
      stream.push_back({f.fileRef, f.parentRef, f.attributes, name, f.nameLength});
      name += f.nameLength;
    }
    readMs += MillisSince(r0);
    scan.AddEntries(stream.data(), stream.size());
  }
  scan.EndVolume();
  const double entriesInMs = MillisSince(t0);
  const double readMb = StatusMb("VmHWM");
  ::close(fd);
  std::vector<FrameRecord>().swap(records);
  std::vector<char16_t>().swap(units);
  std::vector<ScanEntry>().swap(stream);
  auto t1 = Clock::now();
  if (!scan.Finish()) Die("out of memory in the build");
  const double finishMs = MillisSince(t1);
  const double buildMs = MillisSince(t0);
  const double buildCpuMs = ThreadCpuMs() - cpu0;
  const double buildPeakMb = StatusMb("VmHWM");
  const double builtRssMb = StatusMb("VmRSS");
  const size_t entries = Entries(*app);
  const auto& p = scan.phases();
  gGoalsApply = entries >= 10000000;

  Row("entries in the index", Format("%.0f", static_cast<double>(entries)), "-", -1);
  Row("entries in (stream read, records made)",
      Format("%.0f ms", entriesInMs) + Format(" (read %.0f ms)", readMs), "-", -1);
  Row("  runs sorted while reading (helper thread)", Format("%.0f ms", p.sortWhileReadingMicros / 1e3), "-", -1);
  Row("link (parents, folder map)", Format("%.0f ms", p.linkMicros / 1e3), "-", -1);
  Row("sort both lists", Format("%.0f ms", p.sortMicros / 1e3), "-", -1);
  Row("layout in list order", Format("%.0f ms", p.layoutMicros / 1e3), "-", -1);
  Row("  Finish in all (link, sort, layout, the rest)", Format("%.0f ms", finishMs), "-", -1);
  Row("build: entries in + Finish", Format("%.2f s", buildMs / 1e3) + Format(" (CPU %.2f s)", buildCpuMs / 1e3),
      "<= 8 s", buildMs <= 8000);
  Row("engine bytes per entry (IndexBytes)",
      Format("%.1f", static_cast<double>(app->IndexBytes()) / static_cast<double>(entries)) +
          Format(" (%.0f MB)", static_cast<double>(app->IndexBytes()) / 1048576.0),
      "-", -1);
  Row("peak RSS, process start (rank table, code)", Format("%.0f MB", startMb), "-", -1);
  Row("peak RSS after entries in", Format("%.0f MB", readMb), "-", -1);
  Row("peak RSS of the build process", Format("%.0f MB", buildPeakMb), "<= 450 MB", buildPeakMb <= 450);
  Row("RSS once built", Format("%.0f MB", builtRssMb), "-", -1);

  ReportSearch(*app, "after the build");

  const double beforeSaveMb = StatusMb("VmRSS");
  ResetPeak();
  auto s0 = Clock::now();
  qvStatus saved = qvDatabase::SaveIndex(*app);
  const double saveMs = MillisSince(s0);
  if (!saved.ok()) Die("the save failed");
  const double savePeakMb = StatusMb("VmHWM");
  Row("save (both files written, synced, renamed)", Format("%.0f ms", saveMs), "-", -1);
  Row("peak RSS during the save", Format("%.0f MB", savePeakMb) + Format(" (%.0f MB before it)", beforeSaveMb),
      "<= 450 MB", savePeakMb <= 450);
  Row("peak RSS of the build process after the save", Format("%.0f MB", std::max(buildPeakMb, savePeakMb)), "-", -1);
  return 0;
}

// A fresh process: loads the saved index with every check and searches it.
int LoadPhase(const std::string& folder, bool searches) {
  UseRankTable();
  auto app = std::make_unique<qvFileBaseApp>();
  PrepareIndex(*app, folder + "/data");
  const double cpu0 = ThreadCpuMs();
  auto t0 = Clock::now();
  qvStatus loaded = qvDatabase::LoadSavedIndex(*app, nullptr);
  const double loadMs = MillisSince(t0);
  const double loadCpuMs = ThreadCpuMs() - cpu0;
  if (!loaded.ok()) Die("the load failed");
  gGoalsApply = Entries(*app) >= 10000000;
  const double peakMb = StatusMb("VmHWM");
  Row("load (files read, every check)", Format("%.0f ms", loadMs) + Format(" (CPU %.0f ms)", loadCpuMs),
      "<= 0.7 s", loadMs <= 700);
  Row("peak RSS of the load process", Format("%.0f MB", peakMb) + Format(" (%.0f MB once loaded)", StatusMb("VmRSS")),
      "<= 450 MB", peakMb <= 450);
  Row("engine bytes per entry after the load",
      Format("%.1f", static_cast<double>(app->IndexBytes()) / static_cast<double>(Entries(*app))), "-", -1);
  if (searches) ReportSearch(*app, "after the load");
  return 0;
}

int RunChild(const char* phase, const std::string& folder) {
  std::fflush(stdout);
  pid_t pid = ::fork();
  if (pid < 0) Die("fork failed");
  if (pid == 0) {
    ::execl("/proc/self/exe", "ten_million_bench", phase, folder.c_str(), static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
  return 0;
}

double FileMb(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<double>(in.tellg()) / 1048576.0 : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--build-phase") == 0) return BuildPhase(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "--load-phase") == 0) return LoadPhase(argv[2], true);
  if (argc == 3 && std::strcmp(argv[1], "--load-only") == 0) return LoadPhase(argv[2], false);
  const size_t total = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000;
  if (total == 0) Die("usage: ten_million_bench [ENTRIES [FOLDER]]");

  // A folder named on the command line is kept, so that one phase can be
  // run again alone (under perf, say); a temporary one is removed.
  char pattern[] = "/tmp/qv-10m-bench-XXXXXX";
  const bool keep = argc > 2;
  if (!keep && !::mkdtemp(pattern)) Die("mkdtemp failed");
  const std::string folder = keep ? argv[2] : pattern;
  if (keep && ::mkdir(folder.c_str(), 0700) != 0) Die("cannot make " + folder);
  if (::mkdir((folder + "/data").c_str(), 0700) != 0) Die("cannot make the data folder");

  std::printf("load average at the start: %s\n", LoadAverage().c_str());
  auto g0 = Clock::now();
  WriteStream(folder + "/stream", total);
  std::printf("stream of %zu synthetic entries written in %.1f s (%.0f MB, not part of any figure)\n\n", total,
              MillisSince(g0) / 1e3, FileMb(folder + "/stream"));
  std::printf("| %-52s | %-34s | %-9s | %-7s |\n", "step", "figure", "goal", "");
  std::printf("|%s|%s|%s|%s|\n", std::string(54, '-').c_str(), std::string(36, '-').c_str(), std::string(11, '-').c_str(),
              std::string(9, '-').c_str());
  int failed = RunChild("--build-phase", folder);
  if (!failed) {
    Row("\"ntfsqs.db\" size", Format("%.1f MB", FileMb(folder + "/data/ntfsqs.db")), "-", -1);
    failed = RunChild("--load-phase", folder);
  }
  std::printf("\nload average at the end: %s\n", LoadAverage().c_str());
  if (keep) return failed;
  nftw(
      folder.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
      FTW_DEPTH | FTW_PHYS);
  return failed;
}
