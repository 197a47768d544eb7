// Sorting the current result by each column, over real files: a folder of
// FILES empty files (made once in a temporary folder, page cache warm) is
// indexed, every file is found, and SortResults is timed by column, first
// right after the search (sizes and times read from the disk) and then
// again (kept). Then typing is timed while size sorts run on another
// thread: the search calls' latency shows whether typing stays responsive.
//   sort_bench [FILES]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "IQvSearch.h"
#include "qvFileBaseApp.h"
#include "qvKearchImpl.h"
#include "qvNameCodec.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// FILES files in 100 folders, of varied sizes (sparse) and times.
void MakeTree(const std::string& root, int files) {
  for (int d = 0; d < 100; ++d) std::filesystem::create_directories(root + "/d" + std::to_string(d));
  for (int i = 0; i < files; ++i) {
    std::string path = root + "/d" + std::to_string(i % 100) + "/f" + std::to_string(i * 7919 % files) + ".dat";
    int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    if (fd < 0) continue;
    if (ftruncate(fd, static_cast<off_t>((static_cast<int64_t>(i) * 104729) % 1000000)) != 0) std::perror("ftruncate");
    struct timespec times[2] = {{1500000000 + (i * 31) % 100000, 0}, {1500000000 + (i * 17) % 100000, 0}};
    futimens(fd, times);
    close(fd);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int files = argc > 1 ? std::atoi(argv[1]) : 100000;
  char pattern[] = "/tmp/qv-sort-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  std::string root = pattern;
  auto made = Clock::now();
  MakeTree(root, files);
  std::printf("made %d files in %.0f ms\n", files, MsSince(made));

  auto* engine = static_cast<qvKearchImpl*>(CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION));
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  auto* results = static_cast<IQvSearchResults*>(engine->QueryInterface(&IID_IQvSearchResults, QV_SEARCH_VERSION));
  config->SetDataFolder(qvNameCodec::DecodeToString(root + "/data/").c_str());
  config->SetOption("no_save", "1");
  config->SetOption("no_load", "1");
  config->SetOption("monitor", "off");
  config->AddRoot(qvNameCodec::DecodeToString(root).c_str());
  engine->Initialize(nullptr);
  engine->WaitUntilInitialised();

  struct Column {
    const char* name;
    int32_t order;
  } columns[] = {{"name", QV_SORT_NAME},         {"path", QV_SORT_PATH},         {"size", QV_SORT_SIZE},
                 {"mtime", QV_SORT_MODIFIED},    {"ctime", QV_SORT_CREATED},     {"atime", QV_SORT_ACCESSED},
                 {"attributes", QV_SORT_ATTRIBUTES}};
  std::printf("%-11s %8s %14s %14s\n", "column", "rows", "first ms", "again ms");
  for (const Column& c : columns) {
    std::vector<double> first, again;
    int32_t rows = 0;
    for (int run = 0; run < 5; ++run) {
      engine->Search(u"*?", u"dat", 1);  // a new result: nothing read yet
      auto start = Clock::now();
      rows = results->SortResults(c.order, run % 2);
      first.push_back(MsSince(start));
      start = Clock::now();
      results->SortResults(c.order, 1 - run % 2);
      again.push_back(MsSince(start));
    }
    std::printf("%-11s %8d %14.1f %14.1f\n", c.name, rows, Median(first), Median(again));
  }

  // Where the time of a first sort goes: finding the rows to read (under
  // the engine lock), reading them (without it), keeping them.
  {
    engine->Search(u"*?", u"dat", 1);
    std::vector<qvFactRequest> missing;
    auto start = Clock::now();
    {
      std::lock_guard<std::mutex> guard(engine->lock);
      missing = engine->resultSort.MissingLocked(engine->IndexLocked());
    }
    double collect = MsSince(start);
    start = Clock::now();
    std::vector<qvItemFacts> facts = qvResultSort::ReadFacts(missing, 4);
    double read = MsSince(start);
    start = Clock::now();
    {
      std::lock_guard<std::mutex> guard(engine->lock);
      engine->resultSort.AddFacts(missing, facts);
      engine->resultSort.SetOrder(qvSortColumn::kSize, false);
      engine->resultSort.ApplyLocked(engine->IndexLocked());
    }
    std::printf("first size sort: rows to read %.1f ms (lock held), statx %.1f ms, keep and sort %.1f ms (lock held)\n",
                collect, read, MsSince(start));
    // The reading alone by the number of threads (median of 3).
    for (int threads : {1, 2, 4, 8}) {
      std::vector<double> times;
      for (int run = 0; run < 3; ++run) {
        start = Clock::now();
        qvResultSort::ReadFacts(missing, threads);
        times.push_back(MsSince(start));
      }
      std::printf("  statx of %zu rows on %d thread(s): %.1f ms\n", missing.size(), threads, Median(times));
    }
  }

  // Typing while size sorts run: each letter is one search of the window's
  // kind, timed on this thread.
  std::atomic<bool> stop{false};
  std::atomic<int> sorts{0};
  std::thread sorter([&] {
    while (!stop) {
      engine->Search(u"*?", u"dat", 1);
      results->SortResults(QV_SORT_SIZE, 1);
      ++sorts;
    }
  });
  std::vector<double> keys;
  const char16_t* words[] = {u"f", u"f1", u"f12", u"f123", u"f12", u"f1", u"f"};
  auto until = Clock::now() + std::chrono::seconds(3);
  while (Clock::now() < until) {
    for (const char16_t* w : words) {
      auto start = Clock::now();
      engine->Search(w, u"", 1);
      keys.push_back(MsSince(start));
    }
  }
  stop = true;
  sorter.join();
  std::sort(keys.begin(), keys.end());
  std::printf("typing during sorts: %zu searches, median %.2f ms, p95 %.2f ms, max %.2f ms (%d sorts ran)\n",
              keys.size(), keys[keys.size() / 2], keys[keys.size() * 95 / 100], keys.back(), sorts.load());

  engine->Release();
  std::filesystem::remove_all(root);
  return 0;
}
