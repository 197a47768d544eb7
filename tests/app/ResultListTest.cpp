// The result list as people use it, over the real engine plugin indexing
// temporary trees: categories whose extensions the index partly lacks,
// also when a live change runs them again; sorting by each column; several
// rows selected, copied and dragged; Ctrl+Enter through the file manager's
// bus call; the reasons an item does not open; the menu button; the window
// remembered between runs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <memory>

#include "AppTestSupport.h"
#include "CSettingWnd.h"
#include "CTrayMenu.h"
#include "qvResultModel.h"
#include "qvSearchMainUi.h"
#include "qvSkinArchive.h"

using namespace qvapptest;

namespace {

class ResultListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = trees_.path() + QStringLiteral("/tree");
    // Of the picture, document and archive types only some exist.
    MakeFile(root_, QStringLiteral("pics/a.jpg"), 300);
    MakeFile(root_, QStringLiteral("pics/c.gif"), 100);
    MakeFile(root_, QStringLiteral("docs/manual.pdf"), 5000);
    MakeFile(root_, QStringLiteral("docs/Letter.docx"), 20);
    MakeFile(root_, QStringLiteral("docs/notes.txt"), 7);
    MakeFile(root_, QStringLiteral("arch/y.zip"), 90000);
    MakeFile(root_, QStringLiteral("bin/tool.exe"), 1);
    app_.SetRoots({root_});
  }
  void TearDown() override { window_.reset(); }

  void Open(AppFolder* app = nullptr) {
    AppFolder& folder = app ? *app : app_;
    ASSERT_TRUE(skin_.Load(QFile::encodeName(folder.Path(QStringLiteral("skin.dat"))).toStdString()));
    window_ = std::make_unique<qvSearchMainUi>(folder.Folder());
    ASSERT_TRUE(window_->Create(skin_));
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    ASSERT_TRUE(WaitUntil([&] { return Config()->QueryValue("ready") == 1; }));
    QTest::qWait(0);
  }

  IQvSearchConfig* Config() const {
    return static_cast<IQvSearchConfig*>(window_->Engine()->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  }
  template <typename T>
  T* Control(const char* name) const {
    return window_->findChild<T*>(QLatin1String(name));
  }
  QLineEdit* Edit() const { return Control<QLineEdit>("search_input_edit"); }
  QTableView* List() const { return window_->ResultList(); }
  qvResultModel* Model() const { return window_->ResultModel(); }
  QString Status() const { return Control<QLabel>("search_root_disk")->text(); }

  bool WaitForRows(int rows) {
    QCoreApplication::processEvents();
    QString status = QString::fromUtf8("%1 个结果!").arg(rows);
    return WaitUntil([&] { return Model()->rowCount() == rows && Status() == status; });
  }
  void Search(const QString& text) {
    Edit()->setText(text);
  }
  QString Cell(int row, int column) const { return Model()->data(Model()->index(row, column), Qt::DisplayRole).toString(); }
  QString Path(int row) const { return Model()->data(Model()->index(row, 0), Qt::ToolTipRole).toString(); }
  QStringList Names() const {
    QStringList names;
    for (int r = 0; r < Model()->rowCount(); ++r) names << Cell(r, qvResultModel::kName);
    return names;
  }
  void Click(const char* name) {
    auto* button = Control<QAbstractButton>(name);
    ASSERT_NE(button, nullptr) << name;
    QTest::mouseClick(button, Qt::LeftButton);
  }
  void ClickRow(int row, Qt::KeyboardModifiers modifiers = {}) {
    QModelIndex index = Model()->index(row, qvResultModel::kName);
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, modifiers, List()->visualRect(index).center());
  }
  // Clicks a header section and waits for the engine's new order.
  bool ClickHeader(int section) {
    QSignalSpy applied(window_.get(), &qvSearchMainUi::sortApplied);
    QHeaderView* header = List()->horizontalHeader();
    int x = header->sectionViewportPosition(section) + header->sectionSize(section) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    return WaitUntil([&] { return applied.count() > 0; });
  }
  void FocusList() {
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    List()->setFocus();
  }

  QTemporaryDir trees_;
  QString root_;
  AppFolder app_;
  qvSkinArchive skin_;
  std::unique_ptr<qvSearchMainUi> window_;
};

// --- categories ----------------------------------------------------------------

