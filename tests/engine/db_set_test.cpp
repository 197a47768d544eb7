// The saved files as one set: files of different saves or damaged on the
// disk are refused with their reason; special files in their place are
// never read; a save killed at any step, or failing part way, leaves a
// whole set, old or new; two processes' saves do not interleave.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "database_fixture.h"
#include "engine_fixture.h"
#include "qvDatabaseCommit.h"

using namespace dbtest;
using E = qvStreamVolumeSource;
using Code = qvStatus::Code;

namespace {

// Two states of one volume; the scan gives their extensions different ids.
std::vector<VolumeSpec> StateA() {
  return {{0, "/", 0x51, 0, 7,
           {E::Folder(16, 5, u"tmp"), E::File(17, 16, u"a.txt"), E::File(18, 16, u"c.JPG"), E::File(19, 5, u"b.pdf")}}};
}
std::vector<VolumeSpec> StateB() {
  return {{0, "/", 0x51, 0, 7,
           {E::Folder(16, 5, u"tmp"), E::File(20, 5, u"z.zip"), E::File(21, 5, u"y.pdf"), E::File(17, 16, u"a.txt"),
            E::File(18, 16, u"c.JPG"), E::File(22, 16, u"d.Txt")}}};
}

Picture Saved(const std::vector<VolumeSpec>& state, const std::string& dir) {
  auto app = NewApp(dir);
  Scan(*app, state);
  Picture pic = Take(*app);
  qvStatus status = qvDatabase::SaveIndex(*app);
  EXPECT_TRUE(status.ok()) << status.text();
  return pic;
}

// Loads the folder's set as the engine does; tables empty on failure.
qvStatus Load(const std::string& dir, Picture* pic = nullptr) {
  auto app = NewApp(dir);
  Discover(*app, StateA());
  qvStatus status = qvDatabase::LoadSavedIndex(*app, nullptr);
  if (!status.ok()) {
    EXPECT_TRUE(TablesEmpty(*app));
  } else {
    EXPECT_EQ(CheckLoaded(*app, true), "");
  }
  if (pic) *pic = Take(*app);
  return status;
}

void Copy(const std::string& from, const std::string& to) { WriteFile(to, ReadFile(from)); }

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Only the four files and the lock remain after a save.
void ExpectNoLeftovers(const std::string& dir) {
  for (const char* name : {"ntfsqs.db", "ext.db", "extcase.db", "seal.db"}) {
    EXPECT_FALSE(Exists(dir + "/" + name + ".tmp")) << name;
    EXPECT_FALSE(Exists(dir + "/" + name + ".prev")) << name;
  }
  EXPECT_FALSE(Exists(dir + "/db.commit"));
}

struct HookReset {
  ~HookReset() { qvDbCommit::SetStepHook(nullptr); }
};

}  // namespace

TEST(DatabaseSet, FilesOfAnotherSaveAreRefused) {
  TempDir a, b;
  Picture pa = Saved(StateA(), a.Path());
  Saved(StateB(), b.Path());
  Picture loaded;
  ASSERT_TRUE(Load(a.Path(), &loaded).ok());
  EXPECT_EQ(loaded, pa);
  ExpectNoLeftovers(a.Path());

  // Any one file of the later save beside the others of the first.
  for (const char* name : {"ntfsqs.db", "ext.db", "extcase.db", "seal.db"}) {
    TempDir mixed;
    for (const char* n : {"ntfsqs.db", "ext.db", "extcase.db", "seal.db"}) Copy(a.Path(n), mixed.Path(n));
    Copy(b.Path(name), mixed.Path(name));
    ErrorCapture errors;
    qvStatus status = Load(mixed.Path());
    EXPECT_EQ(status.code(), Code::kMismatch) << name;
    qvDatabase::ReportDropped(status);
    ASSERT_EQ(errors.texts.size(), 1u) << name;
    EXPECT_NE(errors.texts[0].find("seal.db"), std::string::npos) << errors.texts[0];
  }
  // A set without its seal (an index of an older version) is not trusted.
  ::unlink(a.Path("seal.db").c_str());
  EXPECT_EQ(Load(a.Path()).code(), Code::kNoSeal);
}

TEST(DatabaseSet, DamageOnTheDiskIsRefused) {
  TempDir dir;
  Picture saved = Saved(StateB(), dir.Path());
  const char* names[] = {"ntfsqs.db", "ext.db", "extcase.db", "seal.db"};
  std::vector<uint8_t> originals[4];
  for (int f = 0; f < 4; ++f) originals[f] = ReadFile(dir.Path(names[f]));
  std::mt19937 rng(22);
  int refused = 0;
  for (int round = 0; round < 400; ++round) {
    int f = static_cast<int>(rng() % 4);
    std::vector<uint8_t> bytes = originals[f];
    size_t at = rng() % bytes.size();
    bytes[at] = rng() % 2 ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>(bytes[at] ^ (1u << (rng() % 8)));
    WriteFile(dir.Path(names[f]), bytes);
    Picture loaded;
    qvStatus status = Load(dir.Path(), &loaded);
    if (bytes == originals[f]) {
      EXPECT_TRUE(status.ok()) << status.text();
    } else {
      // Loaded tables with different answers are the fault this guards.
      EXPECT_FALSE(status.ok()) << names[f] << " byte " << at;
      EXPECT_TRUE(status.code() == Code::kMismatch || status.code() == Code::kBadSeal) << status.text();
      ++refused;
    }
    if (status.ok()) {
      EXPECT_EQ(loaded, saved);
    }
    WriteFile(dir.Path(names[f]), originals[f]);
  }
  EXPECT_GT(refused, 350);
}

