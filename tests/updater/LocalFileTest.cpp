// What a local file tells: size, version (PE resource or our ELF note),
// last-write time and MD5; and the manifest writer that records it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <map>

#include <QRegularExpression>

#include "CMiniUpFileXmlLogic.h"
#include "UpdateTestSupport.h"
#include "qvMd5.h"

namespace {

using qvupdatetest::Encode;
using qvupdatetest::ReadAll;
using qvupdatetest::TempFolder;
using qvupdatetest::WriteAll;

template <typename T>
void Put(std::string* image, size_t offset, T value) {
  if (image->size() < offset + sizeof value) image->resize(offset + sizeof value);
  std::memcpy(image->data() + offset, &value, sizeof value);
}

// A small PE32 file whose one section holds a version resource with the
// file version 2.3.4.5 and the product version 6.7.8.9.
std::string PeWithVersion() {
  std::string pe(0x200, '\0');
  Put<uint16_t>(&pe, 0, 0x5A4D);
  Put<uint32_t>(&pe, 0x3C, 0x40);
  Put<uint32_t>(&pe, 0x40, 0x00004550);
  Put<uint16_t>(&pe, 0x44, 0x14C);  // machine
  Put<uint16_t>(&pe, 0x46, 1);      // sections
  Put<uint16_t>(&pe, 0x54, 224);    // optional header size
  const size_t optional = 0x58;
  Put<uint16_t>(&pe, optional, 0x10B);
  Put<uint32_t>(&pe, optional + 96 + 16, 0x1000);  // resource directory RVA
  Put<uint32_t>(&pe, optional + 96 + 20, 0x100);
  const size_t section = optional + 224;
  std::memcpy(pe.data() + section, ".rsrc", 5);
  Put<uint32_t>(&pe, section + 8, 0x100);
  Put<uint32_t>(&pe, section + 12, 0x1000);
  Put<uint32_t>(&pe, section + 16, 0x100);
  Put<uint32_t>(&pe, section + 20, 0x200);
  const size_t rsrc = 0x200;
  // type 16 → name 1 → language 0x409 → data entry
  Put<uint16_t>(&pe, rsrc + 14, 1);
  Put<uint32_t>(&pe, rsrc + 16, 16);
  Put<uint32_t>(&pe, rsrc + 20, 0x80000000u | 0x18);
  Put<uint16_t>(&pe, rsrc + 0x18 + 14, 1);
  Put<uint32_t>(&pe, rsrc + 0x18 + 16, 1);
  Put<uint32_t>(&pe, rsrc + 0x18 + 20, 0x80000000u | 0x30);
  Put<uint16_t>(&pe, rsrc + 0x30 + 14, 1);
  Put<uint32_t>(&pe, rsrc + 0x30 + 16, 0x409);
  Put<uint32_t>(&pe, rsrc + 0x30 + 20, 0x48);
  Put<uint32_t>(&pe, rsrc + 0x48, 0x1000 + 0x58);
  Put<uint32_t>(&pe, rsrc + 0x48 + 4, 40 + 52);
  const size_t info = rsrc + 0x58;
  Put<uint16_t>(&pe, info, 40 + 52);
  Put<uint16_t>(&pe, info + 2, 52);
  const char16_t key[] = u"VS_VERSION_INFO";
  std::memcpy(pe.data() + info + 6, key, sizeof key);
  VS_FIXEDFILEINFO fixed{};
  fixed.dwSignature = kFixedFileInfoSignature;
  fixed.dwStrucVersion = 0x10000;
  fixed.dwFileVersionMS = (2u << 16) | 3;
  fixed.dwFileVersionLS = (4u << 16) | 5;
  fixed.dwProductVersionMS = (6u << 16) | 7;
  fixed.dwProductVersionLS = (8u << 16) | 9;
  Put(&pe, info + 40, fixed);
  pe.resize(0x300, '\0');
  return pe;
}

TEST(LocalFile, OurOwnProgramsCarryTheProjectVersionInTheirNote) {
  for (const char* name : {"update", "qvSearchApp", "qvsearch", "qvBaseModule.so"}) {
    std::string path = std::string(QV_APP_DIR) + name;
    if (!qvupdatetest::Exists(path)) continue;  // built by another target
    CMiniUpFileParse local(path);
    ASSERT_TRUE(local.ReadLocalInfo()) << name;
    EXPECT_EQ(local.m_FileVersion, QV_PROJECT_VERSION) << name;
    EXPECT_EQ(local.m_ProductVersion, QV_PROJECT_VERSION) << name;
    EXPECT_EQ(local.m_FixedFileInfo.dwSignature, kFixedFileInfoSignature);
  }
}

TEST(LocalFile, APeVersionResourceGivesBothVersionTexts) {
  TempFolder dir;
  WriteAll(dir / "x.dll", PeWithVersion());
  CMiniUpFileParse local(dir / "x.dll");
  ASSERT_TRUE(local.ReadLocalInfo());
  EXPECT_EQ(local.m_FileVersion, "2.3.4.5");
  EXPECT_EQ(local.m_ProductVersion, "6.7.8.9");
  EXPECT_EQ(local.m_Length, 0x300);
  EXPECT_EQ(local.m_FileName, "x.dll");
}

TEST(LocalFile, AFileWithoutVersionGivesSizeTimeAndHashOnly) {
  TempFolder dir;
  WriteAll(dir / "plain.txt", "abc");
  struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 500}};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir / "plain.txt").c_str(), times, 0), 0);
  CMiniUpFileParse local(dir / "plain.txt");
  ASSERT_TRUE(local.ReadLocalInfo());
  EXPECT_EQ(local.m_Length, 3);
  EXPECT_EQ(local.m_FileVersion, "");
  EXPECT_EQ(local.m_FileHash, "900150983cd24fb0d6963f7d28e17f72");  // RFC 1321's "abc"
  uint64_t ticks = (uint64_t{local.m_FileDate.dwHighDateTime} << 32) | local.m_FileDate.dwLowDateTime;
  EXPECT_EQ(ticks, (1700000000ull + 11644473600ull) * 10000000ull + 5);
  EXPECT_FALSE(CMiniUpFileParse(dir / "missing").ReadLocalInfo());
  EXPECT_FALSE(CMiniUpFileParse("").ReadLocalInfo());
}

