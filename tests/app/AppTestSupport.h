// Helpers of the window tests: temporary folders and trees, an
// application folder wired to the real engine plugin and skin, a stand-in
// opener that records what it was asked to open, and bounded waits on the
// event loop.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <ostream>
#include <string>

#include "qvNameCodec.h"
#include "qvTypes.h"

// Readable test failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace qvapptest {

// Engine answers come within this bound or the test fails.
constexpr int kWaitMs = 30000;

inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = kWaitMs) {
  return QTest::qWaitFor(done, timeoutMs);
}

inline qvString Qv(const QString& s) { return qvString(reinterpret_cast<const qvChar*>(s.utf16()), static_cast<size_t>(s.size())); }
inline QString Q(const qvString& s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }

inline void WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

inline QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A file of `size` bytes (sparse) inside `root`.
inline void MakeFile(const QString& root, const QString& relative, qint64 size = 0) {
  QString path = root + u'/' + relative;
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.resize(size);
}

// A fresh application folder: the engine plugin (unless left out), the
// built skin and tray menu form, an update.dat whose request URLs lead to
// a closed port on 127.0.0.1 (a window with an engine sends its two
// requests by itself) and, when given, the settings files.
class AppFolder {
 public:
  explicit AppFolder(bool withEngine = true) {
    if (withEngine) Link(QStringLiteral(QV_APP_DIR "qvBaseModule.so"), QStringLiteral("qvBaseModule.so"));
    QFile::copy(QStringLiteral(QV_APP_DIR "skin.dat"), Path(QStringLiteral("skin.dat")));
    QDir().mkpath(Path(QStringLiteral("skins2")));
    QFile::copy(QStringLiteral(QV_APP_DIR "skins2/menu.xml"), MenuSkin());
    WriteUpdateDat(QStringLiteral("[update]\nverUrl=http://127.0.0.1:1/ver.txt\nserverlist=http://127.0.0.1:1/serverlist.txt\n"
                                  "[count]\nurl=http://127.0.0.1:1/api.php\n"));
  }
  QString MenuSkin() const { return Path(QStringLiteral("skins2/menu.xml")); }
  void Link(const QString& target, const QString& name) { QFile::link(target, Path(name)); }
  QString Path(const QString& name = QString()) const { return dir_.path() + u'/' + name; }
  qvString Folder() const { return Qv(dir_.path() + u'/'); }
  void SetRoots(const QStringList& roots) {
    WriteFile(Path(QStringLiteral("qvConfig.ini")), ("[config]\nroots=" + roots.join(u';') + "\n").toUtf8());
  }
  void WriteUpdateDat(const QString& text) { WriteFile(Path(QStringLiteral("update.dat")), text.toUtf8()); }
  // A stand-in "update" program that writes its arguments, one a line, to
  // the returned log.
  QString AddUpdaterStub() {
    QString log = Path(QStringLiteral("updater.log"));
    QString script = Path(QStringLiteral("update"));
    WriteFile(script, ("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + log + ".tmp'\nmv '" + log + ".tmp' '" + log + "'\n").toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return log;
  }

 private:
  QTemporaryDir dir_;
};

// An `xdg-open` first on PATH that appends its arguments, one call per
// line, to a log; restores PATH when it goes.
class OpenerStub {
 public:
  OpenerStub() {
    log_ = dir_.path() + QStringLiteral("/opened.log");
    QString script = dir_.path() + QStringLiteral("/xdg-open");
    WriteFile(script, ("#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + log_ + "'\n").toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    oldPath_ = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir_.path()) + ':' + oldPath_);
  }
  ~OpenerStub() { qputenv("PATH", oldPath_); }

  QString Script() const { return dir_.path() + QStringLiteral("/xdg-open"); }
  QStringList Calls() const {
    QString text = QString::fromUtf8(ReadFile(log_));
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    return lines;
  }
  // Waits for call number `n` (from 1) and returns it; empty on time-out.
  QString WaitForCall(int n) const {
    if (!WaitUntil([&] { return Calls().size() >= n; })) return QString();
    return Calls().at(n - 1);
  }

 private:
  QTemporaryDir dir_;
  QString log_;
  QByteArray oldPath_;
};

}  // namespace qvapptest