TEST_F(ResultListTest, EachCategoryListsExactlyItsFilesWhenSomeExtensionsAreMissing) {
  Open();
  struct Category {
    const char* option;
    QStringList files;  // in the category's extension order
  };
  const Category categories[] = {
      {"filter_pic", {"a.jpg", "c.gif"}},            // no png
      {"filter_doc", {"Letter.docx", "notes.txt", "manual.pdf"}},  // no doc, xls, log, et, html, htm
      {"filter_video", {}},                          // none at all
      {"filter_zip", {"y.zip"}},                     // no rar, 7z
      {"filter_exe", {"tool.exe"}},
  };
  for (const Category& c : categories) {
    SCOPED_TRACE(c.option);
    Click(c.option);
    ASSERT_TRUE(WaitUntil([&] { return Names() == c.files; })) << Names().join(u' ').toStdString();
    QTest::qWait(50);  // and nothing after it
    EXPECT_EQ(Names(), c.files);
  }
}

TEST_F(ResultListTest, LiveChangeRebuildsTheShownCategoryWithoutDuplicates) {
  Open();
  if (!WaitUntil([&] { return Config()->QueryValue("following") == 1; }, 10000))
    GTEST_SKIP() << "the engine cannot follow live changes here (no inotify or fanotify)";
  Click("filter_pic");
  ASSERT_TRUE(WaitForRows(2));
  MakeFile(root_, QStringLiteral("pics/b.png"), 10);
  ASSERT_TRUE(WaitUntil([&] { return Model()->rowCount() == 3; }));
  QTest::qWait(1500);  // a second round of the monitor must not add rows again
  EXPECT_EQ(Names(), (QStringList{"a.jpg", "b.png", "c.gif"}));
  MakeFile(root_, QStringLiteral("pics/d.jpg"), 10);
  ASSERT_TRUE(WaitUntil([&] { return Model()->rowCount() == 4; }));
  EXPECT_EQ(Names(), (QStringList{"a.jpg", "d.jpg", "b.png", "c.gif"}));
}

// --- the ways of searching ----------------------------------------------------

TEST_F(ResultListTest, SearchBoxFindsWholeNamesPathsPinyinAndItsSwitchesTakeEffect) {
  MakeFile(root_, QStringLiteral(".config/secret.txt"), 1);
  MakeFile(root_, QString::fromUtf8("docs/报告.txt"), 1);
  Open();
  auto rowsFor = [&](const QString& text, int rows) {
    Search(text);
    return WaitForRows(rows);
  };
  EXPECT_TRUE(rowsFor(QStringLiteral("*.pdf"), 1));  // the hint the window shows
  EXPECT_TRUE(rowsFor(QStringLiteral("manual.pdf"), 1));
  EXPECT_TRUE(rowsFor(QStringLiteral("docs/notes"), 1));
  EXPECT_TRUE(rowsFor(QStringLiteral("regex:^[a-c]\\."), 2));
  Search(QStringLiteral("regex:(a"));
  EXPECT_TRUE(WaitUntil([&] { return Status().contains(QString::fromUtf8("正则表达式无效")); })) << Status().toStdString();
  EXPECT_EQ(Model()->rowCount(), 0);

  // Each switch flips at a click, is kept in qvConfig.ini and searches again.
  auto trigger = [&](const char* name) {
    auto* action = window_->findChild<QAction*>(QLatin1String(name));
    ASSERT_NE(action, nullptr) << name;
    action->trigger();
  };
  EXPECT_TRUE(rowsFor(QStringLiteral("secret"), 1));
  trigger("search_mode_hidden");
  EXPECT_TRUE(WaitUntil([&] { return Model()->rowCount() == 0; }));
  EXPECT_FALSE(window_->Engine() == nullptr);
  EXPECT_EQ(Config()->QueryValue("show_hidden"), 0);
  EXPECT_TRUE(rowsFor(QStringLiteral("bg"), 1));
  trigger("search_mode_pinyin");
  EXPECT_TRUE(WaitUntil([&] { return Model()->rowCount() == 0; }));
  EXPECT_TRUE(rowsFor(QStringLiteral("letter"), 1));
  trigger("search_mode_case");
  EXPECT_TRUE(WaitUntil([&] { return Model()->rowCount() == 0; }));
  EXPECT_TRUE(rowsFor(QStringLiteral("Letter"), 1));
  QString ini = QString::fromUtf8(ReadFile(app_.Path(QStringLiteral("qvConfig.ini"))));
  EXPECT_TRUE(ini.contains(QStringLiteral("match_case=1")) && ini.contains(QStringLiteral("pinyin=0")) &&
              ini.contains(QStringLiteral("hidden=0")))
      << ini.toStdString();

  // The settings window brings back the test by base name.
  CSettingWnd* settings = window_->SettingsWindow();
  ASSERT_NE(settings, nullptr);
  ASSERT_NE(settings->BaseNameBox(), nullptr);
  settings->BaseNameBox()->setChecked(true);
  QTest::mouseClick(settings->findChild<QAbstractButton*>(QStringLiteral("btn_ok")), Qt::LeftButton);
  EXPECT_EQ(Config()->QueryValue("whole_name"), 0);
  EXPECT_TRUE(rowsFor(QStringLiteral("*.docx"), 0));
  EXPECT_TRUE(rowsFor(QStringLiteral("Letter"), 1));
}