TEST(LocalFile, DamagedHeadersGiveNoVersion) {
  std::string pe = PeWithVersion();
  VS_FIXEDFILEINFO info;
  for (size_t cut : {size_t{2}, size_t{0x44}, size_t{0x210}, size_t{0x258}, size_t{0x280}})
    EXPECT_FALSE(FindFixedFileInfo(std::string_view(pe).substr(0, cut), &info)) << cut;
  std::string loop = pe;
  Put<uint32_t>(&loop, 0x200 + 20, 0x80000000u);  // the type entry points back at the root
  EXPECT_FALSE(FindFixedFileInfo(loop, &info));
  std::string elf = ReadAll(std::string(QV_APP_DIR) + "update");
  ASSERT_TRUE(FindFixedFileInfo(elf, &info));
  EXPECT_FALSE(FindFixedFileInfo(std::string_view(elf).substr(0, 4096), &info));
}

TEST(ManifestWriter, OneFileElementByteForByte) {
  CMiniUpFileXmlLogic logic(UpdaterFolders{"/u", "/u", "/u"});
  logic.SetBaseUrl("http://host/base");
  CMiniUpFileParse entry("/u/data/a&b.dll");
  entry.m_FileName = "a&b.dll";
  entry.m_FileVersion = "1.2.3.4";
  entry.m_ProductVersion = "1.2.0.0";
  entry.m_Length = 0x100000005;  // written as its low 32 bits
  entry.m_FileDate = FILETIME{7, 8};
  entry.m_FileHash = "00112233445566778899aabbccddeeff";
  entry.m_bRegister = true;
  entry.m_bExecute = true;
  entry.m_ExecutePar = "-q 说明";
  entry.m_LocalPath = "data";
  std::string expected =
      "\t\t<File>\r\n"
      "\t\t\t<FileName>a&amp;b.dll</FileName>\r\n"
      "\t\t\t<FileVersion>1.2.3.4</FileVersion>\r\n"
      "\t\t\t<ProductVersion>1.2.0.0</ProductVersion>\r\n"
      "\t\t\t<Length>5</Length>\r\n"
      "\t\t\t<FileDateLow>7</FileDateLow>\r\n"
      "\t\t\t<FileDateHigh>8</FileDateHigh>\r\n"
      "\t\t\t<FileHash>00112233445566778899aabbccddeeff</FileHash>\r\n"
      "\t\t\t<InstallDir>CURRENTDIR</InstallDir>\r\n"
      "\t\t\t<Register>REGISTER</Register>\r\n"
      "\t\t\t<ZipFile>NO</ZipFile>\r\n"
      "\t\t\t<ForceOverwrite>NO</ForceOverwrite>\r\n"
      "\t\t\t<Execute>EXECUTE</Execute>\r\n"
      "\t\t\t<ExecutePar>-q " + Encode("说明", "GB2312") + "</ExecutePar>\r\n"
      "\t\t\t<LocalPath>data</LocalPath>\r\n"
      "\t\t\t<URL>http://host/base/data/a&amp;b.dll</URL>\r\n"
      "\t\t\t<UserName></UserName>\r\n"
      "\t\t\t<Password></Password>\r\n"
      "\t\t</File>\r\n";
  EXPECT_EQ(logic.FormatFileXml(&entry), expected);
  EXPECT_EQ(entry.m_URL, "http://host/base/data/a&b.dll");
}

