// The updater's window: the server box, two progress bars, the log list,
// three buttons and a tray icon. It fetches the server list, then (chosen
// automatically or with "立即更新") a server's manifest, then downloads and
// installs each file that differs, one at a time.
#pragma once

#include <QDialog>
#include <QStringList>

#include <mutex>

#include "CInetFiles.h"
#include "CMiniUpFileXmlLogic.h"
#include "CServerBox.h"
#include "CServers.h"
#include "qvCommandLine.h"
#include "qvUpdaterSettings.h"

class QComboBox;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSystemTrayIcon;
class QTimer;

class CUpdateDlg : public QDialog, private CNotifyWindow {
  Q_OBJECT

 public:
  CUpdateDlg(UpdaterSettings settings, UpdaterCommandLine commandLine, QWidget* parent = nullptr);
  ~CUpdateDlg() override;

  // Sets up the bars, the timer and the tray icon and fetches the server
  // list; the window shows itself.
  void OnInitDialog();

  // Writes every log line to standard output as well (the program does).
  void SetEchoLog(bool echo) { echoLog_ = echo; }

  // The log as shown, one entry per line.
  QStringList LogLines() const;
  QString TrayText() const { return trayTip_; }
  const CServerBox& ServerBox() const { return serverBox_; }

  // A rectangle of the dialog template (dialog units) in pixels.
  QRect DialogUnitsToPixels(int x, int y, int width, int height) const;

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void PostMessage(uint32_t message, uint32_t wParam, CInetFile* file) override;

  void CreateControls();
  void FetchServerList();
  void OnConnect();
  void OnTimer();
  void OnInetProgress(uint32_t wParam, CInetFile* file);
  void OnInetDone(uint32_t wParam, CInetFile* file);
  void OnServerListDone(CInetFile* file);
  void OnFileListDone(int result, CInetFile* file);
  void OnFileDone(int result, CInetFile* file);
  void QueueDownload(int kind, const std::string& url, const std::string& serverName);
  void QueueFile(const CMiniUpFileParse& entry, const std::string& serverName);
  void EnableControls(bool enable);
  void FillServerBox();
  void Log(const QString& text);
  void RefreshTray(const QString& text);

  UpdaterSettings settings_;
  UpdaterCommandLine commandLine_;

  QPushButton* autoSelectButton_ = nullptr;
  QPushButton* updateNowButton_ = nullptr;
  QProgressBar* currentProgress_ = nullptr;
  QProgressBar* overallProgress_ = nullptr;
  QComboBox* serverCombo_ = nullptr;
  QListWidget* logList_ = nullptr;
  QTimer* timer_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;

  uint32_t filesToUpdate_ = 0;
  uint32_t totalLength_ = 0;
  uint32_t receivedTotal_ = 0;
  std::recursive_mutex windowLock_;
  CServers servers_;
  CServerBox serverBox_;
  CMiniUpFileXmlLogic manifest_;
  CInetFiles queue_;
  static constexpr int kMaxRunning = 5;
  int running_ = 0;
  QString trayTip_;
  bool echoLog_ = false;
};
