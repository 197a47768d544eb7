// The window tests run without a display, in one QApplication.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// The offscreen platform says so for every window shown; nothing else of
// Qt's output is hidden.
void DropPlatformNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text.startsWith(QLatin1String("This plugin does not support"))) return;
  std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, text).toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(DropPlatformNotes);
  QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
  // No test reaches the desktop's own session bus (its file manager); the
  // tests that need one start their own.
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
