// The service run as users run it: `qvsearch --serve` over a real tree,
// asked by real clients on its socket, against the engine bound in this
// process over the same tree.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "CTempldateHelper.h"
#include "qvCliClient.h"
#include "qvCliSink.h"
#include "qvNameCodec.h"
#include "qvPath.h"
#include "qvServiceProtocol.h"
#include "qvServiceSocket.h"
#include "platform_test_util.h"

namespace fs = std::filesystem;
using namespace qvService;

namespace {

// Waits are for the other process to get somewhere, never measurements.
constexpr auto kPatience = std::chrono::seconds(30);

struct Child {
  pid_t pid = -1;
  int out = -1;
  int err = -1;
};

// Starts a program of the application folder with its output on pipes.
Child Spawn(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>& env = {}) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    std::string exe = std::string(QV_APP_DIR) + program;
    std::vector<char*> argv = {const_cast<char*>(exe.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  return {pid, out[0], err[0]};
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[65536];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(fd);
  return text;
}

int Wait(pid_t pid) {
  int st = 0;
  waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

struct RunResult {
  int status = -1;
  std::string out, err;
};

RunResult Qvsearch(const std::vector<std::string>& args) {
  Child c = Spawn("qvsearch", args);
  RunResult r;
  std::thread errReader([&] { r.err = ReadAll(c.err); });
  r.out = ReadAll(c.out);
  errReader.join();
  r.status = Wait(c.pid);
  return r;
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] == '\n') out.push_back(s.substr(start, i - start)), start = i + 1;
  return out;
}

// The service's answer to one request, as rows.
bool Ask(const SearchRequest& r, AnswerHeader* h, std::vector<Row>* rows, std::string* error) {
  qvCliClient client;
  return client.Connect(SocketFolder(), error) && client.Send(EncodeSearch(r), error) &&
         client.ReadAnswer(h, rows, error, 30000);
}

std::vector<std::string> PathsOf(const std::vector<Row>& rows) {
  std::vector<std::string> out;
  for (const Row& r : rows) out.push_back(r.Path());
  return out;
}

// A tree with names of many kinds, served by `qvsearch --serve`; the
// socket folder is the test's own ($XDG_RUNTIME_DIR).
class ServiceTree : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* words[] = {"report", "Photo", "数据", "notes", "a b", "Report-final", "x"};
    const char* exts[] = {".txt", ".JPG", ".csv", ".md", "", ".tar.gz", ".pdf"};
    for (int d = 0; d < 10; ++d) {
      std::string folder = "proj" + std::to_string(d);
      ASSERT_TRUE(tree.Dir(folder));
      for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(tree.File(folder + "/" + words[(i + d) % 7] + std::to_string(i * 10 + d) + exts[i % 7]));
    }
    ASSERT_TRUE(tree.Dir("docs"));
    ASSERT_TRUE(tree.File("docs/bad-\xFF\xFE-report"));
    ASSERT_TRUE(tree.File("docs/年度报告.pdf"));
    runtime = tree.Path() + "-run";
    data = tree.Path() + "-data";
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    StartService();
  }

  void TearDown() override {
    StopService();
    fs::remove_all(runtime);
    fs::remove_all(data);
  }

  void StartService() {
    service = Spawn("qvsearch", {"--serve", "--root", tree.Path(), "--data", data});
    close(service.out);
    ASSERT_TRUE(WaitUntilAnswering()) << "the service never answered";
  }

  // True once a client is greeted and the index is ready.
  static bool WaitUntilAnswering() {
    auto until = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < until) {
      qvCliClient client;
      std::string error;
      Status st;
      if (client.Connect(SocketFolder(), &error) && client.Send(EncodeStatusRequest(), &error) &&
          client.ReadStatus(&st, &error, 5000) && st.ready)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  int StopService() {
    if (service.pid <= 0) return -1;
    kill(service.pid, SIGTERM);
    int status = Wait(service.pid);
    close(service.err);
    service = Child();
    return status;
  }

  qvtest::TempTree tree;
  std::string runtime, data;
  Child service;
};

