#include "qvItemOpener.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>

#include "qvNameCodec.h"
#include "qvUtils.h"

QString qvItemOpener::ReasonForExit(int code) {
  switch (code) {
    case 0: return QString();
    case 2: return QString::fromUtf8("该项已不存在。");
    case 3: return QString::fromUtf8("没有可以打开此类文件的程序。");
    case 4: return QString::fromUtf8("打开它的程序失败了。");
    default: return QString::fromUtf8("打开程序出错（代码 %1）。").arg(code);
  }
}

void qvItemOpener::Complain(const qvString& path, const QString& reason) {
  if (complain_)
    complain_(QString::fromUtf8("无法打开“%1”：%2")
                  .arg(QString::fromUtf16(path.data(), static_cast<qsizetype>(path.size())), reason));
}

bool qvItemOpener::Open(const qvOpenTarget& target) {
  if (target.kind == qvOpenTarget::kNothing) return false;
  std::string bytes = qvNameCodec::EncodeToString(target.path);
  struct stat st;
  if (lstat(bytes.c_str(), &st) != 0) {
    Complain(target.path, QString::fromUtf8("该项已不存在。"));
    return false;
  }
  if (target.kind == qvOpenTarget::kShortcut) {
    if (qvUtils::QV_OpenShortCut(target.path.c_str())) return true;
    Complain(target.path, QString::fromUtf8("快捷方式指向的目标不存在或无法启动。"));
    return false;
  }
  if (access(bytes.c_str(), S_ISDIR(st.st_mode) ? (R_OK | X_OK) : R_OK) != 0) {
    Complain(target.path, QString::fromUtf8("没有读取它的权限。"));
    return false;
  }
  // xdg-open would take a leading '-' for an option.
  if (!bytes.empty() && bytes[0] == '-') bytes = "./" + bytes;
  // Not a child of anything: closing the window must not end a program
  // that xdg-open waits for.
  auto* process = new QProcess;
  qvString path = target.path;
  QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
  QObject::connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError e) {
    if (e == QProcess::FailedToStart) process->deleteLater();
  });
  QObject::connect(process, &QProcess::finished, this, [this, path](int code, QProcess::ExitStatus status) {
    if (status == QProcess::NormalExit && code != 0) Complain(path, ReasonForExit(code));
  });
  QObject::connect(process, &QProcess::errorOccurred, this, [this, path](QProcess::ProcessError e) {
    if (e == QProcess::FailedToStart) Complain(path, QString::fromUtf8("找不到 xdg-open。"));
  });
  process->setProcessChannelMode(QProcess::ForwardedChannels);
  process->setStandardInputFile(QProcess::nullDevice());
  process->start(QStringLiteral("xdg-open"), {QFile::decodeName(QByteArray::fromStdString(bytes))});
  return true;
}