TEST(ManifestWriter, RealFilesWrittenAndReadBackKeepEveryField) {
  TempFolder dir;
  std::vector<std::string> names{"update", "说明 & <notes>.txt", "x.dll", "empty", "€uro"};
  WriteAll(dir / names[0], ReadAll(std::string(QV_APP_DIR) + "update"));
  WriteAll(dir / names[1], "notes\n");
  WriteAll(dir / names[2], PeWithVersion());
  WriteAll(dir / names[3], "");
  WriteAll(dir / names[4], "euro");
  // A last-write time whose low half has its top bit set.
  struct timespec late[2] = {{0, UTIME_OMIT}, {1700000000, 429496729}};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir / names[4]).c_str(), late, 0), 0);
  CMiniUpFileParse probe(dir / names[4]);
  ASSERT_TRUE(probe.ReadLocalInfo());
  ASSERT_GE(probe.m_FileDate.dwLowDateTime, 0x80000000u);
  CMiniUpFileXmlLogic writer(UpdaterFolders{dir.Path(), dir.Path(), dir.Path()});
  writer.SetBaseUrl("http://h");
  for (const std::string& name : names) ASSERT_TRUE(writer.AddLocalFile(dir / name)) << name;
  ASSERT_TRUE(writer.AddLocalFile(dir / names[1]));  // replaces, does not add
  EXPECT_FALSE(writer.AddLocalFile(dir / "missing"));
  ASSERT_TRUE(writer.SaveXml(dir / "manifest.xml"));

  std::string bytes = ReadAll(dir / "manifest.xml");
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^<\\?xml version=\"1.0\" encoding=\"GB2312\" \\?> \r\n<xmlRoot keyname=\"KeyValue\">\r\n"
                                                  "\t<Product productname=\"Product-Name\" createdate=\"\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\" filenum=\"5\">\r\n"
                                                  "\t\t<File>\r\n")).match(QString::fromLatin1(bytes.data(), 300)).hasMatch());
  EXPECT_TRUE(bytes.ends_with("\t\t</File>\r\n\t</Product>\r\n</xmlRoot>\r\n"));
  EXPECT_NE(bytes.find(Encode("说明", "GB2312")), std::string::npos);
  EXPECT_NE(bytes.find("&#x20AC;uro"), std::string::npos);  // GB2312 has no euro sign

  CMiniUpFileXmlLogic reader(UpdaterFolders{dir.Path(), "/w", "/s"});
  ASSERT_TRUE(reader.LoadXml(dir / "manifest.xml"));
  std::map<std::string, std::unique_ptr<CMiniUpFileParse>> byName;
  while (auto entry = reader.PopHead()) byName[entry->m_FileName] = std::move(entry);
  ASSERT_EQ(byName.size(), names.size());
  for (const std::string& name : names) {
    CMiniUpFileParse local(dir / name);
    ASSERT_TRUE(local.ReadLocalInfo());
    auto& read = byName[name];
    ASSERT_TRUE(read) << name;
    EXPECT_EQ(read->m_FileName, local.m_FileName);
    EXPECT_EQ(read->m_FileVersion, local.m_FileVersion);
    EXPECT_EQ(read->m_ProductVersion, local.m_ProductVersion);
    EXPECT_EQ(read->m_Length, local.m_Length);
    EXPECT_EQ(read->m_FileDate.dwLowDateTime, local.m_FileDate.dwLowDateTime);
    EXPECT_EQ(read->m_FileDate.dwHighDateTime, local.m_FileDate.dwHighDateTime);
    EXPECT_EQ(read->m_FileHash, local.m_FileHash);
    EXPECT_EQ(read->m_InstallDir, "CURRENTDIR");
    EXPECT_EQ(read->m_LocalPath, "");
    EXPECT_EQ(read->m_URL, "http://h//" + name);
    EXPECT_EQ(read->m_strTargetPath, dir / name);
    EXPECT_FALSE(read->m_bRegister || read->m_bExecute || read->m_bZipFile || read->m_bForceOverwrite);
    // Read back from the same files, nothing needs an update.
    EXPECT_FALSE(read->NeedUpdate()) << name;
  }
  CMiniUpFileParse ours(dir / "update");
  ASSERT_TRUE(ours.ReadLocalInfo());
  EXPECT_EQ(ours.m_FileVersion, QV_PROJECT_VERSION);
}

}  // namespace