TEST(DatabaseSet, SpecialFilesAreNeverRead) {
  for (const char* name : {"ntfsqs.db", "ext.db", "extcase.db", "seal.db"}) {
    TempDir dir;
    Saved(StateA(), dir.Path());
    // A FIFO: opening it for reading would wait for a writer for ever.
    ::unlink(dir.Path(name).c_str());
    ASSERT_EQ(::mkfifo(dir.Path(name).c_str(), 0600), 0);
    qvStatus status = Load(dir.Path());
    EXPECT_EQ(status.code(), std::string(name) == "seal.db" ? Code::kBadSeal : Code::kNotRegularFile) << name;
    EXPECT_EQ(status.error(), EINVAL) << name;
    // An endless device.
    ::unlink(dir.Path(name).c_str());
    ASSERT_EQ(::symlink("/dev/zero", dir.Path(name).c_str()), 0);
    status = Load(dir.Path());
    EXPECT_FALSE(status.ok()) << name;
    EXPECT_EQ(status.error(), EINVAL) << name;
    // A folder.
    ::unlink(dir.Path(name).c_str());
    ASSERT_EQ(::mkdir(dir.Path(name).c_str(), 0700), 0);
    status = Load(dir.Path());
    EXPECT_FALSE(status.ok()) << name;
    EXPECT_EQ(status.error(), EISDIR) << name;
  }
  // A huge sparse file is refused by its size, before any byte is read.
  TempDir dir;
  Saved(StateA(), dir.Path());
  ASSERT_EQ(::truncate(dir.Path("extcase.db").c_str(), off_t{2} << 30), 0);
  EXPECT_EQ(Load(dir.Path()).code(), Code::kTooLarge);
  ASSERT_EQ(::truncate(dir.Path("extcase.db").c_str(), 4096), 0);
  EXPECT_EQ(Load(dir.Path()).code(), Code::kMismatch);  // not the size its seal names
}

// A save killed before each of its steps in turn (writes, links, renames,
// removals): the next load finds the old set or the new one, whole; a
// save after it succeeds and leaves nothing behind.
TEST(DatabaseSet, SaveKilledAtAnyStepLeavesAWholeSet) {
  HookReset reset;
  int steps = 0;
  {
    TempDir dir;
    Saved(StateA(), dir.Path());
    qvDbCommit::SetStepHook([&](const char*, const char*) { ++steps; });
    Saved(StateB(), dir.Path());
    qvDbCommit::SetStepHook(nullptr);
  }
  ASSERT_GE(steps, 4 * 5);  // write, unlink, link, rename, drop for each file
  Picture pa, pb;
  for (int kill = 0; kill <= steps; ++kill) {
    TempDir dir;
    pa = Saved(StateA(), dir.Path());
    auto app = NewApp(dir.Path());
    Scan(*app, StateB());
    pb = Take(*app);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int at = 0;
      qvDbCommit::SetStepHook([&](const char*, const char*) {
        if (at++ == kill) ::kill(::getpid(), SIGKILL);
      });
      qvDatabase::SaveIndex(*app);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(kill < steps, WIFSIGNALED(status)) << kill;
    Picture loaded;
    qvStatus load = Load(dir.Path(), &loaded);
    ASSERT_TRUE(load.ok()) << "killed before step " << kill << ": " << load.text();
    EXPECT_TRUE(loaded == pa || loaded == pb) << kill;
    if (kill == steps) {
      EXPECT_EQ(loaded, pb);
    }
    // A second save of the old state, killed half way through its renames,
    // finds what the first left: the next load is the set the first left
    // or the old state again, never an older one.
    pid_t again = fork();
    ASSERT_GE(again, 0);
    if (again == 0) {
      auto old = NewApp(dir.Path());
      Scan(*old, StateA());
      int renames = 0;
      qvDbCommit::SetStepHook([&](const char* step, const char*) {
        if (std::string(step) == "rename" && ++renames == 2) ::kill(::getpid(), SIGKILL);
      });
      qvDatabase::SaveIndex(*old);
      _exit(0);
    }
    ASSERT_EQ(waitpid(again, &status, 0), again);
    Picture second;
    ASSERT_TRUE(Load(dir.Path(), &second).ok()) << kill;
    EXPECT_TRUE(second == loaded || second == pa) << kill;
    // The next save finds what the killed ones left, and completes.
    ASSERT_TRUE(qvDatabase::SaveIndex(*app).ok()) << kill;
    ASSERT_TRUE(Load(dir.Path(), &loaded).ok()) << kill;
    EXPECT_EQ(loaded, pb) << kill;
    ExpectNoLeftovers(dir.Path());
  }
}

