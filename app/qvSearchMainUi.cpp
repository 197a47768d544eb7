#include "qvSearchMainUi.h"

#include "qvSearchModeActions.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>
#include <QWindow>

#include <cstdio>

#include "CSettingWnd.h"
#include "CTrayMenu.h"
#include "qvAppFolders.h"
#include "qvConfig.h"
#include "qvItemOpener.h"
#include "qvNameCodec.h"
#include "qvPath.h"
#include "qvResultModel.h"
#include "qvServiceHost.h"
#include "qvSkinArchive.h"
#include "qvSkinCaption.h"
#include "qvSkinLoader.h"
#include "qvTrayIcon.h"
#include "qvUtils.h"
#include "qvVolumeModel.h"

namespace {

constexpr int kUpdateCheckDelayMs = 3000;
constexpr int kUsageReportDelayMs = 1000;
constexpr int kRowHeight = 24;
// How often the scan's progress is read while the engine is not ready.
constexpr int kProgressPollMs = 250;

template <typename T>
T* FindControl(QWidget* root, const char* name) {
  return root ? root->findChild<T*>(QLatin1String(name)) : nullptr;
}

// Controls that take the mouse themselves: pressing on them never drags
// the window. A label counts only when it offers links or selection.
bool TakesMouse(const QWidget* w) {
  for (; w; w = w->parentWidget()) {
    if (qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w) ||
        qobject_cast<const QComboBox*>(w))
      return true;
    if (auto* label = qobject_cast<const QLabel*>(w))
      if (label->textInteractionFlags() & (Qt::LinksAccessibleByMouse | Qt::TextSelectableByMouse)) return true;
    if (w->isWindow()) break;
  }
  return false;
}

QTableView* MakeList(QWidget* parent, const char* name) {
  auto* view = new QTableView(parent);
  view->setObjectName(QLatin1String(name));
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setShowGrid(false);
  view->setWordWrap(false);
  view->setAlternatingRowColors(true);
  view->setMouseTracking(true);
  view->setContextMenuPolicy(Qt::CustomContextMenu);
  view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  view->setIconSize(QSize(16, 16));
  view->setTextElideMode(Qt::ElideMiddle);
  // Rows are all alike: a fixed height keeps millions of rows cheap.
  view->verticalHeader()->setVisible(false);
  view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view->verticalHeader()->setDefaultSectionSize(kRowHeight);
  view->horizontalHeader()->setHighlightSections(false);
  view->horizontalHeader()->setSectionsMovable(false);
  return view;
}

}  // namespace

qvSearchMainUi::qvSearchMainUi(const qvString& appFolder, QWidget* parent)
    : QWidget(parent), appFolder_(appFolder), helper_(appFolder), notify_(this) {
  setObjectName(QStringLiteral("qvSearchMainUi"));
  updateTimer_.setSingleShot(true);
  reportTimer_.setSingleShot(true);
  connect(&updateTimer_, &QTimer::timeout, this, &qvSearchMainUi::OnUpdateCheckTimer);
  connect(&reportTimer_, &QTimer::timeout, this, &qvSearchMainUi::OnUsageReportTimer);
  connect(&progressTimer_, &QTimer::timeout, this, &qvSearchMainUi::UpdateProgress);
  sortPool_.setMaxThreadCount(1);
  opener_ = new qvItemOpener([this](const QString& text) { ShowOpenError(text); }, this);
}

qvSearchMainUi::~qvSearchMainUi() { Teardown(); }

bool qvSearchMainUi::Create(const qvSkinArchive& skin) {
  // The title bar is the skin's: no caption from the window manager.
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  setWindowTitle(QString::fromUtf8("Zerivo搜索"));
  QRect desktop = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry() : QRect();
  setGeometry((desktop.width() - kWidth) / 2, (desktop.height() - kHeight) / 2, kWidth, kHeight);

  qvSkinLoader loader(skin);
  skinRoot_ = loader.Build("skin.xml", this);
  if (!skinRoot_) return false;
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(skinRoot_);
  if (std::optional<std::string> sheet = skin.Find("skin.qss")) setStyleSheet(QString::fromStdString(*sheet));
  ConnectNotifications(skinRoot_);

  config_ = std::make_unique<qvConfig>();
  config_->SetFolder(appFolder_);

  InitWindow();
  CreateSettingsWindow(skin);
  menuSkin_ = QFile::decodeName(QByteArray::fromStdString(qvNameCodec::EncodeToString(appFolder_))) +
              QLatin1String(CTrayMenu::kSkinFolder) + u'/' + QLatin1String(CTrayMenu::kSkinFile);
  tray_ = qvTrayIcon::Make(this, windowIcon(), menuSkin_);
  RestoreWindowState();

  qvAppFolders::Locate(appFolder_).MakeFolders();

  BindEngine();
  return true;
}

