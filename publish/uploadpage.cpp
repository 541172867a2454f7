#include "publish/uploadpage.h"

#include "ftp/transferclient.h"

namespace quendle {

UploadResult UploadPage(TransferClient& ftp, const QString& remoteDirectory,
                        const QString& pagePath, const QString& remoteName)
{
    TransferRequest request;
    request.remoteDirectory = remoteDirectory;
    request.localFile = pagePath;
    request.remoteName = remoteName;
    const TransferResult result = ftp.upload(request);
    if (!result.ok())
        return {UploadResult::Status::Failed, QStringLiteral("Unable to transfer to remote system"),
                result.detail, result.error};
    return {UploadResult::Status::Transferred, QStringLiteral("File Transferred!"), result.detail,
            TransferError::None, result.direct};
}

} // namespace quendle