// --- sorting -------------------------------------------------------------------

TEST_F(ResultListTest, HeadersSortByEachColumnBothWaysThenBackToTheSearchOrder) {
  // Distinct sizes and times.
  const char* names[] = {"pics/a.jpg", "pics/c.gif", "docs/manual.pdf", "docs/Letter.docx", "docs/notes.txt",
                         "arch/y.zip", "bin/tool.exe"};
  time_t base = 1600000000;
  for (size_t i = 0; i < std::size(names); ++i) {
    QByteArray path = QFile::encodeName(root_ + u'/' + QLatin1String(names[i]));
    time_t m = base + static_cast<time_t>((i * 5) % 7) * 1000, a = base + static_cast<time_t>((i * 3) % 7) * 777;
    struct timespec times[2] = {{a, 0}, {m, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.constData(), times, 0), 0);
  }
  Open();
  Search(QStringLiteral("*?"));
  ASSERT_TRUE(WaitForRows(12));  // the root, 4 folders, 7 files
  QStringList storeOrder = Names();
  int folders = window_->Engine()->GetFolderResultCount();
  ASSERT_EQ(folders, 5);

  auto statKey = [&](int row, int column) -> qint64 {
    struct stat st;
    EXPECT_EQ(lstat(QFile::encodeName(Path(row)).constData(), &st), 0);
    switch (column) {
      case qvResultModel::kSize: return st.st_size;
      case qvResultModel::kModified: return st.st_mtime;
      case qvResultModel::kAccessed: return st.st_atime;
      default: return 0;
    }
  };
  QHeaderView* header = List()->horizontalHeader();
  for (int column : {qvResultModel::kSize, qvResultModel::kModified, qvResultModel::kAccessed, qvResultModel::kName}) {
    SCOPED_TRACE(column);
    for (bool reverse : {false, true}) {
      ASSERT_TRUE(ClickHeader(column));
      EXPECT_EQ(window_->SortSection(), column);
      EXPECT_EQ(header->sortIndicatorSection(), column);
      EXPECT_EQ(header->sortIndicatorOrder(), reverse ? Qt::DescendingOrder : Qt::AscendingOrder);
      // Folders first, then the files in the column's order.
      for (int r = 0; r < folders; ++r) EXPECT_TRUE(Cell(r, qvResultModel::kSize).isEmpty()) << r;
      for (int r = folders + 1; r < Model()->rowCount(); ++r) {
        if (column == qvResultModel::kName) {
          int d = Cell(r - 1, column).compare(Cell(r, column), Qt::CaseInsensitive);
          EXPECT_TRUE(reverse ? d >= 0 : d <= 0) << Cell(r - 1, column).toStdString() << " " << Cell(r, column).toStdString();
        } else {
          qint64 before = statKey(r - 1, column), after = statKey(r, column);
          EXPECT_TRUE(reverse ? before >= after : before <= after) << r;
        }
      }
    }
    // The third click: the search's own order, no arrow.
    QSignalSpy counted(Model(), &qvResultModel::itemCountApplied);
    QHeaderView* h = header;
    int x = h->sectionViewportPosition(column) + h->sectionSize(column) / 2;
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(x, h->height() / 2));
    ASSERT_TRUE(WaitUntil([&] { return counted.count() > 0; }));
    EXPECT_EQ(window_->SortSection(), -1);
    EXPECT_EQ(header->sortIndicatorSection(), -1);
    EXPECT_EQ(Names(), storeOrder);
  }
  // The order outlives a new search: the largest file first.
  ASSERT_TRUE(ClickHeader(qvResultModel::kSize));
  ASSERT_TRUE(ClickHeader(qvResultModel::kSize));
  QSignalSpy applied(window_.get(), &qvSearchMainUi::sortApplied);
  Search(QStringLiteral("*?*"));
  ASSERT_TRUE(WaitUntil([&] { return applied.count() > 0; }));
  EXPECT_EQ(Cell(folders, qvResultModel::kName), "y.zip");
  EXPECT_EQ(Cell(folders + 1, qvResultModel::kName), "manual.pdf");
}

