// The settings files: the profile reading rules of CIni, its writes, and
// what qvConfig makes of the keys.
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "CIni.h"
#include "qvConfig.h"

using namespace qvapptest;

namespace {

class IniTest : public ::testing::Test {
 protected:
  QString Path() const { return dir_.path() + QStringLiteral("/test.ini"); }
  void Write(const char* text) { WriteFile(Path(), QByteArray(text)); }
  QString Get(const char16_t* section, const char16_t* key, const char16_t* def = u"<none>") {
    return Q(ini_.GetString(section, key, def));
  }
  void SetUp() override { ini_.SetPath(Qv(Path()).c_str()); }

  QTemporaryDir dir_;
  CIni ini_;
};

TEST_F(IniTest, NamesIgnoreCaseAndValuesAreTrimmedAndUnquoted) {
  Write("\xEF\xBB\xBF; a comment\r\n[Update]\r\n  Home =  http://a/b  \r\nq=\"  spaced  \"\r\ns='x'\r\n");
  EXPECT_EQ(Get(u"update", u"HOME"), "http://a/b");
  EXPECT_EQ(Get(u"UPDATE", u"q"), "  spaced  ");
  EXPECT_EQ(Get(u"update", u"s"), "x");
}

TEST_F(IniTest, MissingFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(Get(u"update", u"home", u"def"), "def");  // no file yet
  Write("[other]\nhome=1\n[update]\nserver=2\n");
  EXPECT_EQ(Get(u"update", u"home", u"def  "), "def");  // trailing blanks of a default go
  EXPECT_EQ(Get(u"missing", u"home", nullptr), "");
  EXPECT_EQ(Q(ini_.GetString(nullptr, u"home", u"d ")), "d ");  // null names: the default as given
}

TEST_F(IniTest, FirstSectionAndFirstKeyWinAndKeysStayInTheirSection) {
  Write("[a]\nk=first\nk=second\n[b]\nonly=b\n[a]\nk=third\nlater=x\n");
  EXPECT_EQ(Get(u"a", u"k"), "first");
  EXPECT_EQ(Get(u"a", u"only"), "<none>");
  EXPECT_EQ(Get(u"a", u"later"), "<none>");
  EXPECT_EQ(Get(u"b", u"only"), "b");
}

TEST_F(IniTest, CommentsAndMalformedLinesAreNotKeys) {
  Write("[a]\n;k=commented\n#k=also\nk\n=v\nk=real\n");
  EXPECT_EQ(Get(u"a", u"k"), "real");
}

TEST_F(IniTest, WriteReplacesAddsAndRemovesKeepingOtherLines) {
  Write("; keep me\n[Config]\nAutoRun = 1\nother=x\n\n[next]\ny=2\n");
  ASSERT_TRUE(ini_.WriteString(u"config", u"autorun", u"0"));
  ASSERT_TRUE(ini_.WriteString(u"config", u"added", u"v"));
  ASSERT_TRUE(ini_.WriteString(u"fresh", u"k", u"new"));
  EXPECT_EQ(Get(u"config", u"autorun"), "0");
  EXPECT_EQ(Get(u"config", u"added"), "v");
  EXPECT_EQ(Get(u"fresh", u"k"), "new");
  EXPECT_EQ(Get(u"next", u"y"), "2");
  EXPECT_EQ(Get(u"config", u"other"), "x");
  EXPECT_TRUE(ReadFile(Path()).startsWith("; keep me\n"));
  ASSERT_TRUE(ini_.WriteString(u"config", u"other", nullptr));
  EXPECT_EQ(Get(u"config", u"other"), "<none>");
}

TEST_F(IniTest, WriteRefusesWhatCouldNotBeReadBack) {
  EXPECT_FALSE(ini_.WriteString(u"a]b", u"k", u"v"));
  EXPECT_FALSE(ini_.WriteString(u"a", u"k=x", u"v"));
  EXPECT_FALSE(ini_.WriteString(u"a", u"k", u"line\nbreak"));
  EXPECT_FALSE(ini_.WriteString(nullptr, u"k", u"v"));
  EXPECT_FALSE(QFile::exists(Path()));
}

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { config_.SetFolder(Qv(dir_.path() + u'/')); }
  void WriteConfig(const QByteArray& text) { WriteFile(dir_.path() + QStringLiteral("/qvConfig.ini"), text); }
  void WriteUpdate(const QByteArray& text) { WriteFile(dir_.path() + QStringLiteral("/update.dat"), text); }