// The engine bound in this process as qvsearch binds it, over the tree.
class LocalEngine {
 public:
  explicit LocalEngine(const std::string& root, const std::string& dataFolder)
      : binding_(&IID_IQvSearch, QV_SEARCH_VERSION, "CreateObjcet", u"qvBaseModule.so",
                 qvNameCodec::DecodeToString(QV_APP_DIR)),
        sink_(false) {
    if (!binding_.BindEngine()) return;
    engine_ = binding_.GetInterface();
    auto* config = static_cast<IQvSearchConfig*>(engine_->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
    config->SetDataFolder(qvNameCodec::DecodeToString(dataFolder + "/").c_str());
    config->AddRoot(qvNameCodec::DecodeToString(root).c_str());
    config->SetOption("no_load", "1");
    config->SetOption("no_save", "1");
    config->SetOption("monitor", "off");
    // The modes qvsearch asks of the service by default.
    for (const char* mode : {"whole_name", "path_terms", "pinyin"}) config->SetOption(mode, "1");
    engine_->Search(u"*?", u"", 1);
    engine_->Initialize(&sink_);
    sink_.WaitForAnswer();
  }
  bool Bound() const { return engine_ != nullptr; }

  // The rows of a search, read row by row with GetItemText.
  std::vector<std::string> Paths(const std::string& query, const std::string& filter) {
    engine_->Search(qvNameCodec::DecodeToString(query).c_str(), qvNameCodec::DecodeToString(filter).c_str(), 1);
    int32_t total = engine_->GetFolderResultCount() + engine_->GetFileResultCount();
    std::vector<std::string> out;
    auto folder = std::make_unique<qvChar[]>(QV_MAX_PATH), name = std::make_unique<qvChar[]>(QV_MAX_PATH);
    for (int32_t r = 0; r < total; ++r) {
      engine_->GetItemText(r, folder.get(), name.get(), nullptr);
      bool isFolder = r < engine_->GetFolderResultCount();
      out.push_back(qvNameCodec::EncodeToString(qvPath::RowPath(folder.get(), name.get(), isFolder)));
    }
    return out;
  }

 private:
  CTempldateHelper<IQvSearch> binding_;
  qvCliSink sink_;
  IQvSearch* engine_ = nullptr;
};

// Asks the service 200 queries and filters of every kind and compares each
// answer, row by row, with the engine bound in this process.
void ExpectTwoHundredAnswersEqual(LocalEngine& local) {
  const char* terms[] = {"report", "REP", "photo", "数据", "*.txt", "r?port", "1", "12", "a b", "proj3",
                         "x1*", "*?", "zzz", "final", "报告", "\xFF", "*e*t", "no tes", "bg", "proj3/Rep"};
  const char* filters[] = {"", "", "", "txt", "jpg csv", "gz", "PDF", "nosuchext", "", ""};
  int compared = 0, nonEmpty = 0;
  for (int i = 0; i < 200; ++i) {
    std::string query = terms[i % 20];
    if (i / 20 % 3 == 1) query += " " + std::to_string(i % 10);
    if (i / 20 % 3 == 2) query = std::string(terms[(i * 7) % 20]) + " " + terms[(i * 3) % 20];
    SearchRequest r;
    r.query = query;
    r.extFilter = filters[i / 20];
    AnswerHeader h;
    std::vector<Row> rows;
    std::string error;
    ASSERT_TRUE(Ask(r, &h, &rows, &error)) << error;
    std::vector<std::string> want = local.Paths(query, r.extFilter);
    ASSERT_EQ(PathsOf(rows), want) << "query \"" << query << "\" filter \"" << r.extFilter << "\"";
    EXPECT_EQ(h.folders + h.files, want.size());
    ++compared;
    nonEmpty += !want.empty();
  }
  EXPECT_EQ(compared, 200);
  EXPECT_GT(nonEmpty, 100);
}

}  // namespace

