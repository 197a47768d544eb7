// The search window's result list as people use it: the order chosen by
// the column headers, several rows selected at once and what the keys do
// to them, the file manager, and the reasons an item did not open.
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QTableView>

#include <set>

#include "qvFileManager.h"
#include "qvItemMenu.h"
#include "qvItemOpener.h"
#include "qvResultModel.h"
#include "qvRowTargets.h"
#include "qvRowTransfer.h"
#include "qvSearchMainUi.h"
#include "qvUtils.h"

namespace {

// Enter opens at most this many rows at once; more is rarely meant.
constexpr int kMaxRowsOpened = 32;
// The file manager is shown at most this many items, and opens at most
// this many folders when it cannot select them.
constexpr int kMaxItemsShown = 1000;
constexpr int kMaxFoldersOpened = 8;

// The engine's order for each column of the result list.
int SortOrderOf(int section) {
  switch (section) {
    case qvResultModel::kName: return QV_SORT_NAME;
    case qvResultModel::kFolder: return QV_SORT_PATH;
    case qvResultModel::kSize: return QV_SORT_SIZE;
    case qvResultModel::kCreated: return QV_SORT_CREATED;
    case qvResultModel::kModified: return QV_SORT_MODIFIED;
    case qvResultModel::kAccessed: return QV_SORT_ACCESSED;
    case qvResultModel::kAttributes: return QV_SORT_ATTRIBUTES;
    default: return QV_SORT_STORE;
  }
}

IQvSearchResults* ResultsOf(IQvSearch* engine) {
  return engine ? static_cast<IQvSearchResults*>(engine->QueryInterface(&IID_IQvSearchResults, QV_SEARCH_VERSION))
                : nullptr;
}

}  // namespace

// --- the order ---------------------------------------------------------------

// Each click moves a column on: up, down, then back to the search's order.
void qvSearchMainUi::OnHeaderClicked(int section) {
  if (section != sortSection_) SetSortOrder(section, false);
  else if (!sortReverse_) SetSortOrder(section, true);
  else SetSortOrder(-1, false);
}

void qvSearchMainUi::SetSortOrder(int section, bool reverse) {
  if (section < 0 || section >= qvResultModel::kColumnCount) section = -1;
  bool changed = section != sortSection_ || reverse != sortReverse_;
  sortSection_ = section;
  sortReverse_ = section >= 0 && reverse;
  ShowSortIndicator();
  if (changed) RequestSort();
}

void qvSearchMainUi::ShowSortIndicator() {
  QHeaderView* header = resultList_->horizontalHeader();
  // Section -1 hides the arrow.
  header->setSortIndicator(sortSection_, sortReverse_ ? Qt::DescendingOrder : Qt::AscendingOrder);
}

// A new answer arrived: the engine put what it already knew in order; the
// rows it has not read yet need a sort of their own.
void qvSearchMainUi::OnResultCountApplied() {
  if (sortSection_ >= 0) RequestSort();
}

void qvSearchMainUi::RequestSort() {
  IQvSearchResults* results = ResultsOf(Engine());
  if (!results || tornDown_) return;
  if (sortRunning_) {
    sortPending_ = true;
    return;
  }
  sortRunning_ = true;
  sortPending_ = false;
  int order = SortOrderOf(sortSection_);
  int reverse = sortReverse_ ? 1 : 0;
  sortPool_.start([this, results, order, reverse] {
    results->SortResults(order, reverse);
    QMetaObject::invokeMethod(this, &qvSearchMainUi::OnSortDone, Qt::QueuedConnection);
  });
}

void qvSearchMainUi::OnSortDone() {
  sortRunning_ = false;
  if (tornDown_) return;
  // The rows moved: what was selected is somewhere else now.
  resultList_->clearSelection();
  resultModel_->Refresh();
  if (sortPending_) RequestSort();
  else emit sortApplied();
}

// --- the selection and its keys ------------------------------------------------

QList<int> qvSearchMainUi::SelectedRows() const {
  std::set<int> rows;
  if (QItemSelectionModel* selection = resultList_->selectionModel())
    for (const QModelIndex& index : selection->selectedIndexes()) rows.insert(index.row());
  return QList<int>(rows.begin(), rows.end());
}

void qvSearchMainUi::OpenSelectedRows() {
  QList<int> rows = SelectedRows();
  if (rows.isEmpty() && resultList_->currentIndex().isValid()) rows << resultList_->currentIndex().row();
  if (rows.size() > kMaxRowsOpened) {
    ShowOpenError(QString::fromUtf8("一次最多打开 %1 项，已选中 %2 项。").arg(kMaxRowsOpened).arg(rows.size()));
    return;
  }
  for (int row : rows) opener_->Open(qvDoubleClickTarget(Engine(), row, qvResultModel::kName));
}

