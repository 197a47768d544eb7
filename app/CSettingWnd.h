// The settings window: starting the program at login, and the folders and
// names kept out of the index. Built from the form "setting.xml" of the
// skin; "option_autorun" shows the stored choice as read once when the
// window is made; "exclude_list" shows the stored exclusion rules, which
// "exclude_add_folder", "exclude_add_name" and "exclude_remove" edit;
// "btn_ok" stores both (the settings, the autostart entry, and the rules
// handed to the running engine at once) and hides the window, "closebtn"
// hides it without storing (the list shows the stored rules again). The window lives as long as the main window
// and is only ever shown or hidden: a close request from the window
// manager hides it as well.
#pragma once

#include <QAbstractButton>
#include <QListWidget>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "IQvSearch.h"

class qvConfig;
class qvSkinArchive;

class CSettingWnd : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char16_t* kAutoStartName = u"qvsearch";

  // `config` outlives the window. Stays hidden until shown.
  CSettingWnd(const qvConfig* config, QWidget* parent = nullptr);

  // Builds the form from `skin`; false (an empty window) when the skin has
  // no "setting.xml" that can be built.
  bool Create(const qvSkinArchive& skin);

  // What the form's buttons report: "click" with the button as sender.
  void Notify(const QString& type, QObject* sender);

  // The option's check box; null when the form lacks it.
  QAbstractButton* AutoRunBox() const { return autoRun_; }
  QAbstractButton* BaseNameBox() const { return baseName_; }
  // The exclusion rules as listed (bytes, as the engine takes them).
  std::vector<std::string> ListedExclusions() const;
  QListWidget* ExclusionList() const { return excludeList_; }

  // What the add buttons ask the user: a folder (absolute path) or a name
  // pattern; an empty answer adds nothing. Dialogs unless replaced.
  using Prompt = std::function<QString()>;
  void SetFolderPrompt(Prompt prompt) { folderPrompt_ = std::move(prompt); }
  void SetNamePrompt(Prompt prompt) { namePrompt_ = std::move(prompt); }
  // The engine the rules go to when stored; by default the one of the
  // search window that owns this settings window.
  void SetEngineSource(std::function<IQvSearch*()> source) { engineSource_ = std::move(source); }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool InCaption(const QPoint& pos) const;
  void ApplyRoundCorner();
  void ShowStoredExclusions();
  void AddExclusion(const QString& rule);
  void StoreExclusions();
  void StoreSearchModes();
  IQvSearch* Engine() const;

  const qvConfig* config_;
  QPointer<QWidget> skinRoot_;
  QPointer<QAbstractButton> autoRun_;
  QPointer<QAbstractButton> baseName_;
  QPointer<QListWidget> excludeList_;
  Prompt folderPrompt_;
  Prompt namePrompt_;
  std::function<IQvSearch*()> engineSource_;
  QSize roundCorner_;
  bool dragging_ = false;
  QPoint dragOffset_;
};