TEST_F(ServiceTree, TwoHundredAnswersEqualTheEngineInProcess) {
  LocalEngine local(tree.Path(), tree.Path() + "-local");
  ASSERT_TRUE(local.Bound());
  ExpectTwoHundredAnswersEqual(local);
  // And as a user types it: qvsearch without --root asks the service.
  RunResult run = Qvsearch({"--stats", "report"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Lines(run.out), local.Paths("report", ""));
  EXPECT_NE(run.err.find("answered by the service at " + SocketPath()), std::string::npos) << run.err;
}

TEST_F(ServiceTree, PagesOrdersMatchesAndDetails) {
  SearchRequest all;
  all.query = "report";
  AnswerHeader h;
  std::vector<Row> every, page, sized, folders;
  std::string error;
  ASSERT_TRUE(Ask(all, &h, &every, &error)) << error;
  ASSERT_GT(every.size(), 20u);
  SearchRequest paged = all;
  paged.offset = 5;
  paged.limit = 7;
  ASSERT_TRUE(Ask(paged, &h, &page, &error)) << error;
  std::vector<std::string> everyPath = PathsOf(every);
  EXPECT_EQ(PathsOf(page), std::vector<std::string>(everyPath.begin() + 5, everyPath.begin() + 12));
  EXPECT_EQ(h.folders + h.files, every.size());  // the whole answer's size, not the page's

  // Sizes differ by file: the order follows them, folders first.
  std::string text(1000, 'x');
  int n = 0;
  for (const Row& r : every)
    if (!r.isFolder) {
      ASSERT_TRUE(qvtest::WriteSmallFile(r.Path().c_str(), text.substr(0, (n++ * 37) % 1000)));
    }
  SearchRequest bySize = all;
  bySize.sort = kSortSize;
  bySize.reverse = true;
  ASSERT_TRUE(Ask(bySize, &h, &sized, &error)) << error;
  ASSERT_EQ(sized.size(), every.size());
  for (size_t i = 1; i < sized.size(); ++i) {
    ASSERT_TRUE(sized[i].hasDetails);
    if (sized[i].isFolder == sized[i - 1].isFolder) EXPECT_LE(sized[i].size, sized[i - 1].size) << i;
    else EXPECT_TRUE(sized[i - 1].isFolder);
  }
  SearchRequest onlyFolders;
  onlyFolders.query = "proj";
  onlyFolders.match = kFoldersOnly;
  ASSERT_TRUE(Ask(onlyFolders, &h, &folders, &error)) << error;
  EXPECT_EQ(folders.size(), 10u);
  EXPECT_EQ(h.files, 0u);

  // --json through the service: sizes in bytes, times in UTC, names whose
  // bytes are not UTF-8 escaped so they read back.
  RunResult json = Qvsearch({"--json", "bad-"});
  ASSERT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("\"path\":\"" + tree.Path() + "/docs/bad-\\udcff\\udcfe-report\""), std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"size\":"), std::string::npos);
  EXPECT_NE(json.out.find("Z\",\"modified\":\""), std::string::npos);
  // --long through the service prints what it prints in process.
  RunResult viaService = Qvsearch({"--long", "年度"});
  RunResult inProcess = Qvsearch({"--long", "--root", tree.Path(), "--data", data + "-x", "--no-save", "年度"});
  EXPECT_EQ(viaService.out, inProcess.out);
  fs::remove_all(data + "-x");
}

