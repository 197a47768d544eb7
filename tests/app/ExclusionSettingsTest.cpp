// The exclusion rules in the settings: their value in qvConfig.ini, the
// settings page that edits them, and the running engine that gets them
// when the window starts and again when OK stores a change.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QListWidget>

#include <memory>
#include <set>

#include "AppTestSupport.h"
#include "CSettingWnd.h"
#include "qvConfig.h"
#include "qvExclusionValue.h"
#include "qvSearchMainUi.h"
#include "qvSkinArchive.h"

using namespace qvapptest;

TEST(ExclusionSettings, RulesOfAnyBytesComeBackAsStored) {
  QTemporaryDir dir;
  qvConfig config;
  config.SetFolder(Qv(dir.path() + u'/'));
  const std::vector<std::string> rules = {
      "/home/u/My Backup", "node_modules", "*.o",  " lead and trail ", "a|b%c;d#e\"f'g",
      "中文文件夹",          "bad\xff\xfe",  "tab\there", "*"};
  ASSERT_TRUE(config.SetExclusions(rules));
  EXPECT_EQ(config.GetExclusions(), rules);
  // The value stays one printable line that the profile form keeps as is.
  QByteArray file = ReadFile(dir.path() + QStringLiteral("/qvConfig.ini"));
  EXPECT_TRUE(file.contains("exclude=/home/u/My%20Backup|node_modules|*.o|%20lead%20and%20trail%20|a%7Cb%25c%3Bd%23e%22f%27g|"
                            "中文文件夹|bad%FF%FE|tab%09here|*"))
      << file.toStdString();

  EXPECT_EQ(qvDecodeExclusions("||a||%zz|%4|%41"), (std::vector<std::string>{"a", "%zz", "%4", "A"}));
  EXPECT_TRUE(qvDecodeExclusions("").empty());
  ASSERT_TRUE(config.SetExclusions({}));
  EXPECT_TRUE(config.GetExclusions().empty());
}

namespace {

class ExclusionPage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.isValid());
    root_ = tree_.path();
    MakeFile(root_, QStringLiteral("src/main.c"));
    MakeFile(root_, QStringLiteral("src/main.o"));
    MakeFile(root_, QStringLiteral("src/node_modules/dep/index.js"));
    MakeFile(root_, QStringLiteral("backup/old.tar"));
    WriteFile(app_.Path(QStringLiteral("qvConfig.ini")),
              ("[config]\nautorun=0\nroots=" + root_ + "\nexclude=node_modules\n").toUtf8());
  }
  void TearDown() override { window_.reset(); }

  void Open() {
    ASSERT_TRUE(skin_.Load(QFile::encodeName(app_.Path(QStringLiteral("skin.dat"))).toStdString()));
    window_ = std::make_unique<qvSearchMainUi>(app_.Folder());
    ASSERT_TRUE(window_->Create(skin_));
    ASSERT_TRUE(WaitUntil([&] { return Config()->QueryValue("ready") == 1; }));
  }
  IQvSearchConfig* Config() const {
    return static_cast<IQvSearchConfig*>(window_->Engine()->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  }
  CSettingWnd* Settings() const { return window_->SettingsWindow(); }
  void Click(const char* name) {
    auto* button = Settings()->findChild<QAbstractButton*>(QLatin1String(name));
    ASSERT_NE(button, nullptr) << name;
    QTest::mouseClick(button, Qt::LeftButton);
  }
  // Every indexed path, asked of the engine directly.
  std::set<QString> Indexed() const {
    IQvSearch* engine = window_->Engine();
    engine->Search(u"*?", u"", 1);
    std::set<QString> out;
    int32_t n = engine->GetFolderResultCount() + engine->GetFileResultCount();
    qvChar path[QV_MAX_PATH], name[QV_MAX_PATH];
    for (int32_t r = 0; r < n; ++r) {
      engine->GetItemText(r, path, name, nullptr);
      out.insert(Q(path) + Q(name));
    }
    return out;
  }
  QStringList Listed() const {
    QStringList rows;
    QListWidget* list = Settings()->ExclusionList();
    for (int i = 0; list && i < list->count(); ++i) rows << list->item(i)->text();
    return rows;
  }
  QByteArray ConfigFile() const { return ReadFile(app_.Path(QStringLiteral("qvConfig.ini"))); }
  // Row `row` alone selected (a rule just added is the selected one).
  void Select(int row) {
    Settings()->ExclusionList()->clearSelection();
    Settings()->ExclusionList()->item(row)->setSelected(true);
  }

  QTemporaryDir tree_;
  QString root_;
  AppFolder app_;
  qvSkinArchive skin_;
  std::unique_ptr<qvSearchMainUi> window_;
};

}  // namespace

