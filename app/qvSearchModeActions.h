// The search box's switches, shown as small buttons at its right end:
// match case ("Aa"), pinyin ("拼") and hidden items ("隐"). Each click
// flips the switch, keeps it in qvConfig.ini and tells the owner, which
// hands the modes to the engine and searches again.
#pragma once

#include <QObject>
#include <functional>

#include "qvConfig.h"

class QAction;
class QLineEdit;

class qvSearchModeActions : public QObject {
 public:
  // `onChange` receives the new modes after each click.
  qvSearchModeActions(QLineEdit* edit, const qvConfig* config, std::function<void(const qvConfig::SearchModes&)> onChange);

  const qvConfig::SearchModes& Modes() const { return modes_; }
  QAction* MatchCase() const { return matchCase_; }
  QAction* Pinyin() const { return pinyin_; }
  QAction* Hidden() const { return hidden_; }

 private:
  QAction* Add(QLineEdit* edit, const QString& label, const QString& tip, bool on);
  void Show(QAction* action, const QString& label, bool on);
  void Flip(QAction* action);

  const qvConfig* config_;
  std::function<void(const qvConfig::SearchModes&)> onChange_;
  qvConfig::SearchModes modes_;
  QAction* matchCase_ = nullptr;
  QAction* pinyin_ = nullptr;
  QAction* hidden_ = nullptr;
};
