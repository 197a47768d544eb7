// The search window over the real engine plugin indexing temporary trees:
// typing, the type filters, the two lists, opening rows, the window's own
// buttons and its two ways of closing.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QTableView>

#include <algorithm>
#include <map>
#include <memory>

#include "AppTestSupport.h"
#include "CQvSearchNotify.h"
#include "ComputerExamineUI.h"
#include "qvFormat.h"
#include "qvItemMenu.h"
#include "qvResultModel.h"
#include "qvSearchMainUi.h"
#include "qvSkinArchive.h"
#include "qvVolumeModel.h"

using namespace qvapptest;

namespace {

// FILETIME of a stat time.
uint64_t FileTime(const struct timespec& t) {
  return (static_cast<uint64_t>(t.tv_sec) + 11644473600ULL) * 10000000ULL + static_cast<uint64_t>(t.tv_nsec) / 100;
}

QString FromUtf8(const std::string& s) { return QString::fromStdString(s); }

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = trees_.path() + QStringLiteral("/tree");
    second_ = trees_.path() + QStringLiteral("/second");
    MakeFile(root_, QStringLiteral("docs/report-2024.pdf"), 1023);
    MakeFile(root_, QStringLiteral("docs/.hidden-report.txt"), 1024);
    MakeFile(root_, QStringLiteral("docs/letter.doc"));
    MakeFile(root_, QStringLiteral("docs/letter.docx"));
    MakeFile(root_, QStringLiteral("docs/budget.xls"));
    MakeFile(root_, QStringLiteral("docs/notes.pdf.txt"));
    MakeFile(root_, QStringLiteral("docs/run.log"));
    MakeFile(root_, QStringLiteral("docs/sheet.et"));
    MakeFile(root_, QStringLiteral("docs/page.html"));
    MakeFile(root_, QStringLiteral("docs/page.htm"));
    MakeFile(root_, QStringLiteral("docs/manual.pdf"), 1048576);
    MakeFile(root_, QStringLiteral("pics/a.jpg"));
    MakeFile(root_, QStringLiteral("pics/b.png"));
    MakeFile(root_, QStringLiteral("pics/c.gif"));
    MakeFile(root_, QStringLiteral("pics/jpg-notes.md"));
    MakeFile(root_, QStringLiteral("media/film.avi"));
    MakeFile(root_, QStringLiteral("media/film.rmvb"));
    MakeFile(root_, QStringLiteral("media/clip.mp4"));
    MakeFile(root_, QStringLiteral("media/song.mp3"));
    MakeFile(root_, QStringLiteral("arch/x.rar"));
    MakeFile(root_, QStringLiteral("arch/y.zip"));
    MakeFile(root_, QStringLiteral("arch/z.7z"));
    MakeFile(root_, QStringLiteral("bin/tool.exe"));
    MakeFile(root_, QStringLiteral("bin/run.bat"));
    MakeFile(root_, QStringLiteral("bin/go.cmd"));
    MakeFile(root_, QStringLiteral("bin/lib.dll"));
    QDir().mkpath(root_ + QStringLiteral("/reports"));
    MakeFile(second_, QStringLiteral("pics/d.png"));
    app_.SetRoots({root_, second_});
  }

  void TearDown() override { window_.reset(); }

  // Opens the window over `app` (the default folder unless given) and
  // waits for its engine to be ready.
  void Open(AppFolder* app = nullptr, const std::map<std::string, std::string>* skinFiles = nullptr) {
    AppFolder& folder = app ? *app : app_;
    if (skinFiles) ASSERT_TRUE(skin_.Parse(qvSkinArchive::Build(*skinFiles)));
    else ASSERT_TRUE(skin_.Load(QFile::encodeName(folder.Path(QStringLiteral("skin.dat"))).toStdString()));
    window_ = std::make_unique<qvSearchMainUi>(folder.Folder());
    ASSERT_TRUE(window_->Create(skin_));
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    if (window_->Engine()) {
      auto* config = static_cast<IQvSearchConfig*>(
          window_->Engine()->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
      ASSERT_NE(config, nullptr);
      ASSERT_TRUE(WaitUntil([&] { return config->QueryValue("ready") == 1; }));
      // The engine answers the (empty) stored search once it is ready.
      QTest::qWait(0);
    }
  }

  template <typename T>
  T* Control(const char* name) const {
    return window_->findChild<T*>(QLatin1String(name));
  }
  QLineEdit* Edit() const { return Control<QLineEdit>("search_input_edit"); }
  qvResultModel* Model() const { return window_->ResultModel(); }
  QString Status() const { return Control<QLabel>("search_root_disk")->text(); }

  void Type(const QString& text) { QTest::keyClicks(Edit(), text); }

  // Waits for the result to settle at `rows` with its status line.
  bool WaitForRows(int rows) {
    // Typing has queued every answer already: let them all arrive first.
    QCoreApplication::processEvents();
    QString status = QString::fromUtf8("%1 个结果!").arg(rows);
    return WaitUntil([&] { return Model()->rowCount() == rows && Status() == status; });
  }

  QString Cell(int row, int column) const { return Model()->data(Model()->index(row, column), Qt::DisplayRole).toString(); }

  int RowNamed(const QString& name) const {
    for (int r = 0; r < Model()->rowCount(); ++r)
      if (Cell(r, qvResultModel::kName) == name) return r;
    return -1;
  }

  QStringList Names() const {
    QStringList names;
    for (int r = 0; r < Model()->rowCount(); ++r) names << Cell(r, qvResultModel::kName);
    return names;
  }

  void DoubleClick(QTableView* view, int row, int column) {
    QModelIndex index = view->model()->index(row, column);
    view->scrollTo(index);
    QPoint at = view->visualRect(index).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
  }

  void Click(const char* name) {
    auto* button = Control<QAbstractButton>(name);
    ASSERT_NE(button, nullptr) << name;
    QTest::mouseClick(button, Qt::LeftButton);
  }

  QTemporaryDir trees_;
  QString root_, second_;
  AppFolder app_;
  qvSkinArchive skin_;
  std::unique_ptr<qvSearchMainUi> window_;
};

