// The updater's window in this process, against a server on 127.0.0.1:
// the manual run, the end of a run, closing during a download, the
// minimise command and the tray text.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>

#include "CUpdateDlg.h"
#include "UpdateHttpServer.h"
#include "UpdateTestSupport.h"
#include "qvMd5.h"

namespace {

using qvupdatetest::Answer;
using qvupdatetest::Encode;
using qvupdatetest::Exists;
using qvupdatetest::FileElement;
using qvupdatetest::Manifest;
using qvupdatetest::ReadAll;
using qvupdatetest::TempFolder;
using qvupdatetest::UpdateHttpServer;
using qvupdatetest::WaitFor;
using qvupdatetest::WriteAll;

// The log without the time stamps.
QStringList Texts(const CUpdateDlg& dialog) {
  QStringList texts;
  for (const QString& line : dialog.LogLines()) texts << line.mid(9);
  return texts;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Ok()); }

  std::unique_ptr<CUpdateDlg> Open(const std::string& commandLine) {
    UpdaterCommandLine parsed;
    EXPECT_TRUE(ParseCommandLine(commandLine, &parsed));
    UpdaterSettings settings;
    settings.folders = UpdaterFolders{dir_.Path(), dir_.Path(), dir_.Path()};
    auto dialog = std::make_unique<CUpdateDlg>(settings, parsed);
    dialog->OnInitDialog();
    return dialog;
  }

  bool WaitForLine(const CUpdateDlg& dialog, const QString& text) {
    return WaitFor([&] { return Texts(dialog).contains(text); });
  }

  QPushButton* Button(CUpdateDlg& dialog, const char* name) { return dialog.findChild<QPushButton*>(QLatin1String(name)); }

  UpdateHttpServer server_;
  TempFolder dir_;
};

TEST_F(WindowTest, TwoBlanksBeforeAutoMeanAManualRunThatWaitsForUpdateNow) {
  server_.Set("/list", Encode("乙服务器|" + server_.Url("/b.xml") + "\n甲服务器|" + server_.Url("/a.xml") + "\n", "GBK"));
  server_.Set("/a.xml", Manifest(""));
  server_.Set("/b.xml", Manifest(""));
  auto dialog = Open(server_.Url("/list") + "  auto");
  ASSERT_TRUE(WaitForLine(*dialog, QStringLiteral("获取服务器列表成功,共取得 2 个可选服务器")));
  QPushButton* updateNow = Button(*dialog, "updateNowButton");
  auto* box = dialog->findChild<QComboBox*>(QStringLiteral("serverBox"));
  ASSERT_TRUE(WaitFor([&] { return updateNow->isEnabled(); }));
  EXPECT_TRUE(box->isEnabled());
  EXPECT_EQ(box->count(), 2);
  EXPECT_EQ(box->currentText(), QStringLiteral("甲服务器"));  // the last valid line
  // "自动选择服务器" does nothing.
  Button(*dialog, "autoSelectButton")->click();
  EXPECT_EQ(Texts(*dialog).size(), 2);
  EXPECT_EQ(server_.Heads().size(), 1u);

  box->setCurrentIndex(box->findText(QStringLiteral("乙服务器")));
  updateNow->click();
  EXPECT_FALSE(updateNow->isEnabled());
  EXPECT_FALSE(box->isEnabled());
  ASSERT_TRUE(WaitForLine(*dialog, QStringLiteral("你当前的版本是最新的")));
  EXPECT_EQ(Texts(*dialog), (QStringList{QStringLiteral("正在连接获取服务器列表"),
                                        QStringLiteral("获取服务器列表成功,共取得 2 个可选服务器"),
                                        QStringLiteral("正在连接：乙服务器"), QStringLiteral("获取更新文件列表成功：乙服务器"),
                                        QStringLiteral("你当前的版本是最新的")}));
  // Nothing needed updating: the controls come back, without "更新完毕".
  ASSERT_TRUE(WaitFor([&] { return updateNow->isEnabled(); }));
  EXPECT_TRUE(box->isEnabled());
  for (const QString& line : dialog->LogLines())
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d \\S")).match(line).hasMatch()) << line.toStdString();
}

