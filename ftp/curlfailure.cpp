#include "ftp/curlfailure.h"

#include <curl/curl.h>

#include <optional>

namespace quendle {

namespace {

const QString kPrivateCaAdvice = QStringLiteral(
    "\n\nCompare the fingerprint with the one the server's administrator gives you. To trust a "
    "private certificate authority, start the program with SSL_CERT_FILE set to a PEM file "
    "holding its certificate, or SSL_CERT_DIR set to a folder of such files prepared with "
    "\"openssl rehash\".");

bool usesTls(TransferScheme scheme)
{
    return scheme == TransferScheme::ExplicitTls || scheme == TransferScheme::ImplicitTls;
}

bool isRefusal(const QByteArray& reply)
{
    const char first = reply.isEmpty() ? '\0' : reply.front();
    return first == '4' || first == '5';
}

// A certificate or host key the checks refused, as the component tells it.
std::optional<TransferResult> identityFailure(CURLcode code, const QString& message,
                                              const IdentityChecks& checks)
{
    const ServerAddress& address = checks.address;
    const int number = static_cast<int>(code);
    if (usesTls(address.scheme) && checks.certificates.sawCertificate() &&
        (code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_PINNEDPUBKEYNOTMATCH)) {
        const ServerIdentity identity =
            checks.certificates.identity(address.authority(), checks.certificatePinned, message);
        return TransferResult{TransferError::CertificateNotTrusted, number,
                              identity.description + kPrivateCaAdvice, identity};
    }
    if (address.scheme != TransferScheme::Sftp || code != CURLE_PEER_FAILED_VERIFICATION)
        return std::nullopt;
    const QString& file = checks.knownHostsFile;
    const HostKeyWitness& hostKeys = checks.hostKeys;
    switch (hostKeys.match()) {
    case HostKeyWitness::Match::Unknown:
        return TransferResult{TransferError::HostKeyUnknown, number,
                              hostKeys.unknownDetail(address, file),
                              hostKeys.identity(address, file)};
    case HostKeyWitness::Match::Changed:
        return TransferResult{TransferError::HostKeyChanged,
                              number,
                              hostKeys.changedDetail(address, file, false, message),
                              {}};
    case HostKeyWitness::Match::NotSeen:
    case HostKeyWitness::Match::Known:
        if (!checks.hostKeyPinned)
            return std::nullopt;
        return TransferResult{TransferError::HostKeyChanged,
                              number,
                              hostKeys.changedDetail(address, file, true, message),
                              {}};
    }
    return std::nullopt;
}

} // namespace

TransferResult classifyFailure(const CurlFailure& failure, TransferError otherwise,
                               const IdentityChecks& checks)
{
    const auto code = static_cast<CURLcode>(failure.code);
    const QString message = !failure.errorBuffer.isEmpty()
                                ? failure.errorBuffer
                                : QString::fromUtf8(curl_easy_strerror(code));
    if (const auto untrusted = identityFailure(code, message, checks))
        return *untrusted;
    QString why = message;
    if (isRefusal(failure.lastReply))
        why += QStringLiteral("\nThe server replied: %1").arg(QString::fromUtf8(failure.lastReply));
    TransferError error = otherwise;
    switch (code) {
    case CURLE_LOGIN_DENIED:
        error = TransferError::LoginRefused;
        break;
    case CURLE_OPERATION_TIMEDOUT:
        error = TransferError::TimedOut;
        break;
    case CURLE_USE_SSL_FAILED:
        why += QStringLiteral("\nThe server does not offer FTP over TLS.");
        error = TransferError::ConnectionFailed;
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        error = TransferError::ConnectionFailed;
        break;
    default:
        break;
    }
    return {error, failure.code, why, {}};
}

bool connectionDropped(const CurlFailure& failure)
{
    if (failure.lastReply.startsWith("421"))
        return true;
    switch (static_cast<CURLcode>(failure.code)) {
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_FTP_WEIRD_SERVER_REPLY:
    case CURLE_PARTIAL_FILE:
        return true;
    default:
        return false;
    }
}

QString lastRefusal(const CurlFailure& failure)
{
    return isRefusal(failure.lastReply) ? QString::fromUtf8(failure.lastReply)
                                        : failure.errorBuffer;
}

} // namespace quendle