// --- selection, copying, dragging ------------------------------------------------

TEST_F(ResultListTest, SelectionCopiesAndDragsTheFullPathsAsTextAndUris) {
  MakeFile(root_, QString::fromUtf8("docs/报告 1%.txt"), 3);
  Open();
  Click("filter_doc");
  ASSERT_TRUE(WaitForRows(4));
  FocusList();
  ClickRow(0);
  ClickRow(2, Qt::ControlModifier);
  EXPECT_EQ(window_->SelectedRows(), (QList<int>{0, 2}));
  ClickRow(3, Qt::ShiftModifier);
  EXPECT_EQ(window_->SelectedRows(), (QList<int>{0, 2, 3}));
  QTest::keyClick(List(), Qt::Key_A, Qt::ControlModifier);
  ASSERT_EQ(window_->SelectedRows(), (QList<int>{0, 1, 2, 3}));

  QStringList paths;
  QByteArray uris;
  for (int r = 0; r < 4; ++r) paths << Path(r);
  for (const QString& p : paths) uris += "file://" + QFile::encodeName(p).toPercentEncoding("/") + "\r\n";
  EXPECT_TRUE(uris.contains("%E6%8A%A5%E5%91%8A%201%25.txt"));

  QApplication::clipboard()->clear();
  QTest::keyClick(List(), Qt::Key_C, Qt::ControlModifier);
  const QMimeData* copied = QApplication::clipboard()->mimeData();
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(copied->text(), paths.join(u'\n'));
  EXPECT_EQ(copied->data(QStringLiteral("text/uri-list")), uris);
  EXPECT_EQ(copied->urls().size(), 4);
  EXPECT_EQ(copied->urls().at(0).toLocalFile(), paths.at(0));
  EXPECT_TRUE(copied->data(QStringLiteral("x-special/gnome-copied-files")).startsWith("copy\nfile://"));

  // A drag carries the same, one entry per row whatever cells it holds.
  EXPECT_TRUE(Model()->flags(Model()->index(0, 0)) & Qt::ItemIsDragEnabled);
  EXPECT_TRUE(Model()->mimeTypes().contains(QStringLiteral("text/uri-list")));
  std::unique_ptr<QMimeData> dragged(Model()->mimeData(List()->selectionModel()->selectedIndexes()));
  ASSERT_TRUE(dragged);
  EXPECT_EQ(dragged->text(), paths.join(u'\n'));
  EXPECT_EQ(dragged->data(QStringLiteral("text/uri-list")), uris);
  EXPECT_TRUE(List()->dragEnabled());
}

