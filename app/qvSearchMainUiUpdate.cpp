// The search window's contact with the outside: the usage report and the
// version check, once per run shortly after start, and the hand-over to
// the updater program.
#include <QFile>
#include <QMessageBox>
#include <QProcess>

#include "qvConfig.h"
#include "qvConvert.h"
#include "qvHttpClient.h"
#include "qvNameCodec.h"
#include "qvSearchMainUi.h"
#include "qvUpdateCheck.h"
#include "qvUsageReport.h"

namespace {

constexpr const char* kUpdaterName = "update";

QString FileName(const qvString& path) {
  return QFile::decodeName(QByteArray::fromStdString(qvNameCodec::EncodeToString(path)));
}

void ShowUpdateBox(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
  box.exec();
}

}  // namespace

void qvSearchMainUi::OnUsageReportTimer() { SendUsageReport(); }

void qvSearchMainUi::OnUpdateCheckTimer() { CheckForUpdate(); }

void qvSearchMainUi::SendUsageReport() {
  if (!config_) return;
  // URLs are sent as UTF-8, whatever the locale's character set.
  std::string url = qvUsageReport::RequestUrlForThisMachine(UnicodeToUtf8(config_->GetCountUrl()));
  HttpGetTextAsync(requests_, this, std::move(url), [](const std::string&) {});
}

void qvSearchMainUi::CheckForUpdate() {
  if (!config_) return;
  HttpGetTextAsync(requests_, this, UnicodeToUtf8(config_->GetVerUrl()),
                   [this](const std::string& answer) { OnVersionAnswer(answer); });
}

void qvSearchMainUi::OnVersionAnswer(const std::string& answer) {
  // The close button may have ended the window while the request ran.
  if (tornDown_) return;
  bool offered = qvUpdateCheck::Offered(answer);
  if (offered) {
    const QString text = QString::fromUtf8(qvUpdateCheck::kPromptText);
    const QString caption = QString::fromUtf8(qvUpdateCheck::kPromptCaption);
    if (updatePrompt_) updatePrompt_(text, caption);
    else ShowUpdateBox(text, caption);
  }
  emit updateCheckFinished(offered);
  if (offered && !tornDown_) LaunchUpdater();
}

// The updater gets the server list's URL and "auto"; this program then
// ends at once, without the teardown, as when the window manager closes it.
void qvSearchMainUi::LaunchUpdater() {
  if (config_) {
    QString program = FileName(appFolder_) + QLatin1String(kUpdaterName);
    // A missing updater fails quietly; the program ends all the same.
    QProcess::startDetached(program, {QString::fromStdU16String(config_->GetServerListUrl()), QStringLiteral("auto")});
  }
  emit quitRequested();
}