TEST_F(ServiceTree, WatchThroughTheServiceSeesCreatesDeletesAndRenames) {
  Child watch = Spawn("qvsearch", {"--watch", "quarterly"});
  fcntl(watch.out, F_SETFL, O_NONBLOCK);
  std::string seen;
  // The last answer printed, once it satisfies `ok`.
  auto waitFor = [&](auto ok) {
    auto until = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < until) {
      char buffer[4096];
      pollfd p{watch.out, POLLIN, 0};
      poll(&p, 1, 100);
      for (ssize_t n; (n = read(watch.out, buffer, sizeof buffer)) > 0;) seen.append(buffer, static_cast<size_t>(n));
      size_t cut = seen.rfind("--\n");
      std::vector<std::string> last = Lines(cut == std::string::npos ? seen : seen.substr(cut + 3));
      if (ok(last)) return true;
    }
    return false;
  };
  const std::string d = tree.Path() + "/docs/";
  ASSERT_TRUE(waitFor([](const std::vector<std::string>& l) { return l.empty(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_TRUE(tree.File("docs/quarterly.txt"));
  EXPECT_TRUE(waitFor([&](auto& l) { return l == std::vector<std::string>{d + "quarterly.txt"}; })) << seen;
  ASSERT_EQ(rename((d + "quarterly.txt").c_str(), (d + "quarterly-2.txt").c_str()), 0);
  EXPECT_TRUE(waitFor([&](auto& l) { return l == std::vector<std::string>{d + "quarterly-2.txt"}; })) << seen;
  // A folder on the path of a printed row renamed: the row's path changes.
  ASSERT_EQ(rename(d.c_str(), (tree.Path() + "/papers").c_str()), 0);
  const std::string p = tree.Path() + "/papers/";
  EXPECT_TRUE(waitFor([&](auto& l) { return l == std::vector<std::string>{p + "quarterly-2.txt"}; })) << seen;
  ASSERT_EQ(unlink((p + "quarterly-2.txt").c_str()), 0);
  EXPECT_TRUE(waitFor([&](auto& l) { return l.empty() && seen.find("--\n") != std::string::npos; })) << seen;
  kill(watch.pid, SIGINT);
  EXPECT_EQ(Wait(watch.pid), 0);
  close(watch.out);
  close(watch.err);
}

TEST_F(ServiceTree, AClientOfAnotherUserIsRefusedWithAReason) {
  if (geteuid() != 0) GTEST_SKIP() << "running a client as another user needs root (setresuid)";
  // The folder and the socket are the first guard (0700, 0600): opened
  // here so that the second, the peer's user id, is what answers.
  ASSERT_EQ(chmod(runtime.c_str(), 0711), 0);
  ASSERT_EQ(chmod(SocketFolder().c_str(), 0711), 0);
  ASSERT_EQ(chmod(SocketPath().c_str(), 0666), 0);
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)
      _exit(3);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = SocketPath();
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) _exit(4);
    std::string hello = EncodeHello() + EncodeSearch(SearchRequest());
    ssize_t sent = send(fd, hello.data(), hello.size(), MSG_NOSIGNAL);
    (void)sent;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
      if (write(out[1], buffer, static_cast<size_t>(n)) != n) _exit(5);
    _exit(0);
  }
  close(out[1]);
  std::string got = ReadAll(out[0]);
  ASSERT_EQ(Wait(pid), 0);
  ASSERT_EQ(chmod(SocketFolder().c_str(), 0700), 0);
  FrameReader reader(kMaxReplyBytes);
  reader.Append(got.data(), got.size());
  std::string payload;
  ASSERT_EQ(reader.Next(&payload), FrameReader::kFrame);
  Message m;
  std::string error;
  ASSERT_TRUE(Decode(payload, &m, &error)) << error;
  EXPECT_EQ(m.type, kError);
  EXPECT_EQ(m.error.code, kErrRefused);
  EXPECT_NE(m.error.text.find("refused"), std::string::npos);
  EXPECT_EQ(reader.Next(&payload), FrameReader::kNeedMore) << "something after the refusal";
  EXPECT_FALSE(reader.Partial());
  // The owner is answered still.
  AnswerHeader h;
  std::vector<Row> rows;
  SearchRequest r;
  r.query = "年度报告";
  EXPECT_TRUE(Ask(r, &h, &rows, &error)) << error;
  EXPECT_EQ(rows.size(), 1u);
}

