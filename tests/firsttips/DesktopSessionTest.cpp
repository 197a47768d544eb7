// The tips program on a real desktop: the icon found over the
// accessibility bus, the bubble placed at the icon's extents on the X
// server, the desktop asked to show itself; and the layout file read
// against the same running desktop.
#include <gtest/gtest.h>

#include <set>

#include "XvfbDesktop.h"
#include "qvAtspiProvider.h"
#include "qvFindDesktopIcon.h"
#include "qvLayoutFileProvider.h"
#include "qvTipGeometry.h"

// After Qt's headers: Xlib defines macros (Bool, Status) that they use as names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

using tipstest::XvfbDesktop;

constexpr int kIconWaitMs = 20000;
const QString kIconLabel = QStringLiteral("测试图标");

// Watches the X server as a window manager would for the one request the
// program makes of it: the root window says it supports
// _NET_SHOWING_DESKTOP, and requests arrive as client messages.
class XWatcher {
 public:
  XWatcher() : display_(XOpenDisplay(nullptr)) {
    if (!display_) return;
    root_ = DefaultRootWindow(display_);
    showing_ = XInternAtom(display_, "_NET_SHOWING_DESKTOP", False);
    const Atom supported = XInternAtom(display_, "_NET_SUPPORTED", False);
    XChangeProperty(display_, root_, supported, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&showing_), 1);
    XSelectInput(display_, root_, SubstructureNotifyMask);
    XSync(display_, False);
  }
  ~XWatcher() {
    if (display_) XCloseDisplay(display_);
  }
  bool ok() const { return display_ != nullptr; }

  // Takes the events that arrived so far.
  void Drain() {
    while (XPending(display_)) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == ClientMessage && event.xclient.message_type == showing_ && event.xclient.data.l[0] == 1) {
        ++showDesktopRequests;
      } else if (event.type == CreateNotify) {
        created.insert(event.xcreatewindow.window);
      } else if (event.type == MapNotify && created.count(event.xmap.window)) {
        ++newWindowsMapped;
      }
    }
  }

  // The viewable top-level window titled title, in root coordinates.
  std::optional<QRect> FindWindow(const QString& title) {
    const Atom netName = XInternAtom(display_, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    std::optional<QRect> found;
    if (!XQueryTree(display_, root_, &rootReturn, &parent, &children, &count)) return found;
    for (unsigned int i = 0; i < count && !found; ++i) {
      Atom type = None;
      int format = 0;
      unsigned long items = 0, after = 0;
      unsigned char* data = nullptr;
      if (XGetWindowProperty(display_, children[i], netName, 0, 4096, False, utf8, &type, &format, &items, &after,
                             &data) == Success && data) {
        XWindowAttributes attributes{};
        if (QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(items)) == title &&
            XGetWindowAttributes(display_, children[i], &attributes) && attributes.map_state == IsViewable) {
          int x = 0, y = 0;
          Window unused = 0;
          XTranslateCoordinates(display_, children[i], root_, 0, 0, &x, &y, &unused);
          found = QRect(x, y, attributes.width, attributes.height);
        }
      }
      if (data) XFree(data);
    }
    if (children) XFree(children);
    return found;
  }

  int showDesktopRequests = 0;
  int newWindowsMapped = 0;
  std::set<Window> created;

 private:
  Display* display_;
  Window root_ = 0;
  Atom showing_ = None;
};

