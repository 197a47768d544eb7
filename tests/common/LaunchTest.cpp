#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <vector>

#include "TestSupport.h"
#include "qvDesktopEntry.h"
#include "qvUtils.h"

using qvtest::TempDir;

namespace {

// Puts stand-in programs first on PATH: "xdg-open" and "qv-recorder" each
// write what they were started with to <name>.record in the folder. While
// a file "hold" exists they first wait for it to go (for at most 10 s).
class Launch : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string script =
        "#!/bin/sh\n"
        "dir='" +
        dir_.Path() +
        "'\n"
        "out=\"$dir/$(basename \"$0\").record\"\n"
        "i=0; state=free\n"
        "while [ -e \"$dir/hold\" ]; do\n"
        "  i=$((i+1)); if [ $i -gt 500 ]; then state=timeout; break; fi; sleep 0.02\n"
        "done\n"
        "{\n"
        "  for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done\n"
        "  printf 'cwd=%s\\n' \"$(pwd)\"\n"
        "  printf 'fds= %s \\n' \"$(ls /proc/$$/fd | tr '\\n' ' ')\"\n"
        "  printf 'state=%s\\n' \"$state\"\n"
        "} > \"$out.tmp\" && mv \"$out.tmp\" \"$out\"\n";
    ASSERT_EQ(mkdir(dir_.Path("bin").c_str(), 0755), 0);
    for (const char* name : {"xdg-open", "qv-recorder"}) {
      std::string p = dir_.Path(std::string("bin/") + name);
      qvtest::WriteFile(p, script);
      ASSERT_EQ(chmod(p.c_str(), 0755), 0);
    }
    const char* old = getenv("PATH");
    path_.emplace("PATH", dir_.Path("bin") + ":" + (old ? old : "/usr/bin:/bin"));
  }

  // The record of a stand-in, once it has appeared.
  std::string Record(const std::string& program) {
    std::string path = dir_.Path(program + ".record");
    EXPECT_TRUE(qvtest::WaitForFile(path)) << program << " never ran";
    return qvtest::ReadFile(path);
  }

  static std::vector<std::string> Args(const std::string& record) {
    std::vector<std::string> args;
    std::istringstream in(record);
    for (std::string line; std::getline(in, line);)
      if (line.rfind("arg=", 0) == 0) args.push_back(line.substr(4));
    return args;
  }

  std::string Desktop(const std::string& name, const std::string& body) {
    std::string p = dir_.Path(name);
    qvtest::WriteFile(
        p, "# a launcher\n[Desktop Entry]\n" + body + "\n[Desktop Action x]\nExec=wrong\n");
    return p;
  }

  TempDir dir_;
  std::optional<qvtest::ScopedEnv> path_;
};

}  // namespace

TEST_F(Launch, OpenFileStartsTheOpenerDetachedWithoutWaiting) {
  // An inheritable descriptor of ours must not reach the opened program.
  qvtest::WriteFile(dir_.Path("doc.txt"), "x");
  int mine = open(dir_.Path("doc.txt").c_str(), O_RDONLY);
  int high = fcntl(mine, F_DUPFD, 50);
  ASSERT_GE(high, 50);

  qvtest::WriteFile(dir_.Path("hold"), "");
  EXPECT_EQ(qvUtils::QV_OpenFile(dir_.W("doc.txt").c_str()), 1);
  // We are back while the opener is still held: nothing waited for it, and
  // no child of ours is left to reap.
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  unlink(dir_.Path("hold").c_str());

  std::string record = Record("xdg-open");
  EXPECT_EQ(Args(record), std::vector<std::string>{dir_.Path("doc.txt")});
  EXPECT_NE(record.find("state=free"), std::string::npos);
  EXPECT_EQ(record.find(" " + std::to_string(high) + " "), std::string::npos) << record;
  close(high);
  close(mine);
}

TEST_F(Launch, OpenFileGuardsAgainstOptionLikeNamesAndMissingOpener) {
  EXPECT_EQ(qvUtils::QV_OpenFile(u"-rf"), 1);
  EXPECT_EQ(Args(Record("xdg-open")), std::vector<std::string>{"./-rf"});
  EXPECT_EQ(qvUtils::QV_OpenFile(u""), 0);
  EXPECT_EQ(qvUtils::QV_OpenFile(nullptr), 0);

  qvtest::ScopedEnv noOpener("PATH", dir_.Path("empty"));
  EXPECT_EQ(qvUtils::QV_OpenFile(u"/etc/hostname"), 0);
}

