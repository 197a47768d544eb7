// Downloads against a real server on 127.0.0.1: the request, the chunks,
// the result codes, the checks before a file is handed over, cancelling;
// and installing what arrived.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <condition_variable>
#include <mutex>

#include "CInetFile.h"
#include "CInetFiles.h"
#include "UpdateHttpServer.h"
#include "UpdateTestSupport.h"
#include "qvInstall.h"
#include "qvMd5.h"

namespace {

using qvupdatetest::Answer;
using qvupdatetest::Exists;
using qvupdatetest::ReadAll;
using qvupdatetest::TempFolder;
using qvupdatetest::UpdateHttpServer;
using qvupdatetest::WriteAll;

// Collects the messages of one download, posted from its thread.
class MessageLog : public CNotifyWindow {
 public:
  void PostMessage(uint32_t message, uint32_t wParam, CInetFile*) override {
    std::lock_guard<std::mutex> hold(mutex_);
    if (message == WM_INET_PROGRESS) chunks_.push_back(InetParamLow(wParam));
    if (message == WM_INET_DONE) result_ = static_cast<int>(InetParamLow(wParam)), kind_ = static_cast<int>(InetParamKind(wParam));
    changed_.notify_all();
  }
  int WaitForResult() {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [this] { return result_ >= 0; });
    return result_;
  }
  void WaitForBytes(uint64_t n) {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [&] {
      uint64_t sum = 0;
      for (uint32_t chunk : chunks_) sum += chunk;
      return sum >= n || result_ >= 0;
    });
  }
  std::vector<uint32_t> Chunks() {
    std::lock_guard<std::mutex> hold(mutex_);
    return chunks_;
  }
  int Kind() { return kind_; }
  void Reset() {
    std::lock_guard<std::mutex> hold(mutex_);
    chunks_.clear();
    result_ = kind_ = -1;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint32_t> chunks_;
  int result_ = -1;
  int kind_ = -1;
};

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Ok()); }

  // Fetches url as a file download into target; returns the result code.
  int Fetch(const std::string& url, const std::string& target, uint32_t length = 0, std::string hash = "") {
    file_ = std::make_unique<CInetFile>();
    file_->m_nKind = DK_FILE;
    file_->m_pNotifyWnd = &log_;
    file_->m_strUrl = url;
    file_->m_strLocalPath = target;
    file_->m_dwLength = length;
    file_->m_strFileHash = std::move(hash);
    EXPECT_TRUE(file_->Start());
    return log_.WaitForResult();
  }

  UpdateHttpServer server_;
  TempFolder dir_;
  MessageLog log_;
  std::unique_ptr<CInetFile> file_;
};

