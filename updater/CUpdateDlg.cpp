#include "CUpdateDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTime>
#include <QTimer>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include "qvInstall.h"

namespace {

constexpr int kTimerPeriodMs = 100;
// The tray tip holds at most this many characters.
constexpr int kTrayTipLength = 63;

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

// A new empty file in the temporary folder, named "Xml" and a unique part.
std::string MakeTempFile() {
  std::string pattern = QDir::tempPath().toStdString() + "/XmlXXXXXX";
  int fd = mkstemp(pattern.data());
  if (fd < 0) return pattern;  // the download then fails to create it
  close(fd);
  return pattern;
}

}  // namespace

CUpdateDlg::CUpdateDlg(UpdaterSettings settings, UpdaterCommandLine commandLine, QWidget* parent)
    : QDialog(parent), settings_(std::move(settings)), commandLine_(std::move(commandLine)), manifest_(settings_.folders) {
  setWindowTitle(QStringLiteral("自动更新"));
  // A caption with the system menu and the minimise box, in the task bar.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  QFont dialogFont = font();
  dialogFont.setPointSize(9);
  setFont(dialogFont);
  setWindowIcon(style()->standardIcon(QStyle::SP_BrowserReload));
  CreateControls();
}

CUpdateDlg::~CUpdateDlg() {
  // A running download is cancelled and waited for; its partial file stays.
  queue_.RemoveAll();
  if (tray_) tray_->hide();
  manifest_.RemoveAll();
  servers_.RemoveAll();
}

QRect CUpdateDlg::DialogUnitsToPixels(int x, int y, int width, int height) const {
  QFontMetrics metrics(font());
  // Dialog base units: the average width of the Latin letters and the line height.
  int baseX = (metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 26 + 1) / 2;
  int baseY = metrics.height();
  return QRect(x * baseX / 4, y * baseY / 8, width * baseX / 4, height * baseY / 8);
}

void CUpdateDlg::CreateControls() {
  setFixedSize(DialogUnitsToPixels(0, 0, 279, 206).size());
  auto place = [this](QWidget* widget, const char* name, int x, int y, int w, int h) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(DialogUnitsToPixels(x, y, w, h));
  };
  auto* frame = new QGroupBox(QStringLiteral("自动更新"), this);
  place(frame, "frame", 7, 7, 266, 192);
  frame->lower();
  place(new QLabel(QStringLiteral("选择服务器："), this), "serverLabel", 12, 23, 42, 8);
  place(new QLabel(QStringLiteral("更新总进度："), this), "overallLabel", 12, 141, 42, 8);
  place(new QLabel(QStringLiteral("当 前 进 度："), this), "currentLabel", 12, 159, 42, 8);

  serverCombo_ = new QComboBox(this);
  place(serverCombo_, "serverBox", 57, 21, 208, 12);
  connect(serverCombo_, &QComboBox::currentIndexChanged, this, [this](int index) { serverBox_.SetCurSel(index); });

  logList_ = new QListWidget(this);
  place(logList_, "logList", 12, 39, 252, 93);
  logList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  overallProgress_ = new QProgressBar(this);
  place(overallProgress_, "overallProgress", 57, 139, 208, 12);
  currentProgress_ = new QProgressBar(this);
  place(currentProgress_, "currentProgress", 57, 157, 208, 12);
  for (QProgressBar* bar : {overallProgress_, currentProgress_}) bar->setTextVisible(false);

  autoSelectButton_ = new QPushButton(QStringLiteral("自动选择服务器"), this);
  place(autoSelectButton_, "autoSelectButton", 46, 177, 59, 14);  // does nothing
  updateNowButton_ = new QPushButton(QStringLiteral("立即更新"), this);
  place(updateNowButton_, "updateNowButton", 118, 177, 50, 14);
  connect(updateNowButton_, &QPushButton::clicked, this, &CUpdateDlg::OnConnect);
  auto* close = new QPushButton(QStringLiteral("关闭"), this);
  place(close, "closeButton", 181, 177, 50, 14);
  close->setDefault(true);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);

  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, &CUpdateDlg::OnTimer);
}

void CUpdateDlg::OnInitDialog() {
  currentProgress_->setRange(0, 100);
  overallProgress_->setRange(0, 100);
  timer_->start(kTimerPeriodMs);
  trayTip_ = QStringLiteral("正在自动更新");
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    tray_ = new QSystemTrayIcon(windowIcon(), this);
    tray_->setToolTip(trayTip_);
    tray_->show();  // clicking it does nothing
  }
  show();
  FetchServerList();
}