// Every button, option and text box of the skin reports to Notify, as the
// skin's controls do in every window of the program.
void qvSearchMainUi::ConnectNotifications(QWidget* root) {
  for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
    if (button->isCheckable()) {
      // A grouped option reports only when it becomes the selected one.
      connect(button, &QAbstractButton::toggled, this, [this, button](bool checked) {
        if (checked || !button->autoExclusive()) Notify(QStringLiteral("selectchanged"), button);
      });
    } else {
      connect(button, &QAbstractButton::clicked, this, [this, button] { Notify(QStringLiteral("click"), button); });
    }
  }
  for (QLineEdit* edit : root->findChildren<QLineEdit*>())
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { Notify(QStringLiteral("textchanged"), edit); });
}

void qvSearchMainUi::InitWindow() {
  QIcon appIcon = QIcon::fromTheme(QStringLiteral("system-search"), style()->standardIcon(QStyle::SP_FileDialogContentsView));
  setWindowIcon(appIcon);

  closeBtn_ = FindControl<QAbstractButton>(skinRoot_, "closebtn");
  maxBtn_ = FindControl<QAbstractButton>(skinRoot_, "maxbtn");
  restoreBtn_ = FindControl<QAbstractButton>(skinRoot_, "restorebtn");
  minBtn_ = FindControl<QAbstractButton>(skinRoot_, "minbtn");
  status_ = FindControl<QLabel>(skinRoot_, "search_root_disk");
  progress_ = FindControl<QLabel>(skinRoot_, "search_progress");
  menuBtn_ = FindControl<QAbstractButton>(skinRoot_, "menubtn");
  if (progress_) progress_->hide();
  searchEdit_ = FindControl<QLineEdit>(skinRoot_, "search_input_edit");
  if (searchEdit_) {
    // The engine takes search texts shorter than 1024 characters.
    searchEdit_->setMaxLength(static_cast<int>(QV_QUERY_MAX) - 1);
    searchEdit_->installEventFilter(this);
    searchModes_ = new qvSearchModeActions(searchEdit_, config_.get(), [this](const qvConfig::SearchModes& modes) {
      CQvSearchHelper::PassSearchModes(helper_.GetInterface(), modes);
      if (searchEdit_) SearchText(searchEdit_->text());
    });
  }
  if (restoreBtn_) restoreBtn_->setVisible(false);

  rootIconIndex_ = qvUtils::QV_GetDirectoryIconIndex(u"/", 0);
  CreateLists();
}

// Made hidden now and kept until the teardown; only ever shown or hidden.
void qvSearchMainUi::CreateSettingsWindow(const qvSkinArchive& skin) {
  auto* window = new CSettingWnd(config_.get());
  if (!window->Create(skin)) {
    delete window;
    return;
  }
  window->SetEngineSource([this] { return Engine(); });
  settingsWindow_ = window;
}