TEST_F(DownloadTest, AFileArrivesInChunksOfAtMost1024BytesWithTheTwoHeaders) {
  std::string body;
  for (int i = 0; i < 5000; ++i) body += static_cast<char>('a' + i % 26);
  server_.Set("/f.bin", body);
  EXPECT_EQ(Fetch(server_.Url("/f.bin"), dir_ / "f.bin", 5000, Md5Hex(body)), kInetOk);
  EXPECT_EQ(ReadAll(dir_ / "f.bin.update"), body);
  EXPECT_FALSE(Exists(dir_ / "f.bin"));  // installing is the window's step
  uint64_t sum = 0;
  for (uint32_t chunk : log_.Chunks()) {
    EXPECT_GE(chunk, 1u);
    EXPECT_LE(chunk, 1024u);
    sum += chunk;
  }
  EXPECT_EQ(sum, 5000u);
  EXPECT_EQ(file_->m_dwReceived, 5000u);
  EXPECT_EQ(log_.Kind(), DK_FILE);
  ASSERT_EQ(server_.Heads().size(), 1u);
  const std::string head = server_.Heads()[0];
  EXPECT_EQ(head.rfind("GET /f.bin HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(head.find("\r\nAccept: */*\r\n"), std::string::npos);
  EXPECT_NE(head.find("\r\nUser-Agent: AutoUpdate_Tovik\r\n"), std::string::npos);
}

TEST_F(DownloadTest, AnEmptyBodyStillMakesAFile) {
  server_.Set("/empty", "");
  EXPECT_EQ(Fetch(server_.Url("/empty"), dir_ / "e"), kInetOk);
  EXPECT_TRUE(Exists(dir_ / "e.update"));
}

TEST_F(DownloadTest, FailuresGiveTheirCodesAndTexts) {
  EXPECT_EQ(Fetch(server_.Url("/nothing"), dir_ / "a"), kInetHttpStatus);
  EXPECT_FALSE(Exists(dir_ / "a.update"));
  EXPECT_EQ(file_->m_strErrorText, "取得服务器文件失败, 请选择其他服务器进行尝试");
  log_.Reset();
  EXPECT_EQ(Fetch("http://127.0.0.1:" + std::to_string(UpdateHttpServer::UnusedPort()) + "/x", dir_ / "b"),
            kInetNetworkError);
  EXPECT_EQ(file_->m_strErrorText, "连接服务器失败, 请选择其他服务器进行尝试");
}

TEST_F(DownloadTest, OnlyHttpAndHttpsUrlsAreFetched) {
  for (const char* url : {"ftp://127.0.0.1/x", "file:///etc/passwd", "not a url", ""}) {
    MessageLog log;
    CInetFile file;
    file.m_pNotifyWnd = &log;
    file.m_strUrl = url;
    file.m_strLocalPath = dir_ / "x";
    file.Start();
    EXPECT_EQ(log.WaitForResult(), kInetBadUrl) << url;
    EXPECT_EQ(file.m_strErrorText, "URL解析错误, 请选择其他服务器进行尝试");
  }
  EXPECT_FALSE(Exists(dir_ / "x.update"));
}

TEST_F(DownloadTest, AMissingTargetFolderGives7) {
  server_.Set("/f", "data");
  EXPECT_EQ(Fetch(server_.Url("/f"), dir_ / "new/folder/f"), kInetCreateFailed);
  EXPECT_FALSE(Exists(dir_ / "new"));
  EXPECT_EQ(file_->m_strErrorText, "创建本地文件失败");
}

TEST_F(DownloadTest, AServerSendingPastLengthIsCutOffAtLengthAndNothingStays) {
  server_.Set("/endless", Answer{200, std::string(1000, 'z'), true});
  EXPECT_EQ(Fetch(server_.Url("/endless"), dir_ / "f", 10000), kInetLengthMismatch);
  EXPECT_FALSE(Exists(dir_ / "f.update"));
  EXPECT_FALSE(Exists(dir_ / "f"));
  uint64_t written = 0;
  for (uint32_t chunk : log_.Chunks()) written += chunk;
  EXPECT_LE(written, 10000u);
}

TEST_F(DownloadTest, AShortFileOrADifferentHashIsRemovedNotHandedOver) {
  server_.Set("/short", "12345");
  EXPECT_EQ(Fetch(server_.Url("/short"), dir_ / "s", 6), kInetLengthMismatch);
  EXPECT_FALSE(Exists(dir_ / "s.update"));
  log_.Reset();
  EXPECT_EQ(Fetch(server_.Url("/short"), dir_ / "t", 5, Md5Hex("54321")), kInetHashMismatch);
  EXPECT_FALSE(Exists(dir_ / "t.update"));
  EXPECT_EQ(file_->m_strErrorText, "文件校验失败");
}

TEST_F(DownloadTest, ARefusedPathIsNeverFetched) {
  CInetFile file;
  file.m_pNotifyWnd = &log_;
  file.m_strUrl = server_.Url("/f");
  file.m_bPathRefused = true;
  file.Start();
  EXPECT_EQ(log_.WaitForResult(), kInetPathRefused);
  EXPECT_TRUE(server_.Heads().empty());
}

TEST_F(DownloadTest, CancellingStopsBetweenChunksAndLeavesThePartialFile) {
  server_.Set("/slow", Answer{200, std::string(100000, 'p'), false, 4096});
  file_ = std::make_unique<CInetFile>();
  file_->m_pNotifyWnd = &log_;
  file_->m_strUrl = server_.Url("/slow");
  file_->m_strLocalPath = dir_ / "p";
  file_->m_dwLength = 100000;
  ASSERT_TRUE(file_->Start());
  log_.WaitForBytes(4096);
  file_.reset();  // cancels and waits, as the window's close does
  EXPECT_EQ(log_.WaitForResult(), kInetCancelled);
  EXPECT_TRUE(ReadAll(dir_ / "p.update") == std::string(4096, 'p'));
  EXPECT_FALSE(Exists(dir_ / "p"));
}

TEST_F(DownloadTest, TheQueueHandsOutItsHeadAndDestroysWhatItRemoves) {
  CInetFiles queue;
  auto first = std::make_unique<CInetFile>();
  CInetFile* head = first.get();
  queue.Add(std::move(first));
  queue.Add(std::make_unique<CInetFile>());
  EXPECT_EQ(queue.GetHead(), head);
  EXPECT_EQ(head->m_nStartCount, 0);
  queue.Remove(head);
  EXPECT_EQ(queue.GetCount(), 1u);
  EXPECT_NE(queue.GetHead(), head);
}

// ---- Installing

class InstallTest : public ::testing::Test {
 protected:
  TempFolder dir_;
};

TEST_F(InstallTest, ANewFileTakesItsNameAndAnOldOneIsReplacedKeepingItsMode) {
  CInetFile fresh;
  fresh.m_strLocalPath = dir_ / "new";
  WriteAll(dir_ / "new.update", "v2");
  EXPECT_EQ(InstallDownloadedFile(fresh, "").step, InstallStep::kInstalled);
  EXPECT_EQ(ReadAll(dir_ / "new"), "v2");
  EXPECT_FALSE(Exists(dir_ / "new.update"));

  WriteAll(dir_ / "prog", "v1");
  chmod((dir_ / "prog").c_str(), 0750);
  CInetFile update;
  update.m_strLocalPath = dir_ / "prog";
  WriteAll(dir_ / "prog.update", "v2");
  EXPECT_EQ(InstallDownloadedFile(update, "").step, InstallStep::kInstalled);
  EXPECT_EQ(ReadAll(dir_ / "prog"), "v2");
  struct stat st;
  ASSERT_EQ(stat((dir_ / "prog").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
}

TEST_F(InstallTest, ATargetThatCannotBeReplacedKeepsTheDownload) {
  // A folder in the file's place: it can be opened, but no file replaces it.
  std::filesystem::create_directories(dir_ / "busy/inside");
  CInetFile file;
  file.m_strLocalPath = dir_ / "busy";
  WriteAll(dir_ / "busy.update", "v2");
  EXPECT_EQ(InstallDownloadedFile(file, "").step, InstallStep::kDeleteFailed);
  EXPECT_EQ(ReadAll(dir_ / "busy.update"), "v2");
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "busy/inside"));
}

TEST_F(InstallTest, AMissingDownloadFailsTheRename) {
  CInetFile file;
  file.m_strLocalPath = dir_ / "gone";
  EXPECT_EQ(InstallDownloadedFile(file, "").step, InstallStep::kRenameFailed);
}

TEST_F(InstallTest, ExecuteRunsBeforeRegisterAndBothReallyRun) {
  const std::string marks = dir_ / "marks";
  CInetFile file;
  file.m_strLocalPath = dir_ / "setup.sh";
  WriteAll(dir_ / "setup.sh.update", "#!/bin/sh\necho \"executed $1 $2\" > '" + marks + ".exec'\n");
  file.m_bExecute = true;
  file.m_strExecutePar = "--quiet \"two words\"";
  file.m_bRegister = true;
  WriteAll(dir_ / "register.sh", "#!/bin/sh\necho \"registered $1\" > '" + marks + ".reg'\n");
  chmod((dir_ / "register.sh").c_str(), 0755);

  InstallOutcome outcome = InstallDownloadedFile(file, dir_ / "register.sh");
  ASSERT_EQ(outcome.step, InstallStep::kInstalled);
  ASSERT_EQ(outcome.started.size(), 2u);
  EXPECT_EQ(outcome.started[0], (std::vector<std::string>{dir_ / "setup.sh", "--quiet", "two words"}));
  EXPECT_EQ(outcome.started[1], (std::vector<std::string>{dir_ / "register.sh", dir_ / "setup.sh"}));
  struct stat st;
  ASSERT_EQ(stat((dir_ / "setup.sh").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  ASSERT_TRUE(qvupdatetest::WaitFor([&] { return Exists(marks + ".exec") && Exists(marks + ".reg"); }));
  ASSERT_TRUE(qvupdatetest::WaitFor([&] { return ReadAll(marks + ".exec").size() > 0 && ReadAll(marks + ".reg").size() > 0; }));
  EXPECT_EQ(ReadAll(marks + ".exec"), "executed --quiet two words\n");
  EXPECT_EQ(ReadAll(marks + ".reg"), "registered " + dir_ / "setup.sh" + "\n");
}

TEST_F(InstallTest, RegisterWithoutACommandStartsNothing) {
  CInetFile file;
  file.m_strLocalPath = dir_ / "lib.so";
  WriteAll(dir_ / "lib.so.update", "x");
  file.m_bRegister = true;
  EXPECT_TRUE(InstallDownloadedFile(file, "").started.empty());
}

}  // namespace
