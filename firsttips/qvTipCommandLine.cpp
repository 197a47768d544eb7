#include "qvTipCommandLine.h"

#include <QStringList>

QString JoinArguments(int argc, const char* const* argv) {
  QStringList parts;
  for (int i = 1; i < argc; ++i) parts << QString::fromLocal8Bit(argv[i]);
  return parts.join(QLatin1Char(' '));
}

TipCommandLine SplitCommandLine(const QString& commandLine) {
  const qsizetype blank = commandLine.indexOf(QLatin1Char(' '), 1);
  if (blank < 0) return {};
  return {commandLine.left(blank), commandLine.mid(blank + 1)};
}
