// Reading a manifest: which elements are entries, how child names and
// values are read, where each file goes, and which files need an update.
#include <gtest/gtest.h>

#include "CMiniUpFileXmlLogic.h"
#include "UpdateTestSupport.h"
#include "qvMd5.h"
#include "qvUpText.h"

namespace {

using qvupdatetest::FileElement;
using qvupdatetest::Manifest;
using qvupdatetest::TempFolder;
using qvupdatetest::WriteAll;

UpdaterFolders Folders() { return UpdaterFolders{"/opt/up", "/opt/win", "/opt/sys"}; }

std::vector<std::unique_ptr<CMiniUpFileParse>> Load(const std::string& document, bool* ok = nullptr,
                                                     UpdaterFolders folders = Folders()) {
  CMiniUpFileXmlLogic logic(folders);
  bool loaded = logic.LoadXmlMemory(document);
  if (ok) *ok = loaded;
  std::vector<std::unique_ptr<CMiniUpFileParse>> entries;
  while (auto entry = logic.PopHead()) entries.push_back(std::move(entry));
  return entries;
}

TEST(ManifestRead, EveryElementNamedExactlyFileBelowTheRootIsAnEntryInDocumentOrder) {
  std::string xml = "<?xml version=\"1.0\"?><root>"
                    "<File><FileName>a</FileName></File>"
                    "<Product><Group><File><FileName>b</FileName></File></Group></Product>"
                    "<file><FileName>lower</FileName></file><FILE><FileName>upper</FileName></FILE>"
                    "<File><FileName>c</FileName></File></root>";
  bool ok = false;
  auto entries = Load(xml, &ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0]->m_FileName, "a");
  EXPECT_EQ(entries[1]->m_FileName, "b");
  EXPECT_EQ(entries[2]->m_FileName, "c");
  // The root itself is no entry, and a document without File elements loads.
  EXPECT_TRUE(Load("<File><FileName>x</FileName></File>").empty());
  EXPECT_TRUE(Load("<xmlRoot/>", &ok).empty());
  EXPECT_TRUE(ok);
}

TEST(ManifestRead, ChildNamesMatchInAnyCaseAndTheLaterDuplicateWins) {
  auto entries = Load("<r>" + FileElement({{"filename", "x.dll"}, {"FILEVERSION", "1.0.0.1"}, {"url", "http://u/1"},
                                           {"URL", "http://u/2"}, {"Unknown", "?"}, {"localpath", "a\\b"}}) + "</r>");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]->m_FileName, "x.dll");
  EXPECT_EQ(entries[0]->m_FileVersion, "1.0.0.1");
  EXPECT_EQ(entries[0]->m_URL, "http://u/2");
  EXPECT_EQ(entries[0]->m_LocalPath, "a\\b");
}

TEST(ManifestRead, OnlyYesInAnyCaseIsTrue) {
  auto entries = Load("<r>" + FileElement({{"FileName", "a"}, {"Register", "yes"}, {"Execute", "YeS"}}) +
                      FileElement({{"FileName", "b"}, {"Register", "REGISTER"}, {"Execute", "1"}, {"ZipFile", "true"}}) +
                      "</r>");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0]->m_bRegister);
  EXPECT_TRUE(entries[0]->m_bExecute);
  EXPECT_FALSE(entries[1]->m_bRegister);
  EXPECT_FALSE(entries[1]->m_bExecute);
  EXPECT_FALSE(entries[1]->m_bZipFile);
  EXPECT_FALSE(entries[1]->m_bForceOverwrite);
}

TEST(ManifestRead, NumbersAreSigned32BitReadsThatSaturate) {
  EXPECT_EQ(qvUpText::ParseNumber("4294967295"), 2147483647);
  EXPECT_EQ(qvUpText::ParseNumber("12abc"), 12);
  EXPECT_EQ(qvUpText::ParseNumber("  -7"), -7);
  EXPECT_EQ(qvUpText::ParseNumber("-99999999999"), -2147483647 - 1);
  EXPECT_EQ(qvUpText::ParseNumber("+-3"), 0);
  EXPECT_EQ(qvUpText::ParseNumber("abc"), 0);
  EXPECT_EQ(qvUpText::ParseNumber(std::string(5000, '9')), 2147483647);
  auto entries = Load("<r>" + FileElement({{"FileName", "a"}, {"Length", "4294967295"}, {"FileDateLow", "12abc"},
                                           {"FileDateHigh", "-1"}}) +
                      FileElement({{"FileName", "b"}, {"Length", "12abc"}, {"FileDateLow", "4294967295"},
                                   {"FileDateHigh", "99999999999"}}) + "</r>");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0]->m_Length, 2147483647);
  EXPECT_EQ(entries[0]->m_FileDate.dwLowDateTime, 12u);
  EXPECT_EQ(entries[0]->m_FileDate.dwHighDateTime, 0xFFFFFFFFu);
  EXPECT_EQ(entries[1]->m_Length, 12);
  // The file time's halves are written unsigned, and read back whole.
  EXPECT_EQ(entries[1]->m_FileDate.dwLowDateTime, 4294967295u);
  EXPECT_EQ(entries[1]->m_FileDate.dwHighDateTime, 4294967295u);
}

