#include "ftp/certificatewitness.h"

#include <QDateTime>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <memory>

namespace quendle {

namespace {

int witnessIndex()
{
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

int verifyCallback(int preverifyOk, X509_STORE_CTX* store)
{
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (ssl) {
        if (auto* witness = static_cast<CertificateWitness*>(
                SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), witnessIndex())))
            witness->record(preverifyOk, store);
    }
    return preverifyOk;
}

QString nameText(const X509_NAME* name)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QString::fromUtf8(data, size);
}

QString timeText(const ASN1_TIME* time)
{
    std::tm parts{};
    if (!ASN1_TIME_to_tm(time, &parts))
        return QStringLiteral("(unreadable)");
    const QDateTime utc(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                        QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
    return utc.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
}

QByteArray sha256(const QByteArray& bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes.constData(), static_cast<size_t>(bytes.size()), digest, &size, EVP_sha256(),
               nullptr);
    return QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(size));
}

QByteArray derBytes(X509* certificate)
{
    unsigned char* der = nullptr;
    const int size = i2d_X509(certificate, &der);
    QByteArray bytes(reinterpret_cast<const char*>(der), size > 0 ? size : 0);
    OPENSSL_free(der);
    return bytes;
}

QByteArray publicKeyPin(X509* certificate)
{
    unsigned char* der = nullptr;
    const int size = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
    const QByteArray key(reinterpret_cast<const char*>(der), size > 0 ? size : 0);
    OPENSSL_free(der);
    return "sha256//" + sha256(key).toBase64();
}

bool namesHost(X509* certificate, const QString& host)
{
    const QByteArray name = host.toUtf8();
    if (X509_check_ip_asc(certificate, name.constData(), 0) == 1)
        return true;
    return X509_check_host(certificate, name.constData(), static_cast<size_t>(name.size()), 0,
                           nullptr) == 1;
}

QString chainProblem(int error)
{
    switch (error) {
    case X509_V_OK:
    case X509_V_ERR_CERT_HAS_EXPIRED: // the validity dates speak for themselves
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return {};
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return QStringLiteral("it is self-signed");
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return QStringLiteral("it was issued by an unknown authority");
    default:
        return QString::fromUtf8(X509_verify_cert_error_string(error));
    }
}

} // namespace

void CertificateWitness::watch(void* opensslContext)
{
    auto* context = static_cast<SSL_CTX*>(opensslContext);
    SSL_CTX_set_ex_data(context, witnessIndex(), this);
    // Keeps libcurl's choice of whether a failed check ends the handshake.
    SSL_CTX_set_verify(context, SSL_CTX_get_verify_mode(context), &verifyCallback);
}

void CertificateWitness::record(int preverifyOk, void* x509StoreContext)
{
    auto* store = static_cast<X509_STORE_CTX*>(x509StoreContext);
    if (!preverifyOk && m_seen.chainError == X509_V_OK)
        m_seen.chainError = X509_STORE_CTX_get_error(store);
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    if (m_seen.certificate || !leaf)
        return;
    m_seen.certificate = true;
    m_seen.subject = nameText(X509_get_subject_name(leaf));
    m_seen.issuer = nameText(X509_get_issuer_name(leaf));
    m_seen.validFrom = timeText(X509_get0_notBefore(leaf));
    m_seen.validUntil = timeText(X509_get0_notAfter(leaf));
    m_seen.expired = X509_cmp_current_time(X509_get0_notAfter(leaf)) < 0;
    m_seen.notYetValid = X509_cmp_current_time(X509_get0_notBefore(leaf)) > 0;
    m_seen.nameMatches = namesHost(leaf, m_host);
    QStringList pairs;
    for (const char byte : sha256(derBytes(leaf)))
        pairs << QStringLiteral("%1").arg(static_cast<unsigned char>(byte), 2, 16,
                                          QLatin1Char('0'));
    m_seen.fingerprint = pairs.join(QLatin1Char(':')).toUpper();
    m_seen.pin = publicKeyPin(leaf);
}

QStringList CertificateWitness::problems(bool pinned) const
{
    QStringList problems;
    if (pinned)
        problems << QStringLiteral("it is not the certificate accepted earlier in this session");
    if (const QString chain = chainProblem(m_seen.chainError); !chain.isEmpty())
        problems << chain;
    if (!m_seen.nameMatches)
        problems << QStringLiteral("it was not issued for the name %1").arg(m_host);
    if (m_seen.expired)
        problems << QStringLiteral("it expired on %1").arg(m_seen.validUntil);
    if (m_seen.notYetValid)
        problems << QStringLiteral("it is not valid before %1").arg(m_seen.validFrom);
    return problems;
}

ServerIdentity CertificateWitness::identity(const QString& server, bool pinned,
                                            const QString& libraryMessage) const
{
    QStringList why = problems(pinned);
    if (why.isEmpty())
        why << libraryMessage;
    const QString description =
        QStringLiteral("The certificate of %1 cannot be trusted: %2.\n\n"
                       "Subject: %3\nIssuer: %4\nValid from: %5\nValid until: %6\n"
                       "SHA-256 fingerprint: %7")
            .arg(server, why.join(QStringLiteral("; ")), m_seen.subject, m_seen.issuer,
                 m_seen.validFrom, m_seen.validUntil, m_seen.fingerprint);
    return {ServerIdentity::Kind::Certificate, server, description, m_seen.pin};
}

} // namespace quendle
