#pragma once

#include "ftp/transferclient.h"

#include <QStringList>

namespace quendle {

// Watches the TLS handshakes of one connection and keeps what the server's certificate showed.
// libcurl reports a failed check only as a message, and fills in its certificate information only
// after a check that passed, so the component looks at the certificate itself while OpenSSL
// verifies it. Never changes the outcome of the verification.
class CertificateWitness
{
public:
    explicit CertificateWitness(QString host) : m_host(std::move(host)) {}

    // Installs the watch on an OpenSSL SSL_CTX before its handshake; called from libcurl's SSL
    // context callback.
    void watch(void* opensslContext);
    // Forgets what the previous handshakes showed.
    void reset() { m_seen = {}; }
    bool sawCertificate() const { return m_seen.certificate; }

    // Why the server's certificate is not trusted, in words, and its particulars; `pinned` tells
    // that the certificate differs from one accepted earlier.
    ServerIdentity identity(const QString& server, bool pinned,
                            const QString& libraryMessage) const;

    // Called by OpenSSL's verification for each certificate of the chain.
    void record(int preverifyOk, void* x509StoreContext);

private:
    struct Seen
    {
        bool certificate = false;
        int chainError = 0; // OpenSSL's first verification error, 0 for none
        bool nameMatches = true;
        bool expired = false;
        bool notYetValid = false;
        QString subject, issuer, validFrom, validUntil, fingerprint;
        QByteArray pin; // "sha256//" and the base64 SHA-256 of the public key
    };

    QStringList problems(bool pinned) const;

    QString m_host; // as the certificate must name it: no brackets around an IPv6 address
    Seen m_seen;
};

} // namespace quendle