// --- searching -------------------------------------------------------------

TEST_F(WindowTest, TypingShowsTheMatchesWithTheirCellTexts) {
  Open();
  EXPECT_TRUE(window_->VolumeList()->isVisible());
  Type(QStringLiteral("report"));
  ASSERT_TRUE(WaitForRows(3));
  EXPECT_TRUE(window_->ResultList()->isVisible());
  EXPECT_FALSE(window_->VolumeList()->isVisible());

  // Folders come first.
  EXPECT_EQ(Cell(0, qvResultModel::kName), "reports");
  EXPECT_EQ(Cell(0, qvResultModel::kFolder), root_ + u'/');
  EXPECT_EQ(Cell(0, qvResultModel::kSize), "");
  EXPECT_EQ(Cell(0, qvResultModel::kAttributes), QString::fromUtf8("[普通]文件夹"));

  int pdf = RowNamed(QStringLiteral("report-2024.pdf"));
  int hidden = RowNamed(QStringLiteral(".hidden-report.txt"));
  ASSERT_GE(pdf, 1);
  ASSERT_GE(hidden, 1);
  EXPECT_EQ(Cell(pdf, qvResultModel::kFolder), root_ + QStringLiteral("/docs/"));
  EXPECT_EQ(Cell(pdf, qvResultModel::kSize), "1023 B");
  EXPECT_EQ(Cell(hidden, qvResultModel::kSize), "1.00 KB");
  EXPECT_EQ(Cell(pdf, qvResultModel::kAttributes), QString::fromUtf8("[普通]文件"));
  EXPECT_EQ(Cell(hidden, qvResultModel::kAttributes), QString::fromUtf8("[隐藏]文件"));

  struct stat st;
  ASSERT_EQ(stat(QFile::encodeName(root_ + QStringLiteral("/docs/report-2024.pdf")).constData(), &st), 0);
  EXPECT_EQ(Cell(pdf, qvResultModel::kModified), FromUtf8(qvFormatFileTime(FileTime(st.st_mtim))));
  EXPECT_EQ(Cell(pdf, qvResultModel::kAccessed), FromUtf8(qvFormatFileTime(FileTime(st.st_atim))));
  EXPECT_FALSE(Cell(pdf, qvResultModel::kCreated).isEmpty());
  EXPECT_FALSE(Model()->data(Model()->index(pdf, 0), Qt::DecorationRole).value<QIcon>().isNull());
  EXPECT_EQ(Model()->data(Model()->index(pdf, 0), Qt::ToolTipRole).toString(),
            root_ + QStringLiteral("/docs/report-2024.pdf"));

  // One more letter narrows the same result.
  Type(QStringLiteral("-2"));
  ASSERT_TRUE(WaitForRows(1));
  EXPECT_EQ(Cell(0, qvResultModel::kName), "report-2024.pdf");
}

