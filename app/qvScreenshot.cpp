#include "qvScreenshot.h"

#include <QDeadlineTimer>
#include <memory>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QItemSelectionModel>

#include <cstdio>

#include "qvResultModel.h"
#include "qvSearchMainUi.h"

namespace {

constexpr int kResultTimeoutMs = 120000;
constexpr int kPollMs = 100;
// Time for the last repaint after the result arrived.
constexpr int kSettleMs = 500;

void Save(qvSearchMainUi& window, const QString& file, int* status) {
  QPixmap picture;
  if (QScreen* screen = window.screen()) picture = screen->grabWindow(window.winId());
  if (picture.isNull() || picture.size() != window.size() * window.devicePixelRatio()) picture = window.grab();
  if (!picture.save(file, "PNG")) {
    std::fprintf(stderr, "qvSearchApp: cannot save %s\n", file.toLocal8Bit().constData());
    *status = 1;
  }
  window.PostClose();
}

}  // namespace

void qvScheduleScreenshot(qvSearchMainUi& window, const QString& query, const QString& file, int* status) {
  if (auto* edit = window.findChild<QLineEdit*>(QStringLiteral("search_input_edit"))) {
    edit->setText(query);
    edit->setFocus();
  }
  auto* poll = new QTimer(&window);
  auto deadline = std::make_shared<QDeadlineTimer>(kResultTimeoutMs);
  QObject::connect(poll, &QTimer::timeout, &window, [&window, poll, deadline, file, status, query] {
    bool shown = query.isEmpty() || window.ResultModel()->rowCount() > 0;
    if (!shown && !deadline->hasExpired()) return;
    poll->stop();
    poll->deleteLater();
    if (!shown) std::fprintf(stderr, "qvSearchApp: no result for the screenshot query\n");
    if (!window.ResultList()->isVisible() || window.ResultModel()->rowCount() == 0) {
      QTimer::singleShot(kSettleMs, &window, [&window, file, status] { Save(window, file, status); });
      return;
    }
    // The largest files first, a few of them selected.
    QObject::connect(&window, &qvSearchMainUi::sortApplied, &window, [&window, file, status] {
      QTableView* list = window.ResultList();
      int first = window.Engine() ? window.Engine()->GetFolderResultCount() : 0;
      list->setFocus();
      for (int row : {first, first + 1, first + 3})
        if (row < window.ResultModel()->rowCount())
          list->selectionModel()->select(window.ResultModel()->index(row, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
      QTimer::singleShot(kSettleMs, &window, [&window, file, status] { Save(window, file, status); });
    }, Qt::SingleShotConnection);
    window.SetSortOrder(qvResultModel::kSize, true);
  });
  poll->start(kPollMs);
}
