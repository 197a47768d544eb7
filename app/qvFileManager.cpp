#include "qvFileManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>

namespace {

// A file manager that is being started may take a while to answer.
constexpr int kCallTimeoutMs = 10000;

// The session bus named by the environment now (it may change, as in the
// tests), one connection per address.
QDBusConnection SessionBus() {
  QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  if (address.isEmpty()) return QDBusConnection(QString());
  QString name = QStringLiteral("qvFileManager:") + QString::fromUtf8(address);
  return QDBusConnection::connectToBus(QString::fromUtf8(address), name);
}

}  // namespace

void qvFileManager::ShowItems(const QByteArrayList& uris, QObject* context, std::function<void()> fallback) {
  QDBusConnection bus = SessionBus();
  if (!bus.isConnected()) {
    if (fallback) fallback();
    return;
  }
  QStringList list;
  for (const QByteArray& uri : uris) list << QString::fromLatin1(uri);
  QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                                     QLatin1String(kInterface), QStringLiteral("ShowItems"));
  call << list << QString();
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), context);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                   [watcher, fallback = std::move(fallback)] {
                     watcher->deleteLater();
                     if (watcher->isError() && fallback) fallback();
                   });
}
