// qvsearch: the search engine from a terminal. Loads the engine library
// from the program's own folder exactly as the search window does, indexes
// the machine's volumes or the folders named with --root, and prints the
// rows of one query.
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "IQvSearch.h"
#include "qvAppFolders.h"
#include "qvFormat.h"
#include "qvNameCodec.h"
#include "qvPath.h"

namespace {

const char kUsage[] =
    "usage: qvsearch [--root DIR]... [--data DIR] [--ext LIST] [--count] [--long]\n"
    "                [--offline] [--no-save] [--watch] [--stats] [-0] [TERM...]\n"
    "Prints the folders and files whose names hold every TERM ('?' and '*' are\n"
    "wildcards, ASCII letters match either case), folders first; without a\n"
    "TERM, every folder and file.\n"
    "  --root DIR   index DIR instead of this machine's volumes (repeatable)\n"
    "  --data DIR   keep the saved index in DIR (default: data/ beside the program,\n"
    "               or ~/.local/share/qvsearch/ when installed by the system)\n"
    "  --ext LIST   only files with these extensions (spaces or commas between)\n"
    "  --count      print the number of rows only\n"
    "  --long       print name, folder, size, times and attributes, tab-separated\n"
    "  --offline    answer from the saved index alone, without reading the volumes\n"
    "  --no-save    do not save the index at exit\n"
    "  --stats      print the index size and the search time to standard error\n"
    "  --watch      keep running and print the answer again whenever changes to\n"
    "               the files alter it, until interrupted\n"
    "  -0           end rows with NUL instead of newline\n";

struct Options {
  std::vector<std::string> roots;
  std::string data;
  std::string ext;
  std::vector<std::string> terms;
  bool count = false;
  bool longForm = false;
  bool offline = false;
  bool noSave = false;
  bool nul = false;
  bool watch = false;
  bool stats = false;
};

int Fail(const std::string& message) {
  std::fprintf(stderr, "qvsearch: %s\n", message.c_str());
  return 2;
}

// Receives the engine's calls: progress lines (to a terminal only) and the
// answer to the query.
class CliSink : public IQvSearchNotify {
 public:
  explicit CliSink(bool showProgress) : showProgress_(showProgress) {}
  void Release() override {}
  IUnknownEx* QueryInterface(const qvGUID* iid, uint32_t version) override {
    if (!iid || !IsAcceptedQvVersion(version)) return nullptr;
    return IsEqualQvGUID(*iid, IID_IQvSearchNotify) || IsEqualQvGUID(*iid, IID_IUnknownEx) ? this : nullptr;
  }
  void OnStatus(int32_t count, const char* fmt, ...) override {
    bool answered = count >= 0 || (fmt && fmt[0] == 0);
    if (!answered && fmt && showProgress_) {
      char text[4096];
      va_list args;
      va_start(args, fmt);
      std::vsnprintf(text, sizeof text, fmt, args);
      va_end(args);
      std::fprintf(stderr, "\r\033[K%s", text);
      std::fflush(stderr);
      progressShown_ = true;
    }
    if (answered) {
      std::lock_guard<std::mutex> g(lock_);
      ++answers_;
      cv_.notify_all();
    }
  }
  void OnVolumeFound(int32_t, const qvChar*) override {}
  bool IsValid() override { return true; }

  void WaitForAnswer() {
    std::unique_lock<std::mutex> g(lock_);
    cv_.wait(g, [this] { return answers_ > 0; });
    seen_ = answers_;
    if (progressShown_) std::fprintf(stderr, "\r\033[K");
  }

  // Waits for an answer newer than the last one seen; false once stopped.
  bool WaitForNewAnswer() {
    std::unique_lock<std::mutex> g(lock_);
    cv_.wait(g, [this] { return answers_ > seen_ || stopped_; });
    seen_ = answers_;
    return !stopped_;
  }

  void StopWaiting() {
    std::lock_guard<std::mutex> g(lock_);
    stopped_ = true;
    cv_.notify_all();
  }

