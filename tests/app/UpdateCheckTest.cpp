// The two requests of a run against a server on 127.0.0.1: what is asked
// for, how the version answer is read, that the window keeps working while
// a request is under way, and the hand-over to the updater.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTimer>
#include <QUrl>

#include <memory>

#include "AppTestSupport.h"
#include "CTrayMenu.h"
#include "LocalHttpServer.h"
#include "qvHttpClient.h"
#include "qvSearchMainUi.h"
#include "qvSkinArchive.h"
#include "qvUpdateCheck.h"
#include "qvUsageReport.h"
#include "qvUtils.h"

using namespace qvapptest;

namespace {

// --- reading the version answer ------------------------------------------------

TEST(VersionAnswerTest, LeadingNumberBeforeTheFirstBarComparedUnsigned) {
  struct Case {
    const char* answer;
    uint32_t version;
    bool offered;
  };
  const Case cases[] = {
      {"1102|0", 1102, true},
      {"1101|5", 1101, false},
      {"abc|1", 0, false},
      {"1102", 0, false},  // no bar: nothing is read
      {"-1|0", 0xFFFFFFFFu, true},
      {"", 0, false},
      {"|1102", 0, false},
      {" \t+1200x|", 1200, true},
      {"1200 |9|9", 1200, true},
      {"1100|2000", 1100, false},
      {"99999999999|0", 0x7FFFFFFFu, true},  // saturates instead of wrapping
      {"-99999999999|0", 0x80000000u, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(qvUpdateCheck::LatestVersion(c.answer), c.version) << c.answer;
    EXPECT_EQ(qvUpdateCheck::Offered(c.answer), c.offered) << c.answer;
  }
}

TEST(UsageReportTest, TextValuesAreEscapedSoTheQueryKeepsItsKeys) {
  EXPECT_EQ(qvUsageReport::PercentEncode("Debian GNU/Linux 12 (bookworm)-64###bit"),
            "Debian%20GNU%2FLinux%2012%20%28bookworm%29-64%23%23%23bit");
  EXPECT_EQ(qvUsageReport::PercentEncode("a&b=c?d+e\xE4\xB8\xAD~._-"), "a%26b%3Dc%3Fd%2Be%E4%B8%AD~._-");
  EXPECT_EQ(qvUsageReport::OsText("", 32), "-32###bit");
}

// --- the request helper ----------------------------------------------------------

TEST(HttpGetTextTest, AppendsTheBodyWhateverTheStatus) {
  LocalHttpServer server("2000|0 not found", LocalHttpServer::Mode::kAnswer, 404);
  ASSERT_TRUE(server.Ok());
  std::string response = "kept:";
  EXPECT_EQ(HttpGetText(server.Url("/v").toStdString(), "", response), CURLE_OK);
  EXPECT_EQ(response, "kept:2000|0 not found");
  EXPECT_EQ(server.Targets(), QStringList{"/v"});
}

// --- the window's requests ----------------------------------------------------------

class RequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Requests to 127.0.0.1 must not go through a proxy of the environment.
    qputenv("no_proxy", "127.0.0.1");
    ASSERT_TRUE(skin_.Load(QFile::encodeName(app_.Path(QStringLiteral("skin.dat"))).toStdString()));
  }
  void TearDown() override { window_.reset(); }

  // A window without an engine: its timers stay off, the tests run the
  // requests themselves. The prompt is recorded unless `realPrompt`.
  void Open(bool realPrompt = false) {
    window_ = std::make_unique<qvSearchMainUi>(app_.Folder());
    ASSERT_TRUE(window_->Create(skin_));
    if (!realPrompt)
      window_->SetUpdatePrompt([this](const QString& text, const QString& caption) { prompts_ << caption + u'/' + text; });
    finished_ = std::make_unique<QSignalSpy>(window_.get(), &qvSearchMainUi::updateCheckFinished);
    quit_ = std::make_unique<QSignalSpy>(window_.get(), &qvSearchMainUi::quitRequested);
  }

  void PointAt(const LocalHttpServer& server) {
    app_.WriteUpdateDat(QStringLiteral("[update]\nverUrl=%1\nserverlist=%2\n[count]\nurl=%3\n")
                            .arg(server.Url("/ver.txt"), server.Url("/serverlist.txt"), server.Url("/api.php")));
  }

  // Runs the version check and waits for its end; whether it offered.
  bool Check() {
    int before = static_cast<int>(finished_->count());
    window_->CheckForUpdate();
    EXPECT_TRUE(WaitUntil([&] { return finished_->count() == before + 1; }));
    return finished_->count() == before + 1 && finished_->last().at(0).toBool();
  }