TEST_F(WindowTest, ClearingTheBoxEmptiesTheList) {
  Open();
  Type(QStringLiteral("pdf"));
  ASSERT_TRUE(WaitUntil([&] { return Model()->rowCount() > 0; }));
  Edit()->selectAll();
  QTest::keyClick(Edit(), Qt::Key_Backspace);
  ASSERT_TRUE(WaitUntil([&] { return Model()->rowCount() == 0; }));
  EXPECT_TRUE(window_->ResultList()->isVisible());
  EXPECT_EQ(Cell(0, 0), "");
}

TEST_F(WindowTest, EachFilterListsExactlyItsFilesInExtensionOrder) {
  Open();
  struct Filter {
    const char* option;
    QStringList extensions;  // in search order
    QStringList files;       // every file of those extensions in both trees
  };
  const Filter filters[] = {
      {"filter_pic", {"jpg", "png", "gif"}, {"a.jpg", "b.png", "d.png", "c.gif"}},
      {"filter_doc",
       {"doc", "docx", "xls", "txt", "log", "pdf", "et", "html", "htm"},
       {"letter.doc", "letter.docx", "budget.xls", ".hidden-report.txt", "notes.pdf.txt", "run.log",
        "report-2024.pdf", "manual.pdf", "sheet.et", "page.html", "page.htm"}},
      {"filter_video", {"avi", "rmvb", "mp4"}, {"film.avi", "film.rmvb", "clip.mp4"}},
      {"filter_audio", {"mp3"}, {"song.mp3"}},
      {"filter_zip", {"rar", "zip", "7z"}, {"x.rar", "y.zip", "z.7z"}},
      {"filter_exe", {"exe", "bat", "cmd", "dll"}, {"tool.exe", "run.bat", "go.cmd", "lib.dll"}},
  };
  for (const Filter& f : filters) {
    SCOPED_TRACE(f.option);
    Click(f.option);
    EXPECT_TRUE(window_->ResultList()->isVisible());
    ASSERT_TRUE(WaitForRows(static_cast<int>(f.files.size())));
    QStringList names = Names();
    // Each extension's files form one block, in the filter's order.
    int block = 0;
    for (const QString& name : names) {
      int ext = static_cast<int>(f.extensions.indexOf(name.section(u'.', -1)));
      ASSERT_GE(ext, 0) << name.toStdString();
      EXPECT_GE(ext, block) << name.toStdString();
      block = ext;
    }
    QStringList sortedNames = names, sortedFiles = f.files;
    sortedNames.sort();
    sortedFiles.sort();
    EXPECT_EQ(sortedNames, sortedFiles);
  }
  Click("filter_all");
  EXPECT_TRUE(window_->VolumeList()->isVisible());
  EXPECT_FALSE(window_->ResultList()->isVisible());
  // Switching views keeps the result.
  EXPECT_EQ(Model()->rowCount(), 4);
}

TEST_F(WindowTest, TypedSearchIgnoresTheSelectedFilter) {
  Open();
  Click("filter_pic");
  ASSERT_TRUE(WaitForRows(4));
  // Names are matched without their extension; the typed text uses no
  // extension filter, so neither of these is a picture.
  Type(QStringLiteral("notes"));
  ASSERT_TRUE(WaitForRows(2));
  EXPECT_GE(RowNamed(QStringLiteral("jpg-notes.md")), 0);
  EXPECT_GE(RowNamed(QStringLiteral("notes.pdf.txt")), 0);
}

TEST_F(WindowTest, VolumeListShowsTheRoots) {
  Open();
  qvVolumeModel* volumes = window_->VolumeModel();
  ASSERT_TRUE(WaitUntil([&] { return volumes->rowCount() == 2; }));
  EXPECT_EQ(volumes->columnCount(), 6);
  EXPECT_EQ(volumes->item(0, 0)->text(), root_ + u'/');
  EXPECT_EQ(volumes->item(1, 0)->text(), second_ + u'/');
  EXPECT_FALSE(volumes->item(0, 0)->icon().isNull());
  EXPECT_EQ(volumes->headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("所在目录"));
}

