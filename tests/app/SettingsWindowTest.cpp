// The settings window: what the start-at-login box shows, what OK and the
// close button store, and that the window outlives every way of closing it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QScreen>

#include <map>
#include <memory>

#include "AppTestSupport.h"
#include "CSettingWnd.h"
#include "qvSearchMainUi.h"
#include "qvSkinArchive.h"

using namespace qvapptest;

namespace {

class SettingsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The autostart entry goes to a temporary configuration folder.
    oldConfigHome_ = qgetenv("XDG_CONFIG_HOME");
    hadConfigHome_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
  }
  void TearDown() override {
    window_.reset();
    if (hadConfigHome_) qputenv("XDG_CONFIG_HOME", oldConfigHome_);
    else qunsetenv("XDG_CONFIG_HOME");
  }

  // (Re)starts the window over the application folder.
  void Start(const std::map<std::string, std::string>* skinFiles = nullptr) {
    window_.reset();
    if (skinFiles) ASSERT_TRUE(skin_.Parse(qvSkinArchive::Build(*skinFiles)));
    else ASSERT_TRUE(skin_.Load(QFile::encodeName(app_.Path(QStringLiteral("skin.dat"))).toStdString()));
    window_ = std::make_unique<qvSearchMainUi>(app_.Folder());
    ASSERT_TRUE(window_->Create(skin_));
  }

  CSettingWnd* Settings() const { return window_->SettingsWindow(); }
  QAbstractButton* Box() const { return Settings()->AutoRunBox(); }
  void Click(const char* name) {
    auto* button = Settings()->findChild<QAbstractButton*>(QLatin1String(name));
    ASSERT_NE(button, nullptr) << name;
    QTest::mouseClick(button, Qt::LeftButton);
  }
  // The tray menu's "menu_seting" item.
  void ShowFromMenu() {
    QObject item;
    item.setObjectName(QStringLiteral("menu_seting"));
    window_->Notify(QStringLiteral("itemclick"), &item);
  }
  QString Entry() const { return config_.path() + QStringLiteral("/autostart/qvsearch.desktop"); }
  QByteArray ConfigFile() const { return ReadFile(app_.Path(QStringLiteral("qvConfig.ini"))); }

  QTemporaryDir config_;
  QByteArray oldConfigHome_;
  bool hadConfigHome_ = false;
  AppFolder app_{false};
  qvSkinArchive skin_;
  std::unique_ptr<qvSearchMainUi> window_;
};

TEST_F(SettingsWindowTest, FirstRunShowsCheckedButAddsNoEntryUntilOk) {
  Start();
  ASSERT_NE(Settings(), nullptr);
  EXPECT_FALSE(Settings()->isVisible());
  EXPECT_EQ(Settings()->windowTitle(), QString::fromUtf8("设置"));
  ASSERT_NE(Box(), nullptr);
  EXPECT_TRUE(Box()->isChecked());
  EXPECT_FALSE(QFile::exists(Entry()));
  EXPECT_TRUE(ConfigFile().isEmpty());

  ShowFromMenu();
  Click("btn_ok");
  EXPECT_FALSE(Settings()->isVisible());
  EXPECT_TRUE(ConfigFile().contains("autorun=1"));
  EXPECT_TRUE(ReadFile(Entry()).contains("Exec="));
}

TEST_F(SettingsWindowTest, OkWithTheBoxClearedStoresZeroAndRemovesTheEntry) {
  Start();
  ShowFromMenu();
  Click("btn_ok");
  ASSERT_TRUE(QFile::exists(Entry()));

  ShowFromMenu();
  EXPECT_TRUE(Settings()->isVisible());
  QRect area = Settings()->screen()->availableGeometry();
  EXPECT_LE((Settings()->geometry().center() - area.center()).manhattanLength(), 2);
  Click("option_autorun");
  EXPECT_FALSE(Box()->isChecked());
  Click("btn_ok");
  EXPECT_FALSE(Settings()->isVisible());
  EXPECT_TRUE(ConfigFile().contains("autorun=0"));
  EXPECT_FALSE(QFile::exists(Entry()));

  ShowFromMenu();
  EXPECT_FALSE(Box()->isChecked());
  Start();  // a restart reads it back
  EXPECT_FALSE(Box()->isChecked());
}

TEST_F(SettingsWindowTest, CloseButtonStoresNothingButTheBoxKeepsItsState) {
  Start();
  ShowFromMenu();
  Click("option_autorun");
  Click("closebtn");
  EXPECT_FALSE(Settings()->isVisible());
  EXPECT_TRUE(ConfigFile().isEmpty());
  EXPECT_FALSE(QFile::exists(Entry()));
  ShowFromMenu();
  EXPECT_FALSE(Box()->isChecked());
  Start();
  EXPECT_TRUE(Box()->isChecked());
}

TEST_F(SettingsWindowTest, WindowManagerCloseOnlyHides) {
  Start();
  ShowFromMenu();
  QPointer<CSettingWnd> settings = Settings();
  EXPECT_FALSE(settings->close());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_TRUE(settings);
  EXPECT_FALSE(settings->isVisible());
  ShowFromMenu();
  EXPECT_TRUE(settings->isVisible());
  EXPECT_TRUE(ConfigFile().isEmpty());
}

TEST_F(SettingsWindowTest, SkinsLackingTheFormOrTheBoxLoseOnlyThoseActions) {
  qvSkinArchive built;
  ASSERT_TRUE(built.Load(QV_APP_DIR "skin.dat"));
  std::map<std::string, std::string> files = {{"skin.xml", *built.Find("skin.xml")}};
  Start(&files);
  EXPECT_EQ(Settings(), nullptr);
  ShowFromMenu();  // nothing to show

  files["setting.xml"] =
      "<?xml version=\"1.0\"?><ui version=\"4.0\"><widget class=\"QWidget\" name=\"r\"><layout class=\"QVBoxLayout\" "
      "name=\"l\"><item><widget class=\"QPushButton\" name=\"btn_ok\"/></item></layout></widget></ui>";
  Start(&files);
  ASSERT_NE(Settings(), nullptr);
  EXPECT_EQ(Box(), nullptr);
  ShowFromMenu();
  Click("btn_ok");
  EXPECT_TRUE(Settings()->isVisible());
  // The first window left its place and size there, nothing else.
  EXPECT_FALSE(ConfigFile().contains("autorun"));
  EXPECT_FALSE(QFile::exists(Entry()));
}

}  // namespace
