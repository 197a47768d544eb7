// The real program, started as the search window starts it, against local
// servers: what it installs, what it logs, and what it refuses.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>

#include <filesystem>

#include "UpdateHttpServer.h"
#include "UpdateTestSupport.h"
#include "qvMd5.h"

namespace {

namespace fs = std::filesystem;
using qvupdatetest::Encode;
using qvupdatetest::Exists;
using qvupdatetest::FileElement;
using qvupdatetest::Manifest;
using qvupdatetest::ReadAll;
using qvupdatetest::TempFolder;
using qvupdatetest::UpdateHttpServer;
using qvupdatetest::WaitFor;
using qvupdatetest::WriteAll;

// A copy of the program in its own folder (its install folder), with an
// "update.dat" beside it.
class Updater {
 public:
  explicit Updater(const std::string& folder, const std::string& updateDat = "") : folder_(folder) {
    fs::create_directories(folder);
    fs::copy_file(std::string(QV_APP_DIR) + "update", folder + "/update", fs::copy_options::overwrite_existing);
    if (!updateDat.empty()) WriteAll(folder + "/update.dat", updateDat);
  }
  ~Updater() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished();
    }
  }

  void Start(const QStringList& arguments) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process_.setProcessEnvironment(env);
    process_.start(QString::fromStdString(folder_ + "/update"), arguments);
    ASSERT_TRUE(process_.waitForStarted());
  }

  // The log lines so far, without time stamps.
  QStringList Lines() {
    output_ += QString::fromUtf8(process_.readAllStandardOutput());
    QStringList lines;
    for (const QString& line : output_.split(u'\n', Qt::SkipEmptyParts)) lines << line.mid(9);
    return lines;
  }
  bool WaitForLine(const QString& text) { return WaitFor([&] { return Lines().contains(text); }); }
  QProcess& Process() { return process_; }

 private:
  std::string folder_;
  QProcess process_;
  QString output_;
};

// Every file below root with its content.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    files[entry.path().string()] = entry.is_regular_file() ? ReadAll(entry.path().string()) : "<dir>";
  return files;
}

TEST(EndToEnd, TheAutomaticRunInstallsExactlyTheFilesThatDifferAndRefusesTheBadOnes) {
  UpdateHttpServer server;
  ASSERT_TRUE(server.Ok());
  TempFolder root;
  const std::string inst = root / "inst";
  Updater updater(inst);
  WriteAll(inst + "/same.txt", "same content");
  WriteAll(inst + "/old.txt", "old content");
  WriteAll(inst + "/untouched.txt", "not in the manifest");
  WriteAll(inst + "/tampered.txt", "tampered: old");
  WriteAll(inst + "/data/keep", "keep");
  WriteAll(root / "outside.txt", "outside");
  const std::string fresh = "new content of old.txt, a bit longer";
  const std::string deep = "a file in a sub-folder";

  server.Set("/files/old.txt", fresh);
  server.Set("/files/deep.bin", deep);
  server.Set("/files/tampered.txt", "evil bytes");
  server.Set("/files/short.txt", "short");
  server.Set("/files/x", "escaped");
  auto entry = [&](const std::string& name, const std::string& content, const std::string& url,
                   std::initializer_list<std::pair<std::string, std::string>> extra = {}) {
    std::string xml = "<FileName>" + name + "</FileName><Length>" + std::to_string(content.size()) +
                      "</Length><FileHash>" + Md5Hex(content) + "</FileHash><URL>" + server.Url(url) + "</URL>";
    for (const auto& [child, value] : extra) xml += "<" + child + ">" + value + "</" + child + ">";
    return "<File>" + xml + "</File>";
  };
  server.Set("/m.xml", Manifest(entry("same.txt", "same content", "/files/same.txt") +
                                entry("old.txt", fresh, "/files/old.txt") +
                                entry("deep.bin", deep, "/files/deep.bin", {{"LocalPath", "data"}}) +
                                entry("tampered.txt", "tampered: new", "/files/tampered.txt") +
                                entry("short.txt", "short plus what never came", "/files/short.txt") +
                                entry("../x", "escaped", "/files/x") +
                                entry("y", "escaped", "/files/x", {{"LocalPath", "..\\.."}})));
  server.Set("/list.txt", Encode("# 更新服务器\r\n本地服务器 | " + server.Url("/m.xml") + "\r\n", "GBK"));

  auto before = Snapshot(root.Path());
  updater.Start({QString::fromStdString(server.Url("/list.txt")), QStringLiteral("auto")});
  ASSERT_TRUE(updater.WaitForLine(QStringLiteral("更新完毕"))) << updater.Lines().join(u'\n').toStdString();
  const QStringList expected{
      QStringLiteral("正在连接获取服务器列表"),
      QStringLiteral("获取服务器列表成功,共取得 1 个可选服务器"),
      QStringLiteral("正在连接：本地服务器"),
      QStringLiteral("获取更新文件列表成功：本地服务器"),
      QStringLiteral("需更新文件总数: 6, 文件总长度: 0 KB"),
      QStringLiteral("正在更新文件：old.txt"),
      QStringLiteral("下载文件成功 [old.txt]"),
      QStringLiteral("正在更新文件：deep.bin"),
      QStringLiteral("下载文件成功 [deep.bin]"),
      QStringLiteral("正在更新文件：tampered.txt"),
      QStringLiteral("下载文件失败 [tampered.txt], 错误代码 [3]"),
      QStringLiteral("正在更新文件：short.txt"),
      QStringLiteral("下载文件失败 [short.txt], 错误代码 [3]"),
      QStringLiteral("正在更新文件：../x"),
      QStringLiteral("下载文件失败 [../x], 错误代码 [5]"),
      QStringLiteral("正在更新文件：y"),
      QStringLiteral("下载文件失败 [y], 错误代码 [5]"),
      QStringLiteral("更新完毕")};
  EXPECT_EQ(updater.Lines(), expected);

  auto after = Snapshot(root.Path());
  auto changed = before;
  changed[inst + "/old.txt"] = fresh;
  changed[inst + "/data/deep.bin"] = deep;
  EXPECT_EQ(after, changed);
  EXPECT_FALSE(Exists(root / "x"));
  EXPECT_FALSE(Exists(fs::path(root.Path()).parent_path().string() + "/y"));
  // The two refused entries never reached the server.
  for (const std::string& head : server.Heads()) EXPECT_EQ(head.find("GET /files/x "), std::string::npos);
}