TEST(DatabaseSet, SaveFailingPartWayKeepsTheOldSet) {
  HookReset reset;
  TempDir dir;
  Picture pa = Saved(StateA(), dir.Path());
  auto app = NewApp(dir.Path());
  Scan(*app, StateB());
  // The new dictionary vanishes just before it is renamed into place, after
  // the new index already was.
  qvDbCommit::SetStepHook([&](const char* step, const char* name) {
    if (std::string(step) == "rename" && std::string(name) == "ext.db") ::unlink(dir.Path("ext.db.tmp").c_str());
  });
  ErrorCapture errors;
  qvStatus status = qvDatabase::SaveIndex(*app);
  EXPECT_EQ(status.code(), Code::kIoError);
  EXPECT_EQ(errors.texts, std::vector<std::string>{"写入扩展名文件失败:" + std::to_string(ENOENT)});
  Picture loaded;
  ASSERT_TRUE(Load(dir.Path(), &loaded).ok());
  EXPECT_EQ(loaded, pa);
  ExpectNoLeftovers(dir.Path());

  // A folder that cannot take the files: the reason, and nothing changed.
  qvDbCommit::SetStepHook(nullptr);
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0500), 0);
  bool enforced = ::access(dir.Path().c_str(), W_OK) != 0;  // root writes anyway
  if (enforced) {
    EXPECT_FALSE(qvDatabase::SaveIndex(*app).ok());
    ASSERT_TRUE(Load(dir.Path(), &loaded).ok());
    EXPECT_EQ(loaded, pa);
  }
  ::chmod(dir.Path().c_str(), 0700);
  auto nowhere = NewApp("/nonexistent-qv-db-folder");
  Scan(*nowhere, StateA());
  EXPECT_EQ(qvDatabase::SaveIndex(*nowhere).code(), Code::kLocked);
}

TEST(DatabaseSet, SavesOfTwoProcessesDoNotInterleave) {
  TempDir dir;
  Picture pa = Saved(StateA(), dir.Path());
  // The save holds the folder's lock: another holder waits.
  {
    qvDbIo::FolderLock held(*NewApp(dir.Path()), qvDbIo::FolderLock::kExclusive);
    ASSERT_TRUE(held.Held());
    int fd = ::open(dir.Path("db.lock").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_NE(::flock(fd, LOCK_SH | LOCK_NB), 0);
    EXPECT_EQ(errno, EWOULDBLOCK);
    ::close(fd);
  }
  Picture pb;
  {
    auto app = NewApp(dir.Path());
    Scan(*app, StateB());
    pb = Take(*app);
  }
  std::vector<pid_t> children;
  for (int c = 0; c < 2; ++c) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto app = NewApp(dir.Path());
      Scan(*app, c ? StateB() : StateA());
      bool ok = true;
      for (int i = 0; i < 25; ++i) ok = qvDatabase::SaveIndex(*app).ok() && ok;
      _exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  // Loads while they save see one whole set or the other.
  for (int i = 0; i < 25; ++i) {
    Picture loaded;
    qvStatus status = Load(dir.Path(), &loaded);
    ASSERT_TRUE(status.ok()) << status.text();
    EXPECT_TRUE(loaded == pa || loaded == pb);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  Picture loaded;
  ASSERT_TRUE(Load(dir.Path(), &loaded).ok());
  EXPECT_TRUE(loaded == pa || loaded == pb);
  ExpectNoLeftovers(dir.Path());
}

// What a program needs for its exit status: the engine saves on request
// and answers the failure's system error code after showing its reason.
TEST(DatabaseSet, EngineAnswersWhySaveFailed) {
  TempDir dir;
  RecordingSink sink;
  auto* engine = MakeEngine({MakeVolume("/", {E::File(16, 5, u"a.txt")})}, &sink, dir.Path());
  ASSERT_NE(engine, nullptr);
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  EXPECT_EQ(config->QueryValue("save"), 0);
  EXPECT_TRUE(Exists(dir.Path("seal.db")));
  ASSERT_EQ(::unlink(dir.Path("db.lock").c_str()), 0);
  ASSERT_EQ(::mkdir(dir.Path("db.lock").c_str(), 0700), 0);
  {
    ErrorCapture errors;
    EXPECT_EQ(config->QueryValue("save"), EISDIR);
    EXPECT_EQ(errors.texts, std::vector<std::string>{"锁定数据文件夹失败:" + std::to_string(EISDIR)});
  }
  config->SetOption("no_save", "1");
  engine->Release();
}
