// qvsearch: the search engine from a terminal. Without --root it asks the
// index service of this user first (the window, or qvsearch --serve); else,
// or when none answers, it makes the engine (linked in; the search window
// loads the same code from its module), answers from the saved index or
// indexes the machine's volumes or the folders named with --root, and
// prints the rows of one query (again at every change with --watch).
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "CTempldateHelper.h"
#include "IQvSearch.h"
#include "qvAnswerCopy.h"
#include "qvAppFolders.h"
#include "qvCliClient.h"
#include "qvCliOptions.h"
#include "qvCliOutput.h"
#include "qvCliRowText.h"
#include "qvCliSink.h"
#include "qvNameCodec.h"
#include "qvPath.h"
#include "qvServiceHost.h"
#include "qvServiceSocket.h"

namespace {

// Exit status: rows printed, none, an error, the index could not be saved.
constexpr int kRows = 0, kNoRows = 1, kError = 2, kSaveFailed = 3;

int Fail(const std::string& message) {
  std::fprintf(stderr, "qvsearch: %s\n", message.c_str());
  return kError;
}

void ReportError(void*, const char* text) { std::fprintf(stderr, "\r\033[Kqvsearch: %s\n", text); }

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
  std::fprintf(stderr, "link %.1f ms, sort %.1f ms, layout %.1f ms; runs sorted while reading %.1f ms\n",
               config->QueryValue("link_us") / 1e3, config->QueryValue("sort_us") / 1e3,
               config->QueryValue("layout_us") / 1e3, config->QueryValue("sort_reading_us") / 1e3);
}


// Hands the options to the engine. A data folder that cannot be made or
// written is said once; the answer is still given, without a save.
bool Configure(IQvSearchConfig* config, const qvCliOptions& o, std::string* data, bool* canSave) {
  config->SetErrorReporter(ReportError, nullptr);
  *data = o.data.empty() ? DefaultDataFolder() : o.data;
  if (data->back() != '/') *data += '/';
  *canSave = !o.offline && !o.noSave;
  if (*canSave && (!MakeFolder(*data) || access(data->c_str(), W_OK) != 0)) {
    std::fprintf(stderr, "qvsearch: cannot write the data folder %s (%s): the index is not saved\n", data->c_str(),
                 std::strerror(errno));
    *canSave = false;
  }
  config->SetDataFolder(qvNameCodec::DecodeToString(*data).c_str());
  for (const std::string& root : o.roots)
    if (!config->AddRoot(qvNameCodec::DecodeToString(root).c_str())) return false;
  config->SetOption("offline", o.offline ? "1" : "0");
  config->SetOption("no_load", o.offline ? "0" : "1");
  // One answer and done: only what this query may find is read from the
  // saved index. --stats measures the designed load and search, and a
  // watch asks again.
  config->SetOption("answer_only", o.offline && !o.watch && !o.stats ? "1" : "0");
  config->SetOption("no_save", *canSave ? "0" : "1");
  // A run that answers once and exits has no changes to follow; watching
  // every folder would only slow its scan down.
  config->SetOption("monitor", o.watch ? o.monitor.c_str() : "off");
  if (!o.excludes.empty() && !config->SetOption("exclude", CliExcludes(o).c_str())) return false;
  // A terminal user types what the window's users type: whole names, path
  // terms, pinyin; the switches take away or add.
  config->SetOption("whole_name", o.baseName ? "0" : "1");
  config->SetOption("path_terms", "1");
  config->SetOption("pinyin", o.noPinyin ? "0" : "1");
  config->SetOption("match_case", o.matchCase ? "1" : "0");
  config->SetOption("regex", o.regex ? "1" : "0");
  config->SetOption("show_hidden", o.hideHidden ? "0" : "1");
  return true;
}

// The search the options ask for, as the service takes it.
qvService::SearchRequest CliRequest(const qvCliOptions& o) {
  qvService::SearchRequest r;
  r.query = CliQuery(o);
  r.extFilter = CliFilter(o);
  r.details = o.longForm || o.json;
  r.watch = o.watch;
  r.countOnly = o.count;
  r.match = (o.matchCase ? qvService::kMatchCase : 0u) | (o.regex ? qvService::kRegex : 0u) |
            (o.baseName ? qvService::kBaseName : 0u) | (o.noPinyin ? qvService::kNoPinyin : 0u) |
            (o.hideHidden ? qvService::kHideHidden : 0u);
  r.sort = static_cast<uint8_t>(o.sortColumn);
  r.reverse = o.reverse;
  r.limit = o.limit;
  return r;
}