 private:
  bool showProgress_;
  bool progressShown_ = false;
  std::mutex lock_;
  std::condition_variable cv_;
  uint64_t answers_ = 0;
  uint64_t seen_ = 0;
  bool stopped_ = false;
};

void ReportError(void*, const char* text) { std::fprintf(stderr, "\r\033[Kqvsearch: %s\n", text); }

bool ParseArgs(int argc, char** argv, Options* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        *error = std::string(name) + " needs a value";
        return nullptr;
      }
      return argv[++i];
    };
    if (a == "--root") {
      const char* v = value("--root");
      if (!v) return false;
      o->roots.push_back(v);
    } else if (a == "--data") {
      const char* v = value("--data");
      if (!v) return false;
      o->data = v;
    } else if (a == "--ext") {
      const char* v = value("--ext");
      if (!v) return false;
      o->ext = v;
    } else if (a == "--count") o->count = true;
    else if (a == "--long") o->longForm = true;
    else if (a == "--offline") o->offline = true;
    else if (a == "--no-save") o->noSave = true;
    else if (a == "-0") o->nul = true;
    else if (a == "--watch") o->watch = true;
    else if (a == "--stats") o->stats = true;
    else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (a == "--") {
      for (++i; i < argc; ++i) o->terms.push_back(argv[i]);
    } else if (a.size() > 1 && a[0] == '-') {
      *error = "unknown option " + a;
      return false;
    } else {
      o->terms.push_back(a);
    }
  }
  return true;
}

// An absolute form of a root, without resolving symbolic links inside it.
std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return path;
  std::string base = cwd;
  if (path == ".") return base;
  return base + (base.back() == '/' ? "" : "/") + path;
}