TEST_F(Launch, ShortcutRunsTheLaunchersCommandInItsFolder) {
  ASSERT_EQ(mkdir(dir_.Path("work").c_str(), 0755), 0);
  std::string file = Desktop("app.desktop",
                             "Type=Application\nName=My App\nName[de]=Mein\n"
                             "Exec=qv-recorder \"two words\" plain %U --name=%c 100%%\n"
                             "Path=" +
                                 dir_.Path("work"));
  EXPECT_EQ(qvUtils::QV_OpenShortCut(qvNameCodec::DecodeToString(file).c_str()), 1);
  std::string record = Record("qv-recorder");
  EXPECT_EQ(Args(record),
            (std::vector<std::string>{"two words", "plain", "--name=My App", "100%"}));
  EXPECT_NE(record.find("cwd=" + dir_.Path("work") + "\n"), std::string::npos) << record;
}

TEST_F(Launch, ShortcutThroughSymbolicLinksOpensTheFinalTarget) {
  qvtest::WriteFile(dir_.Path("target.pdf"), "%PDF");
  ASSERT_EQ(symlink("target.pdf", dir_.Path("link1").c_str()), 0);
  ASSERT_EQ(symlink(dir_.Path("link1").c_str(), dir_.Path("link2").c_str()), 0);
  EXPECT_EQ(qvUtils::QV_OpenShortCut(dir_.W("link2").c_str()), 1);
  EXPECT_EQ(Args(Record("xdg-open")), std::vector<std::string>{dir_.Path("target.pdf")});
}

TEST_F(Launch, ShortcutLinkEntryOpensItsUrl) {
  std::string file = Desktop("site.desktop", "Type=Link\nName=Site\nURL=https://example.org/a b");
  EXPECT_EQ(qvUtils::QV_OpenShortCut(qvNameCodec::DecodeToString(file).c_str()), 1);
  EXPECT_EQ(Args(Record("xdg-open")), std::vector<std::string>{"https://example.org/a b"});
}

TEST_F(Launch, UnresolvableShortcutsGiveZero) {
  ASSERT_EQ(symlink("/nonexistent/x", dir_.Path("dangling").c_str()), 0);
  EXPECT_EQ(qvUtils::QV_OpenShortCut(dir_.W("dangling").c_str()), 0);
  EXPECT_EQ(qvUtils::QV_OpenShortCut(dir_.W("missing.desktop").c_str()), 0);
  qvtest::WriteFile(dir_.Path("plain.txt"), "Exec=qv-recorder");
  EXPECT_EQ(qvUtils::QV_OpenShortCut(dir_.W("plain.txt").c_str()), 0);
  Desktop("noexec.desktop", "Type=Application\nName=x");
  EXPECT_EQ(qvUtils::QV_OpenShortCut(dir_.W("noexec.desktop").c_str()), 0);
  Desktop("unknown.desktop", "Type=Application\nExec=qv-no-such-program-here");
  EXPECT_EQ(qvUtils::QV_OpenShortCut(dir_.W("unknown.desktop").c_str()), 0);
  Desktop("quote.desktop", "Type=Application\nExec=qv-recorder \"unclosed");
  EXPECT_EQ(qvUtils::QV_OpenShortCut(dir_.W("quote.desktop").c_str()), 0);
  qvtest::WriteFile(dir_.Path("nogroup.desktop"), "[Other]\nExec=qv-recorder\n");
  EXPECT_EQ(qvUtils::QV_OpenShortCut(dir_.W("nogroup.desktop").c_str()), 0);
  EXPECT_EQ(qvUtils::QV_OpenShortCut(nullptr), 0);
  EXPECT_FALSE(qvtest::Exists(dir_.Path("qv-recorder.record")));
}

TEST(DesktopEntry, QuotedArgumentsSurviveTheFileRoundTrip) {
  const std::vector<std::string> args = {
      "/opt/my app/bin/run", "say \"hi\"", "$HOME", "back\\slash", "100%", "`tick`", " lead",
      "tab\there",           "%f"};
  std::string exec;
  for (const std::string& a : args)
    exec += (exec.empty() ? "" : " ") + qvDesktopEntry::QuoteExecArg(a);
  TempDir dir;
  std::string file = dir.Path("x.desktop");
  qvtest::WriteFile(file, "[Desktop Entry]\nExec=" + qvDesktopEntry::EscapeValue(exec) + "\n");
  qvDesktopEntry::Entry entry;
  ASSERT_TRUE(qvDesktopEntry::Read(file, &entry));
  std::vector<std::string> back;
  ASSERT_TRUE(qvDesktopEntry::SplitExec(entry, file, &back));
  EXPECT_EQ(back, args);
}