void qvSearchMainUi::CreateLists() {
  volumeModel_ = new qvVolumeModel(this);
  volumeList_ = MakeList(this, "volume_list");
  volumeList_->setModel(volumeModel_);
  for (int c = 0; c < qvVolumeModel::kColumnCount; ++c) volumeList_->setColumnWidth(c, qvVolumeModel::kColumns[c].width);
  connect(volumeList_, &QAbstractItemView::doubleClicked, this,
          [this](const QModelIndex& index) { OpenVolumeRow(index.row(), index.column()); });
  connect(volumeList_, &QWidget::customContextMenuRequested, this, &qvSearchMainUi::ShowVolumeMenu);
  volumeList_->installEventFilter(this);

  resultModel_ = new qvResultModel(icons_, this);
  resultList_ = MakeList(this, "result_list");
  resultList_->setModel(resultModel_);
  for (int c = 0; c < qvResultModel::kColumnCount; ++c) resultList_->setColumnWidth(c, qvResultModel::kColumns[c].width);
  // Several rows at once (Shift, Ctrl, Ctrl+A), dragged out as files.
  resultList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  resultList_->setDragEnabled(true);
  resultList_->setDragDropMode(QAbstractItemView::DragOnly);
  resultList_->setDefaultDropAction(Qt::CopyAction);
  QHeaderView* header = resultList_->horizontalHeader();
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(true);
  header->setSortIndicator(-1, Qt::AscendingOrder);
  connect(header, &QHeaderView::sectionClicked, this, &qvSearchMainUi::OnHeaderClicked);
  header->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(header, &QWidget::customContextMenuRequested, this, [this, header](const QPoint& pos) {
    QMenu menu(this);
    QAction* store = menu.addAction(QString::fromUtf8("恢复默认顺序"), this, [this] { SetSortOrder(-1, false); });
    store->setObjectName(QStringLiteral("menu_sort_default"));
    store->setEnabled(sortSection_ >= 0);
    menu.exec(header->mapToGlobal(pos));
  });
  connect(resultModel_, &qvResultModel::itemCountApplied, this, &qvSearchMainUi::OnResultCountApplied);
  connect(resultList_, &QAbstractItemView::doubleClicked, this,
          [this](const QModelIndex& index) { OpenResultRow(index.row(), index.column()); });
  connect(resultList_, &QWidget::customContextMenuRequested, this, &qvSearchMainUi::ShowResultMenu);
  resultList_->installEventFilter(this);
  resultList_->hide();

  LayoutLists();
  volumeList_->raise();
  resultList_->raise();
}

void qvSearchMainUi::BindEngine() {
  if (!helper_.GetInterface()) {
    if (!helper_.BindEngine()) return;
    // Set-up the engine takes before it starts: where its files go and
    // what it indexes.
    auto* setup = static_cast<IQvSearchConfig*>(
        helper_.GetInterface()->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
    if (setup) {
      setup->SetErrorReporter(&CQvSearchNotify::ReportError, this);
      setup->SetDataFolder(qvAppFolders::Locate(appFolder_).dataFolder.c_str());
      for (const qvString& root : config_->GetRoots()) setup->AddRoot(root.c_str());
    }
  }
  IQvSearch* engine = helper_.GetInterface();
  resultModel_->SetEngine(engine);
  // The index service answers qvsearch from this engine, and puts the
  // window's own search back after each of its searches.
  qvServiceHost::Start(engine, &notify_, resultModel_, [this] {
    QMetaObject::invokeMethod(this, [this] { if (searchEdit_) SearchText(searchEdit_->text()); }, Qt::QueuedConnection);
  });
  progressTimer_.start(kProgressPollMs);
  updateTimer_.start(kUpdateCheckDelayMs);
  reportTimer_.start(kUsageReportDelayMs);
}

void qvSearchMainUi::LayoutLists() {
  QRect area(kLeftColumn, kTopBand, width() - kLeftColumn - kRightEdge, height() - kTopBand - kBottomBand);
  if (volumeList_) volumeList_->setGeometry(area);
  if (resultList_) resultList_->setGeometry(area);
}

void qvSearchMainUi::resizeEvent(QResizeEvent* event) {
  LayoutLists();
  QWidget::resizeEvent(event);
}

void qvSearchMainUi::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!windowInitSent_) {
    windowInitSent_ = true;
    Notify(QStringLiteral("windowinit"), this);
  }
}

// The window manager's close (Alt+F4, the taskbar) ends the program at
// once, without the teardown of the close button.
void qvSearchMainUi::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (tornDown_) return;
  SaveWindowState();
  emit quitRequested();
}

void qvSearchMainUi::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // A window manager may maximise or restore the window itself.
  if (event->type() == QEvent::WindowStateChange && !isMinimized()) {
    bool wmMaximised = windowState() & Qt::WindowMaximized;
    if (wmMaximised != maximised_ && wmMaximised) {
      normalGeometry_ = normalGeometry();
      maximised_ = true;
      if (maxBtn_) maxBtn_->setVisible(false);
      if (restoreBtn_) restoreBtn_->setVisible(true);
    }
  }
}