TEST_F(ResultListTest, EnterOpensEverySelectedRowAndKeysReachTheMenuAndTheSearchBox) {
  OpenerStub opener;
  Open();
  Click("filter_pic");
  ASSERT_TRUE(WaitForRows(2));
  FocusList();
  QTest::keyClick(List(), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(List(), Qt::Key_Return);
  ASSERT_FALSE(opener.WaitForCall(2).isEmpty());
  QStringList calls = opener.Calls();
  calls.sort();
  EXPECT_EQ(calls, (QStringList{Path(0), Path(1)}));

  // The Menu key and Shift+F10 open the row's menu.
  for (auto [key, modifiers] : {std::pair{Qt::Key_Menu, Qt::KeyboardModifiers()}, std::pair{Qt::Key_F10, Qt::KeyboardModifiers(Qt::ShiftModifier)}}) {
    QString shown;
    QTimer::singleShot(100, [&] {
      if (QWidget* popup = QApplication::activePopupWidget()) {
        shown = popup->objectName();
        popup->close();
      }
    });
    List()->setCurrentIndex(Model()->index(1, 0));
    QTest::keyClick(List(), key, modifiers);
    EXPECT_EQ(shown, "item_menu");
  }
  // Ctrl+L and F3 go back to the search box.
  List()->setFocus();
  QTest::keyClick(List(), Qt::Key_L, Qt::ControlModifier);
  EXPECT_TRUE(Edit()->hasFocus());
  List()->setFocus();
  QTest::keyClick(List(), Qt::Key_F3);
  EXPECT_TRUE(Edit()->hasFocus());
}

TEST_F(ResultListTest, AnItemThatCannotBeOpenedSaysWhy) {
  OpenerStub opener;
  Open();
  Click("filter_zip");
  ASSERT_TRUE(WaitForRows(1));
  // Gone since it was indexed.
  ASSERT_TRUE(QFile::remove(root_ + QStringLiteral("/arch/y.zip")));
  FocusList();
  List()->selectRow(0);
  QTest::keyClick(List(), Qt::Key_Return);
  EXPECT_TRUE(window_->OpenErrorText().contains(QString::fromUtf8("已不存在"))) << window_->OpenErrorText().toStdString();
  EXPECT_TRUE(opener.Calls().isEmpty());

  // No program takes the type: xdg-open ends with status 3.
  WriteFile(opener.Script(), "#!/bin/sh\nexit 3\n");
  Click("filter_exe");
  ASSERT_TRUE(WaitForRows(1));
  List()->selectRow(0);
  QTest::keyClick(List(), Qt::Key_Return);
  ASSERT_TRUE(WaitUntil([&] { return window_->OpenErrorText().contains(QString::fromUtf8("没有可以打开此类文件的程序")); }));
  EXPECT_TRUE(window_->OpenErrorText().contains(QStringLiteral("tool.exe")));
}

// --- the file manager over the session bus --------------------------------------

// A stand-in file manager: records what ShowItems was given and answers.
class StandInFileManager : public QDBusVirtualObject {
 public:
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != QLatin1String("ShowItems")) return false;
    calls << message.arguments().value(0).toStringList();
    connection.send(message.createReply());
    return true;
  }
  QString introspect(const QString&) const override { return QString(); }
  QList<QStringList> calls;
};

// A private session bus for the test, ended with it.
class SessionBus {
 public:
  SessionBus() {
    QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) return;
    process_.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!process_.waitForStarted(5000)) return;
    WaitUntil([&] { return process_.canReadLine() || process_.state() != QProcess::Running; }, 10000);
    address_ = QString::fromUtf8(process_.readLine()).trimmed();
    old_ = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
  }
  ~SessionBus() {
    if (!address_.isEmpty()) qputenv("DBUS_SESSION_BUS_ADDRESS", old_);
    process_.kill();
    process_.waitForFinished(5000);
  }
  const QString& Address() const { return address_; }

 private:
  QProcess process_;
  QString address_;
  QByteArray old_;
};

TEST_F(ResultListTest, CtrlEnterShowsTheItemsInTheFileManagerOrOpensTheirFolders) {
  SessionBus bus;
  if (bus.Address().isEmpty()) GTEST_SKIP() << "dbus-daemon is missing or did not start (tools/install-deps.sh installs it)";
  QDBusConnection fm = QDBusConnection::connectToBus(bus.Address(), QStringLiteral("stand-in-file-manager"));
  ASSERT_TRUE(fm.isConnected());
  StandInFileManager service;
  ASSERT_TRUE(fm.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), &service));
  ASSERT_TRUE(fm.registerService(QStringLiteral("org.freedesktop.FileManager1")));

  OpenerStub opener;
  MakeFile(root_, QStringLiteral("pics/x y.jpg"), 1);
  Open();
  Click("filter_pic");
  ASSERT_TRUE(WaitForRows(3));
  FocusList();
  ClickRow(0);
  ClickRow(2, Qt::ControlModifier);
  QTest::keyClick(List(), Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(WaitUntil([&] { return !service.calls.isEmpty(); }));
  QStringList expected;
  for (int r : {0, 2}) expected << QString::fromLatin1("file://" + QFile::encodeName(Path(r)).toPercentEncoding("/"));
  EXPECT_EQ(service.calls.at(0), expected);
  EXPECT_TRUE(opener.Calls().isEmpty());

  fm.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
  // Nobody answers now: the folder that holds the items opens instead.
  QTest::keyClick(List(), Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(opener.WaitForCall(1), root_ + QStringLiteral("/pics/"));
  EXPECT_EQ(service.calls.size(), 1);
  fm.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
  QDBusConnection::disconnectFromBus(QStringLiteral("stand-in-file-manager"));
}

TEST_F(ResultListTest, CtrlEnterWithoutASessionBusOpensTheFolders) {
  QByteArray old = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  OpenerStub opener;
  Open();
  Click("filter_zip");
  ASSERT_TRUE(WaitForRows(1));
  FocusList();
  List()->selectRow(0);
  QTest::keyClick(List(), Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(opener.WaitForCall(1), root_ + QStringLiteral("/arch/"));
  if (!old.isEmpty()) qputenv("DBUS_SESSION_BUS_ADDRESS", old);
}

// --- the menu without a tray ------------------------------------------------------

TEST_F(ResultListTest, MenuButtonOpensTheTrayMenuWithinTheScreen) {
  Open();
  auto* button = Control<QAbstractButton>("menubtn");
  ASSERT_NE(button, nullptr);
  Click("menubtn");
  CTrayMenu* menu = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (menu = window_->findChild<CTrayMenu*>()) && menu->isVisible(); }));
  for (const char* name : {"menu_seting", "check_update", "menu_feedback", "menu_about", "tray_close"})
    EXPECT_NE(menu->findChild<QAbstractButton*>(QLatin1String(name)), nullptr) << name;
  QRect area = window_->screen()->availableGeometry();
  EXPECT_TRUE(area.contains(menu->frameGeometry())) ;
  EXPECT_EQ(menu->y(), std::min(button->mapToGlobal(QPoint(0, button->height())).y(), area.bottom() + 1 - menu->height()));
  // An item does what it does from the tray.
  QTest::mouseClick(menu->findChild<QAbstractButton*>(QStringLiteral("menu_seting")), Qt::LeftButton);
  EXPECT_TRUE(window_->SettingsWindow()->isVisible());

  // A tray in the bottom right corner: the menu stays on the screen.
  QPointer<CTrayMenu> corner = CTrayMenu::Open(window_.get(), window_->MenuSkin(), area.bottomRight());
  ASSERT_TRUE(corner);
  EXPECT_TRUE(area.contains(corner->frameGeometry()));
  EXPECT_EQ(corner->geometry().right(), area.right());
  corner->close();
}

