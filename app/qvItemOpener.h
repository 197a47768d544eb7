// Opens result items with the desktop's program for them and says why
// when that cannot be done: the item is gone, may not be read, or no
// program takes its type (the exit status of xdg-open). The opener runs
// on; the reason arrives when it ends.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

#include "qvRowTargets.h"

class qvItemOpener : public QObject {
  Q_OBJECT

 public:
  // `complain` shows a reason to the user.
  explicit qvItemOpener(std::function<void(const QString&)> complain, QObject* parent = nullptr)
      : QObject(parent), complain_(std::move(complain)) {}

  // Opens what a double-click or Enter reaches. False when it could not
  // even be started (the reason was given).
  bool Open(const qvOpenTarget& target);

  // The reason for xdg-open's exit status `code`, or empty for success.
  static QString ReasonForExit(int code);

 private:
  void Complain(const qvString& path, const QString& reason);
  std::function<void(const QString&)> complain_;
};