TEST(EndToEnd, ATamperedFileOfTheRightLengthFailsTheHashCheck) {
  UpdateHttpServer server;
  TempFolder root;
  Updater updater(root / "inst");
  WriteAll(root / "inst/lib.so", "original");
  server.Set("/lib.so", "tampered");  // as long as the announced content
  server.Set("/m.xml", Manifest(FileElement({{"FileName", "lib.so"}, {"Length", "8"}, {"FileHash", Md5Hex("expected")},
                                             {"URL", server.Url("/lib.so")}})));
  server.Set("/list", "S|" + server.Url("/m.xml") + "\n");
  updater.Start({QString::fromStdString(server.Url("/list")), QStringLiteral("auto")});
  ASSERT_TRUE(updater.WaitForLine(QStringLiteral("更新完毕")));
  EXPECT_TRUE(updater.Lines().contains(QStringLiteral("下载文件失败 [lib.so], 错误代码 [4]")));
  EXPECT_EQ(ReadAll(root / "inst/lib.so"), "original");
  EXPECT_FALSE(Exists(root / "inst/lib.so.update"));
}

TEST(EndToEnd, WithoutAUrlTheProgramEndsAtOnceWithoutAWindow) {
  TempFolder root;
  Updater updater(root / "inst");
  for (const QStringList& arguments : {QStringList{}, QStringList{QStringLiteral("http://127.0.0.1:1/list")},
                                       QStringList{QStringLiteral(" http://127.0.0.1:1/list auto")}}) {
    updater.Start(arguments);
    ASSERT_TRUE(updater.Process().waitForFinished(20000));
    EXPECT_EQ(updater.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(updater.Process().exitCode(), 0);
    EXPECT_TRUE(updater.Process().readAllStandardOutput().isEmpty());
  }
}

// A TLS server from python3's http.server and ssl, with a certificate made
// for 127.0.0.1 by openssl; "update.dat" names it as trusted.
TEST(EndToEnd, AnHttpsServerWithATrustedTestCertificateServesTheUpdate) {
  const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
  const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
  if (python.isEmpty() || openssl.isEmpty()) GTEST_SKIP() << "python3 and openssl are needed for a local TLS server";
  TempFolder root;
  const std::string www = root / "www";
  const std::string cert = root / "cert.pem", key = root / "key.pem";
  QProcess make;
  make.start(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
                       "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", QString::fromStdString(key), "-out",
                       QString::fromStdString(cert)});
  ASSERT_TRUE(make.waitForFinished(60000));
  ASSERT_EQ(make.exitCode(), 0) << make.readAllStandardError().toStdString();

  WriteAll(root / "serve.py",
           "import http.server, ssl, sys, functools\n"
           "handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])\n"
           "httpd = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)\n"
           "context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)\n"
           "context.load_cert_chain(sys.argv[2], sys.argv[3])\n"
           "httpd.socket = context.wrap_socket(httpd.socket, server_side=True)\n"
           "print(httpd.server_address[1], flush=True)\n"
           "httpd.serve_forever()\n");
  QProcess tls;
  tls.start(python, {QString::fromStdString(root / "serve.py"), QString::fromStdString(www), QString::fromStdString(cert),
                     QString::fromStdString(key)});
  ASSERT_TRUE(tls.waitForStarted());
  ASSERT_TRUE(WaitFor([&] { return tls.canReadLine() || tls.state() == QProcess::NotRunning; }));
  const std::string base = "https://127.0.0.1:" + tls.readLine().trimmed().toStdString();

  WriteAll(www + "/secure.txt", "over TLS");
  WriteAll(www + "/m.xml", Manifest(FileElement({{"FileName", "secure.txt"}, {"Length", "8"},
                                                 {"FileHash", Md5Hex("over TLS")}, {"URL", base + "/secure.txt"}})));
  WriteAll(www + "/list.txt", "TLS|" + base + "/m.xml\n");
  {
    Updater updater(root / "inst", "[update]\ncafile = " + cert + "\n");
    updater.Start({QString::fromStdString(base + "/list.txt"), QStringLiteral("auto")});
    EXPECT_TRUE(updater.WaitForLine(QStringLiteral("更新完毕"))) << updater.Lines().join(u'\n').toStdString();
    EXPECT_TRUE(updater.Lines().contains(QStringLiteral("下载文件成功 [secure.txt]")));
    EXPECT_EQ(ReadAll(root / "inst/secure.txt"), "over TLS");
  }
  {
    // Without the certificate trusted, the server is refused.
    Updater untrusted(root / "other");
    untrusted.Start({QString::fromStdString(base + "/list.txt"), QStringLiteral("auto")});
    EXPECT_TRUE(untrusted.WaitForLine(QStringLiteral("获得服务器列表失败")));
  }
  tls.kill();
  tls.waitForFinished();
}

}  // namespace