// --- remembered between runs ------------------------------------------------------

TEST_F(ResultListTest, GeometryColumnsAndOrderAreRestoredAfterARestart) {
  Open();
  window_->setGeometry(40, 50, 900, 600);
  List()->setColumnWidth(qvResultModel::kFolder, 321);
  window_->SetSortOrder(qvResultModel::kModified, true);
  Click("closebtn");
  ASSERT_TRUE(WaitUntil([&] { return window_->TornDown(); }));
  QString ini = QString::fromUtf8(ReadFile(app_.Path(QStringLiteral("qvConfig.ini"))));
  EXPECT_TRUE(ini.contains(QStringLiteral("geometry=40,50,900,600"))) << ini.toStdString();
  window_.reset();

  Open();
  EXPECT_EQ(window_->geometry(), QRect(40, 50, 900, 600));
  EXPECT_EQ(List()->columnWidth(qvResultModel::kFolder), 321);
  EXPECT_EQ(List()->columnWidth(qvResultModel::kName), 200);
  EXPECT_EQ(window_->SortSection(), qvResultModel::kModified);
  EXPECT_TRUE(window_->SortReverse());
  EXPECT_EQ(List()->horizontalHeader()->sortIndicatorSection(), qvResultModel::kModified);

  // Maximised: it comes back maximised, and restores to the size it had.
  Click("maxbtn");
  window_->close();  // the window manager's close saves too
  window_.reset();
  Open();
  EXPECT_TRUE(window_->IsMaximised());
  EXPECT_EQ(window_->geometry(), window_->screen()->availableGeometry());
  Click("restorebtn");
  EXPECT_EQ(window_->geometry(), QRect(40, 50, 900, 600));
}

TEST_F(ResultListTest, BadWindowSettingsGiveTheDefaults) {
  WriteFile(app_.Path(QStringLiteral("qvConfig.ini")),
            ("[config]\nroots=" + root_ + "\n[window]\ngeometry=-90000,5,abc,7\ncolumns=10,x\nsort=99,1\n").toUtf8());
  Open();
  EXPECT_EQ(window_->size(), QSize(qvSearchMainUi::kWidth, qvSearchMainUi::kHeight));
  EXPECT_EQ(List()->columnWidth(qvResultModel::kName), 200);
  EXPECT_EQ(window_->SortSection(), -1);
}

TEST_F(ResultListTest, ProgressLineGoesOnceTheIndexIsReady) {
  Open();
  auto* progress = Control<QLabel>("search_progress");
  ASSERT_NE(progress, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return !progress->isVisible(); }));
  EXPECT_GT(Config()->QueryValue("scan_entries"), 7);
}

}  // namespace
