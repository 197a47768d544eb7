#include "qvSingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

namespace {

constexpr char kRequest[] = "show\n";
constexpr char kAnswer[] = "ok\n";
constexpr int kAttemptMs = 250;
constexpr int kRetryPauseMs = 100;

// A folder only this user can write to and that this user owns.
bool IsPrivateFolder(const QByteArray& path) {
  struct stat st;
  if (lstat(path.constData(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

QString qvSingleInstance::RuntimeFolder() {
  QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && IsPrivateFolder(runtime)) return QFile::decodeName(runtime);
  QByteArray fallback = "/tmp/qvsearch-" + QByteArray::number(getuid());
  mkdir(fallback.constData(), 0700);
  // Someone else's folder there could catch our requests: use none then.
  return IsPrivateFolder(fallback) ? QFile::decodeName(fallback) : QString();
}

qvSingleInstance::qvSingleInstance(const QString& folder) : folder_(folder) {}

qvSingleInstance::~qvSingleInstance() {
  if (server_) server_->close();
  if (lockFd_ >= 0) close(lockFd_);  // releases the lock; the file stays for the next start
}

QString qvSingleInstance::LockPath() const {
  return folder_.isEmpty() ? QString() : folder_ + u'/' + QLatin1String(kInstanceName) + QLatin1String(".lock");
}

QString qvSingleInstance::SocketPath() const {
  return folder_.isEmpty() ? QString() : folder_ + u'/' + QLatin1String(kInstanceName) + QLatin1String("_MapFile");
}

bool qvSingleInstance::TryLock() {
  if (locked_) return true;
  if (lockFd_ < 0) {
    if (folder_.isEmpty()) return false;
    lockFd_ = open(QFile::encodeName(LockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd_ < 0) return false;  // refused: treated as held by another start
  }
  locked_ = flock(lockFd_, LOCK_EX | LOCK_NB) == 0;
  return locked_;
}

bool qvSingleInstance::Acquire() { return TryLock(); }

bool qvSingleInstance::Publish() {
  if (!locked_) return false;
  if (!server_) {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &qvSingleInstance::OnConnection);
  }
  // We hold the lock, so a socket file left there is a crashed run's.
  QLocalServer::removeServer(SocketPath());
  return server_->listen(SocketPath());
}

void qvSingleInstance::OnConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) return;
      QByteArray line = socket->readLine(64);
      if (line == kRequest) {
        socket->write(kAnswer);
        socket->flush();
        emit activationRequested();
      }
      socket->disconnectFromServer();
    });
  }
}

qvSingleInstance::Handoff qvSingleInstance::ActivateFirst(int timeoutMs, const std::function<void()>& onRetry) {
  QDeadlineTimer deadline(timeoutMs);
  for (;;) {
    if (!folder_.isEmpty()) {
      QLocalSocket socket;
      socket.connectToServer(SocketPath());
      if (socket.waitForConnected(kAttemptMs)) {
        socket.write(kRequest);
        socket.waitForBytesWritten(kAttemptMs);
        // The answer tells that the request was read; without one the
        // first instance was going away.
        if (socket.waitForReadyRead(static_cast<int>(qMax<qint64>(deadline.remainingTime(), kAttemptMs))) &&
            socket.readAll().startsWith(kAnswer))
          return Handoff::kActivated;
      }
    }
    if (TryLock()) return Handoff::kBecameFirst;
    if (deadline.hasExpired()) return Handoff::kGaveUp;
    if (onRetry) onRetry();
    QThread::msleep(kRetryPauseMs);
  }
}
