#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace quendle {

// The certificate authorities every TLS connection of the programs trusts: the system's store,
// each part of it replaced where OpenSSL's variables name one, as OpenSSL itself does.
struct TrustStore
{
    QByteArray file;   // SSL_CERT_FILE: a PEM file of authorities; empty for the system's
    QByteArray folder; // SSL_CERT_DIR: a folder prepared with `openssl rehash`; empty likewise
};

inline TrustStore trustStore()
{
    return {qgetenv("SSL_CERT_FILE"), qgetenv("SSL_CERT_DIR")};
}

} // namespace quendle