// The current answer as text. JSON rows carry their details, read with
// the rows they belong to.
std::string Render(IQvSearch* engine, IQvSearchResults* results, const qvCliOptions& o, int32_t* rows,
                   FILE* stream = nullptr) {
  if (!o.json && !CliReordersRows(o)) return RenderCliAnswer(engine, results, o, rows, stream);
  qvAnswer a;
  if (!CopyAnswer(engine, results, CliRequest(o), &a)) a.rows.clear();
  const uint64_t total = a.folders + a.files;
  *rows = static_cast<int32_t>(std::min<uint64_t>(total, INT32_MAX));
  return RenderCliRows(o, o.count ? total : a.rows.size(), a.rows);
}

// Between two answers of --watch: a "--" line, or with -0 an empty row
// (no path is empty), so that a reader can tell the answers apart.
void WriteAnswerSeparator(const qvCliOptions& o) {
  if (o.count) return;
  if (o.nul) std::fputc('\0', stdout);
  else std::fputs("--\n", stdout);
}

// Prints the answer again each time a change alters it, until SIGINT or
// SIGTERM (blocked in every thread, taken by a thread of its own).
void Watch(IQvSearch* engine, IQvSearchResults* results, const qvCliOptions& o, qvCliSink& sink,
           const sigset_t& stopSignals, std::string answer) {
  std::thread waiter([&] {
    int sig;
    sigwait(&stopSignals, &sig);
    sink.StopWaiting();
  });
  int32_t rows = 0;
  while (sink.WaitForNewAnswer()) {
    std::string fresh = Render(engine, results, o, &rows);
    if (fresh == answer) continue;
    answer = fresh;
    WriteAnswerSeparator(o);
    std::fwrite(answer.data(), 1, answer.size(), stdout);
    std::fflush(stdout);
  }
  waiter.join();
}

enum class Asked { kAnswered, kAbsent, kBroken };

// Asks the running service. kAbsent when none answers; kBroken, with the
// reason, when it failed before the answer was whole (nothing was printed
// then). `status` is the exit status when answered.
Asked AskService(const qvCliOptions& o, const sigset_t& stopSignals, int* status, std::string* why) {
  const std::string folder = qvService::SocketFolder();
  auto started = std::chrono::steady_clock::now();
  qvCliClient client;
  if (!client.Connect(folder, why)) {
    if (!client.Reached()) return Asked::kAbsent;
    *why = "the service at " + folder + "qvsearch.sock: " + *why;
    return Asked::kBroken;
  }
  const std::string where = "the service at " + folder + "qvsearch.sock (pid " + std::to_string(client.ServicePid()) + ")";
  constexpr int kSilenceMs = 30000;
  // Folders named with --root are asked of a service that indexes exactly
  // them; any other answers for other roots.
  if (!o.roots.empty()) {
    qvService::Status st;
    if (!client.Send(qvService::EncodeStatusRequest(), why) || !client.ReadStatus(&st, why, kSilenceMs)) {
      *why = where + ": " + *why;
      return Asked::kBroken;
    }
    std::vector<std::string> wanted;
    for (std::string root : o.roots) wanted.push_back(root.back() == '/' ? root : root + '/');
    std::sort(wanted.begin(), wanted.end());
    std::sort(st.roots.begin(), st.roots.end());
    if (wanted != st.roots) return Asked::kAbsent;
  }
  qvService::AnswerHeader header;
  std::vector<qvService::Row> rows;
  if (!client.Send(qvService::EncodeSearch(CliRequest(o)), why) ||
      !client.ReadAnswer(&header, &rows, why, kSilenceMs)) {
    if (o.regex && client.RefusedCode() == qvService::kErrArgument) {
      // The pattern is at fault, not the service: reading the index here
      // would refuse it too.
      std::fprintf(stderr, "qvsearch: %s\n", why->c_str());
      *status = kError;
      return Asked::kAnswered;
    }
    *why = where + ": " + *why;
    return Asked::kBroken;
  }
  const uint64_t total = header.folders + header.files;
  std::string answer = RenderCliRows(o, total, rows);
  std::fwrite(answer.data(), 1, answer.size(), stdout);
  std::fflush(stdout);
  *status = total > 0 ? kRows : kNoRows;
  if (o.stats) {
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    qvService::Status st;
    std::string error;
    if (client.Send(qvService::EncodeStatusRequest(), &error) && client.ReadStatus(&st, &error, kSilenceMs))
      std::fprintf(stderr, "answered by %s in %.3f ms; folders %llu, files %llu\n", where.c_str(), ms,
                   static_cast<unsigned long long>(st.folders), static_cast<unsigned long long>(st.files));
    else
      std::fprintf(stderr, "answered by %s in %.3f ms\n", where.c_str(), ms);
  }
  if (!o.watch) return Asked::kAnswered;
  int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  for (;;) {
    bool stopped = false;
    std::string error;
    if (!client.ReadAnswer(&header, &rows, &error, -1, stopFd, &stopped)) {
      if (!stopped) {
        std::fprintf(stderr, "qvsearch: %s: %s; watching ends\n", where.c_str(), error.c_str());
        *status = kError;
      } else {
        *status = kRows;
      }
      break;
    }
    std::string fresh = RenderCliRows(o, header.folders + header.files, rows);
    if (fresh == answer) continue;
    answer = fresh;
    WriteAnswerSeparator(o);
    std::fwrite(answer.data(), 1, answer.size(), stdout);
    std::fflush(stdout);
  }
  if (stopFd >= 0) close(stopFd);
  return Asked::kAnswered;
}