TEST(ManifestRead, TargetPathsComeFromInstallDirAndLocalPath) {
  auto entries = Load("<r>" + FileElement({{"FileName", "x.dll"}, {"InstallDir", "systemdir"}}) +
                      FileElement({{"FileName", "x.dll"}, {"InstallDir", "CURRENTDIR"}, {"LocalPath", "data"}}) +
                      FileElement({{"FileName", "x.dll"}, {"InstallDir", "WindowsDir"}, {"LocalPath", "a\\b"}}) +
                      FileElement({{"FileName", "x.dll"}, {"InstallDir", "elsewhere"}}) + FileElement({{"FileName", "y"}}) +
                      "</r>");
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0]->m_strTargetPath, "/opt/sys/x.dll");
  EXPECT_EQ(entries[1]->m_strTargetPath, "/opt/up/data/x.dll");
  EXPECT_EQ(entries[2]->m_strTargetPath, "/opt/win/a/b/x.dll");
  EXPECT_EQ(entries[3]->m_strTargetPath, "/opt/up/x.dll");
  EXPECT_EQ(entries[4]->m_strTargetPath, "/opt/up/y");
  EXPECT_EQ(entries[4]->m_InstallDir, "CURRENTDIR");
}

TEST(ManifestRead, NamesAndFoldersThatLeaveTheBaseFolderAreRefused) {
  const std::pair<const char*, const char*> refused[] = {
      {"../x", ""},    {"..", ""},        {"a/b", ""},          {"a\\b", ""},     {"", ""},
      {"x", "..\\up"}, {"x", "a\\..\\.."}, {"x", "/etc"},       {"x", "\\etc"},   {"x", "C:\\Windows"},
      {"x", "a/../b"}, {".", ""}};
  for (const auto& [name, folder] : refused) {
    auto entries = Load("<r>" + FileElement({{"FileName", name}, {"LocalPath", folder}}) + "</r>");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0]->m_bPathRefused) << name << " in " << folder;
    EXPECT_TRUE(entries[0]->m_strTargetPath.empty());
  }
  auto kept = Load("<r>" + FileElement({{"FileName", "..x"}, {"LocalPath", "a\\.\\b..c"}}) + "</r>");
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_FALSE(kept[0]->m_bPathRefused);
  EXPECT_EQ(kept[0]->m_strTargetPath, "/opt/up/a/./b..c/..x");
}

TEST(ManifestRead, AGb2312DocumentOnDiskIsDecodedByItsDeclaration) {
  TempFolder dir;
  WriteAll(dir / "m.xml", Manifest(FileElement({{"FileName", "说明.txt"}, {"LocalPath", "文档"}})));
  CMiniUpFileXmlLogic logic(Folders());
  ASSERT_TRUE(logic.LoadXml(dir / "m.xml"));
  auto entry = logic.PopHead();
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->m_FileName, "说明.txt");
  EXPECT_EQ(entry->m_strTargetPath, "/opt/up/文档/说明.txt");
  EXPECT_FALSE(logic.LoadXml(dir / "missing.xml"));
  WriteAll(dir / "bad.xml", "<r><File></r>");
  EXPECT_FALSE(logic.LoadXml(dir / "bad.xml"));
}

class NeedUpdateTest : public ::testing::Test {
 protected:
  std::unique_ptr<CMiniUpFileParse> Entry(const std::string& name, const std::string& hash, const std::string& version) {
    CMiniUpFileXmlLogic logic(UpdaterFolders{dir_.Path(), dir_.Path(), dir_.Path()});
    logic.LoadXmlMemory("<r>" + FileElement({{"FileName", name}, {"FileHash", hash}, {"FileVersion", version},
                                             {"Length", "1536"}}) + "</r>");
    return logic.PopHead();
  }
  TempFolder dir_;
};