TEST_F(WindowTest, AnAutomaticRunDownloadsInstallsAndReportsTheTotal) {
  const std::string one(1000, '1'), two(536, '2');
  server_.Set("/list", "S|" + server_.Url("/m.xml") + "\n");
  server_.Set("/one", one);
  server_.Set("/two", two);
  server_.Set("/m.xml", Manifest(FileElement({{"FileName", "one"}, {"Length", "1000"}, {"FileHash", Md5Hex(one)},
                                              {"URL", server_.Url("/one")}}) +
                                 FileElement({{"FileName", "two"}, {"Length", "536"}, {"URL", server_.Url("/two")}})));
  auto dialog = Open(server_.Url("/list") + " AUTO");
  ASSERT_TRUE(WaitForLine(*dialog, QStringLiteral("更新完毕")));
  EXPECT_EQ(Texts(*dialog), (QStringList{QStringLiteral("正在连接获取服务器列表"),
                                        QStringLiteral("获取服务器列表成功,共取得 1 个可选服务器"), QStringLiteral("正在连接：S"),
                                        QStringLiteral("获取更新文件列表成功：S"),
                                        QStringLiteral("需更新文件总数: 2, 文件总长度: 1 KB"), QStringLiteral("正在更新文件：one"),
                                        QStringLiteral("下载文件成功 [one]"), QStringLiteral("正在更新文件：two"),
                                        QStringLiteral("下载文件成功 [two]"), QStringLiteral("更新完毕")}));
  EXPECT_EQ(ReadAll(dir_ / "one"), one);
  EXPECT_EQ(ReadAll(dir_ / "two"), two);
  EXPECT_EQ(dialog->findChild<QProgressBar*>(QStringLiteral("overallProgress"))->value(), 100);
  EXPECT_EQ(dialog->TrayText(), QStringLiteral("100%"));
  EXPECT_TRUE(Button(*dialog, "updateNowButton")->isEnabled());
}

TEST_F(WindowTest, FailuresAreLogLinesAndTheRunGoesOn) {
  server_.Set("/list", "Bad|" + server_.Url("/missing.xml") + "\n");
  auto dialog = Open(server_.Url("/list") + " auto");
  ASSERT_TRUE(WaitForLine(*dialog, QStringLiteral("取得服务器文件失败, 请选择其他服务器进行尝试：Bad")));
  ASSERT_TRUE(WaitFor([&] { return Button(*dialog, "updateNowButton")->isEnabled(); }));

  auto empty = Open(server_.Url("/nothing") + " auto");
  ASSERT_TRUE(WaitForLine(*empty, QStringLiteral("获得服务器列表失败")));
  EXPECT_EQ(empty->findChild<QComboBox*>(QStringLiteral("serverBox"))->count(), 0);
}

TEST_F(WindowTest, ClosingDuringADownloadLeavesThePartialFileAndInstallsNothing) {
  WriteAll(dir_ / "big", "old");
  server_.Set("/list", "S|" + server_.Url("/m.xml") + "\n");
  server_.Set("/big", Answer{200, std::string(200000, 'n'), false, 8192});
  server_.Set("/m.xml", Manifest(FileElement({{"FileName", "big"}, {"Length", "200000"}, {"URL", server_.Url("/big")}})));
  auto dialog = Open(server_.Url("/list") + " auto");
  ASSERT_TRUE(WaitFor([&] { return ReadAll(dir_ / "big.update").size() == 8192; }));
  dialog->findChild<QPushButton*>(QStringLiteral("closeButton"))->click();
  EXPECT_FALSE(dialog->isVisible());
  dialog.reset();  // cancels the download and waits for its thread
  EXPECT_EQ(ReadAll(dir_ / "big"), "old");
  EXPECT_EQ(ReadAll(dir_ / "big.update").size(), 8192u);
}

TEST_F(WindowTest, TheMinimiseCommandLeavesTheWindowAsItWas) {
  auto dialog = Open(server_.Url("/nothing") + " auto");
  dialog->showMinimized();
  QCoreApplication::processEvents();
  EXPECT_FALSE(dialog->windowState() & Qt::WindowMinimized);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("自动更新"));
  // The layout follows the template's 279 × 206 dialog units.
  EXPECT_EQ(dialog->size(), dialog->DialogUnitsToPixels(0, 0, 279, 206).size());
}

}  // namespace
