// The skin archive and the forms built from it.
#include <gtest/gtest.h>

#include <QLabel>
#include <QWidget>

#include <memory>

#include "AppTestSupport.h"
#include "ComputerExamineUI.h"
#include "qvSkinArchive.h"
#include "qvSkinLoader.h"

using namespace qvapptest;

namespace {

std::string Form(const std::string& body, const std::string& customClass = "") {
  std::string custom = customClass.empty()
                           ? std::string()
                           : "<customwidgets><customwidget><class>" + customClass +
                                 "</class><extends>QWidget</extends><header>x.h</header></customwidget></customwidgets>";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ui version=\"4.0\"><widget class=\"QWidget\" name=\"root\">"
         "<layout class=\"QVBoxLayout\" name=\"l\">" + body + "</layout></widget>" + custom + "</ui>";
}

std::string Item(const std::string& cls, const std::string& name) {
  return "<item><widget class=\"" + cls + "\" name=\"" + name + "\"/></item>";
}

const std::string kPanelForm = Form(Item("QLabel", "panel_label"));

TEST(SkinArchive, RoundTripsAndRefusesDamagedArchives) {
  std::map<std::string, std::string> files = {{"skin.xml", "<ui/>"}, {"empty", ""}, {"bin", std::string("\0\1\2", 3)}};
  std::string bytes = qvSkinArchive::Build(files);
  qvSkinArchive archive;
  ASSERT_TRUE(archive.Parse(bytes));
  EXPECT_EQ(archive.Find("bin"), files["bin"]);
  EXPECT_EQ(archive.Find("empty"), std::string());
  EXPECT_FALSE(archive.Find("Skin.xml"));

  for (size_t cut : {bytes.size() - 1, size_t(12), size_t(3)}) {
    EXPECT_FALSE(archive.Parse(bytes.substr(0, cut))) << cut;
    EXPECT_TRUE(archive.Empty());
  }
  EXPECT_FALSE(archive.Parse(bytes + "x"));
  std::string huge = bytes;
  huge[12] = '\xff';  // first name length runs past the end
  EXPECT_FALSE(archive.Parse(huge));
  EXPECT_FALSE(archive.Load("/nonexistent/skin.dat"));
}

TEST(SkinLoader, ComputerExamineElementBecomesAFilledPanel) {
  qvSkinArchive archive;
  ASSERT_TRUE(archive.Parse(qvSkinArchive::Build(
      {{"skin.xml", Form(Item("ComputerExamine", "examine"), "ComputerExamine")}, {"ComputerExamine.xml", kPanelForm}})));
  qvSkinLoader loader(archive);
  std::unique_ptr<QWidget> root(loader.Build("skin.xml", nullptr));
  ASSERT_TRUE(root);
  auto* panel = root->findChild<ComputerExamineUI*>(QStringLiteral("examine"));
  ASSERT_NE(panel, nullptr);
  EXPECT_NE(panel->findChild<QLabel*>(QStringLiteral("panel_label")), nullptr);
}

TEST(SkinLoader, PanelStaysEmptyWithoutItsForm) {
  qvSkinArchive archive;
  ASSERT_TRUE(archive.Parse(
      qvSkinArchive::Build({{"skin.xml", Form(Item("ComputerExamine", "examine"), "ComputerExamine")},
                            {"ComputerExamine.xml", "<ui version=\"4.0\"><broken"}})));
  qvSkinLoader loader(archive);
  std::unique_ptr<QWidget> root(loader.Build("skin.xml", nullptr));
  ASSERT_TRUE(root);
  auto* panel = root->findChild<ComputerExamineUI*>(QStringLiteral("examine"));
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->findChildren<QWidget*>().isEmpty());
}

TEST(SkinLoader, OnlyTheExactClassNameIsTheCustomPanel) {
  qvSkinArchive archive;
  ASSERT_TRUE(archive.Parse(qvSkinArchive::Build(
      {{"skin.xml", Form(Item("computerexamine", "lower"), "computerexamine")}, {"ComputerExamine.xml", kPanelForm}})));
  qvSkinLoader loader(archive);
  std::unique_ptr<QWidget> root(loader.Build("skin.xml", nullptr));
  ASSERT_TRUE(root);
  EXPECT_TRUE(root->findChildren<ComputerExamineUI*>().isEmpty());
  EXPECT_EQ(root->findChild<QLabel*>(QStringLiteral("panel_label")), nullptr);
}

TEST(SkinLoader, PanelFormCannotNestThePanel) {
  // A panel form naming the panel again would recurse without end.
  qvSkinArchive archive;
  std::string self = Form(Item("ComputerExamine", "inner") + Item("QLabel", "panel_label"), "ComputerExamine");
  ASSERT_TRUE(archive.Parse(qvSkinArchive::Build(
      {{"skin.xml", Form(Item("ComputerExamine", "outer"), "ComputerExamine")}, {"ComputerExamine.xml", self}})));
  qvSkinLoader loader(archive);
  std::unique_ptr<QWidget> root(loader.Build("skin.xml", nullptr));
  ASSERT_TRUE(root);
  EXPECT_EQ(root->findChildren<ComputerExamineUI*>().size(), 1);
  EXPECT_NE(root->findChild<QLabel*>(QStringLiteral("panel_label")), nullptr);
}

TEST(SkinLoader, BuiltSkinHoldsEveryNamedControl) {
  qvSkinArchive archive;
  ASSERT_TRUE(archive.Load(QV_APP_DIR "skin.dat"));
  ASSERT_TRUE(archive.Find("skin.qss"));
  qvSkinLoader loader(archive);
  std::unique_ptr<QWidget> main(loader.Build("skin.xml", nullptr));
  ASSERT_TRUE(main);
  for (const char* name : {"closebtn", "maxbtn", "restorebtn", "minbtn", "search_root_disk", "search_input_edit",
                           "filter_all", "filter_dir", "filter_pic", "filter_doc", "filter_video", "filter_audio",
                           "filter_zip", "filter_exe"})
    EXPECT_NE(main->findChild<QWidget*>(QLatin1String(name)), nullptr) << name;
  EXPECT_EQ(main->findChildren<ComputerExamineUI*>().size(), 1);
  std::unique_ptr<QWidget> settings(loader.Build("setting.xml", nullptr));
  ASSERT_TRUE(settings);
  for (const char* name : {"option_autorun", "btn_ok", "closebtn"})
    EXPECT_NE(settings->findChild<QWidget*>(QLatin1String(name)), nullptr) << name;
}

}  // namespace