QStringList CUpdateDlg::LogLines() const {
  QStringList lines;
  for (int i = 0; i < logList_->count(); ++i) lines << logList_->item(i)->text();
  return lines;
}

void CUpdateDlg::Log(const QString& text) {
  const QTime now = QTime::currentTime();
  const QString line = QString::asprintf("%.2u:%.2u:%.2u ", unsigned(now.hour()), unsigned(now.minute()),
                                         unsigned(now.second())) + text;
  logList_->addItem(line);
  logList_->setCurrentRow(logList_->count() - 1);
  if (!echoLog_) return;
  std::fprintf(stdout, "%s\n", line.toUtf8().constData());
  std::fflush(stdout);
}

void CUpdateDlg::EnableControls(bool enable) {
  updateNowButton_->setEnabled(enable);
  serverCombo_->setEnabled(enable);
}

void CUpdateDlg::QueueDownload(int kind, const std::string& url, const std::string& serverName) {
  auto file = std::make_unique<CInetFile>();
  file->m_bStatusCallback = true;
  file->m_nKind = kind;
  file->m_pNotifyWnd = this;
  file->m_strUrl = url;
  file->m_strServerName = serverName;
  file->m_strLocalPath = MakeTempFile();
  file->m_strCaFile = settings_.caFile;
  EnableControls(false);
  queue_.Add(std::move(file));
}

void CUpdateDlg::FetchServerList() {
  manifest_.RemoveAll();
  currentProgress_->setValue(0);
  overallProgress_->setValue(0);
  Log(QStringLiteral("正在连接获取服务器列表"));
  receivedTotal_ = 0;
  QueueDownload(DK_SERVERLIST, commandLine_.serverListUrl, std::string());
}

void CUpdateDlg::OnConnect() {
  const CServer* server = serverBox_.GetSelectedServer();
  if (!server) return;
  manifest_.RemoveAll();
  currentProgress_->setValue(0);
  overallProgress_->setValue(0);
  Log(QStringLiteral("正在连接：%1").arg(Text(server->name)));
  receivedTotal_ = 0;
  QueueDownload(DK_FILELIST, server->url, server->name);
}

void CUpdateDlg::FillServerBox() {
  servers_.FillComboBox(&serverBox_);
  const QSignalBlocker quiet(serverCombo_);
  serverCombo_->clear();
  for (const CServerBox::Item& item : serverBox_.Items()) serverCombo_->addItem(Text(item.name));
  serverCombo_->setCurrentIndex(serverBox_.GetCurSel());
}

// Downloads report from their threads; the handlers run on this one.
void CUpdateDlg::PostMessage(uint32_t message, uint32_t wParam, CInetFile* file) {
  QMetaObject::invokeMethod(
      this,
      [this, message, wParam, file] {
        if (message == WM_INET_PROGRESS) OnInetProgress(wParam, file);
        else if (message == WM_INET_DONE) OnInetDone(wParam, file);
      },
      Qt::QueuedConnection);
}

void CUpdateDlg::OnTimer() {
  std::lock_guard<std::recursive_mutex> hold(windowLock_);
  if (running_ >= kMaxRunning) return;
  CInetFile* head = queue_.GetHead();
  if (!head || head->m_nStartCount != 0) return;
  if (head->m_nKind == DK_FILE) Log(QStringLiteral("正在更新文件：%1").arg(Text(head->m_strDisplayName)));
  if (head->Start()) ++running_;
}

void CUpdateDlg::OnInetProgress(uint32_t wParam, CInetFile* file) {
  std::lock_guard<std::recursive_mutex> hold(windowLock_);
  if (file->m_dwLength > 0)
    currentProgress_->setValue(static_cast<int>(std::min<uint64_t>(100, uint64_t{file->m_dwReceived} * 100 / file->m_dwLength)));
  QString trayText;
  if (static_cast<int>(InetParamKind(wParam)) == DK_FILE) {
    receivedTotal_ += InetParamLow(wParam);
    if (totalLength_ > 0) {
      unsigned percent = static_cast<unsigned>(uint64_t{receivedTotal_} * 100 / totalLength_);
      overallProgress_->setValue(static_cast<int>(std::min(100u, percent)));
      trayText = QString::asprintf("%u%%", percent);
    }
  }
  RefreshTray(trayText);
}

