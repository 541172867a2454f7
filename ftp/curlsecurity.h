#pragma once

#include "ftp/certificatewitness.h"
#include "ftp/knownhosts.h"

#include <QByteArray>
#include <QString>

namespace quendle {

// How one connection's server is checked, set on libcurl's easy handle `handle` (a CURL*, which
// libcurl declares as void, so that this header needs no libcurl header).

// FTP over TLS: TLS on the control and every data connection or no login at all, certificates
// checked against the trust store (base/tlstrust.h), or only against `trustedCertificate` (a
// public-key pin the user accepted) when it is given. `witness` sees every certificate the
// server shows, for the question to the user; it must outlive the handle's transfers.
void setUpTls(void* handle, const QByteArray& trustedCertificate, CertificateWitness& witness);

// SFTP: password login, the host key checked against `knownHostsFile` or, when given, against
// `trustedHostKey` (the key the user accepted). `witness` records how the key matched; it must
// outlive the handle's transfers.
void setUpSsh(void* handle, const QString& knownHostsFile, const QByteArray& trustedHostKey,
              HostKeyWitness& witness);

} // namespace quendle