TEST_F(WindowTest, ColumnsHaveTheirHeadersWidthsAndAlignments) {
  Open();
  QTableView* list = window_->ResultList();
  const char* headers[] = {"名称", "所在目录", "文件大小", "创建时间", "最近修改时间", "最近访问时间", "属性"};
  const int widths[] = {200, 500, 80, 150, 150, 150, 150};
  for (int c = 0; c < qvResultModel::kColumnCount; ++c) {
    EXPECT_EQ(Model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf8(headers[c]));
    EXPECT_EQ(list->columnWidth(c), widths[c]) << c;
  }
  auto alignment = [&](int c) {
    return Qt::Alignment(Model()->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).toInt()) & Qt::AlignHorizontal_Mask;
  };
  EXPECT_EQ(alignment(0), Qt::AlignLeft);
  EXPECT_EQ(alignment(2), Qt::AlignRight);
  EXPECT_EQ(alignment(4), Qt::AlignHCenter);
  EXPECT_EQ(alignment(6), Qt::AlignLeft);
  // The lists fill the rectangle the skin leaves free.
  EXPECT_EQ(list->geometry(), QRect(101, 95, window_->width() - 102, window_->height() - 120));
  EXPECT_EQ(window_->VolumeList()->geometry(), list->geometry());
}

TEST_F(WindowTest, EngineStatusLinesReachTheStatusText) {
  Open();
  CQvSearchNotify notify(window_.get());
  EXPECT_EQ(notify.QueryInterface(&IID_IQvSearchNotify, QV_SEARCH_VERSION), &notify);
  EXPECT_EQ(notify.QueryInterface(&IID_IQvSearch, QV_SEARCH_VERSION), nullptr);
  notify.OnStatus(7, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return Status() == QString::fromUtf8("7 个结果!"); }));
  notify.OnStatus(-1, "正在扫描(%s)盘，请稍候...", "/mnt/data/");
  ASSERT_TRUE(WaitUntil([&] { return Status() == QString::fromUtf8("正在扫描(/mnt/data/)盘，请稍候..."); }));
  notify.OnVolumeFound(0, u"/first/");
  ASSERT_TRUE(WaitUntil([&] { return window_->VolumeModel()->rowCount() == 3; }));
  EXPECT_EQ(window_->VolumeModel()->item(0, 0)->text(), "/first/");
}

// --- opening rows ------------------------------------------------------------

TEST_F(WindowTest, DoubleClickOpensByColumn) {
  OpenerStub opener;
  Open();
  Type(QStringLiteral("report"));
  ASSERT_TRUE(WaitForRows(3));
  QTableView* list = window_->ResultList();
  int pdf = RowNamed(QStringLiteral("report-2024.pdf"));
  QString pdfPath = root_ + QStringLiteral("/docs/report-2024.pdf");

  int calls = 0;
  DoubleClick(list, pdf, qvResultModel::kName);
  EXPECT_EQ(opener.WaitForCall(++calls), pdfPath);
  DoubleClick(list, pdf, qvResultModel::kFolder);
  EXPECT_EQ(opener.WaitForCall(++calls), pdfPath);
  DoubleClick(list, pdf, qvResultModel::kSize);
  EXPECT_EQ(opener.WaitForCall(++calls), root_ + QStringLiteral("/docs/"));
  for (int c : {qvResultModel::kCreated, qvResultModel::kModified, qvResultModel::kAccessed, qvResultModel::kAttributes})
    DoubleClick(list, pdf, c);
  // The folder row: its name opens it, its size column the folder holding it.
  DoubleClick(list, 0, qvResultModel::kName);
  EXPECT_EQ(opener.WaitForCall(++calls), root_ + QStringLiteral("/reports"));  // nothing came in between
  DoubleClick(list, 0, qvResultModel::kSize);
  EXPECT_EQ(opener.WaitForCall(++calls), root_ + u'/');
}

TEST_F(WindowTest, VolumeRootRowOpensTheRootFolder) {
  // A root's record is named by its root text without the final '/'; the
  // folder to open is that name with the '/' put back.
  OpenerStub opener;
  Open();
  Type(QStringLiteral("second"));
  ASSERT_TRUE(WaitForRows(1));
  ASSERT_EQ(Cell(0, qvResultModel::kFolder), "");
  EXPECT_EQ(Cell(0, qvResultModel::kName), second_);
  DoubleClick(window_->ResultList(), 0, qvResultModel::kSize);
  EXPECT_EQ(opener.WaitForCall(1), second_ + u'/');
  std::unique_ptr<QMenu> menu(qvBuildResultMenu(window_->Engine(), 0, window_.get()));
  ASSERT_TRUE(menu);
  EXPECT_FALSE(menu->findChild<QAction*>(QStringLiteral("menu_open_folder"))->isEnabled());
}

