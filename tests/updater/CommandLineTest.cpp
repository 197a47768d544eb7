// The command line: URL, one blank, mode word.
#include <gtest/gtest.h>

#include "qvCommandLine.h"

namespace {

TEST(CommandLine, OneBlankThenAutoInAnyCaseIsAnAutomaticRun) {
  UpdaterCommandLine line;
  ASSERT_TRUE(ParseCommandLine("http://h/list.txt aUtO", &line));
  EXPECT_EQ(line.serverListUrl, "http://h/list.txt");
  EXPECT_TRUE(line.automatic);
  // Two blanks: the mode is " auto", so the run is manual.
  ASSERT_TRUE(ParseCommandLine("http://h/list.txt  auto", &line));
  EXPECT_EQ(line.serverListUrl, "http://h/list.txt");
  EXPECT_FALSE(line.automatic);
  ASSERT_TRUE(ParseCommandLine("http://h/list.txt manual", &line));
  EXPECT_FALSE(line.automatic);
  ASSERT_TRUE(ParseCommandLine("http://h/list.txt auto ", &line));
  EXPECT_FALSE(line.automatic);
}

TEST(CommandLine, NoUrlWithoutABlankAfterIt) {
  UpdaterCommandLine line;
  EXPECT_FALSE(ParseCommandLine("", &line));
  EXPECT_FALSE(ParseCommandLine("http://h/list.txt", &line));
  EXPECT_FALSE(ParseCommandLine(" http://h/list.txt auto", &line));
}

TEST(CommandLine, ArgumentsAreJoinedByOneBlankAndParametersSplitAtBlanks) {
  char program[] = "update", url[] = "http://h/l", mode[] = "auto";
  char* argv[] = {program, url, mode};
  EXPECT_EQ(JoinArguments(3, argv), "http://h/l auto");
  EXPECT_EQ(SplitParameters("  -a \"b c\"  d"), (std::vector<std::string>{"-a", "b c", "d"}));
  EXPECT_EQ(SplitParameters("\"\""), (std::vector<std::string>{""}));
  EXPECT_TRUE(SplitParameters("   ").empty());
}

}  // namespace
