// qvSearchApp: the search window.
//   qvSearchApp [--screenshot FILE [--query TEXT]]
#include <QApplication>
#include <QStringList>

#include "qvPath.h"
#include "qvSearchApp.h"
#include "qvSingleInstance.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  qvAppOptions options;
  options.appFolder = qvPath::GetAppPath();
  options.runtimeFolder = qvSingleInstance::RuntimeFolder();
  QStringList args = QApplication::arguments();
  for (qsizetype i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == QLatin1String("--screenshot")) options.screenshotFile = args[++i];
    else if (args[i] == QLatin1String("--query")) options.query = args[++i];
  }
  return qvRunSearchApp(app, options);
}