bool MakeFolder(const std::string& path) {
  std::string partial;
  for (size_t i = 0; i < path.size(); ++i) {
    partial += path[i];
    if ((path[i] == '/' || i + 1 == path.size()) && partial.size() > 1) {
      if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

// data/ beside a portable program, else the user's data folder.
std::string DefaultDataFolder() {
  const qvAppFolders folders = qvAppFolders::Locate(qvPath::GetAppPath());
  folders.MakeFolders();
  return qvNameCodec::EncodeToString(folders.dataFolder);
}

std::string Utf8(const qvChar* s) { return qvNameCodec::EncodeToString(s); }

// The rows of the current answer, each ended by a newline or NUL.
std::string RenderRows(IQvSearch* engine, const Options& o, int32_t rows) {
  std::string out;
  std::vector<qvChar> path(QV_MAX_PATH), name(QV_MAX_PATH);
  auto details = std::make_unique<ItemDetails>();
  char end = o.nul ? '\0' : '\n';
  for (int32_t r = 0; r < rows; ++r) {
    std::string line;
    if (o.longForm) {
      engine->GetItemDetails(details.get(), r);
      bool folder = details->isFolder != 0;
      line = Utf8(details->name) + '\t' + Utf8(details->folderPath) + '\t' + qvFormatSize(details->size, folder) +
             '\t' + qvFormatFileTime(details->creationTime) + '\t' + qvFormatFileTime(details->modificationTime) +
             '\t' + qvFormatFileTime(details->accessTime) + '\t' + qvFormatAttributes(details->attributes, folder);
    } else {
      int32_t pathLength = engine->GetItemText(r, path.data(), name.data(), nullptr);
      line = Utf8(path.data()) + Utf8(name.data());
      if (pathLength == 0 && line.empty()) line = "/";  // the root of the file system
    }
    out += line;
    out += end;
  }
  return out;
}

std::string RenderAnswer(IQvSearch* engine, const Options& o, int32_t* rowsOut) {
  int32_t rows = engine->GetFolderResultCount() + engine->GetFileResultCount();
  *rowsOut = rows;
  if (o.count) return std::to_string(rows) + "\n";
  return RenderRows(engine, o, rows);
}

// The index's size, and the median time of the same search run again in
// this process (no start-up, no output).
void PrintStats(IQvSearch* engine, IQvSearchConfig* config, const std::string& query, const std::string& filter) {
  int64_t folders = config->QueryValue("folders"), files = config->QueryValue("files");
  int64_t bytes = config->QueryValue("index_bytes");
  qvString q = qvNameCodec::DecodeToString(query), f = qvNameCodec::DecodeToString(filter);
  std::vector<double> ms;
  constexpr int kRuns = 51;
  for (int i = 0; i < kRuns; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    engine->Search(q.c_str(), f.c_str(), 1);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  double entries = static_cast<double>(folders + files);
  std::fprintf(stderr, "folders %lld, files %lld, index %.1f MB, %.1f bytes per entry, search %.3f ms (median of %d, best %.3f ms)\n",
               static_cast<long long>(folders), static_cast<long long>(files), bytes / 1e6,
               entries > 0 ? bytes / entries : 0.0, ms[ms.size() / 2], kRuns, ms.front());
  std::fprintf(stderr, "read %.1f ms, link and sort %.1f ms, database load %.1f ms\n",
               config->QueryValue("read_us") / 1e3, config->QueryValue("build_us") / 1e3,
               config->QueryValue("load_us") / 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::string error;
  if (!ParseArgs(argc, argv, &o, &error)) return Fail(error + " (see --help)");
  for (std::string& root : o.roots) {
    root = Absolute(root);
    struct stat st;
    if (stat(root.c_str(), &st) != 0) return Fail("cannot read " + root + ": " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode)) return Fail(root + " is not a folder");
    if (access(root.c_str(), R_OK | X_OK) != 0) return Fail("cannot read " + root + ": " + std::strerror(errno));
  }

  std::string module = qvNameCodec::EncodeToString(qvPath::GetAppPath()) + "qvBaseModule.so";
  void* library = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) return Fail(std::string("engine not found: ") + dlerror());
  auto create = reinterpret_cast<CreateObjcetFn>(dlsym(library, "CreateObjcet"));
  if (!create) return Fail("engine has no CreateObjcet");
  IQvSearch* engine = create(&IID_IQvSearch, QV_SEARCH_VERSION);
  if (!engine) return Fail("engine could not be created");
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  if (!config) return Fail("engine lacks its configuration interface");

  config->SetErrorReporter(ReportError, nullptr);
  std::string data = o.data.empty() ? DefaultDataFolder() : Absolute(o.data);
  if (data.back() != '/') data += '/';
  if (!o.offline && !o.noSave && !MakeFolder(data)) return Fail("cannot create the data folder " + data);
  config->SetDataFolder(qvNameCodec::DecodeToString(data).c_str());
  for (const std::string& root : o.roots)
    if (!config->AddRoot(qvNameCodec::DecodeToString(root).c_str())) return Fail("cannot index " + root);
  config->SetOption("offline", o.offline ? "1" : "0");
  config->SetOption("no_load", o.offline ? "0" : "1");
  config->SetOption("no_save", o.noSave || o.offline ? "1" : "0");
  // A run that answers once and exits has no changes to follow; watching
  // every folder would only slow its scan down.
  if (!o.watch) config->SetOption("monitor", "off");

  std::string query;
  for (const std::string& t : o.terms) query += (query.empty() ? "" : " ") + t;
  std::string filter = o.ext;
  for (char& c : filter)
    if (c == ',') c = ' ';
  // No term (or only blank ones) asks for every entry, as "*?" does; the
  // engine itself answers an empty search box with nothing.
  if (query.find_first_not_of(' ') == std::string::npos) query = "*?";

  // With --watch, SIGINT and SIGTERM end the run through a thread of their
  // own; every engine thread inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  if (o.watch) pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  CliSink sink(isatty(STDERR_FILENO) != 0);
  // Stored before initialisation, the query is answered as soon as the
  // index is ready.
  engine->Search(qvNameCodec::DecodeToString(query).c_str(), qvNameCodec::DecodeToString(filter).c_str(), 1);
  engine->Initialize(&sink);
  sink.WaitForAnswer();

  int status;
  if (o.offline && config->QueryValue("loaded") != 1) {
    status = Fail("no current saved index in " + data + " (run once without --offline)");
  } else {
    int32_t rows = 0;
    std::string answer = RenderAnswer(engine, o, &rows);
    std::fwrite(answer.data(), 1, answer.size(), stdout);
    std::fflush(stdout);
    status = rows > 0 ? 0 : 1;
    if (o.stats) PrintStats(engine, config, query, filter);
    if (o.watch) {
      std::thread waiter([&] {
        int sig;
        sigwait(&stopSignals, &sig);
        sink.StopWaiting();
      });
      while (sink.WaitForNewAnswer()) {
        std::string fresh = RenderAnswer(engine, o, &rows);
        if (fresh == answer) continue;
        answer = fresh;
        if (!o.count) std::fputs(o.nul ? "" : "--\n", stdout);
        std::fwrite(answer.data(), 1, answer.size(), stdout);
        std::fflush(stdout);
      }
      waiter.join();
      status = 0;
    }
  }
  engine->Release();
  dlclose(library);
  return status;
}