// The engine is linked into this program, not loaded from its module: an
// answer of its own then loads no shared library, which was a large part
// of a one-term answer's time. The binding still releases it (and so
// saves the index) as the window's does.
class LinkedEngine : public CTempldateHelper<IQvSearch> {
 public:
  LinkedEngine() : CTempldateHelper(&IID_IQvSearch, QV_SEARCH_VERSION, "CreateObjcet", u"", u"") {}
  bool Make() {
    IQvSearch* engine = CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION);
    if (engine) Adopt(engine);
    return engine != nullptr;
  }
};

// The service without a window: indexes, follows changes and answers until
// SIGTERM or SIGINT, then saves the index.
int Serve(qvCliOptions o) {
  std::string why;
  {
    qvCliClient running;
    if (running.Connect(qvService::SocketFolder(), &why)) {
      std::fprintf(stderr, "qvsearch: a service answers already at %sqvsearch.sock (pid %u); it is used\n",
                   qvService::SocketFolder().c_str(), running.ServicePid());
      return kRows;
    }
  }
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  // Blocked before any thread starts, so every thread inherits it.
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  LinkedEngine binding;
  if (!binding.Make()) return Fail("the engine could not be made");
  IQvSearch* engine = binding.GetInterface();
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  if (!config) return Fail("the engine lacks the interfaces of this version");
  std::string data;
  bool canSave = false;
  o.watch = true;  // a service follows the changes
  if (!Configure(config, o, &data, &canSave)) return Fail("cannot index every root given");
  bool busy = false;
  if (!qvServiceHost::Start(engine, nullptr, nullptr, {}, &why, &busy)) {
    config->SetOption("no_save", "1");
    if (busy) {
      std::fprintf(stderr, "qvsearch: %s; it is used\n", why.c_str());
      return kRows;
    }
    return Fail(why);
  }
  std::fprintf(stderr, "qvsearch: serving at %s\n", qvServiceHost::Path().c_str());
  int sig = 0;
  sigwait(&stopSignals, &sig);
  qvServiceHost::Stop();
  int status = kRows;
  if (canSave) {
    int64_t saveError = config->QueryValue("save");
    config->SetOption("no_save", "1");
    if (saveError != 0) status = kSaveFailed;
  }
  binding.UnbindEngine();
  return status;
}