TEST_F(ServiceTree, HostileClientsLeaveTheServiceAnsweringOthers) {
  auto open = [&]() {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = SocketPath();
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? fd : (close(fd), -1);
  };
  auto sendAll = [](int fd, const std::string& s) { return send(fd, s.data(), s.size(), MSG_NOSIGNAL | MSG_DONTWAIT); };
  SearchRequest everything;
  everything.query = "*?";
  const std::string hello = EncodeHello(), search = EncodeSearch(everything);
  std::vector<int> hostile;
  // Five kinds, 200 of each: garbage, a message cut short, a length of
  // 100 MiB, a client that says nothing, one that floods requests without
  // reading a reply.
  for (int i = 0; i < 1000; ++i) {
    int fd = open();
    ASSERT_GE(fd, 0) << "connection " << i;
    switch (i % 5) {
      case 0: sendAll(fd, "GET / HTTP/1.1\r\n\r\n" + std::string(100, static_cast<char>(i))); break;
      case 1: sendAll(fd, hello + search.substr(0, search.size() / 2)); break;
      case 2: sendAll(fd, hello + std::string("\x00\x00\x40\x06", 4)); break;
      case 3: break;
      case 4: {
        std::string flood = hello;
        for (int k = 0; k < 50; ++k) flood += search;
        sendAll(fd, flood);
        break;
      }
    }
    hostile.push_back(fd);
    if (i % 100 == 99) {
      // Among them, others are answered, and rightly.
      AnswerHeader h;
      std::vector<Row> rows;
      std::string error;
      SearchRequest r;
      r.query = "年度报告";
      ASSERT_TRUE(Ask(r, &h, &rows, &error)) << "after " << i + 1 << " hostile clients: " << error;
      ASSERT_EQ(PathsOf(rows), std::vector<std::string>{tree.Path() + "/docs/年度报告.pdf"});
    }
  }
  // A garbage client gets a reason, then the end of its connection.
  int garbage = open();
  ASSERT_GE(garbage, 0);
  sendAll(garbage, std::string(64, '\xEE'));
  std::string got = ReadAll(garbage);
  FrameReader reader(kMaxReplyBytes);
  reader.Append(got.data(), got.size());
  std::string payload;
  Message m;
  std::string error;
  ASSERT_EQ(reader.Next(&payload), FrameReader::kFrame);
  ASSERT_TRUE(Decode(payload, &m, &error));
  EXPECT_EQ(m.type, kError);
  for (int fd : hostile) close(fd);
  EXPECT_TRUE(WaitUntilAnswering());
}

