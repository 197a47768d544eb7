// The tips tests share one QApplication. Window tests draw offscreen; the
// desktop tests start their own X server and talk to it directly.
#include <gtest/gtest.h>

#include <QApplication>

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
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