void CUpdateDlg::RefreshTray(const QString& text) {
  if (tray_) tray_->setIcon(windowIcon());
  if (text.left(kTrayTipLength) != trayTip_.left(kTrayTipLength)) {
    trayTip_ = text.left(kTrayTipLength);
    if (tray_) tray_->setToolTip(trayTip_);
  }
}

void CUpdateDlg::OnInetDone(uint32_t wParam, CInetFile* file) {
  std::lock_guard<std::recursive_mutex> hold(windowLock_);
  const int kind = static_cast<int>(InetParamKind(wParam));
  const int result = static_cast<int>(InetParamLow(wParam));
  if (kind == DK_SERVERLIST) OnServerListDone(file);
  else if (kind == DK_FILELIST) OnFileListDone(result, file);
  else OnFileDone(result, file);

  queue_.Remove(file);
  if (queue_.GetCount() == 0) {
    if (kind == DK_FILE) Log(QStringLiteral("更新完毕"));
    EnableControls(true);
  }
  --running_;
}

void CUpdateDlg::OnServerListDone(CInetFile* file) {
  unsigned count = ParseServerListFile(file->m_strLocalPath, &servers_);
  if (count == 0) {
    Log(QStringLiteral("获得服务器列表失败"));
    return;
  }
  Log(QStringLiteral("获取服务器列表成功,共取得 %1 个可选服务器").arg(count));
  FillServerBox();
  if (commandLine_.automatic) OnConnect();
}

void CUpdateDlg::OnFileListDone(int result, CInetFile* file) {
  if (result != kInetOk) {
    Log(QStringLiteral("%1：%2").arg(Text(file->m_strErrorText), Text(file->m_strServerName)));
    return;
  }
  Log(QStringLiteral("获取更新文件列表成功：%1").arg(Text(file->m_strServerName)));
  bool loaded = manifest_.LoadXml(file->m_strLocalPath);
  ::unlink(file->m_strLocalPath.c_str());
  if (!loaded) return;
  filesToUpdate_ = manifest_.GetUpdateCount();
  totalLength_ = manifest_.GetUpdateLength();
  if (filesToUpdate_ > 0)
    Log(QStringLiteral("需更新文件总数: %1, 文件总长度: %2 KB").arg(filesToUpdate_).arg(totalLength_ >> 10));
  else
    Log(QStringLiteral("你当前的版本是最新的"));
  while (std::unique_ptr<CMiniUpFileParse> entry = manifest_.PopHead()) QueueFile(*entry, file->m_strServerName);
}

void CUpdateDlg::QueueFile(const CMiniUpFileParse& entry, const std::string& serverName) {
  auto file = std::make_unique<CInetFile>();
  file->m_bStatusCallback = true;
  file->m_nKind = DK_FILE;
  file->m_pNotifyWnd = this;
  file->m_strUrl = entry.m_URL;
  file->m_strServerName = serverName;
  file->m_strLocalPath = entry.m_strTargetPath;
  file->m_dwLength = entry.m_Length > 0 ? static_cast<uint32_t>(entry.m_Length) : 0;
  file->m_strDisplayName = entry.m_FileName;
  file->m_bRegister = entry.m_bRegister;
  file->m_bZipFile = entry.m_bZipFile;
  file->m_bForceOverwrite = entry.m_bForceOverwrite;
  file->m_bExecute = entry.m_bExecute;
  file->m_strExecutePar = entry.m_ExecutePar;
  file->m_strFileHash = entry.m_FileHash;
  file->m_bPathRefused = entry.m_bPathRefused;
  file->m_strCaFile = settings_.caFile;
  queue_.Add(std::move(file));
}

void CUpdateDlg::OnFileDone(int result, CInetFile* file) {
  const QString name = Text(file->m_strDisplayName);
  if (result != kInetOk) {
    Log(QStringLiteral("下载文件失败 [%1], 错误代码 [%2]").arg(name).arg(result));
    return;
  }
  InstallOutcome outcome = InstallDownloadedFile(*file, settings_.registerCommand);
  if (outcome.step == InstallStep::kDeleteFailed) Log(QStringLiteral("删除文件失败 [%1]").arg(name));
  else if (outcome.step == InstallStep::kRenameFailed) Log(QStringLiteral("重命名文件失败 [%1]").arg(name));
  else Log(QStringLiteral("下载文件成功 [%1]").arg(name));
}

// The minimise command is ignored: the window stays as it was.
void CUpdateDlg::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
    setWindowState(windowState() & ~Qt::WindowMinimized);
  QDialog::changeEvent(event);
}
