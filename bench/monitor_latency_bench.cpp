// Time from a file's creation to the new row count reaching the sink, over
// a real folder followed by the live monitor: median and worst of 100.
//   bench/monitor_latency_bench [files-in-tree] [monitor-kind]
// (monitor-kind as the engine's "monitor" option: "" for the best the
// process may use, or one kind forced)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "IQvSearch.h"
#include "qvKearchImpl.h"
#include "qvNameCodec.h"

namespace {

using Clock = std::chrono::steady_clock;

class CountSink : public IQvSearchNotify {
 public:
  void Release() override {}
  IUnknownEx* QueryInterface(const qvGUID*, uint32_t) override { return nullptr; }
  void OnStatus(int32_t count, const char*, ...) override {
    if (count < 0) return;
    std::lock_guard<std::mutex> g(lock);
    last = count;
    cv.notify_all();
  }
  void OnVolumeFound(int32_t, const qvChar*) override {}
  bool IsValid() override { return true; }
  bool WaitFor(int32_t count, Clock::time_point* at) {
    std::unique_lock<std::mutex> g(lock);
    bool ok = cv.wait_for(g, std::chrono::seconds(5), [&] { return last == count; });
    *at = Clock::now();
    return ok;
  }
  std::mutex lock;
  std::condition_variable cv;
  int32_t last = -1;
};

}  // namespace

int main(int argc, char** argv) {
  size_t background = argc > 1 ? std::stoul(argv[1]) : 100000;
  std::string tier = argc > 2 ? argv[2] : "";
  std::string root = std::filesystem::temp_directory_path() / "qv-latency-XXXXXX";
  if (!mkdtemp(root.data())) return 1;
  for (size_t i = 0; i < background; ++i) {
    if (i % 1000 == 0) std::filesystem::create_directory(root + "/d" + std::to_string(i / 1000));
    close(open((root + "/d" + std::to_string(i / 1000) + "/bg" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0644));
  }
  auto* engine = static_cast<qvKearchImpl*>(CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION));
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  config->AddRoot(qvNameCodec::DecodeToString(root).c_str());
  config->SetOption("no_save", "1");
  config->SetOption("no_load", "1");
  config->SetOption("monitor", tier.c_str());
  CountSink sink;
  engine->Search(u"probe", u"", 1);
  engine->Initialize(&sink);
  engine->WaitUntilInitialised();
  for (int waited = 0; config->QueryValue("following") != 1; ++waited) {
    if (waited == 30000) {
      std::fprintf(stderr, "the monitor \"%s\" did not start\n", tier.c_str());
      engine->Release();
      std::filesystem::remove_all(root);
      return 1;
    }
    usleep(1000);
  }
  const long long kind = static_cast<long long>(config->QueryValue("monitor_tier"));
  std::vector<double> ms;
  for (int i = 0; i < 100; ++i) {
    auto t0 = Clock::now();
    close(open((root + "/d0/probe" + std::to_string(i) + ".txt").c_str(), O_CREAT | O_WRONLY, 0644));
    Clock::time_point t1;
    if (!sink.WaitFor(i + 1, &t1)) {
      std::fprintf(stderr, "count %d never arrived\n", i + 1);
      break;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    usleep(20000);  // one change at a time
  }
  engine->Release();
  std::filesystem::remove_all(root);
  if (ms.empty()) return 1;
  std::sort(ms.begin(), ms.end());
  std::printf("tree %zu files, monitor \"%s\" (kind %lld), %zu creations: median %.1f ms, worst %.1f ms\n",
              background, tier.c_str(), kind, ms.size(), ms[ms.size() / 2], ms.back());
  return 0;
}