  QStringList UpdaterArgs(const QString& log) {
    if (!WaitUntil([&] { return QFile::exists(log); })) return {};
    return QString::fromUtf8(ReadFile(log)).split(u'\n', Qt::SkipEmptyParts);
  }

  AppFolder app_{false};
  qvSkinArchive skin_;
  std::unique_ptr<qvSearchMainUi> window_;
  std::unique_ptr<QSignalSpy> finished_, quit_;
  QStringList prompts_;
};

const QString kPrompt = QString::fromUtf8("更新提示/发现新版本,点击 [确定] 后程序自动退出更新！");

TEST_F(RequestTest, UsageReportAsksWithTheFixedKeysInOrder) {
  LocalHttpServer server("ok");
  ASSERT_TRUE(server.Ok());
  PointAt(server);
  Open();
  window_->SendUsageReport();
  ASSERT_TRUE(WaitUntil([&] { return server.Targets().size() == 1; }));

  char mac[260] = "";
  char os[260] = "";
  qvUtils::QV_GetMac(mac, sizeof mac);
  qvUtils::QV_getOsVersion(os, sizeof os);
  QByteArray osText = QByteArray(os) + "-" + QByteArray::number(qvUtils::QV_GetSystemBits()) + "###bit";
  QString expected = QStringLiteral("/api.php?soft_id=21&countype_id=1002&ditch_id=6&soft_version=1.1.0.1&user_mac=") +
                     QString::fromLatin1(QUrl::toPercentEncoding(QString::fromLatin1(mac))) +
                     QStringLiteral("&user_osversion=") + QString::fromLatin1(QUrl::toPercentEncoding(QString::fromUtf8(osText)));
  QString target = server.Targets().at(0);
  EXPECT_EQ(target, expected);
  EXPECT_TRUE(target.endsWith(QLatin1String("%23%23%23bit"))) << target.toStdString();
}

TEST_F(RequestTest, VersionAnswersOfferTheUpdateOnlyAboveThisBuild) {
  struct Case {
    const char* body;
    int status;
    bool offered;
  };
  const Case cases[] = {{"1102|0", 200, true}, {"1101|5", 200, false}, {"abc|1", 200, false},
                        {"1102", 200, false},  {"-1|0", 200, true},    {"2000|0 error page", 500, true}};
  Open();
  int offers = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    LocalHttpServer server(c.body, LocalHttpServer::Mode::kAnswer, c.status);
    ASSERT_TRUE(server.Ok());
    PointAt(server);
    EXPECT_EQ(Check(), c.offered);
    EXPECT_EQ(server.Targets(), QStringList{"/ver.txt"});
    if (c.offered) ++offers;
    EXPECT_EQ(prompts_.size(), offers);
    // Each offer hands over to the updater and ends the program.
    EXPECT_EQ(quit_->count(), offers);
  }
  EXPECT_EQ(prompts_.value(0), kPrompt);
  EXPECT_FALSE(window_->TornDown());
}

// Without [update] verUrl the check reads the built-in server list, whose
// lines start with a server name: such an answer names no version.
TEST_F(RequestTest, ServerListAnswerNamesNoVersion) {
  LocalHttpServer server("srv1.example|http://srv1.example/\n1200.example|x\n");
  ASSERT_TRUE(server.Ok());
  app_.WriteUpdateDat(QStringLiteral("[update]\nverUrl=%1\n").arg(server.Url("/serverlist.txt")));
  Open();
  EXPECT_FALSE(Check());
  EXPECT_EQ(server.Targets(), QStringList{"/serverlist.txt"});
}

TEST_F(RequestTest, UnreachableServerShowsNothing) {
  app_.WriteUpdateDat(QStringLiteral("[update]\nverUrl=http://127.0.0.1:%1/ver.txt\n").arg(LocalHttpServer::FreePort()));
  Open();
  EXPECT_FALSE(Check());
  EXPECT_TRUE(prompts_.isEmpty());
  EXPECT_EQ(quit_->count(), 0);
}

TEST_F(RequestTest, WindowAnswersWhileTheServerHoldsItsAnswer) {
  LocalHttpServer server("1102|0", LocalHttpServer::Mode::kHold);
  ASSERT_TRUE(server.Ok());
  PointAt(server);
  Open();
  window_->show();
  window_->CheckForUpdate();
  ASSERT_TRUE(WaitUntil([&] { return server.Targets().size() == 1; }));
  // The request is under way and unanswered: the window takes input.
  auto* edit = window_->findChild<QLineEdit*>(QStringLiteral("search_input_edit"));
  ASSERT_NE(edit, nullptr);
  QTest::keyClicks(edit, QStringLiteral("abc"));
  EXPECT_EQ(edit->text(), "abc");
  EXPECT_EQ(finished_->count(), 0);
  server.Release();
  ASSERT_TRUE(WaitUntil([&] { return finished_->count() == 1; }));
  EXPECT_TRUE(finished_->at(0).at(0).toBool());
  EXPECT_EQ(prompts_, QStringList{kPrompt});
}

