// A real desktop for the tests: an X server (Xvfb), a session bus, the
// accessibility bus with accessibility switched on, and the GTK desktop of
// a lightweight file manager showing the icons of a test home folder.
// Everything runs in the test's own folder and ends with the object.
#pragma once

#include <QDir>
#include <QTemporaryDir>

#include <memory>
#include <string>

#include "ChildProcess.h"
#include "TipsTestSupport.h"

namespace tipstest {

class XvfbDesktop {
 public:
  static constexpr int kScreenWidth = 800;
  static constexpr int kScreenHeight = 500;

  // Empty when every program is there; otherwise why the desktop cannot run.
  static std::string MissingPrograms() {
    std::string missing;
    for (const char* program : {"Xvfb", "dbus-daemon", "dbus-send", "/usr/libexec/at-spi-bus-launcher", "pcmanfm"}) {
      if (!FindProgram(program)) missing += std::string(missing.empty() ? "" : ", ") + program;
    }
    return missing.empty() ? "" : "not installed: " + missing + " (tools/install-deps.sh)";
  }

  XvfbDesktop() {
    ChildProcess::AdoptOrphans();
    QDir(home()).mkpath(QStringLiteral("Desktop"));
  }

  QString home() const { return dir_.filePath(QStringLiteral("home")); }
  QString desktopDir() const { return home() + QStringLiteral("/Desktop"); }
  QString profileDir() const { return home() + QStringLiteral("/.config/pcmanfm/default"); }
  std::string log() const { return dir_.filePath(QStringLiteral("session.log")).toStdString(); }
  // The end of what the programs wrote, for failure messages.
  std::string LogTail() const {
    QFile f(QString::fromStdString(log()));
    if (!f.open(QIODevice::ReadOnly)) return "(no log)";
    const QByteArray all = f.readAll();
    return all.right(3000).toStdString();
  }

  void AddLauncher(const QString& fileName, const QString& name) {
    WriteFile(desktopDir() + QLatin1Char('/') + fileName,
              ("[Desktop Entry]\nType=Application\nName=" + name + "\nExec=true\nIcon=folder\n").toUtf8());
  }

  // Starts everything; an empty string when the desktop runs, else why not.
  std::string Start() {
    const std::string runtime = dir_.filePath(QStringLiteral("run")).toStdString();
    QDir().mkpath(QString::fromStdString(runtime));
    QFile::setPermissions(QString::fromStdString(runtime), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env_ = CurrentEnvironment();
    env_.erase("AT_SPI_BUS_ADDRESS");
    env_.erase("NO_AT_BRIDGE");
    env_.erase("WAYLAND_DISPLAY");
    env_["HOME"] = home().toStdString();
    env_["XDG_CONFIG_HOME"] = home().toStdString() + "/.config";
    env_["XDG_CACHE_HOME"] = home().toStdString() + "/.cache";
    env_["XDG_RUNTIME_DIR"] = runtime;
    env_["LANG"] = "C.UTF-8";
    env_.erase("LC_ALL");

    const std::string xvfb = *FindProgram("Xvfb");
    x_ = std::make_unique<ChildProcess>(
        xvfb, std::vector<std::string>{"-displayfd", "3", "-screen", "0",
                                       std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24",
                                       "-nolisten", "tcp",
                                       // No reset when the last client leaves: a reset refuses
                                       // the clients that connect meanwhile.
                                       "-noreset"},
        env_, 3, log());
    const auto display = x_->ReadLine(15000);
    if (!display || display->empty()) return "Xvfb did not start";
    env_["DISPLAY"] = ":" + *display;
    Note("display " + env_["DISPLAY"]);

    bus_ = std::make_unique<ChildProcess>(*FindProgram("dbus-daemon"),
                                          std::vector<std::string>{"--session", "--nofork", "--print-address=1"},
                                          env_, 1, log());
    const auto address = bus_->ReadLine(15000);
    if (!address || address->empty()) return "the session bus did not start";
    env_["DBUS_SESSION_BUS_ADDRESS"] = *address;

    a11y_ = std::make_unique<ChildProcess>("/usr/libexec/at-spi-bus-launcher",
                                           std::vector<std::string>{"--launch-immediately"}, env_, -1, log());
    if (!EnableAccessibility()) return "the accessibility bus did not start";

    Environment desktopEnv = env_;
    desktopEnv["GTK_MODULES"] = "gail:atk-bridge";
    desktop_ = std::make_unique<ChildProcess>(*FindProgram("pcmanfm"), std::vector<std::string>{"--desktop"},
                                              desktopEnv, -1, log());
    if (!desktop_->started()) return "the desktop did not start";
    return "";
  }

  // Whether the desktop program still runs (it ends at once when it cannot
  // open its window).
  bool DesktopRunning() { return desktop_ && !desktop_->WaitExit(0); }

  // The environment of a program on this desktop.
  const Environment& env() const { return env_; }

  // Points the test process itself at this desktop.
  void UseInThisProcess() const {
    for (const char* name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS"}) setenv(name, env_.at(name).c_str(), 1);
    unsetenv("AT_SPI_BUS_ADDRESS");
  }

  ~XvfbDesktop() {
    desktop_.reset();  // the programs end in the reverse order of their start
    a11y_.reset();
    bus_.reset();
    x_.reset();
  }

 private:
  void Note(const std::string& line) const {
    QFile f(QString::fromStdString(log()));
    if (f.open(QIODevice::Append)) f.write(QByteArray::fromStdString("[test] " + line + "\n"));
  }

  // Whether the launcher we started owns its name on the session bus yet.
  // Asking the name itself before then would have the bus start a second
  // launcher of its own.
  bool LauncherOnBus() {
    ChildProcess ask(*FindProgram("dbus-send"),
                     {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                      "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"},
                     env_, 1, log());
    while (const auto line = ask.ReadLine(5000)) {
      if (line->find("boolean true") != std::string::npos) return true;
    }
    return false;
  }

  // Sets IsEnabled of org.a11y.Status on the bus launcher, once it is there.
  bool EnableAccessibility() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
      if (!LauncherOnBus()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      ChildProcess send(*FindProgram("dbus-send"),
                        {"--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                         "org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status", "string:IsEnabled",
                         "variant:boolean:true"},
                        env_, -1, log());
      if (send.WaitExit(10000) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  QTemporaryDir dir_;
  Environment env_;
  std::unique_ptr<ChildProcess> x_;
  std::unique_ptr<ChildProcess> bus_;
  std::unique_ptr<ChildProcess> a11y_;
  std::unique_ptr<ChildProcess> desktop_;
};

}  // namespace tipstest
