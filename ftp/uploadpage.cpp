#include "ftp/uploadpage.h"

#include "app/feedback.h"
#include "ftp/ftpclient.h"
#include "ftp/waitforwork.h"
#include "page/productsettings.h"

namespace quendle {

bool UploadPage(FtpClient& ftp, Feedback& feedback, const QString& remoteDirectory,
                const QString& pagePath)
{
    ftp.RemoteDirectory = remoteDirectory;
    ftp.LocalFile = pagePath;
    ftp.RemoteFile = kPageFileName;
    const int error = waitForWork(feedback, [&] { return ftp.Upload(); });
    if (error != 0) {
        feedback.message(QStringLiteral("Unable to transfer to remote system"),
                         Feedback::Icon::Warning, ftp.lastError());
        return false;
    }
    feedback.beep();
    feedback.message(QStringLiteral("File Transferred!"), Feedback::Icon::Information);
    return true;
}

} // namespace quendle
