// Binding the engine plugin: each way it can fail leaves its reason, and
// unbinding releases the interface.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "AppTestSupport.h"
#include "CQvSearchHelper.h"

using namespace qvapptest;

namespace {

class BindingTest : public ::testing::Test {
 protected:
  // A folder holding `target` under the plugin's name.
  qvString FolderWith(const QString& target) {
    QFile::link(target, dir_.path() + QStringLiteral("/qvBaseModule.so"));
    return Qv(dir_.path() + u'/');
  }
  void TearDown() override { unsetenv("QV_FAKE_ENGINE"); }

  QTemporaryDir dir_;
};

const QString kFake = QStringLiteral(QV_FAKE_ENGINE);

TEST_F(BindingTest, MissingLibraryKeepsItsName) {
  CQvSearchHelper helper(Qv(dir_.path() + u'/'));
  EXPECT_FALSE(helper.BindEngine());
  EXPECT_EQ(helper.GetInterface(), nullptr);
  EXPECT_EQ(Q(helper.GetErrorText()), QString::fromUtf8("“qvBaseModule.so”模块加载失败"));
}

TEST_F(BindingTest, LibraryWithoutTheExport) {
  CQvSearchHelper helper(FolderWith(QStringLiteral(QV_APP_DIR "libqvCommon.so")));
  EXPECT_FALSE(helper.BindEngine());
  EXPECT_EQ(Q(helper.GetErrorText()), QString::fromUtf8("找不到组件创建函数“CreateObjcet”"));
}

TEST_F(BindingTest, RefusedAndThrowingCreation) {
  CQvSearchHelper helper(FolderWith(kFake));
  struct Case {
    const char* mode;
    const char* text;
  };
  const Case cases[] = {
      {"null", "调用函数“CreateObjcet”生成对象失败"},
      {"throw_text", "由于“磁盘已满”，组件创建失败"},
      {"throw_string", "由于“内存不足”，组件创建失败"},
      {"throw_other", "组件创建函数“CreateObjcet”产生未知异常错误，组件创建失败"},
  };
  for (const Case& c : cases) {
    setenv("QV_FAKE_ENGINE", c.mode, 1);
    EXPECT_FALSE(helper.BindEngine()) << c.mode;
    EXPECT_EQ(helper.GetInterface(), nullptr);
    EXPECT_EQ(Q(helper.GetErrorText()), QString::fromUtf8(c.text)) << c.mode;
  }
}

TEST_F(BindingTest, ErrorTextIsCutTo127Characters) {
  CQvSearchHelper helper(FolderWith(kFake));
  setenv("QV_FAKE_ENGINE", "throw_long", 1);
  EXPECT_FALSE(helper.BindEngine());
  EXPECT_EQ(Q(helper.GetErrorText()), QString::fromUtf8("由于“") + QString(124, u'x'));
}

TEST_F(BindingTest, BindAsksForTheSearchInterfaceAndUnbindReleasesIt) {
  // Keep the module loaded across the helper's dlclose to read its counter.
  void* self = dlopen(QFile::encodeName(kFake).constData(), RTLD_NOW);
  ASSERT_NE(self, nullptr);
  auto* releases = static_cast<int*>(dlsym(self, "qvFakeReleases"));
  ASSERT_NE(releases, nullptr);
  int before = *releases;
  {
    CQvSearchHelper helper(FolderWith(kFake));
    ASSERT_TRUE(helper.BindEngine());
    EXPECT_NE(helper.GetInterface(), nullptr);
    EXPECT_TRUE(helper.GetErrorText().empty());
    ASSERT_TRUE(helper.BindEngine());  // binding again releases the first
    EXPECT_EQ(*releases, before + 1);
    helper.UnbindEngine();
    EXPECT_EQ(helper.GetInterface(), nullptr);
    EXPECT_EQ(*releases, before + 2);
    ASSERT_TRUE(helper.BindEngine());
  }  // the destructor unbinds
  EXPECT_EQ(*releases, before + 3);
  dlclose(self);
}

}  // namespace