TEST_F(RequestTest, ServerThatNeverAnswersEndsInNothingShown) {
  LocalHttpServer server("1102|0", LocalHttpServer::Mode::kSilent);
  ASSERT_TRUE(server.Ok());
  PointAt(server);
  Open();
  window_->show();
  window_->CheckForUpdate();
  ASSERT_TRUE(WaitUntil([&] { return server.Targets().size() == 1; }));
  auto* edit = window_->findChild<QLineEdit*>(QStringLiteral("search_input_edit"));
  QTest::keyClicks(edit, QStringLiteral("x"));
  EXPECT_EQ(edit->text(), "x");
  EXPECT_EQ(finished_->count(), 0);
  // The transfer limit ends the request.
  ASSERT_TRUE(WaitUntil([&] { return finished_->count() == 1; }));
  EXPECT_FALSE(finished_->at(0).at(0).toBool());
  EXPECT_TRUE(prompts_.isEmpty());
  EXPECT_EQ(quit_->count(), 0);
}

TEST_F(RequestTest, OfferShowsAMessageBoxThenStartsTheUpdaterAndQuits) {
  LocalHttpServer server("1102|0");
  ASSERT_TRUE(server.Ok());
  PointAt(server);
  QString log = app_.AddUpdaterStub();
  Open(true);
  // Reads and closes the box once it is up; bounded by the check's wait.
  QString seen;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      seen = box->windowTitle() + u'/' + box->text();
      EXPECT_EQ(box->buttons().size(), 1);
      box->button(QMessageBox::Ok)->click();
      closer.stop();
    }
  });
  closer.start(10);
  EXPECT_TRUE(Check());
  EXPECT_EQ(seen, kPrompt);
  EXPECT_EQ(UpdaterArgs(log), (QStringList{server.Url("/serverlist.txt"), "auto"}));
  EXPECT_EQ(quit_->count(), 1);
  EXPECT_FALSE(window_->TornDown());
}

TEST_F(RequestTest, CheckUpdateItemStartsTheUpdaterWithoutAVersionRequest) {
  LocalHttpServer server("1102|0");
  ASSERT_TRUE(server.Ok());
  PointAt(server);
  QString log = app_.AddUpdaterStub();
  Open();
  QPointer<CTrayMenu> menu = CTrayMenu::Open(window_.get(), app_.MenuSkin(), QPoint(50, 300));
  ASSERT_TRUE(menu);
  auto* item = menu->findChild<QAbstractButton*>(QStringLiteral("check_update"));
  ASSERT_NE(item, nullptr);
  QTest::mouseClick(item, Qt::LeftButton);
  EXPECT_EQ(quit_->count(), 1);
  EXPECT_FALSE(window_->TornDown());
  EXPECT_EQ(UpdaterArgs(log), (QStringList{server.Url("/serverlist.txt"), "auto"}));
  EXPECT_TRUE(server.Targets().isEmpty());
  EXPECT_TRUE(prompts_.isEmpty());
}

TEST_F(RequestTest, MissingUpdaterStillEndsTheProgram) {
  Open();
  QObject item;
  item.setObjectName(QStringLiteral("check_update"));
  window_->Notify(QStringLiteral("itemclick"), &item);
  EXPECT_EQ(quit_->count(), 1);
}

// With an engine the window runs both requests by itself, once each, the
// report first.
TEST_F(RequestTest, TimersSendTheReportThenTheCheckOnce) {
  LocalHttpServer server("1101|0");
  ASSERT_TRUE(server.Ok());
  PointAt(server);
  app_.Link(QStringLiteral(QV_FAKE_ENGINE), QStringLiteral("qvBaseModule.so"));
  Open();
  ASSERT_NE(window_->Engine(), nullptr);
  EXPECT_TRUE(window_->TimersActive());
  ASSERT_TRUE(WaitUntil([&] { return finished_->count() == 1; }));
  QStringList targets = server.Targets();
  ASSERT_EQ(targets.size(), 2);
  EXPECT_TRUE(targets[0].startsWith(QLatin1String("/api.php?soft_id=21&"))) << targets[0].toStdString();
  EXPECT_EQ(targets[1], "/ver.txt");
  EXPECT_FALSE(window_->TimersActive());
}

}  // namespace