void qvSearchMainUi::RunSysCommand(SysCommand command) {
  bool wasMaximised = maximised_;
  switch (command) {
    case SysCommand::kMinimise: showMinimized(); break;
    case SysCommand::kMaximise:
      if (!maximised_) {
        normalGeometry_ = geometry();
        maximised_ = true;
        // The work area of the screen that holds the window.
        if (QScreen* s = screen()) setGeometry(s->availableGeometry());
      }
      break;
    case SysCommand::kRestore:
      if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
      if (maximised_) {
        maximised_ = false;
        setWindowState(windowState() & ~Qt::WindowMaximized);
        setGeometry(normalGeometry_);
      }
      break;
  }
  if (wasMaximised != maximised_) {
    if (maxBtn_) maxBtn_->setVisible(!maximised_);
    if (restoreBtn_) restoreBtn_->setVisible(maximised_);
  }
}

void qvSearchMainUi::Activate() {
  if (isMinimized()) setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
}

bool qvSearchMainUi::InCaption(const QPoint& pos) const {
  if (!qvInSkinCaption(this, skinRoot_, pos)) return false;
  QWidget* under = childAt(pos);
  return under && !TakesMouse(under);
}

void qvSearchMainUi::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && InCaption(event->position().toPoint())) {
    // The window manager moves the window where it can; otherwise we do.
    if (maximised_ || !windowHandle() || !windowHandle()->startSystemMove()) {
      dragging_ = !maximised_;
      dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

void qvSearchMainUi::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton)) {
    move(event->globalPosition().toPoint() - dragOffset_);
    event->accept();
    return;
  }
  QWidget::mouseMoveEvent(event);
}

void qvSearchMainUi::mouseReleaseEvent(QMouseEvent* event) {
  dragging_ = false;
  QWidget::mouseReleaseEvent(event);
}

// A double-click on the title area maximises or restores, as on any title bar.
void qvSearchMainUi::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && InCaption(event->position().toPoint())) {
    RunSysCommand(maximised_ ? SysCommand::kRestore : SysCommand::kMaximise);
    event->accept();
    return;
  }
  QWidget::mouseDoubleClickEvent(event);
}

void qvSearchMainUi::ShowStatus(const QString& text) {
  if (status_) status_->setText(text);
}

void qvSearchMainUi::AddVolumeRow(int ordinal, const QString& root) {
  if (ordinal >= 0 && ordinal < 64) {
    while (volumeRoots_.size() <= ordinal) volumeRoots_ << QString();
    volumeRoots_[ordinal] = root;
  }
  if (volumeModel_) volumeModel_->AddVolume(ordinal, root, icons_.Icon(rootIconIndex_));
}

// The engine's error texts: on standard error, and in one message box at
// a time; a repeat of the text on show is not shown again.
void qvSearchMainUi::ShowEngineError(const QString& text) {
  std::fprintf(stderr, "qvSearchApp: %s\n", text.toUtf8().constData());
  if (errorBox_ && errorBox_->isVisible() && errorBox_->text() == text) return;
  if (!errorBox_) {
    errorBox_ = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
    errorBox_->setAttribute(Qt::WA_DeleteOnClose);
    errorBox_->setModal(false);
  }
  errorBox_->setText(text);
  errorBox_->show();
}

// The close button's way out: the settings go, the engine saves its index
// and is unloaded, and the program ends.
void qvSearchMainUi::PostClose() {
  QMetaObject::invokeMethod(this, &qvSearchMainUi::CloseAndQuit, Qt::QueuedConnection);
}

void qvSearchMainUi::CloseAndQuit() {
  Teardown();
  hide();
  emit quitRequested();
}

void qvSearchMainUi::Teardown() {
  if (tornDown_) return;
  tornDown_ = true;
  updateTimer_.stop();
  reportTimer_.stop();
  progressTimer_.stop();
  SaveWindowState();
  // A sort still running holds the engine: it ends first.
  sortPool_.waitForDone();
  delete tray_;
  // The settings window reads the configuration: it goes first.
  delete settingsWindow_;
  config_.reset();
  // Nothing may ask the engine for rows once it is gone.
  if (resultModel_) resultModel_->SetEngine(nullptr);
  qvServiceHost::Stop();
  helper_.UnbindEngine();
  delete skinRoot_;
}

void qvSearchMainUi::ShowSettingsWindow() {
  if (!settingsWindow_) return;
  QRect area = settingsWindow_->screen() ? settingsWindow_->screen()->availableGeometry() : QRect();
  settingsWindow_->move(area.center() - settingsWindow_->rect().center());
  settingsWindow_->show();
  settingsWindow_->raise();
  settingsWindow_->activateWindow();
}

void qvSearchMainUi::OpenHomePage() {
  if (config_) qvUtils::QV_OpenFile(config_->GetHomeUrl().c_str());
}
