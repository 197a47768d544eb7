// The search window: a caption-less window whose controls come from the
// skin form "skin.xml", with two lists laid over the free rectangle the
// skin leaves them (the volume list and the result list, one visible at a
// time). The skin's controls report what happens to them through Notify,
// which decides what each notification does.
#pragma once

#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "CQvSearchHelper.h"
#include "CQvSearchNotify.h"
#include "CSettingWnd.h"
#include "CWndShadow.h"
#include "qvIconSet.h"
#include "qvTrayIcon.h"

class QAbstractButton;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMessageBox;
class QTableView;
class qvConfig;
class qvItemOpener;
class qvResultModel;
class qvSearchModeActions;
class qvSkinArchive;
class qvVolumeModel;

class qvSearchMainUi : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 855;
  static constexpr int kHeight = 535;
  // The skin leaves the lists this rectangle: a left column for the
  // filters, a top band for the title and search box, a bottom band for
  // the status line and a one-pixel right edge.
  static constexpr int kLeftColumn = 101;
  static constexpr int kTopBand = 95;
  static constexpr int kBottomBand = 25;
  static constexpr int kRightEdge = 1;

  // `appFolder` (ending in '/') holds the engine plugin, the settings and
  // the data folder.
  explicit qvSearchMainUi(const qvString& appFolder, QWidget* parent = nullptr);
  ~qvSearchMainUi() override;

  // Hands the window an engine made by the caller instead of the plugin;
  // call before Create.
  void AdoptEngine(IQvSearch* engine) { helper_.Adopt(engine); }

  // Builds the window from the skin, reads the settings, makes the data
  // folder and binds the engine. False when the skin has no "skin.xml"
  // form that can be built.
  bool Create(const qvSkinArchive& skin);

  // What the skin's controls and the tray menu report: type is
  // "windowinit", "click", "selectchanged", "textchanged" or "itemclick".
  void Notify(const QString& type, QObject* sender);

  // Shows the window, restored when minimised, and brings it to the front.
  void Activate();
  // What the close button does: after the current event, the teardown
  // (the engine saves its index) and then quitRequested.
  void PostClose();

  // Run on the UI thread for the engine's callbacks.
  void ShowStatus(const QString& text);
  void AddVolumeRow(int ordinal, const QString& root);
  void ShowEngineError(const QString& text);

  CQvSearchHelper& Helper() { return helper_; }
  IQvSearch* Engine() const { return helper_.GetInterface(); }
  QTableView* ResultList() const { return resultList_; }
  QTableView* VolumeList() const { return volumeList_; }
  qvResultModel* ResultModel() const { return resultModel_; }
  qvVolumeModel* VolumeModel() const { return volumeModel_; }
  bool IsMaximised() const { return maximised_; }
  bool TornDown() const { return tornDown_; }
  // The timers of the update check and the usage report (running only
  // with an engine).
  bool TimersActive() const { return updateTimer_.isActive() || reportTimer_.isActive(); }
  CSettingWnd* SettingsWindow() const { return settingsWindow_; }
  // Null where the desktop has no notification area.
  qvTrayIcon* Tray() const { return tray_; }
  // The tray menu's form, also opened by the title band's menu button.
  const QString& MenuSkin() const { return menuSkin_; }

  // The result list's order: the column whose header was clicked (-1 for
  // the search's own order) and whether it runs downwards.
  int SortSection() const { return sortSection_; }
  bool SortReverse() const { return sortReverse_; }
  // Sets the order and has the engine apply it (off the UI thread).
  void SetSortOrder(int section, bool reverse);
  // The result rows selected, in row order.
  QList<int> SelectedRows() const;
  // What the keys on the result list do to the selected rows.
  void OpenSelectedRows();
  void ShowSelectedInFolder();
  void CopySelectedRows();
  // The message of the last item that could not be opened (empty if none).
  QString OpenErrorText() const;

  // The work of the two timers, each run once per run by them. Both send
  // their request from a worker thread, so the window keeps answering.
  void SendUsageReport();
  void CheckForUpdate();

  // Tells the user that a newer build exists (text, caption) and returns
  // when they have read it; a modal message box unless replaced.
  using UpdatePrompt = std::function<void(const QString& text, const QString& caption)>;
  void SetUpdatePrompt(UpdatePrompt prompt) { updatePrompt_ = std::move(prompt); }

 signals:
  // The program should end now; TornDown() tells whether the engine was
  // released first.
  void quitRequested();
  // The version answer has been read: whether an update was offered.
  void updateCheckFinished(bool offered);
  // The engine has put the rows in the chosen order and the list shows it.
  void sortApplied();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  enum class SysCommand { kMinimise, kMaximise, kRestore };

  void ConnectNotifications(QWidget* root);
  void InitWindow();
  void CreateSettingsWindow(const qvSkinArchive& skin);
  void CreateLists();
  void BindEngine();
  void LayoutLists();
  void RunSysCommand(SysCommand command);
  void ShowResultList(bool show);
  void SearchText(const QString& text);
  void SearchCategory(const QString& option);
  void CloseAndQuit();
  void Teardown();
  bool InCaption(const QPoint& pos) const;
  void OpenResultRow(int row, int column);
  void OpenVolumeRow(int row, int column);
  void ShowResultMenu(const QPoint& pos);
  void ShowVolumeMenu(const QPoint& pos);
  void OpenHomePage();
  // Arrive with the tray menu, the settings window and the update check.
  void ShowSettingsWindow();
  void LaunchUpdater();
  void OnUpdateCheckTimer();
  void OnUsageReportTimer();
  void OnVersionAnswer(const std::string& answer);
  void OpenMainMenu();
  void ShowResultMenuAt(int row, const QPoint& globalPos);
  void OnHeaderClicked(int section);
  void ShowSortIndicator();
  void RequestSort();
  void OnSortDone();
  void OnResultCountApplied();
  void ShowOpenError(const QString& text);
  bool ResultListKey(QKeyEvent* key);
  void RestoreWindowState();
  void SaveWindowState();
  void UpdateProgress();

  qvString appFolder_;
  CQvSearchHelper helper_;
  CQvSearchNotify notify_;
  CWndShadow shadow_;
  std::unique_ptr<qvConfig> config_;
  qvIconSet icons_;
  int rootIconIndex_ = 7;

  QPointer<QWidget> skinRoot_;
  QPointer<QAbstractButton> closeBtn_, maxBtn_, restoreBtn_, minBtn_;
  QPointer<QLabel> status_;
  QPointer<QLineEdit> searchEdit_;
  QPointer<CSettingWnd> settingsWindow_;
  QPointer<qvTrayIcon> tray_;
  UpdatePrompt updatePrompt_;
  QPointer<QMessageBox> errorBox_;
  QPointer<QMessageBox> openErrorBox_;
  QPointer<QAbstractButton> menuBtn_;
  // The switches at the right end of the search box.
  qvSearchModeActions* searchModes_ = nullptr;
  QPointer<QLabel> progress_;
  QString menuSkin_;
  qvItemOpener* opener_ = nullptr;
  // Scan progress, shown while the engine reads the volumes.
  QTimer progressTimer_;
  QStringList volumeRoots_;

  QTableView* volumeList_ = nullptr;
  QTableView* resultList_ = nullptr;
  qvVolumeModel* volumeModel_ = nullptr;
  qvResultModel* resultModel_ = nullptr;

  QTimer updateTimer_;
  QTimer reportTimer_;
  // The requests' worker threads; waits for them when the window goes.
  QThreadPool requests_;
  // The engine's sorts, one at a time; a sort asked for meanwhile runs
  // after it.
  QThreadPool sortPool_;
  int sortSection_ = -1;
  bool sortReverse_ = false;
  bool sortRunning_ = false;
  bool sortPending_ = false;

  bool maximised_ = false;
  QRect normalGeometry_;
  bool dragging_ = false;
  QPoint dragOffset_;
  bool windowInitSent_ = false;
  bool tornDown_ = false;
};