template <typename F>
bool PollUntil(F done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

class DesktopSession : public ::testing::Test {
 protected:
  // Starts the desktop with a launcher, a plain file and any extra set-up;
  // skips, saying why, where it cannot run.
  void StartDesktop() {
    // The accessibility library binds this process to the first bus it
    // meets, so each desktop test needs a process of its own (as under ctest).
    static int desktopsInThisProcess = 0;
    if (++desktopsInThisProcess > 1) GTEST_SKIP() << "one desktop test per process: run it alone (ctest does)";
    const std::string missing = XvfbDesktop::MissingPrograms();
    if (!missing.empty()) GTEST_SKIP() << missing;
    desktop_.AddLauncher(QStringLiteral("测试图标.desktop"), kIconLabel);
    desktop_.AddLauncher(QStringLiteral("qv.desktop"), QStringLiteral("QvSearch"));
    tipstest::WriteFile(desktop_.desktopDir() + QStringLiteral("/说明.txt"), "plain file\n");
    const std::string why = desktop_.Start();
    if (!why.empty()) GTEST_SKIP() << why << ":\n" << desktop_.LogTail();
    desktop_.UseInThisProcess();
  }

  // The icon as the accessibility provider sees it, once the desktop shows
  // it; skips when the desktop program ended.
  std::optional<DesktopIcon> WaitForIcon(const QString& label) {
    qvAtspiProvider provider;
    std::optional<DesktopIcon> icon;
    PollUntil([&] {
      if (const auto icons = provider.ReadIcons()) {
        if (const auto index = FindLabel(*icons, label)) icon = (*icons)[static_cast<size_t>(*index)];
      }
      return icon.has_value() || !desktop_.DesktopRunning();
    }, kIconWaitMs);
    return icon;
  }

  std::unique_ptr<tipstest::ChildProcess> StartTips(const std::string& label, const std::string& text) {
    tipstest::Environment env = desktop_.env();
    env["QT_QPA_PLATFORM"] = "xcb";
    env["QV_FIRSTTIPS_DELAY_MS"] = "0";
    return std::make_unique<tipstest::ChildProcess>(QV_APP_DIR "qvFirsttips", std::vector<std::string>{label, text},
                                                     env, -1, desktop_.log());
  }

  XvfbDesktop desktop_;
};

TEST_F(DesktopSession, BubbleAppearsAtTheIconsRealExtents) {
  StartDesktop();
  if (IsSkipped()) return;
  const std::optional<DesktopIcon> icon = WaitForIcon(kIconLabel);
  if (!icon && !desktop_.DesktopRunning()) GTEST_SKIP() << "the desktop program ended:\n" << desktop_.LogTail();
  ASSERT_TRUE(icon) << "the icon never appeared on the accessibility bus:\n" << desktop_.LogTail();
  EXPECT_GT(icon->rect.width(), 0);
  EXPECT_GT(icon->rect.height(), 0);

  XWatcher x;
  ASSERT_TRUE(x.ok());
  const QString text = QStringLiteral("双击这个图标，就能立刻搜索电脑里的所有文件");
  auto tips = StartTips(kIconLabel.toStdString(), text.toStdString());
  std::optional<QRect> bubble;
  PollUntil([&] {
    x.Drain();
    bubble = x.FindWindow(text);
    return (bubble && x.showDesktopRequests > 0) || tips->WaitExit(0);
  }, kIconWaitMs);
  ASSERT_TRUE(bubble) << "no bubble; qvFirsttips ended with " << tips->WaitExit(0).value_or(-1);
  EXPECT_EQ(x.showDesktopRequests, 1);
  const QRect expected = tipgeometry::WindowRect(icon->rect, bubble->width());
  EXPECT_EQ(bubble->topLeft(), expected.topLeft());
  EXPECT_EQ(bubble->left(), icon->rect.x() + icon->rect.width());
  EXPECT_EQ(bubble->height(), 65);
  EXPECT_GT(bubble->width(), 210);
  EXPECT_LE(bubble->width(), 500);
  EXPECT_FALSE(tips->WaitExit(0)) << "the bubble stays until its button is clicked";
}

TEST_F(DesktopSession, ALabelDifferingInCaseShowsNothing) {
  StartDesktop();
  if (IsSkipped()) return;
  const std::optional<DesktopIcon> icon = WaitForIcon(QStringLiteral("QvSearch"));
  if (!icon && !desktop_.DesktopRunning()) GTEST_SKIP() << "the desktop program ended:\n" << desktop_.LogTail();
  ASSERT_TRUE(icon) << "the icon never appeared on the accessibility bus:\n" << desktop_.LogTail();

  XWatcher x;
  ASSERT_TRUE(x.ok());
  auto tips = StartTips("qvsearch", "tip");
  const std::optional<int> status = tips->WaitExit(kIconWaitMs);
  x.Drain();
  EXPECT_EQ(status, 1) << "nothing shown";
  EXPECT_EQ(x.showDesktopRequests, 0);
  EXPECT_EQ(x.newWindowsMapped, 0);
}

TEST_F(DesktopSession, LayoutFileAgreesWithTheRunningDesktop) {
  // An icon the user placed by hand: its place is kept in the layout file.
  tipstest::WriteFile(desktop_.profileDir() + QStringLiteral("/desktop-items-0.conf"),
                      "[*]\nshow_trash=0\n\n[测试图标.desktop]\nx=300\ny=200\n");
  StartDesktop();
  if (IsSkipped()) return;
  const std::optional<DesktopIcon> icon = WaitForIcon(kIconLabel);
  if (!icon && !desktop_.DesktopRunning()) GTEST_SKIP() << "the desktop program ended:\n" << desktop_.LogTail();
  ASSERT_TRUE(icon) << "the icon never appeared on the accessibility bus:\n" << desktop_.LogTail();
  EXPECT_EQ(icon->rect.topLeft(), QPoint(300, 200));

  qvLayoutFileProvider layout(desktop_.profileDir(), desktop_.desktopDir(),
                              {QRect(0, 0, XvfbDesktop::kScreenWidth, XvfbDesktop::kScreenHeight)}, {});
  const auto icons = layout.ReadIcons();
  ASSERT_TRUE(icons);
  const auto index = FindLabel(*icons, kIconLabel);
  ASSERT_TRUE(index);
  const QRect fromFile = (*icons)[static_cast<size_t>(*index)].rect;
  EXPECT_EQ(fromFile.topLeft(), icon->rect.topLeft());
  // The file holds no size; the assumed one is close to the real one.
  EXPECT_NEAR(fromFile.width(), icon->rect.width(), 16);
  EXPECT_EQ(fromFile.height(), icon->rect.height());
}

}  // namespace