TEST_F(WindowTest, LaunchersOpenTheirTarget) {
  OpenerStub opener;
  WriteFile(root_ + QStringLiteral("/apps/editor.desktop"),
            ("[Desktop Entry]\nType=Application\nName=Editor\nExec=" + opener.Script() + " launched-from-desktop\n").toUtf8());
  QFile::link(root_ + QStringLiteral("/docs/manual.pdf"), root_ + QStringLiteral("/apps/manual.lnk"));
  Open();
  Type(QStringLiteral("editor"));
  ASSERT_TRUE(WaitForRows(1));
  DoubleClick(window_->ResultList(), 0, qvResultModel::kName);
  EXPECT_EQ(opener.WaitForCall(1), "launched-from-desktop");
  Edit()->clear();
  Type(QStringLiteral("manual"));
  ASSERT_TRUE(WaitForRows(2));
  ASSERT_GE(RowNamed(QStringLiteral("manual.lnk")), 0);
  DoubleClick(window_->ResultList(), RowNamed(QStringLiteral("manual.lnk")), qvResultModel::kName);
  EXPECT_EQ(opener.WaitForCall(2), root_ + QStringLiteral("/docs/manual.pdf"));
}

TEST_F(WindowTest, VolumeRowOpensTheVolume) {
  OpenerStub opener;
  Open();
  QTableView* volumes = window_->VolumeList();
  ASSERT_TRUE(WaitUntil([&] { return volumes->model()->rowCount() == 2; }));
  DoubleClick(volumes, 1, 1);  // an empty cell opens nothing
  DoubleClick(volumes, 1, 0);
  EXPECT_EQ(opener.WaitForCall(1), second_ + u'/');
}

TEST_F(WindowTest, KeyboardMovesIntoTheListAndEnterOpens) {
  OpenerStub opener;
  Open();
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  Edit()->setFocus();
  Type(QStringLiteral("report"));
  ASSERT_TRUE(WaitForRows(3));
  QTest::keyClick(Edit(), Qt::Key_Down);
  QTableView* list = window_->ResultList();
  EXPECT_TRUE(list->hasFocus());
  EXPECT_EQ(list->currentIndex().row(), 0);
  QTest::keyClick(list, Qt::Key_Down);
  int row = list->currentIndex().row();
  EXPECT_EQ(row, 1);
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_EQ(opener.WaitForCall(1), Cell(row, qvResultModel::kFolder) + Cell(row, qvResultModel::kName));
  QTest::keyClick(list, Qt::Key_Escape);
  EXPECT_TRUE(Edit()->hasFocus());
}

TEST_F(WindowTest, ContextMenuOffersTheItemsActions) {
  OpenerStub opener;
  Open();
  Type(QStringLiteral("report-2024"));
  ASSERT_TRUE(WaitForRows(1));
  std::unique_ptr<QMenu> menu(qvBuildResultMenu(window_->Engine(), 0, window_.get()));
  ASSERT_TRUE(menu);
  auto action = [&](const char* name) { return menu->findChild<QAction*>(QLatin1String(name)); };
  ASSERT_NE(action("menu_copy_path"), nullptr);
  action("menu_copy_path")->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), root_ + QStringLiteral("/docs/report-2024.pdf"));
  action("menu_copy_name")->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), "report-2024.pdf");
  action("menu_open_folder")->trigger();
  EXPECT_EQ(opener.WaitForCall(1), root_ + QStringLiteral("/docs/"));
  action("menu_open")->trigger();
  EXPECT_EQ(opener.WaitForCall(2), root_ + QStringLiteral("/docs/report-2024.pdf"));
  // A row past the result has no menu.
  EXPECT_EQ(qvBuildResultMenu(window_->Engine(), 1, window_.get()), nullptr);
}

// --- without an engine, with odd skins ----------------------------------------

