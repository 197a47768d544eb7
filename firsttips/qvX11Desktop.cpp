#include "qvX11Desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <climits>

namespace {

// Windows may vanish while they are examined; the default handler would
// end the program on the resulting BadWindow.
int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

class XConnection {
 public:
  XConnection() : display_(XOpenDisplay(nullptr)) {
    if (display_) previousHandler_ = XSetErrorHandler(IgnoreXErrors);
  }
  ~XConnection() {
    if (!display_) return;
    XSync(display_, False);
    XSetErrorHandler(previousHandler_);
    XCloseDisplay(display_);
  }
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  Display* get() const { return display_; }

 private:
  Display* display_;
  int (*previousHandler_)(Display*, XErrorEvent*) = nullptr;
};

// The 32-bit items of a property (atoms, windows, cardinals), as longs.
std::vector<long> ReadLongs(Display* display, Window window, Atom property, Atom type) {
  Atom actualType = None;
  int actualFormat = 0;
  unsigned long count = 0;
  unsigned long bytesAfter = 0;
  unsigned char* data = nullptr;
  std::vector<long> values;
  if (XGetWindowProperty(display, window, property, 0, LONG_MAX / 4, False, type, &actualType,
                         &actualFormat, &count, &bytesAfter, &data) == Success &&
      data && actualType == type && actualFormat == 32) {
    const long* items = reinterpret_cast<const long*>(data);
    values.assign(items, items + count);
  }
  if (data) XFree(data);
  return values;
}

bool Contains(const std::vector<long>& values, unsigned long wanted) {
  for (long v : values) {
    if (static_cast<unsigned long>(v) == wanted) return true;
  }
  return false;
}

std::vector<Window> Children(Display* display, Window window) {
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  std::vector<Window> out;
  if (XQueryTree(display, window, &root, &parent, &children, &count) && children) {
    out.assign(children, children + count);
  }
  if (children) XFree(children);
  return out;
}

}  // namespace

std::vector<X11DesktopWindow> FindX11DesktopWindows() {
  XConnection connection;
  Display* display = connection.get();
  if (!display) return {};
  const Window root = DefaultRootWindow(display);
  const Atom typeAtom = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
  const Atom desktopType = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DESKTOP", False);
  const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);

  std::vector<Window> candidates;
  for (Window top : Children(display, root)) {
    candidates.push_back(top);
    for (Window child : Children(display, top)) candidates.push_back(child);
  }
  std::vector<X11DesktopWindow> found;
  for (Window window : candidates) {
    if (!Contains(ReadLongs(display, window, typeAtom, XA_ATOM), desktopType)) continue;
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable) continue;
    int x = 0;
    int y = 0;
    Window unused = 0;
    XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &unused);
    const std::vector<long> pid = ReadLongs(display, window, pidAtom, XA_CARDINAL);
    found.push_back({window, pid.empty() ? 0 : pid.front(),
                     QRect(x, y, attributes.width, attributes.height)});
  }
  return found;
}

ShowDesktopResult ShowDesktopX11() {
  XConnection connection;
  Display* display = connection.get();
  if (!display) return ShowDesktopResult::kNoDisplay;
  const Window root = DefaultRootWindow(display);
  const Atom supported = XInternAtom(display, "_NET_SUPPORTED", False);
  const Atom showing = XInternAtom(display, "_NET_SHOWING_DESKTOP", False);
  if (!Contains(ReadLongs(display, root, supported, XA_ATOM), showing)) {
    return ShowDesktopResult::kNotSupported;
  }
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = root;
  event.xclient.message_type = showing;
  event.xclient.format = 32;
  event.xclient.data.l[0] = 1;
  XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  return ShowDesktopResult::kRequested;
}
