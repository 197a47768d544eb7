// What the search window remembers between runs (its place and size,
// whether it was maximised, the column widths and the order of the
// result list, in qvConfig.ini) and the progress line shown while the
// engine reads the volumes.
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QScreen>
#include <QTableView>

#include "qvConfig.h"
#include "qvResultModel.h"
#include "qvSearchMainUi.h"

namespace {

// The window keeps at least this much of itself on some screen.
constexpr int kMinVisible = 100;

bool OnSomeScreen(const QRect& r) {
  for (QScreen* screen : QGuiApplication::screens()) {
    QRect common = screen->availableGeometry().intersected(r);
    if (common.width() >= kMinVisible && common.height() >= kMinVisible) return true;
  }
  return false;
}

}  // namespace

void qvSearchMainUi::RestoreWindowState() {
  if (!config_) return;
  qvConfig::WindowState state = config_->GetWindowState();
  QRect saved(state.x, state.y, state.width, state.height);
  // A screen that is gone (a laptop without its monitor) gives the
  // default place.
  if (state.hasGeometry && OnSomeScreen(saved))
    setGeometry(saved);
  for (int c = 0; c < qvResultModel::kColumnCount && c < static_cast<int>(state.columns.size()); ++c)
    resultList_->setColumnWidth(c, state.columns[static_cast<size_t>(c)]);
  if (state.sortColumn >= 0 && state.sortColumn < qvResultModel::kColumnCount) {
    sortSection_ = state.sortColumn;
    sortReverse_ = state.sortReverse;
  }
  ShowSortIndicator();
  if (state.maximised) RunSysCommand(SysCommand::kMaximise);
}

void qvSearchMainUi::SaveWindowState() {
  if (!config_ || !resultList_) return;
  qvConfig::WindowState state;
  QRect normal = maximised_ ? normalGeometry_ : geometry();
  if (normal.isValid()) {
    state.hasGeometry = true;
    state.x = normal.x();
    state.y = normal.y();
    state.width = normal.width();
    state.height = normal.height();
  }
  state.maximised = maximised_;
  for (int c = 0; c < qvResultModel::kColumnCount; ++c) state.columns.push_back(resultList_->columnWidth(c));
  state.sortColumn = sortSection_;
  state.sortReverse = sortReverse_;
  config_->SetWindowState(state);
}

// Beside the engine's own status texts: how many entries it has read and
// from which volume, until the index is ready.
void qvSearchMainUi::UpdateProgress() {
  IQvSearch* engine = Engine();
  auto* setup = engine ? static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION))
                       : nullptr;
  if (!setup || setup->QueryValue("ready") == 1) {
    progressTimer_.stop();
    if (progress_) progress_->hide();
    return;
  }
  int64_t entries = setup->QueryValue("scan_entries");
  int64_t volume = setup->QueryValue("scan_volume");
  if (!progress_ || entries <= 0) return;
  QString root = volume >= 0 && volume < volumeRoots_.size() ? volumeRoots_.at(static_cast<int>(volume)) : QString();
  QString text = QString::fromUtf8("已读取 %1 项").arg(QLocale::system().toString(static_cast<qlonglong>(entries)));
  if (!root.isEmpty()) text += QString::fromUtf8("（%1）").arg(root);
  progress_->setText(text);
  progress_->show();
}
