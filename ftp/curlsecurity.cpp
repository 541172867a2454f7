#include "ftp/curlsecurity.h"

#include "base/tlstrust.h"

#include <QFile>

#include <curl/curl.h>

namespace quendle {

namespace {

CURLcode onSslContext(CURL*, void* sslContext, void* witness)
{
    static_cast<CertificateWitness*>(witness)->watch(sslContext);
    return CURLE_OK;
}

int onHostKey(CURL*, const curl_khkey* known, const curl_khkey* found, curl_khmatch match,
              void* witness)
{
    // A key comes either raw with its length or base64 with a length of 0.
    const auto raw = [](const curl_khkey* key) {
        if (!key || !key->key)
            return QByteArray();
        if (key->len == 0)
            return QByteArray::fromBase64(QByteArray(key->key));
        return QByteArray(key->key, static_cast<qsizetype>(key->len));
    };
    const HostKeyWitness::Match seen = match == CURLKHMATCH_OK ? HostKeyWitness::Match::Known
                                       : match == CURLKHMATCH_MISMATCH
                                           ? HostKeyWitness::Match::Changed
                                           : HostKeyWitness::Match::Unknown;
    static_cast<HostKeyWitness*>(witness)->record(seen, raw(found), raw(known).toBase64());
    // Never CURLKHSTAT_FINE_ADD_TO_FILE: the library would rewrite the whole file from what
    // it could read of it.
    return match == CURLKHMATCH_OK ? CURLKHSTAT_FINE : CURLKHSTAT_REJECT;
}

} // namespace

void setUpTls(void* handle, const QByteArray& trustedCertificate, CertificateWitness& witness)
{
    // TLS on the control and every data connection, or no login at all.
    curl_easy_setopt(handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    curl_easy_setopt(handle, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, &onSslContext);
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, &witness);
    const TrustStore trusted = trustStore();
    if (!trusted.file.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAINFO, trusted.file.constData());
    if (!trusted.folder.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAPATH, trusted.folder.constData());
    if (!trustedCertificate.isEmpty()) {
        // The user accepted exactly this server key; the library checks it before anything
        // is sent.
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(handle, CURLOPT_PINNEDPUBLICKEY, trustedCertificate.constData());
    }
}

void setUpSsh(void* handle, const QString& knownHostsFile, const QByteArray& trustedHostKey,
              HostKeyWitness& witness)
{
    curl_easy_setopt(handle, CURLOPT_SSH_AUTH_TYPES,
                     static_cast<long>(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
    // The library accepts any key when neither a known_hosts file nor a key is given, so the
    // file is always named, even when it does not exist yet.
    const QByteArray knownHosts = QFile::encodeName(knownHostsFile);
    curl_easy_setopt(handle, CURLOPT_SSH_KNOWNHOSTS, knownHosts.constData());
    curl_easy_setopt(handle, CURLOPT_SSH_KEYFUNCTION, &onHostKey);
    curl_easy_setopt(handle, CURLOPT_SSH_KEYDATA, &witness);
    if (!trustedHostKey.isEmpty()) {
        const QByteArray digest = sshKeySha256Base64(trustedHostKey);
        curl_easy_setopt(handle, CURLOPT_SSH_HOST_PUBLIC_KEY_SHA256, digest.constData());
    }
}

} // namespace quendle