TEST_F(ExclusionPage, StoredRulesReachTheEngineAtTheStart) {
  Open();
  ASSERT_NE(Settings(), nullptr);
  EXPECT_EQ(Listed(), QStringList{QStringLiteral("node_modules")});
  std::set<QString> indexed = Indexed();
  EXPECT_TRUE(indexed.count(root_ + QStringLiteral("/src/main.o")));
  EXPECT_FALSE(indexed.count(root_ + QStringLiteral("/src/node_modules")));
  EXPECT_FALSE(indexed.count(root_ + QStringLiteral("/src/node_modules/dep/index.js")));
}

TEST_F(ExclusionPage, OkStoresTheEditedRulesAndTheEngineObeysAtOnce) {
  Open();
  ASSERT_NE(Settings(), nullptr);
  QString answer;
  Settings()->SetFolderPrompt([&] { return answer; });
  Settings()->SetNamePrompt([&] { return answer; });

  answer = root_ + QStringLiteral("/backup/");
  Click("exclude_add_folder");
  answer = QStringLiteral("*.o");
  Click("exclude_add_name");
  answer = QStringLiteral("src/x");  // a name holding '/' is no rule
  Click("exclude_add_name");
  answer = QStringLiteral("*.o");  // listed once only
  Click("exclude_add_name");
  EXPECT_EQ(Listed(), (QStringList{QStringLiteral("node_modules"), root_ + QStringLiteral("/backup"),
                                    QStringLiteral("*.o")}));
  // Removing the first rule lets node_modules back in.
  Select(0);
  Click("exclude_remove");

  // Closing does not store; the list shows the stored rules again.
  Click("closebtn");
  EXPECT_EQ(Listed(), QStringList{QStringLiteral("node_modules")});
  EXPECT_TRUE(ConfigFile().contains("exclude=node_modules\n"));

  answer = root_ + QStringLiteral("/backup");
  Click("exclude_add_folder");
  answer = QStringLiteral("*.o");
  Click("exclude_add_name");
  Select(0);
  Click("exclude_remove");
  Click("btn_ok");
  EXPECT_FALSE(Settings()->isVisible());
  QByteArray expected = "exclude=" + QFile::encodeName(root_) + "/backup|*.o\n";
  EXPECT_TRUE(ConfigFile().contains(expected)) << ConfigFile().toStdString();

  // What the rules now exclude left the index before OK returned; what
  // they let back in is walked in by the engine.
  std::set<QString> indexed = Indexed();
  EXPECT_FALSE(indexed.count(root_ + QStringLiteral("/src/main.o")));
  EXPECT_FALSE(indexed.count(root_ + QStringLiteral("/backup")));
  EXPECT_TRUE(indexed.count(root_ + QStringLiteral("/src/main.c")));
  EXPECT_TRUE(WaitUntil([&] { return Indexed().count(root_ + QStringLiteral("/src/node_modules/dep/index.js")) == 1; }));

  // A restart reads them back into the page and the engine.
  window_.reset();
  Open();
  EXPECT_EQ(Listed(), (QStringList{root_ + QStringLiteral("/backup"), QStringLiteral("*.o")}));
  indexed = Indexed();
  EXPECT_FALSE(indexed.count(root_ + QStringLiteral("/backup/old.tar")));
  EXPECT_TRUE(indexed.count(root_ + QStringLiteral("/src/node_modules")));
}

// Every control of the page is shown whole inside the window and none
// covers another; QV_SHOT_DIR keeps a picture of the page to look at.
TEST_F(ExclusionPage, PageFitsTheWindow) {
  Open();
  ASSERT_NE(Settings(), nullptr);
  Settings()->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Settings()));
  const char* names[] = {"option_autorun",     "exclude_list", "exclude_add_folder", "exclude_add_name",
                         "exclude_remove",     "btn_ok",       "closebtn",           "exclude_hint"};
  std::vector<QRect> rects;
  for (const char* name : names) {
    auto* w = Settings()->findChild<QWidget*>(QLatin1String(name));
    ASSERT_NE(w, nullptr) << name;
    EXPECT_TRUE(w->isVisible()) << name;
    QRect r(w->mapTo(Settings(), QPoint(0, 0)), w->size());
    EXPECT_TRUE(Settings()->rect().contains(r)) << name;
    EXPECT_GE(w->width(), w->minimumSizeHint().width()) << name << " is cut";
    for (const QRect& other : rects) EXPECT_FALSE(r.intersects(other)) << name << " covers another control";
    rects.push_back(r);
  }
  EXPECT_GE(Settings()->ExclusionList()->height(), 80);
  if (qEnvironmentVariableIsSet("QV_SHOT_DIR"))
    Settings()->grab().save(qEnvironmentVariable("QV_SHOT_DIR") + QStringLiteral("/settings.png"));
}