TEST_F(ServiceTree, AServiceKilledWhileAnsweringLeavesQvsearchFallingBack) {
  // A clean stop saves the index: the fallback answers from it.
  ASSERT_EQ(StopService(), 0);
  ASSERT_TRUE(fs::exists(data + "/ntfsqs.db"));
  StartService();
  // A second --serve uses the running one.
  RunResult second = Qvsearch({"--serve", "--root", tree.Path(), "--data", data});
  EXPECT_EQ(second.status, 0);
  EXPECT_NE(second.err.find("a service answers already"), std::string::npos) << second.err;

  kill(service.pid, SIGSTOP);
  Child client = Spawn("qvsearch", {"--root", tree.Path(), "--data", data, "--stats", "年度报告"});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the client is waiting on the socket
  kill(service.pid, SIGKILL);
  Wait(service.pid);
  close(service.err);
  service = Child();
  std::string err;
  std::thread errReader([&] { err = ReadAll(client.err); });
  std::string out = ReadAll(client.out);
  errReader.join();
  EXPECT_EQ(Wait(client.pid), 0);
  EXPECT_EQ(out, tree.Path() + "/docs/年度报告.pdf\n");
  EXPECT_NE(err.find("answering without the service"), std::string::npos) << err;
  EXPECT_NE(err.find("answered from the volumes, read now"), std::string::npos) << err;

  // With no service at all: --service-only fails and says why; without
  // it the answer comes silently.
  RunResult only = Qvsearch({"--service-only", "年度报告"});
  EXPECT_EQ(only.status, 2);
  EXPECT_NE(only.err.find("no service answers"), std::string::npos) << only.err;
  RunResult quiet = Qvsearch({"--root", tree.Path(), "--data", data, "年度报告"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, tree.Path() + "/docs/年度报告.pdf\n");
}

#ifdef QV_HAVE_WINDOW
// A portable copy of the search window (its own folder, so its settings
// are the test's) indexing `root`, under the offscreen platform.
struct Window {
  pid_t pid = -1;
  int err = -1;
  std::string folder;
};

Window StartPortableWindow(const std::string& folder, const std::string& root) {
  Window w;
  w.folder = folder;
  fs::create_directories(folder);
  for (const char* file : {"qvSearchApp", "qvBaseModule.so", "libqvCommon.so", "skin.dat"})
    fs::copy_file(std::string(QV_APP_DIR) + file, folder + file);
  fs::copy(std::string(QV_APP_DIR) + "skins2", folder + "skins2", fs::copy_options::recursive);
  FILE* f = fopen((folder + "qvConfig.ini").c_str(), "w");
  if (!f) return w;
  fprintf(f, "[config]\nroots=%s\n", root.c_str());
  fclose(f);
  int err[2];
  if (pipe(err) != 0) return w;
  pid_t pid = fork();
  if (pid == 0) {
    int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 1);
    dup2(err[1], 2);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("HOME", folder.c_str(), 1);
    std::string exe = folder + "qvSearchApp";
    execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(err[1]);
  w.pid = pid;
  w.err = err[0];
  return w;
}

// Ends the window; what it wrote to standard error.
std::string StopWindow(Window& w) {
  if (w.pid <= 0) return "";
  kill(w.pid, SIGTERM);
  Wait(w.pid);
  std::string errors = ReadAll(w.err);
  fs::remove_all(w.folder);
  w = Window();
  return errors;
}

// The search window serves too.
TEST_F(ServiceTree, TheWindowAnswersAsTheHeadlessServiceDoes) {
  StopService();
  Window window = StartPortableWindow(tree.Path() + "-app/", tree.Path());
  ASSERT_GT(window.pid, 0);
  bool answering = WaitUntilAnswering();
  if (answering) {
    LocalEngine local(tree.Path(), tree.Path() + "-local");
    ASSERT_TRUE(local.Bound());
    ExpectTwoHundredAnswersEqual(local);
    RunResult run = Qvsearch({"--stats", "年度报告"});
    EXPECT_EQ(run.out, tree.Path() + "/docs/年度报告.pdf\n");
    EXPECT_NE(run.err.find("answered by the service"), std::string::npos) << run.err;
  }
  std::string errors = StopWindow(window);
  EXPECT_TRUE(answering) << "the window's service never answered: " << errors;
}

// A window started while `qvsearch --serve` runs leaves the running one
// answering, while it runs and after it ends.
TEST_F(ServiceTree, AWindowStartedWhileAServiceRunsLeavesItAnswering) {
  qvtest::TempTree other;
  ASSERT_TRUE(other.File("only-in-the-window.txt"));
  // The window's attempt to serve shows as its closing of the service's
  // lock file, which the running service holds open.
  int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, SocketFolder().c_str(), IN_CLOSE_WRITE), 0);
  Window window = StartPortableWindow(tree.Path() + "-app/", other.Path());
  ASSERT_GT(window.pid, 0);
  bool tried = false;
  for (auto until = std::chrono::steady_clock::now() + kPatience; !tried && std::chrono::steady_clock::now() < until;) {
    pollfd p = {watch, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    alignas(inotify_event) char buffer[4096];
    ssize_t n = read(watch, buffer, sizeof buffer);
    for (ssize_t at = 0; at < n;) {
      auto* e = reinterpret_cast<inotify_event*>(buffer + at);
      if (e->len > 0 && std::string(e->name) == "qvsearch.lock") tried = true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  }
  close(watch);
  EXPECT_TRUE(tried) << "the window never tried to serve";
  EXPECT_EQ(kill(window.pid, 0), 0) << "the window ended";

  const std::string by = "(pid " + std::to_string(service.pid) + ")";
  RunResult run = Qvsearch({"--stats", "年度报告"});
  EXPECT_EQ(run.out, tree.Path() + "/docs/年度报告.pdf\n");
  EXPECT_NE(run.err.find(by), std::string::npos) << run.err;
  EXPECT_EQ(Qvsearch({"--service-only", "only-in-the-window"}).out, "");

  std::string errors = StopWindow(window);
  run = Qvsearch({"--stats", "--service-only", "年度报告"});
  EXPECT_EQ(run.out, tree.Path() + "/docs/年度报告.pdf\n") << run.err << "\nthe window said: " << errors;
  EXPECT_NE(run.err.find(by), std::string::npos) << run.err;
}
#endif
