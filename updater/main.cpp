// update: brings the installed files up to date from an update server.
//   update <server-list URL> auto
// Without a URL it ends at once; without "auto" the user picks the server.
#include <QApplication>
#include <QMessageBox>

#include <curl/curl.h>

#include "CUpdateDlg.h"
#include "qvCommandLine.h"
#include "qvUpdaterSettings.h"

int main(int argc, char** argv) {
  UpdaterCommandLine commandLine;
  if (!ParseCommandLine(JoinArguments(argc, argv), &commandLine)) return 0;

  QApplication app(argc, argv);
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    QMessageBox::critical(nullptr, QString(), QStringLiteral("Windows 套接字初始化失败。"));
    return 0;
  }
  int exitCode;
  {
    CUpdateDlg dialog(ReadUpdaterSettings(UpdaterOwnFolder()), commandLine);
    // The log lines go to standard output too, for a terminal or a caller.
    dialog.SetEchoLog(true);
    dialog.OnInitDialog();
    exitCode = dialog.exec();
  }
  curl_global_cleanup();
  return exitCode == QDialog::Accepted || exitCode == QDialog::Rejected ? 0 : exitCode;
}
