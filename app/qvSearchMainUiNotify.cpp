// The search window's reactions: the notification table, the searches,
// and what the mouse and keyboard do on the lists.
#include <QAbstractButton>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>

#include <array>

#include "qvItemMenu.h"
#include "qvItemOpener.h"
#include "qvResultModel.h"
#include "qvRowTargets.h"
#include "qvSearchMainUi.h"
#include "qvUtils.h"
#include "qvVolumeModel.h"

namespace {

// The type filters and the extensions each one searches, in call order.
struct Category {
  const char* option;
  std::array<const char16_t*, 9> extensions;  // null-padded
};

const Category kCategories[] = {
    {"filter_pic", {u"jpg", u"png", u"gif"}},
    {"filter_doc", {u"doc", u"docx", u"xls", u"txt", u"log", u"pdf", u"et", u"html", u"htm"}},
    {"filter_video", {u"avi", u"rmvb", u"mp4"}},
    {"filter_audio", {u"mp3"}},
    {"filter_zip", {u"rar", u"zip", u"7z"}},
    {"filter_exe", {u"exe", u"bat", u"cmd", u"dll"}},
};

// "*?" matches every non-empty name.
constexpr const char16_t* kEveryName = u"*?";

// The volume list's cells are read up to this many characters.
constexpr int kCellTextLimit = 260;

bool NameIs(const QObject* sender, const char* name) {
  return sender && sender->objectName().compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

bool NameIsExactly(const QObject* sender, const char* name) {
  return sender && sender->objectName() == QLatin1String(name);
}

const Category* CategoryOf(const QObject* sender) {
  for (const Category& c : kCategories)
    if (NameIs(sender, c.option)) return &c;
  return nullptr;
}

}  // namespace

void qvSearchMainUi::Notify(const QString& type, QObject* sender) {
  if (type == QLatin1String("click")) {
    if (sender && sender == closeBtn_) PostClose();
    if (sender && sender == minBtn_) RunSysCommand(SysCommand::kMinimise);
    if (sender && sender == maxBtn_) RunSysCommand(SysCommand::kMaximise);
    if (sender && sender == restoreBtn_) RunSysCommand(SysCommand::kRestore);
    if (sender && sender == menuBtn_) OpenMainMenu();
  } else if (type == QLatin1String("selectchanged")) {
    if (NameIs(sender, "filter_dir") || NameIs(sender, "filter_all")) ShowResultList(false);
    if (const Category* category = CategoryOf(sender)) {
      ShowResultList(true);
      SearchCategory(QLatin1String(category->option));
    }
  } else if (type == QLatin1String("textchanged")) {
    if (NameIs(sender, "search_input_edit")) {
      ShowResultList(true);
      if (auto* edit = qobject_cast<QLineEdit*>(sender)) SearchText(edit->text());
    }
  } else if (type == QLatin1String("itemclick")) {
    if (NameIsExactly(sender, "menu_seting")) ShowSettingsWindow();
    if (NameIsExactly(sender, "check_update")) LaunchUpdater();
    if (NameIsExactly(sender, "menu_feedback")) OpenHomePage();
    if (NameIsExactly(sender, "menu_about")) OpenHomePage();
    if (NameIsExactly(sender, "tray_close")) PostClose();
  }
  // "windowinit" and anything else: nothing to do.
}

void qvSearchMainUi::ShowResultList(bool show) {
  resultList_->setVisible(show);
  volumeList_->setVisible(!show);
}

void qvSearchMainUi::SearchText(const QString& text) {
  IQvSearch* engine = Engine();
  if (!engine) return;
  qvString query(reinterpret_cast<const qvChar*>(text.utf16()), static_cast<size_t>(text.size()));
  engine->Search(query.c_str(), u"", 1);
}

// The result holds the union of the category's extensions, in the table's
// order: the first search starts a new result, the others add to it.
void qvSearchMainUi::SearchCategory(const QString& option) {
  IQvSearch* engine = Engine();
  if (!engine) return;
  for (const Category& c : kCategories) {
    if (option != QLatin1String(c.option)) continue;
    int32_t reset = 1;
    for (const char16_t* ext : c.extensions) {
      if (!ext) break;
      engine->Search(kEveryName, ext, reset);
      reset = 0;
    }
  }
}

void qvSearchMainUi::OpenResultRow(int row, int column) { opener_->Open(qvDoubleClickTarget(Engine(), row, column)); }

void qvSearchMainUi::OpenVolumeRow(int row, int column) {
  if (row < 0 || !Engine()) return;
  QString text = volumeModel_->CellText(row, column, kCellTextLimit);
  qvString path(reinterpret_cast<const qvChar*>(text.utf16()), static_cast<size_t>(text.size()));
  qvUtils::QV_OpenFile(path.c_str());
}

void qvSearchMainUi::ShowVolumeMenu(const QPoint& pos) {
  QModelIndex index = volumeList_->indexAt(pos);
  if (!index.isValid() || !Engine()) return;
  QMenu* menu = qvBuildVolumeMenu(volumeModel_->CellText(index.row(), 0, kCellTextLimit), this);
  menu->exec(volumeList_->viewport()->mapToGlobal(pos));
  delete menu;
}

// Keyboard: Down (or Enter) in the search box moves into the result list;
// the list's own keys are ResultListKey's. Ctrl+L and F3 return to the
// search box from anywhere in the window.
bool qvSearchMainUi::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  bool toSearch = key->key() == Qt::Key_F3 || (key->key() == Qt::Key_L && key->modifiers() == Qt::ControlModifier);
  if (toSearch && searchEdit_) {
    searchEdit_->setFocus();
    searchEdit_->selectAll();
    return true;
  }
  if (watched == searchEdit_) {
    bool down = key->key() == Qt::Key_Down || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (down && resultList_->isVisible() && resultModel_->rowCount() > 0) {
      resultList_->setFocus();
      QModelIndex current = resultList_->currentIndex();
      if (!current.isValid()) resultList_->setCurrentIndex(resultModel_->index(0, 0));
      return true;
    }
  } else if (watched == resultList_) {
    if (ResultListKey(key)) return true;
  }
  return QWidget::eventFilter(watched, event);
}
