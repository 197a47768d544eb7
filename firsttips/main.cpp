// qvFirsttips LABEL TEXT...: waits, finds the desktop icon labelled LABEL
// and shows a bubble with TEXT beside it until its button is clicked.
// Exit status 0 after the button, 1 when nothing was shown. Every failure
// is silent.
#include <QApplication>
#include <QThread>

#include "qvSessionDesktop.h"
#include "qvShowTip.h"
#include "qvTipCommandLine.h"

namespace {

// The desktop settles before the icon is looked for. Tests shorten the
// wait through $QV_FIRSTTIPS_DELAY_MS.
constexpr unsigned long kStartDelayMs = 5000;

unsigned long StartDelayMs() {
  bool ok = false;
  const unsigned long value = qEnvironmentVariable("QV_FIRSTTIPS_DELAY_MS").toULong(&ok);
  return ok ? value : kStartDelayMs;
}

}  // namespace

int main(int argc, char** argv) {
  // The command line is ours alone: Qt sees only the program name, so a
  // tip text such as "-style" stays text.
  const QString commandLine = JoinArguments(argc, argv);
  if (commandLine.isEmpty()) return 1;
  const TipCommandLine parts = SplitCommandLine(commandLine);

  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QThread::msleep(StartDelayMs());

  const auto owned = SessionIconProviders();
  std::vector<qvDesktopIconProvider*> providers;
  for (const auto& provider : owned) providers.push_back(provider.get());
  const std::unique_ptr<CToolTipEx> tip = ShowTip(parts.label, parts.text, providers, ShowSessionDesktop);
  if (!tip) return 1;
  QObject::connect(tip.get(), &CToolTipEx::dismissed, &app, &QCoreApplication::quit);
  return app.exec();
}