// Answers in this process. With `savedFirst`, from the saved index when
// there is one (`noSaved` tells when there is none and nothing was printed).
int AnswerHere(qvCliOptions o, const sigset_t& stopSignals, bool savedFirst, bool* noSaved) {
  if (savedFirst) o.offline = true;
  LinkedEngine binding;
  if (!binding.Make()) return Fail("the engine could not be made");
  IQvSearch* engine = binding.GetInterface();
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  auto* results = static_cast<IQvSearchResults*>(engine->QueryInterface(&IID_IQvSearchResults, QV_SEARCH_VERSION));
  if (!config || !results) return Fail("the engine lacks the interfaces of this version");

  std::string data;
  bool canSave = false;
  if (!Configure(config, o, &data, &canSave)) return Fail("cannot index every root given");
  const std::string query = CliQuery(o), filter = CliFilter(o);

  qvCliSink sink(isatty(STDERR_FILENO) != 0);
  // Stored before initialisation, the query is answered as soon as the
  // index is ready.
  engine->Search(qvNameCodec::DecodeToString(query).c_str(), qvNameCodec::DecodeToString(filter).c_str(), 1);
  engine->Initialize(&sink);
  sink.WaitForAnswer();

  if (o.offline && config->QueryValue("loaded") != 1) {
    if (savedFirst) {
      *noSaved = true;
      return kError;
    }
    // A saved index that did not load for folders named with --root was
    // made for other folders (or they changed since): say which.
    struct stat saved;
    if (!o.roots.empty() && stat((data + "ntfsqs.db").c_str(), &saved) == 0)
      return Fail("the saved index in " + data + " is not of the folders asked for: the roots differ from those " +
                  "it was saved with, or they changed since (run once without --offline with these --root)");
    return Fail("no current saved index in " + data + " (run once without --offline)");
  }
  if (config->QueryValue("query_error") == 1) {
    std::fprintf(stderr, "qvsearch: %s\n", sink.LastStatus().c_str());
    binding.UnbindEngine();
    return kError;
  }
  int32_t rows = 0;
  // The saved index's answer does not change: it is written as it is read.
  std::string answer = Render(engine, results, o, &rows, o.offline && !o.watch ? stdout : nullptr);
  std::fwrite(answer.data(), 1, answer.size(), stdout);
  std::fflush(stdout);
  int status = rows > 0 ? kRows : kNoRows;
  if (o.stats) {
    if (o.offline) std::fprintf(stderr, "answered from the saved index in %s\n", data.c_str());
    else std::fprintf(stderr, "answered from the volumes, read now\n");
    PrintStats(engine, config, query, filter);
  }
  if (o.watch) {
    Watch(engine, results, o, sink, stopSignals, answer);
    status = kRows;
  }
  // The save is asked for here, so that a failure shows in the exit status
  // (its reason went to standard error already).
  if (canSave) {
    int64_t saveError = config->QueryValue("save");
    config->SetOption("no_save", "1");
    if (saveError != 0) status = kSaveFailed;
  }
  binding.UnbindEngine();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  qvCliOptions o;
  std::string error;
  if (!ParseCliArgs(argc, argv, &o, &error)) return Fail(error + " (see --help)");
  if (o.help) {
    std::fputs(kQvCliUsage, stdout);
    return kRows;
  }
  if (o.version) {
    std::printf("qvsearch %s\n", QV_VERSION_TEXT);
    return kRows;
  }
  if (!CheckCliRoots(&o, &error)) return Fail(error);
  if (o.serve) return Serve(o);

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  if (o.watch) pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  // Without --root: the running service, then the saved index, then the
  // volumes read now. With --root: a service that indexes those folders,
  // then the folders read now.
  const bool machine = o.roots.empty() && !o.offline;
  // Exclusions are the service's own: a run that asks for others indexes
  // itself.
  if (!o.offline && !o.noService && o.excludes.empty()) {
    int status = kError;
    std::string why;
    Asked asked = AskService(o, stopSignals, &status, &why);
    if (asked == Asked::kAnswered) return status;
    if (o.serviceOnly) return Fail(why);
    if (asked == Asked::kBroken) std::fprintf(stderr, "qvsearch: %s; answering without the service\n", why.c_str());
  }
  // A watch needs the volumes read now: the saved index follows nothing.
  if (machine && !o.watch) {
    bool noSaved = false;
    int status = AnswerHere(o, stopSignals, true, &noSaved);
    if (!noSaved) return status;
  }
  bool unused = false;
  return AnswerHere(o, stopSignals, false, &unused);
}
