#include <gtest/gtest.h>

#include "TipsTestSupport.h"
#include "qvTipCommandLine.h"

TEST(CommandLine, SplitsAtTheFirstBlankKeepingTheTextWhole) {
  const TipCommandLine parts = SplitCommandLine(QStringLiteral("测试图标 双击  打开 搜索 "));
  EXPECT_EQ(parts.label, QStringLiteral("测试图标"));
  EXPECT_EQ(parts.text, QStringLiteral("双击  打开 搜索 "));

  const TipCommandLine emptyText = SplitCommandLine(QStringLiteral("qv "));
  EXPECT_EQ(emptyText.label, QStringLiteral("qv"));
  EXPECT_TRUE(emptyText.text.isEmpty());
}

TEST(CommandLine, WithoutABlankAfterTheFirstCharacterBothPartsAreEmpty) {
  for (const char* line : {"", "label", " ", "x"}) {
    const TipCommandLine parts = SplitCommandLine(QString::fromUtf8(line));
    EXPECT_TRUE(parts.label.isEmpty()) << line;
    EXPECT_TRUE(parts.text.isEmpty()) << line;
  }
  // A leading blank is the label's first character; the split is at the
  // next one.
  const TipCommandLine leading = SplitCommandLine(QStringLiteral("  tip"));
  EXPECT_EQ(leading.label, QStringLiteral(" "));
  EXPECT_EQ(leading.text, QStringLiteral("tip"));
}

TEST(CommandLine, ArgumentsJoinWithSingleBlanks) {
  const char* separate[] = {"qvFirsttips", "测试图标", "双击", "打开"};
  EXPECT_EQ(JoinArguments(4, separate), QStringLiteral("测试图标 双击 打开"));
  const char* whole[] = {"qvFirsttips", "测试图标 双击  打开"};
  EXPECT_EQ(SplitCommandLine(JoinArguments(2, whole)).text, QStringLiteral("双击  打开"));
  const char* none[] = {"qvFirsttips"};
  EXPECT_TRUE(JoinArguments(1, none).isEmpty());
}
