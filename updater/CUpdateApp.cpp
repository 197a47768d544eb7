#include "CUpdateApp.h"

#include <QApplication>
#include <QMessageBox>

#include <curl/curl.h>

#include "CUpdateDlg.h"
#include "qvCommandLine.h"
#include "qvUpdaterSettings.h"

CUpdateApp::CUpdateApp(int argc, char** argv) : argc_(argc), argv_(argv) {}

int CUpdateApp::Run() {
  UpdaterCommandLine commandLine;
  // Without a server list there is nothing to do, and no window.
  if (!ParseCommandLine(JoinArguments(argc_, argv_), &commandLine)) return 0;
  m_strServerListUrl = commandLine.serverListUrl;
  m_bAutomatic = commandLine.automatic;

  QApplication app(argc_, argv_);
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    QMessageBox::critical(nullptr, QString(), QStringLiteral("Windows 套接字初始化失败。"));
    return 0;
  }
  {
    CUpdateDlg dialog(ReadUpdaterSettings(UpdaterOwnFolder()), commandLine);
    // The log lines go to standard output too, for a terminal or a caller.
    dialog.SetEchoLog(true);
    dialog.OnInitDialog();
    dialog.exec();
  }
  curl_global_cleanup();
  return 0;
}
