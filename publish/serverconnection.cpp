#include "publish/serverconnection.h"

#include "ftp/transferclient.h"
#include "page/pagefile.h"
#include "page/pagetext.h"

namespace quendle {

std::optional<ConnectResult> missingLoginField(const ServerLogin& login)
{
    const char* missing = login.host.isEmpty()       ? "You have to enter a Hostname."
                          : login.user.isEmpty()     ? "You have to enter a Username."
                          : login.password.isEmpty() ? "You have to enter a Password."
                                                     : nullptr;
    if (!missing)
        return std::nullopt;
    return ConnectResult{ConnectResult::Status::MissingField, QString::fromLatin1(missing), {}};
}

ConnectResult logIn(TransferClient& ftp, const ServerLogin& login)
{
    TransferRequest request;
    request.host = login.host;
    request.user = login.user;
    request.password = login.password;
    const TransferResult result = ftp.connect(request);
    if (!result.ok())
        return {ConnectResult::Status::Failed,
                QStringLiteral("Unable to connect to the specified host"), result.detail};
    return {ConnectResult::Status::Connected, QStringLiteral("Connected to server!"), {}};
}

ConnectResult connectToServer(TransferClient& ftp, const ServerLogin& login)
{
    if (auto missing = missingLoginField(login))
        return *missing;
    return logIn(ftp, login);
}

OfflinePageResult publishOfflinePage(TransferClient& ftp, const QString& remoteDirectory,
                                     const QString& pagePath, const QString& email)
{
    if (const auto error = replaceFile(pagePath, offlinePage(email)))
        return {OfflinePageResult::Status::PageNotWritten, *error, {}};
    const UploadResult upload = UploadPage(ftp, remoteDirectory, pagePath);
    return {upload.status == UploadResult::Status::Transferred
                ? OfflinePageResult::Status::Uploaded
                : OfflinePageResult::Status::UploadFailed,
            upload.text, upload.details};
}

} // namespace quendle
