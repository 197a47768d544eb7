// One search window per user. The first start holds an exclusive lock on
// a file in the user's runtime folder for as long as it runs, and, once
// its window exists, answers on a local socket beside it; a later start
// finds the lock taken and asks the first, through the socket, to show
// its window.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

class qvSingleInstance : public QObject {
  Q_OBJECT

 public:
  // The fixed name both files are made from.
  static constexpr const char* kInstanceName = "{2A163A1F-AA6C-46d2-9DFD-94FF0DDB507F}";

  // $XDG_RUNTIME_DIR, or /tmp/qvsearch-<uid> (made private to the user)
  // when it is not set. Empty when neither can be used safely.
  static QString RuntimeFolder();

  explicit qvSingleInstance(const QString& folder = RuntimeFolder());
  ~qvSingleInstance() override;

  // True when this process is the first: it now holds the lock.
  bool Acquire();
  // Starts answering later starts (the window exists now). False when the
  // socket cannot be made; later starts then find no window to show.
  bool Publish();

  enum class Handoff {
    kActivated,    // the first instance was asked to show its window
    kBecameFirst,  // the first instance ended meanwhile; this one holds the lock
    kGaveUp,       // no answer within the time allowed
  };
  // The second start's side: connects to the first instance and asks it
  // to show its window, retrying while the first is still starting up.
  // `onRetry` runs after each failed attempt.
  Handoff ActivateFirst(int timeoutMs, const std::function<void()>& onRetry = {});

  QString LockPath() const;
  QString SocketPath() const;

 signals:
  // A later start asked for the window.
  void activationRequested();

 private:
  bool TryLock();
  void OnConnection();

  QString folder_;
  int lockFd_ = -1;
  bool locked_ = false;
  QLocalServer* server_ = nullptr;
};
