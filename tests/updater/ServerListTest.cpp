// The server list: which lines count, how they split, how the box sorts
// and which server it leaves selected.
#include <gtest/gtest.h>

#include "CServers.h"
#include "UpdateTestSupport.h"

namespace {

using qvupdatetest::Encode;

std::vector<std::pair<std::string, std::string>> Parsed(const std::string& text, unsigned* count = nullptr) {
  CServers servers;
  unsigned n = ParseServerList(text, &servers);
  if (count) *count = n;
  CServerBox box;
  servers.FillComboBox(&box);
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& item : box.Items()) out.emplace_back(item.server->name, item.server->url);
  return out;
}

TEST(ServerList, OnlyLinesWithANameAndAUrlCountAndLaterBarsBelongToTheUrl) {
  unsigned count = 0;
  auto servers = Parsed("S1|u1\n|u2\nS3|\nS4 | u4 | extra\n", &count);
  EXPECT_EQ(count, 2u);
  ASSERT_EQ(servers.size(), 2u);
  EXPECT_EQ(servers[0], std::make_pair(std::string("S1"), std::string("u1")));
  EXPECT_EQ(servers[1], std::make_pair(std::string("S4"), std::string("u4 | extra")));
}

TEST(ServerList, BlankCommentAndBarlessLinesAreSkippedAndCrLfIsTrimmed) {
  auto servers = Parsed("\r\n   \r\n# comment\r\nno bar here\r\n\t A \t|\t http://a/m.xml \r\n");
  ASSERT_EQ(servers.size(), 1u);
  EXPECT_EQ(servers[0].first, "A");
  EXPECT_EQ(servers[0].second, "http://a/m.xml");
}

TEST(ServerList, GbkNamesAreDecodedAndUtf8IsTakenAsItIs) {
  auto gbk = Parsed(Encode("电信服务器|http://a/\n", "GBK"));
  ASSERT_EQ(gbk.size(), 1u);
  EXPECT_EQ(gbk[0].first, "电信服务器");
  auto utf8 = Parsed("网通|http://b/\n");
  ASSERT_EQ(utf8.size(), 1u);
  EXPECT_EQ(utf8[0].first, "网通");
}

TEST(ServerList, ALineLongerThan1023BytesIsSkippedWholeAndTheNextLineCounts) {
  std::string exact = "A|" + std::string(1021, 'u');  // 1023 bytes
  std::string longer = "B|" + std::string(1022, 'u');  // 1024 bytes
  auto servers = Parsed(exact + "\n" + longer + "\nC|c\n");
  ASSERT_EQ(servers.size(), 2u);
  EXPECT_EQ(servers[0].first, "A");
  EXPECT_EQ(servers[1].first, "C");
}

TEST(ServerList, TheBoxSortsByNameButKeepsTheLastValidLineSelected) {
  CServers servers;
  ParseServerList("Zeta|http://z/\nAlpha|http://a/\nbroken line\n", &servers);
  CServerBox box;
  servers.FillComboBox(&box);
  ASSERT_EQ(box.Items().size(), 2u);
  EXPECT_EQ(box.Items()[0].name, "Alpha");
  EXPECT_EQ(box.Items()[1].name, "Zeta");
  ASSERT_NE(box.GetSelectedServer(), nullptr);
  EXPECT_EQ(box.GetSelectedServer()->name, "Alpha");

  CServers reversed;
  ParseServerList("Alpha|http://a/\nZeta|http://z/\n", &reversed);
  reversed.FillComboBox(&box);
  EXPECT_EQ(box.Items()[0].name, "Alpha");
  EXPECT_EQ(box.GetSelectedServer()->name, "Zeta");
}

TEST(ServerList, DuplicatesStayAndAnEmptyListSelectsNothing) {
  auto servers = Parsed("S|u\nS|u\n");
  EXPECT_EQ(servers.size(), 2u);
  CServers none;
  CServerBox box;
  none.FillComboBox(&box);
  EXPECT_EQ(box.GetSelectedServer(), nullptr);
}

TEST(ServerList, BinaryBytesGiveNoServerAndNoCrash) {
  std::string noise;
  uint32_t x = 12345;
  for (int i = 0; i < 1 << 20; ++i) {
    x = x * 1103515245u + 12345u;
    char c = static_cast<char>(x >> 24);
    noise += c == '|' ? 'x' : c;  // without bars nothing can count
  }
  unsigned count = 7;
  Parsed(noise, &count);
  EXPECT_EQ(count, 0u);
  // With bars and newlines mixed in, whatever counts has a name and a URL.
  CServers servers;
  ParseServerList(noise + "\n\xff\xfe|\x80\x81\n", &servers);
  EXPECT_LE(servers.GetCount(), 1u);
}

TEST(ServerList, TheDownloadedFileIsReadAndDeleted) {
  qvupdatetest::TempFolder dir;
  qvupdatetest::WriteAll(dir / "list", "A|http://a/\n");
  CServers servers;
  EXPECT_EQ(ParseServerListFile(dir / "list", &servers), 1u);
  EXPECT_FALSE(qvupdatetest::Exists(dir / "list"));
  EXPECT_EQ(ParseServerListFile(dir / "missing", &servers), 0u);
}

}  // namespace