TEST_F(WindowTest, MissingEngineLeavesAWorkingEmptyWindow) {
  AppFolder bare(false);
  bare.SetRoots({root_});
  Open(&bare);
  EXPECT_EQ(window_->Engine(), nullptr);
  EXPECT_FALSE(window_->Helper().GetErrorText().empty());
  EXPECT_FALSE(window_->TimersActive());
  Type(QStringLiteral("report"));
  Click("filter_doc");
  QTest::qWait(50);
  EXPECT_EQ(Model()->rowCount(), 0);
  EXPECT_EQ(window_->VolumeModel()->rowCount(), 0);
  EXPECT_EQ(Status(), QString::fromUtf8("就绪"));
  // The data folder is made all the same.
  EXPECT_TRUE(QFileInfo(bare.Path(QStringLiteral("data"))).isDir());
}

TEST_F(WindowTest, MaximiseSwapsTheButtons) {
  Open();
  QRect normal = window_->geometry();
  auto* maxBtn = Control<QAbstractButton>("maxbtn");
  auto* restoreBtn = Control<QAbstractButton>("restorebtn");
  EXPECT_TRUE(maxBtn->isVisible());
  EXPECT_FALSE(restoreBtn->isVisible());
  Click("maxbtn");
  EXPECT_TRUE(window_->IsMaximised());
  EXPECT_FALSE(maxBtn->isVisible());
  EXPECT_TRUE(restoreBtn->isVisible());
  EXPECT_EQ(window_->geometry(), window_->screen()->availableGeometry());
  EXPECT_EQ(window_->ResultList()->geometry(),
            QRect(101, 95, window_->width() - 102, window_->height() - 120));
  Click("restorebtn");
  EXPECT_FALSE(window_->IsMaximised());
  EXPECT_TRUE(maxBtn->isVisible());
  EXPECT_FALSE(restoreBtn->isVisible());
  EXPECT_EQ(window_->geometry(), normal);
}

TEST_F(WindowTest, SkinWithoutTheExaminePanelFormStillLoads) {
  qvSkinArchive built;
  ASSERT_TRUE(built.Load(QV_APP_DIR "skin.dat"));
  std::map<std::string, std::string> files = {{"skin.xml", *built.Find("skin.xml")},
                                              {"setting.xml", *built.Find("setting.xml")}};
  Open(nullptr, &files);
  auto* panel = window_->findChild<ComputerExamineUI*>();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->findChildren<QWidget*>().isEmpty());
  EXPECT_NE(Control<QAbstractButton>("closebtn"), nullptr);
}

TEST_F(WindowTest, SkinLackingControlsOnlyLosesTheirActions) {
  std::map<std::string, std::string> files = {
      {"skin.xml",
       "<?xml version=\"1.0\"?><ui version=\"4.0\"><widget class=\"QWidget\" name=\"r\"><layout class=\"QVBoxLayout\" "
       "name=\"l\"><item><widget class=\"QLineEdit\" name=\"search_input_edit\"/></item></layout></widget></ui>"}};
  Open(nullptr, &files);
  window_->Notify(QStringLiteral("click"), nullptr);
  window_->ShowStatus(QStringLiteral("no status control"));
  Type(QStringLiteral("report"));
  ASSERT_TRUE(WaitUntil([&] { return Model()->rowCount() == 3; }));
}

TEST_F(WindowTest, SkinWithoutAMainFormIsRefused) {
  std::map<std::string, std::string> files = {{"setting.xml", "<ui/>"}};
  ASSERT_TRUE(skin_.Parse(qvSkinArchive::Build(files)));
  qvSearchMainUi window(app_.Folder());
  EXPECT_FALSE(window.Create(skin_));
}

// --- closing -------------------------------------------------------------

TEST_F(WindowTest, CloseButtonReleasesTheEngineWhichSavesItsIndex) {
  Open();
  QSignalSpy quit(window_.get(), &qvSearchMainUi::quitRequested);
  Click("closebtn");
  ASSERT_TRUE(WaitUntil([&] { return quit.count() == 1; }));
  EXPECT_TRUE(window_->TornDown());
  EXPECT_EQ(window_->Engine(), nullptr);
  EXPECT_FALSE(window_->isVisible());
  EXPECT_FALSE(QDir(app_.Path(QStringLiteral("data"))).isEmpty());
}

TEST_F(WindowTest, WindowManagerCloseQuitsWithoutTheTeardown) {
  Open();
  QSignalSpy quit(window_.get(), &qvSearchMainUi::quitRequested);
  window_->close();
  EXPECT_EQ(quit.count(), 1);
  EXPECT_FALSE(window_->TornDown());
  EXPECT_NE(window_->Engine(), nullptr);
  EXPECT_TRUE(QDir(app_.Path(QStringLiteral("data"))).isEmpty());
}

}  // namespace
