#pragma once

#include "ftp/certificatewitness.h"
#include "ftp/knownhosts.h"
#include "ftp/transferclient.h"
#include "ftp/transferurl.h"

#include <QByteArray>
#include <QString>

namespace quendle {

// What is known of a libcurl call that failed: its code (a CURLcode), the library's error
// buffer and the server's last reply line.
struct CurlFailure
{
    int code = 0;
    QString errorBuffer; // empty when the library wrote none
    QByteArray lastReply;
};

// What the checks of the server's identity saw on the connection that failed.
struct IdentityChecks
{
    const ServerAddress& address;
    const CertificateWitness& certificates;
    const HostKeyWitness& hostKeys;
    const QString& knownHostsFile;
    bool certificatePinned; // the user accepted the server's certificate earlier in this run
    bool hostKeyPinned;     // likewise its SSH host key
};

// The component's error for a libcurl failure, with the library's message and the server's last
// refusal as the details: a refused login, a timeout, a connection that failed, a certificate or
// host key the checks refused, and `otherwise` for the rest.
TransferResult classifyFailure(const CurlFailure& failure, TransferError otherwise,
                               const IdentityChecks& checks);

// True when the failure is what a server that closed an idle connection leaves.
bool connectionDropped(const CurlFailure& failure);

// Why the server refused the last command: its reply, or the library's message for SFTP.
QString lastRefusal(const CurlFailure& failure);

} // namespace quendle
