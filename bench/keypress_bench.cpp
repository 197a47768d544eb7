// Key press to repainted result list, in the real search window, over an
// engine holding a synthetic index of 1,000,000 names (linked in, no
// plugin, nothing saved). Words are typed letter by letter and erased
// again; each keystroke is timed from the key event to the end of the
// first repaint of the list that shows the new result.
//   keypress_bench [ENTRIES]
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "IQvSearch.h"
#include "qvKearchImpl.h"
#include "qvNameCodec.h"
#include "qvResultModel.h"
#include "qvSearchMainUi.h"
#include "qvSkinArchive.h"
#include "qvStreamVolumeSource.h"
#include "synthetic_index.h"

namespace {

// Counts the list's paints.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

qvKearchImpl* MakeEngine(size_t entries) {
  auto* engine = static_cast<qvKearchImpl*>(CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION));
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  config->SetDataFolder(u"/nonexistent-qv-bench-data/");
  config->SetOption("no_save", "1");
  qvStreamVolumeSource::Volume v;
  v.info.root = u"/";
  v.info.opened = true;
  v.info.journalId = 1;
  v.entries = MakeSyntheticEntries(entries, 42);
  std::vector<qvStreamVolumeSource::Volume> volumes;
  volumes.push_back(std::move(v));
  engine->SetVolumeSource(std::make_unique<qvStreamVolumeSource>(std::move(volumes)));
  return engine;
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  size_t entries = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;

  QTemporaryDir appFolder;
  qvSkinArchive skin;
  if (!skin.Load(QV_APP_DIR "skin.dat")) {
    std::fprintf(stderr, "keypress_bench: no skin at %s (build qvSkin)\n", QV_APP_DIR "skin.dat");
    return 1;
  }
  qvKearchImpl* engine = MakeEngine(entries);
  qvSearchMainUi window(qvNameCodec::DecodeToString(QFile::encodeName(appFolder.path() + u'/').toStdString()));
  window.AdoptEngine(engine);
  if (!window.Create(skin)) return 1;
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;
  QElapsedTimer indexing;
  indexing.start();
  engine->WaitUntilInitialised();
  QTest::qWait(50);
  std::printf("index of %zu entries ready in %.0f ms\n", entries, static_cast<double>(indexing.elapsed()));

  auto* edit = window.findChild<QLineEdit*>(QStringLiteral("search_input_edit"));
  QTableView* list = window.ResultList();
  PaintCounter counter;
  list->viewport()->installEventFilter(&counter);

  std::vector<double> times, searches;
  std::vector<int> rows;
  auto press = [&](auto key) {
    QCoreApplication::processEvents();
    int applied = 0;
    auto connection = QObject::connect(window.ResultModel(), &qvResultModel::itemCountApplied,
                                       [&](int) { applied = counter.paints; });
    applied = -1;
    QElapsedTimer t;
    t.start();
    QTest::keyClick(edit, key);
    // The search itself runs inside the key press.
    searches.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    // Until the count arrived and a paint followed it (bounded, should the
    // window never repaint).
    while ((applied < 0 || counter.paints <= applied) && t.elapsed() < 10000)
      QCoreApplication::processEvents(QEventLoop::AllEvents);
    times.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    rows.push_back(window.ResultModel()->rowCount());
    QObject::disconnect(connection);
  };

  const char* words[] = {"report", "holiday", "summary", "meeting", "config", "2023", "photo_1"};
  for (const char* w : words) {
    for (const char* c = w; *c; ++c) press(*c);
    for (const char* c = w; *c; ++c) press(Qt::Key_Backspace);
  }

  double total = 0;
  for (double t : times) total += t;
  int most = *std::max_element(rows.begin(), rows.end());
  std::printf("keystrokes: %zu (results up to %d rows)\n", times.size(), most);
  std::printf("key press to repainted list: median %.1f ms, p90 %.1f ms, worst %.1f ms, mean %.1f ms\n",
              Percentile(times, 0.5), Percentile(times, 0.9), *std::max_element(times.begin(), times.end()),
              total / static_cast<double>(times.size()));
  std::printf("of which the search inside the key press: median %.1f ms, worst %.1f ms\n", Percentile(searches, 0.5),
              *std::max_element(searches.begin(), searches.end()));
  size_t worst = static_cast<size_t>(std::max_element(times.begin(), times.end()) - times.begin());
  std::printf("worst keystroke: #%zu, %d rows\n", worst + 1, rows[worst]);
  return 0;
}
