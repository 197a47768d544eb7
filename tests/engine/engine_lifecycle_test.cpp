// The engine object end to end over entry streams: creation and the
// version rule, initialisation, the stored search before ready, release.
#include <gtest/gtest.h>

#include "engine_fixture.h"

using E = qvStreamVolumeSource;

TEST(EngineLifecycle, VersionAndIdentifierRule) {
  IQvSearch* a = CreateObjcet(&IID_IUnknownEx, 0x01010000);
  ASSERT_NE(a, nullptr);
  // One engine per process: a second creation is refused until release.
  EXPECT_EQ(CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION), nullptr);
  a->Release();
  for (uint32_t bad : {0x01020100u, 0x02010100u, 0x01010101u, 0x01010200u}) {
    EXPECT_EQ(CreateObjcet(&IID_IQvSearch, bad), nullptr) << std::hex << bad;
    EXPECT_EQ(qvFileBaseApp::Instance(), nullptr);
  }
  EXPECT_EQ(CreateObjcet(&IID_IQvSearchNotify, QV_SEARCH_VERSION), nullptr);
  IQvSearch* b = CreateObjcet(&IID_IQvSearch, 0x01010100);
  ASSERT_NE(b, nullptr);
  qvGUID almost = IID_IQvSearch;
  almost.Data4[7] ^= 1;  // the comparison covers all 16 bytes
  EXPECT_EQ(b->QueryInterface(&almost, QV_SEARCH_VERSION), nullptr);
  EXPECT_EQ(b->QueryInterface(&IID_IQvSearch, 0x01010000), b);
  b->Release();
}

TEST(EngineLifecycle, InitialisationReportsInOrderAndRootsAreFound) {
  RecordingSink sink;
  auto* engine = MakeEngine({MakeVolume("/", {E::Folder(16, 5, u"home"), E::File(17, 16, u"a.txt")}),
                             MakeVolume("/data/", {E::File(16, 5, u"b.txt")})},
                            &sink, "/nonexistent-qv-data/");
  ASSERT_NE(engine, nullptr);
  std::vector<std::string> texts;
  for (auto& s : sink.statuses) texts.push_back(s.second);
  std::vector<std::string> expected = {"初始化...", "正在扫描(/)盘，请稍候...", "正在扫描(/data/)盘，请稍候...",
                                       "正在构建目录数据库，请稍候...", "正在排序文件夹，请稍候...",
                                       "正在排序文件，请稍候..."};
  // Loading may report before the scan; the scan's texts come in order.
  std::vector<std::string> scanTexts;
  for (auto& t : texts)
    if (t != "正在加载数据库..." && t != "") scanTexts.push_back(t);
  EXPECT_EQ(scanTexts, expected);
  ASSERT_EQ(sink.volumes.size(), 2u);
  EXPECT_EQ(sink.volumes[0], std::make_pair(0, std::string("/")));
  EXPECT_EQ(sink.volumes[1], std::make_pair(1, std::string("/data/")));
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  EXPECT_NE(app->dirMap.FindRecord(RootKey(0)), kNullRef);
  EXPECT_NE(app->dirMap.FindRecord(RootKey(1)), kNullRef);
  EXPECT_EQ(app->folderList.Count(), 3u);
  EXPECT_EQ(app->fileList.Count(), 2u);
  engine->Release();
}

TEST(EngineLifecycle, NullSinkAndReleaseBeforeReady) {
  auto* engine = MakeEngine({MakeVolume("/", {E::File(16, 5, u"x")})}, nullptr, "/nonexistent-qv-data/", false);
  ASSERT_NE(engine, nullptr);
  engine->Release();  // may still be initialising: must not hang or crash
  EXPECT_EQ(qvFileBaseApp::Instance(), nullptr);
  auto* again = MakeEngine({MakeVolume("/", {E::File(16, 5, u"x")})}, nullptr, "/nonexistent-qv-data/");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->ready.load(), 1);
  again->Release();
}

TEST(EngineLifecycle, SearchStoresTextsCutToTheField) {
  auto* engine = MakeEngine({MakeVolume("/", {})}, nullptr, "/nonexistent-qv-data/");
  ASSERT_NE(engine, nullptr);
  std::u16string longText(5000, u'a');
  engine->Search(longText.c_str(), nullptr, 1);
  EXPECT_EQ(qvStrLen(engine->query), QV_QUERY_MAX - 1);
  EXPECT_EQ(engine->extFilter[0], 0);
  engine->Search(nullptr, u"jpg", 0);  // a null query changes nothing
  EXPECT_EQ(engine->extFilter[0], 0);
  EXPECT_EQ(engine->resetFlag, 1);
  engine->Release();
}
