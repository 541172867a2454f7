#include "publish/uploadpage.h"

#include "ftp/transferclient.h"
#include "page/productsettings.h"

namespace quendle {

UploadResult UploadPage(TransferClient& ftp, const QString& remoteDirectory,
                        const QString& pagePath)
{
    TransferRequest request;
    request.remoteDirectory = remoteDirectory;
    request.localFile = pagePath;
    request.remoteName = kPageFileName;
    const TransferResult result = ftp.upload(request);
    if (!result.ok())
        return {UploadResult::Status::Failed, QStringLiteral("Unable to transfer to remote system"),
                result.detail};
    return {UploadResult::Status::Transferred, QStringLiteral("File Transferred!"), {}};
}

} // namespace quendle
