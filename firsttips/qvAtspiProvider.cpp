#include "qvAtspiProvider.h"

#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <cstdlib>
#include <memory>

#include "qvX11Desktop.h"

namespace {

// A call into an unresponsive application fails after this long instead
// of the bus's default 25 seconds.
constexpr int kCallTimeoutMs = 3000;
// Icon views may sit inside single-child containers.
constexpr int kMaxContainerDepth = 4;

struct GObjectDeleter {
  void operator()(gpointer object) const {
    if (object) g_object_unref(object);
  }
};
using Accessible = std::unique_ptr<AtspiAccessible, GObjectDeleter>;

int ChildCount(AtspiAccessible* node) {
  GError* error = nullptr;
  const int count = atspi_accessible_get_child_count(node, &error);
  if (error) {
    g_error_free(error);
    return 0;
  }
  return count;
}

Accessible Child(AtspiAccessible* node, int index) {
  GError* error = nullptr;
  Accessible child(atspi_accessible_get_child_at_index(node, index, &error));
  if (error) {
    g_error_free(error);
    return nullptr;
  }
  return child;
}

QString NameOf(AtspiAccessible* node) {
  GError* error = nullptr;
  gchar* name = atspi_accessible_get_name(node, &error);
  if (error) g_error_free(error);
  const QString out = name ? QString::fromUtf8(name) : QString();
  g_free(name);
  return out;
}

std::optional<QRect> ScreenExtents(AtspiAccessible* node) {
  std::unique_ptr<AtspiComponent, GObjectDeleter> component(atspi_accessible_get_component_iface(node));
  if (!component) return std::nullopt;
  GError* error = nullptr;
  AtspiRect* rect = atspi_component_get_extents(component.get(), ATSPI_COORD_TYPE_SCREEN, &error);
  if (error) g_error_free(error);
  if (!rect) return std::nullopt;
  const QRect out(rect->x, rect->y, rect->width, rect->height);
  g_free(rect);
  return out;
}

long ProcessOf(AtspiAccessible* application) {
  GError* error = nullptr;
  const guint pid = atspi_accessible_get_process_id(application, &error);
  if (error) {
    g_error_free(error);
    return 0;
  }
  return static_cast<long>(pid);
}

// The window of the application that covers the X desktop window, or its
// only window.
Accessible DesktopWindowOf(AtspiAccessible* application, const QRect& desktopGeometry) {
  const int count = ChildCount(application);
  for (int i = 0; i < count; ++i) {
    Accessible window = Child(application, i);
    if (window && ScreenExtents(window.get()) == desktopGeometry) return window;
  }
  return count == 1 ? Child(application, 0) : nullptr;
}

// Descends through containers that hold nothing but one other container.
Accessible IconView(Accessible node) {
  for (int depth = 0; depth < kMaxContainerDepth && ChildCount(node.get()) == 1; ++depth) {
    Accessible only = Child(node.get(), 0);
    if (!only || ChildCount(only.get()) == 0) break;
    node = std::move(only);
  }
  return node;
}

std::vector<DesktopIcon> IconsOf(AtspiAccessible* iconView) {
  std::vector<DesktopIcon> icons;
  const int count = ChildCount(iconView);
  for (int i = 0; i < count; ++i) {
    Accessible item = Child(iconView, i);
    if (!item) continue;
    // Items keep their place even without extents, so indexes stay those
    // of the view; such an item just has an empty rectangle.
    icons.push_back({NameOf(item.get()), ScreenExtents(item.get()).value_or(QRect())});
  }
  return icons;
}

bool StartAccessibility() {
  static const bool started = [] {
    if (!AccessibilityBusReachable()) return false;
    if (atspi_init() < 0) return false;
    atspi_set_timeout(kCallTimeoutMs, kCallTimeoutMs);
    return true;
  }();
  return started;
}

bool CanConnect(const char* address) {
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* connection = dbus_connection_open_private(address, &error);
  const bool ok = connection != nullptr;
  if (connection) {
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
  }
  dbus_error_free(&error);
  return ok;
}

}  // namespace

bool AccessibilityBusReachable() {
  // The library asks the session bus for the accessibility bus (or takes
  // it from $AT_SPI_BUS_ADDRESS) and falls back to the session bus itself.
  for (const char* variable : {"AT_SPI_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS"}) {
    const char* address = std::getenv(variable);
    if (address && *address && CanConnect(address)) return true;
  }
  return false;
}

std::optional<std::vector<DesktopIcon>> qvAtspiProvider::ReadIcons() {
  const std::vector<X11DesktopWindow> desktops = FindX11DesktopWindows();
  if (desktops.empty() || !StartAccessibility()) return std::nullopt;
  Accessible root(atspi_get_desktop(0));
  if (!root) return std::nullopt;
  const int applications = ChildCount(root.get());
  for (const X11DesktopWindow& desktop : desktops) {
    for (int i = 0; i < applications; ++i) {
      Accessible application = Child(root.get(), i);
      if (!application || desktop.pid == 0 || ProcessOf(application.get()) != desktop.pid) continue;
      Accessible window = DesktopWindowOf(application.get(), desktop.geometry);
      if (!window) continue;
      Accessible view = IconView(std::move(window));
      return IconsOf(view.get());
    }
  }
  return std::nullopt;
}
