// The notification-area icon and its menu: where the menu opens, that each
// item reaches the search window, and when the menu goes.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QSignalSpy>
#include <QSystemTrayIcon>

#include <memory>

#include "AppTestSupport.h"
#include "CSettingWnd.h"
#include "CTrayMenu.h"
#include "qvSearchMainUi.h"
#include "qvSkinArchive.h"
#include "qvTrayIcon.h"

using namespace qvapptest;

namespace {

class TrayMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_.WriteUpdateDat(QStringLiteral("[update]\nhome=http://home.qvsearch.example/about?x=1\n"));
    ASSERT_TRUE(skin_.Load(QFile::encodeName(app_.Path(QStringLiteral("skin.dat"))).toStdString()));
    window_ = std::make_unique<qvSearchMainUi>(app_.Folder());
    ASSERT_TRUE(window_->Create(skin_));
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  void TearDown() override { window_.reset(); }

  CTrayMenu* OpenMenu(const QPoint& at = QPoint(300, 400)) {
    return CTrayMenu::Open(window_.get(), app_.MenuSkin(), at);
  }
  // Clicks the item of a fresh menu; true once the menu is gone.
  bool ClickItem(const char* name) {
    QPointer<CTrayMenu> menu = OpenMenu();
    if (!menu) return false;
    auto* item = menu->findChild<QAbstractButton*>(QLatin1String(name));
    EXPECT_NE(item, nullptr) << name;
    if (!item) return false;
    QTest::mouseClick(item, Qt::LeftButton);
    return WaitUntil([&] { return menu.isNull(); });
  }

  AppFolder app_{false};
  qvSkinArchive skin_;
  std::unique_ptr<qvSearchMainUi> window_;
};

TEST_F(TrayMenuTest, OpensAboveAndRightOfTheCursorWithTheFiveItems) {
  QPointer<CTrayMenu> menu = OpenMenu(QPoint(300, 400));
  ASSERT_TRUE(menu);
  EXPECT_TRUE(menu->isVisible());
  EXPECT_GT(menu->height(), 0);
  EXPECT_EQ(menu->x(), 300);
  EXPECT_EQ(menu->y() + menu->height(), 400);
  for (const char* name : {"menu_seting", "check_update", "menu_feedback", "menu_about", "tray_close"})
    EXPECT_NE(menu->findChild<QAbstractButton*>(QLatin1String(name)), nullptr) << name;
  menu->close();
}

TEST_F(TrayMenuTest, FeedbackAndAboutOpenTheHomePage) {
  OpenerStub opener;
  ASSERT_TRUE(ClickItem("menu_feedback"));
  EXPECT_EQ(opener.WaitForCall(1), "http://home.qvsearch.example/about?x=1");
  ASSERT_TRUE(ClickItem("menu_about"));
  EXPECT_EQ(opener.WaitForCall(2), "http://home.qvsearch.example/about?x=1");
}

TEST_F(TrayMenuTest, SettingsItemShowsTheSettingsWindow) {
  ASSERT_NE(window_->SettingsWindow(), nullptr);
  EXPECT_FALSE(window_->SettingsWindow()->isVisible());
  ASSERT_TRUE(ClickItem("menu_seting"));
  EXPECT_TRUE(window_->SettingsWindow()->isVisible());
}

TEST_F(TrayMenuTest, CloseItemEndsTheProgramWithTheTeardown) {
  QSignalSpy quit(window_.get(), &qvSearchMainUi::quitRequested);
  ASSERT_TRUE(ClickItem("tray_close"));
  ASSERT_TRUE(WaitUntil([&] { return quit.count() == 1; }));
  EXPECT_TRUE(window_->TornDown());
}

TEST_F(TrayMenuTest, PressOutsideClosesTheMenu) {
  QPointer<CTrayMenu> menu = OpenMenu();
  ASSERT_TRUE(menu);
  QTest::mouseClick(window_->windowHandle(), Qt::LeftButton, {}, QPoint(400, 300));
  EXPECT_TRUE(WaitUntil([&] { return menu.isNull(); }));
  EXPECT_FALSE(window_->TornDown());
}

TEST_F(TrayMenuTest, MissingOrBrokenFormShowsNoMenu) {
  EXPECT_EQ(CTrayMenu::Open(window_.get(), app_.Path(QStringLiteral("skins2/none.xml")), QPoint()), nullptr);
  WriteFile(app_.MenuSkin(), "<ui version=\"4.0\"><widget class=\"NoSuchClass\"");
  EXPECT_EQ(OpenMenu(), nullptr);
  EXPECT_TRUE(window_->findChildren<CTrayMenu*>().isEmpty());
}

// The icon's mouse actions, without a notification area to show it in.
TEST_F(TrayMenuTest, DoubleClickRestoresTheWindowAndContextClickOpensOneMenu) {
  qvTrayIcon tray(window_.get(), window_->windowIcon(), app_.MenuSkin());
  window_->showMinimized();
  tray.OnActivated(QSystemTrayIcon::DoubleClick, QPoint());
  EXPECT_FALSE(window_->isMinimized());
  EXPECT_TRUE(window_->isVisible());
  // Pop-ups close when the program loses the activation: let the
  // restored window's activation settle first.
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));

  tray.OnActivated(QSystemTrayIcon::Context, QPoint(120, 500));
  QPointer<CTrayMenu> first = tray.Menu();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->geometry().bottomLeft(), QPoint(120, 499));
  tray.OnActivated(QSystemTrayIcon::Context, QPoint(200, 500));
  EXPECT_EQ(tray.Menu(), first);
  EXPECT_EQ(first->geometry().bottomLeft(), QPoint(200, 499));
  tray.OnActivated(QSystemTrayIcon::Trigger, QPoint());  // a single click does nothing
  EXPECT_EQ(window_->findChildren<CTrayMenu*>().size(), 1);
}

TEST_F(TrayMenuTest, IconInTheNotificationArea) {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    EXPECT_EQ(window_->Tray(), nullptr);
    GTEST_SKIP() << "no notification area on this display (the offscreen platform has none)";
  }
  ASSERT_NE(window_->Tray(), nullptr);
  QSystemTrayIcon& icon = window_->Tray()->Icon();
  EXPECT_TRUE(icon.isVisible());
  EXPECT_EQ(icon.toolTip(), QString::fromUtf8("Zerivo搜索"));
  EXPECT_FALSE(icon.icon().isNull());
  emit icon.activated(QSystemTrayIcon::Context);
  ASSERT_TRUE(window_->Tray()->Menu());
  window_->Tray()->Menu()->close();
}

}  // namespace
