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
    return ConnectResult{ConnectResult::Status::MissingField, QString::fromLatin1(missing), {}, {}};
}

namespace {

const QString kUnableToConnect = QStringLiteral("Unable to connect to the specified host");

QString trustQuestion(const TransferResult& result)
{
    const QString ask =
        result.error == TransferError::HostKeyUnknown
            ? QStringLiteral("Do you want to add this key to your known hosts and connect?")
            : QStringLiteral("Do you want to trust this certificate for the rest of this session "
                             "and connect?");
    return result.identity.description + QStringLiteral("\n\n") + ask;
}

} // namespace

ConnectResult logIn(TransferClient& ftp, const ServerLogin& login)
{
    TransferRequest request;
    request.host = login.host;
    request.user = login.user;
    request.password = login.password;
    const TransferResult result = ftp.connect(request);
    switch (result.error) {
    case TransferError::None:
        return {ConnectResult::Status::Connected, QStringLiteral("Connected to server!"), {}, {}};
    case TransferError::CertificateNotTrusted:
    case TransferError::HostKeyUnknown:
        return {ConnectResult::Status::Untrusted, trustQuestion(result), result.detail,
                result.identity, result.error};
    default:
        return {ConnectResult::Status::Failed, kUnableToConnect, result.detail, {}, result.error};
    }
}

ConnectResult logInTrusting(TransferClient& ftp, const ServerLogin& login,
                            const ConnectResult& untrusted)
{
    ftp.trust(untrusted.identity);
    const ConnectResult result = logIn(ftp, login);
    return result.status == ConnectResult::Status::Untrusted ? refuseServer(result) : result;
}

ConnectResult refuseServer(const ConnectResult& untrusted)
{
    return {
        ConnectResult::Status::Failed, kUnableToConnect, untrusted.details, {}, untrusted.error};
}

ConnectResult refuseWithoutAsking(const ConnectResult& untrusted)
{
    // A host key's details already say how to add it; a certificate's speak to the window.
    if (untrusted.identity.kind != ServerIdentity::Kind::Certificate)
        return refuseServer(untrusted);
    return {ConnectResult::Status::Failed,
            kUnableToConnect,
            untrusted.identity.description +
                QStringLiteral(
                    "\n\nTo trust the authority that issued it, start quendle-publish with "
                    "SSL_CERT_FILE naming a PEM file that holds the authority's certificate, or "
                    "SSL_CERT_DIR naming a folder of such files prepared with \"openssl rehash\" "
                    "(for the service, with systemctl edit: Environment=SSL_CERT_FILE=...). "
                    "Otherwise have the server's certificate fixed: issued for the name the host "
                    "setting uses, by an authority the system trusts, and in date."),
            {},
            untrusted.error};
}

ConnectResult connectToServer(TransferClient& ftp, const ServerLogin& login)
{
    return connectToServer(ftp, login, [](const auto& logInNow) { return logInNow(); });
}

OfflinePageResult publishOfflinePage(TransferClient& ftp, const QString& remoteDirectory,
                                     const QString& pagePath, const QString& email)
{
    if (const auto written = replaceFile(pagePath, offlinePage(email)); !written)
        return {OfflinePageResult::Status::PageNotWritten, written.error(), {}};
    const UploadResult upload = UploadPage(ftp, remoteDirectory, pagePath);
    return {upload.status == UploadResult::Status::Transferred
                ? OfflinePageResult::Status::Uploaded
                : OfflinePageResult::Status::UploadFailed,
            upload.text, upload.details};
}

} // namespace quendle