// The file manager shows the items selected; where it cannot, the folders
// that hold them are opened.
void qvSearchMainUi::ShowSelectedInFolder() {
  QList<int> rows = SelectedRows();
  if (rows.isEmpty() && resultList_->currentIndex().isValid()) rows << resultList_->currentIndex().row();
  QByteArrayList uris;
  std::vector<qvString> folders;
  for (int row : rows) {
    qvRowPaths p = qvGetRowPaths(Engine(), row);
    if (!p.valid || uris.size() >= kMaxItemsShown) continue;
    uris << qvFileUri(p.full);
    qvString folder = p.isRoot ? p.full : p.folder;
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
  }
  if (uris.isEmpty()) return;
  if (folders.size() > static_cast<size_t>(kMaxFoldersOpened)) folders.resize(kMaxFoldersOpened);
  qvFileManager::ShowItems(uris, this, [this, folders] {
    for (const qvString& folder : folders) opener_->Open({qvOpenTarget::kFile, folder});
  });
}

void qvSearchMainUi::CopySelectedRows() {
  QList<int> rows = SelectedRows();
  if (rows.isEmpty()) return;
  QApplication::clipboard()->setMimeData(qvMakeRowMimeData(qvRowFullPaths(Engine(), rows)));
}

void qvSearchMainUi::ShowResultMenuAt(int row, const QPoint& globalPos) {
  if (row < 0 || !Engine()) return;
  qvResultMenuActions actions;
  actions.open = [this, row] { opener_->Open(qvDoubleClickTarget(Engine(), row, qvResultModel::kName)); };
  actions.openFolder = [this, row] {
    if (!SelectedRows().contains(row)) resultList_->selectRow(row);
    ShowSelectedInFolder();
  };
  QMenu* menu = qvBuildResultMenu(Engine(), row, this, actions);
  if (!menu) return;
  menu->addSeparator();
  QAction* store = menu->addAction(QString::fromUtf8("恢复默认顺序"), menu, [this] { SetSortOrder(-1, false); });
  store->setObjectName(QStringLiteral("menu_sort_default"));
  store->setEnabled(sortSection_ >= 0);
  menu->exec(globalPos);
  delete menu;
}

void qvSearchMainUi::ShowResultMenu(const QPoint& pos) {
  QModelIndex index = resultList_->indexAt(pos);
  if (!index.isValid()) return;
  ShowResultMenuAt(index.row(), resultList_->viewport()->mapToGlobal(pos));
}

// Keys of the result list beyond moving and selecting (the view's own).
bool qvSearchMainUi::ResultListKey(QKeyEvent* key) {
  QModelIndex current = resultList_->currentIndex();
  bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
  if (enter && (key->modifiers() & Qt::ControlModifier)) {
    ShowSelectedInFolder();
    return true;
  }
  if (enter) {
    OpenSelectedRows();
    return true;
  }
  if (key->matches(QKeySequence::Copy)) {
    CopySelectedRows();
    return true;
  }
  bool menuKey = key->key() == Qt::Key_Menu || (key->key() == Qt::Key_F10 && (key->modifiers() & Qt::ShiftModifier));
  if (menuKey && current.isValid()) {
    QRect cell = resultList_->visualRect(current);
    ShowResultMenuAt(current.row(), resultList_->viewport()->mapToGlobal(cell.bottomLeft()));
    return true;
  }
  bool back = key->key() == Qt::Key_Escape || (key->key() == Qt::Key_Up && key->modifiers() == Qt::NoModifier &&
                                               (!current.isValid() || current.row() == 0));
  if (back && searchEdit_) {
    searchEdit_->setFocus();
    return true;
  }
  return false;
}

// --- reasons ----------------------------------------------------------------------

// One message at a time; a new reason replaces the one on show.
void qvSearchMainUi::ShowOpenError(const QString& text) {
  if (tornDown_) return;
  if (!openErrorBox_) {
    openErrorBox_ = new QMessageBox(QMessageBox::Information, windowTitle(), text, QMessageBox::Ok, this);
    openErrorBox_->setObjectName(QStringLiteral("open_error_box"));
    openErrorBox_->setAttribute(Qt::WA_DeleteOnClose);
    openErrorBox_->setModal(false);
  }
  openErrorBox_->setText(text);
  openErrorBox_->show();
}

QString qvSearchMainUi::OpenErrorText() const { return openErrorBox_ ? openErrorBox_->text() : QString(); }

// --- the main menu ------------------------------------------------------------

// The tray menu's items under the title band's button, on every desktop.
void qvSearchMainUi::OpenMainMenu() {
  if (!menuBtn_) return;
  QPoint below = menuBtn_->mapToGlobal(QPoint(0, menuBtn_->height()));
  CTrayMenu::Open(this, menuSkin_, below, CTrayMenu::Placement::kBelow);
}
