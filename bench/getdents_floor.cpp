// The floor of a tree walk: two threads list every folder below a root with
// getdents64 and count the entries, and do nothing else (no names kept, no
// records, no stat). What a scan costs above this is the scan's own work.
//
//   getdents_floor ROOT [THREADS]
// prints "entries N folders N ms T".
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct LinuxDirent64 {
  uint64_t ino;
  int64_t off;
  unsigned short reclen;
  unsigned char type;
  char name[];
};

// Folders waiting to be listed; a walker that finds none waits until the
// others either add some or are all waiting too.
class WorkStack {
 public:
  void Push(std::string path) {
    std::lock_guard<std::mutex> lock(mutex_);
    paths_.push_back(std::move(path));
    ready_.notify_one();
  }
  bool Pop(std::string* path) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    for (;;) {
      if (!paths_.empty()) {
        --waiting_;
        *path = std::move(paths_.back());
        paths_.pop_back();
        return true;
      }
      if (waiting_ == walkers_) {
        ready_.notify_all();
        return false;
      }
      ready_.wait(lock);
    }
  }
  explicit WorkStack(unsigned walkers) : walkers_(walkers) {}

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<std::string> paths_;
  unsigned waiting_ = 0;
  const unsigned walkers_;
};

std::atomic<uint64_t> g_entries{0};
std::atomic<uint64_t> g_folders{0};

void Walk(WorkStack& work) {
  std::vector<char> buffer(256 << 10);
  std::string path;
  uint64_t entries = 0, folders = 0;
  while (work.Pop(&path)) {
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    for (;;) {
      long n = syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
      if (n <= 0) break;
      for (long at = 0; at < n;) {
        auto* d = reinterpret_cast<LinuxDirent64*>(buffer.data() + at);
        at += d->reclen;
        if (d->name[0] == '.' && (d->name[1] == 0 || (d->name[1] == '.' && d->name[2] == 0))) continue;
        ++entries;
        if (d->type == DT_DIR) {
          ++folders;
          work.Push(path + "/" + d->name);
        }
      }
    }
    close(fd);
  }
  g_entries += entries;
  g_folders += folders;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: getdents_floor ROOT [THREADS]\n");
    return 2;
  }
  unsigned threads = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 2;
  if (threads == 0) threads = 1;
  auto start = std::chrono::steady_clock::now();
  WorkStack work(threads);
  work.Push(argv[1]);
  std::vector<std::thread> walkers;
  for (unsigned i = 0; i < threads; ++i) walkers.emplace_back(Walk, std::ref(work));
  for (auto& t : walkers) t.join();
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("entries %llu folders %llu ms %.1f\n", static_cast<unsigned long long>(g_entries.load()),
              static_cast<unsigned long long>(g_folders.load()), ms);
  return 0;
}