  QTemporaryDir dir_;
  qvConfig config_;
};

TEST_F(ConfigTest, SingletonPointsAtTheLiveInstance) {
  EXPECT_EQ(qvConfig::Instance(), &config_);
  {
    qvConfig other;
    EXPECT_EQ(qvConfig::Instance(), &other);
  }
  EXPECT_EQ(qvConfig::Instance(), nullptr);
}

TEST_F(ConfigTest, AutoRunReadsTheFileOnEveryCall) {
  struct Case {
    const char* value;  // null: key absent
    bool expected;
  };
  const Case cases[] = {{nullptr, true}, {"", true},     {"true", true},  {"YeS", true},   {"2", true},
                        {" -7x", true},  {"0", false},   {"false", false}, {"abc", false}, {"no", false},
                        {"00", false},   {"+0", false}};
  for (const Case& c : cases) {
    WriteConfig(c.value ? QByteArray("[config]\nautorun=") + c.value + "\n" : QByteArray("[config]\n"));
    EXPECT_EQ(config_.IsAutoRun(), c.expected) << (c.value ? c.value : "(absent)");
  }
}

TEST_F(ConfigTest, SetAutoRunWritesZeroOrOne) {
  ASSERT_TRUE(config_.SetAutoRun(false));
  EXPECT_FALSE(config_.IsAutoRun());
  EXPECT_TRUE(ReadFile(dir_.path() + QStringLiteral("/qvConfig.ini")).contains("autorun=0"));
  ASSERT_TRUE(config_.SetAutoRun(true));
  EXPECT_TRUE(config_.IsAutoRun());
}

TEST_F(ConfigTest, UrlsDefaultToReservedAddressesAndAreCut) {
  for (const qvString& url : {config_.GetServerListUrl(), config_.GetHomeUrl(), config_.GetCountUrl(), config_.GetVerUrl()})
    EXPECT_TRUE(Q(url).contains(QStringLiteral(".example"))) << Q(url).toStdString();
  EXPECT_EQ(config_.GetVerUrl(), config_.GetServerListUrl());
  EXPECT_TRUE(Q(config_.GetCountUrl()).contains(QStringLiteral(":82/api.php")));

  QByteArray longUrl = "http://h/" + QByteArray(300, 'x');
  WriteUpdate("[update]\nhome=" + longUrl + "\nverUrl=http://v/\n[count]\nurl=http://c/\n");
  EXPECT_EQ(Q(config_.GetHomeUrl()), QString::fromLatin1(longUrl.left(260)));
  EXPECT_EQ(Q(config_.GetVerUrl()), "http://v/");
  EXPECT_EQ(Q(config_.GetCountUrl()), "http://c/");
  EXPECT_TRUE(Q(config_.GetServerListUrl()).contains(QStringLiteral("serverlist.txt")));
}

TEST_F(ConfigTest, RootsAreSplitTrimmedAndKeptAbsolute) {
  QByteArray home = qgetenv("HOME");
  WriteConfig("[config]\nroots= /data/a ; relative/b ;;~/music;/data/c d\n");
  std::vector<qvString> roots = config_.GetRoots();
  std::vector<QString> got;
  for (const qvString& r : roots) got.push_back(Q(r));
  std::vector<QString> expected = {"/data/a", QString::fromLocal8Bit(home) + "/music", "/data/c d"};
  EXPECT_EQ(got, expected);
}

}  // namespace
