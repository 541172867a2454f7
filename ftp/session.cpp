#include "ftp/session.h"

#include "app/feedback.h"
#include "ftp/ftpclient.h"
#include "ftp/uploadpage.h"
#include "ftp/waitforwork.h"
#include "page/pagefile.h"
#include "page/pagetext.h"

namespace quendle {

ConnectOutcome connectToServer(FtpClient& ftp, Feedback& feedback, const QString& host,
                               const QString& userName, const QString& password)
{
    const char* missing = host.isEmpty()       ? "You have to enter a Hostname."
                          : userName.isEmpty() ? "You have to enter a Username."
                          : password.isEmpty() ? "You have to enter a Password."
                                               : nullptr;
    if (missing) {
        feedback.message(QString::fromLatin1(missing), Feedback::Icon::None);
        return ConnectOutcome::MissingField;
    }
    ftp.ServerHost = host;
    ftp.LoginName = userName;
    ftp.LoginPassword = password;
    const int error = waitForWork(feedback, [&] { return ftp.Connect(); });
    if (error != 0) {
        feedback.message(QStringLiteral("Unable to connect to the specified host"),
                         Feedback::Icon::Critical, ftp.lastError());
        return ConnectOutcome::Failed;
    }
    feedback.message(QStringLiteral("Connected to server!"), Feedback::Icon::None);
    return ConnectOutcome::Connected;
}

void disconnectFromServer(FtpClient& ftp, Feedback& feedback, const QString& remoteDirectory,
                          const QString& pagePath, const QString& email)
{
    if (const auto error = replaceFile(pagePath, offlinePage(email)))
        feedback.message(*error, Feedback::Icon::Warning);
    else
        UploadPage(ftp, feedback, remoteDirectory, pagePath);
    waitForWork(feedback, [&] { return ftp.Disconnect(); });
}

} // namespace quendle