TEST_F(NeedUpdateTest, MissingEqualAndDifferentFiles) {
  WriteAll(dir_ / "same.txt", "content");
  const std::string hash = Md5Hex("content");
  EXPECT_TRUE(Entry("missing.txt", hash, "")->NeedUpdate());
  EXPECT_FALSE(Entry("same.txt", hash, "")->NeedUpdate());
  // The hash compares without case.
  std::string upper = hash;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_FALSE(Entry("same.txt", upper, "")->NeedUpdate());
  EXPECT_TRUE(Entry("same.txt", Md5Hex("other"), "")->NeedUpdate());
  // An empty hash marks every existing file.
  EXPECT_TRUE(Entry("same.txt", "", "")->NeedUpdate());
  // Equal content, but a version the local file (without one) cannot match.
  EXPECT_TRUE(Entry("same.txt", hash, "1.0.0.1")->NeedUpdate());
}

TEST_F(NeedUpdateTest, CountingKeepsOnlyTheFilesToUpdateAndSumsTheirLength) {
  WriteAll(dir_ / "same.txt", "content");
  CMiniUpFileXmlLogic logic(UpdaterFolders{dir_.Path(), dir_.Path(), dir_.Path()});
  logic.LoadXmlMemory("<r>" + FileElement({{"FileName", "new1"}, {"Length", "1000"}}) +
                      FileElement({{"FileName", "same.txt"}, {"FileHash", Md5Hex("content")}, {"Length", "5000"}}) +
                      FileElement({{"FileName", "new2"}, {"Length", "536"}}) + "</r>");
  EXPECT_EQ(logic.GetUpdateCount(), 2u);
  EXPECT_EQ(logic.GetUpdateLength(), 1536u);
  EXPECT_EQ(logic.GetUpdateLength() >> 10, 1u);  // logged as 1 KB
  EXPECT_EQ(logic.PopHead()->m_FileName, "new1");
  EXPECT_EQ(logic.PopHead()->m_FileName, "new2");
  EXPECT_EQ(logic.PopHead(), nullptr);
}

TEST(ManifestLength, TheTotalAddsLowHalvesModulo2To32) {
  CMiniUpFileXmlLogic logic(UpdaterFolders{"/nonexistent", "/nonexistent", "/nonexistent"});
  logic.LoadXmlMemory("<r>" + FileElement({{"FileName", "a"}, {"Length", "2147483647"}}) +
                      FileElement({{"FileName", "b"}, {"Length", "2147483647"}}) +
                      FileElement({{"FileName", "c"}, {"Length", "3"}}) + "</r>");
  EXPECT_EQ(logic.GetUpdateCount(), 3u);
  EXPECT_EQ(logic.GetUpdateLength(), 1u);
}

// Documents built to hurt: they must load or fail quickly with bounded memory.
TEST(ManifestHostile, AHundredThousandFileElementsLoad) {
  std::string files;
  files.reserve(100000 * 64);
  for (int i = 0; i < 100000; ++i) files += "<File><FileName>f" + std::to_string(i) + "</FileName><Length>1</Length></File>";
  CMiniUpFileXmlLogic logic(Folders());
  ASSERT_TRUE(logic.LoadXmlMemory("<r>" + files + "</r>"));
  EXPECT_EQ(logic.GetCount(), 100000u);
}

TEST(ManifestHostile, AFiftyMegabyteTextNodeGivesAnEntryThatIsNeverWritten) {
  std::string xml = "<r><File><FileName>" + std::string(50u << 20, 'a') + "</FileName></File></r>";
  bool ok = false;
  auto entries = Load(xml, &ok);
  if (!ok) return;  // a parser limit refusing the document is as good
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0]->m_bPathRefused);
}

TEST(ManifestHostile, EntitiesAreNeverExpanded) {
  std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">";
  char previous = 'a';
  for (char name = 'b'; name <= 'k'; ++name, ++previous) {
    xml += std::string("<!ENTITY ") + name + " \"";
    for (int i = 0; i < 10; ++i) xml += std::string("&") + previous + ";";
    xml += "\">";
  }
  xml += "]><r><File><FileName>x&k;y</FileName><URL>&k;</URL></File></r>";
  bool ok = false;
  auto entries = Load(xml, &ok);
  // Either the parser refuses the document, or the references add nothing.
  if (ok) {
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]->m_FileName, "xy");
    EXPECT_EQ(entries[0]->m_URL, "");
  }
  // An external entity is not fetched either.
  TempFolder dir;
  WriteAll(dir / "secret", "secret");
  entries = Load("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY s SYSTEM \"file://" + dir / "secret" +
                 "\">]><r><File><FileName>a&s;</FileName></File></r>");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]->m_FileName, "a");
}

}  // namespace
