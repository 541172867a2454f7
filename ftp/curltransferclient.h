#pragma once

#include "ftp/transferclient.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>

namespace quendle {

struct TransferTimeouts
{
    long connectSeconds = 20;   // connecting and logging in, and each reply of the server
    long stallSeconds = 30;     // a transfer that moves no byte for this long fails
    long operationSeconds = 60; // a whole connect, or a whole upload with its new login
};

// The transfer component on libcurl: FTP, FTP over TLS and SFTP, chosen by the scheme of the host
// text. One connection holds the logged-in session from connect to disconnect; every upload
// reuses it. Certificates are checked against the system's store, or SSL_CERT_FILE and
// SSL_CERT_DIR where set; SSH host keys against `knownHostsFile` (by default
// ~/.ssh/known_hosts).
class CurlTransferClient : public TransferClient
{
public:
    explicit CurlTransferClient(TransferTimeouts timeouts = {}, QString knownHostsFile = {});
    ~CurlTransferClient() override;
    CurlTransferClient(const CurlTransferClient&) = delete;
    CurlTransferClient& operator=(const CurlTransferClient&) = delete;

    TransferResult connect(const TransferRequest& request) override;
    TransferResult upload(const TransferRequest& request) override;
    TransferResult disconnect() override;
    void trust(const ServerIdentity& identity) override;

private:
    class Session;
    TransferTimeouts m_timeouts;
    QString m_knownHostsFile;
    // What the user accepted in this run, by "host:port": certificates' public-key pins and SSH
    // host keys. Kept in memory only.
    std::map<QString, QByteArray> m_trustedCertificates;
    std::map<QString, QByteArray> m_trustedHostKeys;
    std::unique_ptr<Session> m_session; // set while logged in
};

} // namespace quendle
