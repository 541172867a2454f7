#pragma once

#include "ftp/transferclient.h"

#include <QStringList>

namespace quendle::testing {

// A transfer component that answers with preset errors and records the calls it received.
class FakeTransferClient : public TransferClient
{
public:
    TransferResult connect(const TransferRequest& request) override
    {
        calls
            << QStringLiteral("Connect %1 %2 %3").arg(request.host, request.user, request.password);
        return answer(connectError);
    }
    TransferResult upload(const TransferRequest& request) override
    {
        calls << QStringLiteral("Upload %1 %2 %3")
                     .arg(request.remoteDirectory, request.localFile, request.remoteName);
        return answer(uploadError);
    }
    TransferResult disconnect() override
    {
        calls << QStringLiteral("Disconnect");
        return {};
    }
    void trust(const ServerIdentity& identity) override
    {
        calls << QStringLiteral("Trust %1").arg(identity.server);
        connectError = TransferError::None;
    }

    TransferError connectError = TransferError::None;
    TransferError uploadError = TransferError::None;
    QStringList calls;

private:
    static TransferResult answer(TransferError error)
    {
        if (error == TransferError::None)
            return {};
        ServerIdentity identity;
        if (error == TransferError::CertificateNotTrusted)
            identity = {ServerIdentity::Kind::Certificate, QStringLiteral("h:21"),
                        QStringLiteral("The certificate of h:21 cannot be trusted."), "pin"};
        return {error, 0, QStringLiteral("530 fake failure"), identity};
    }
};

} // namespace quendle::testing
