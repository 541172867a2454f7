#pragma once

#include "ftp/transferclient.h"

#include <QString>

#include <memory>

namespace quendle {

// The transfer component, loaded from its module by the first connect: a window that has not
// connected yet holds nothing of libcurl or its TLS libraries. Until the module is loaded,
// uploads fail as not connected; a module that cannot be loaded fails the connect with the
// reason in the details, and the next connect tries again.
class LoadedTransferClient : public TransferClient
{
public:
    explicit LoadedTransferClient(QString modulePath);
    ~LoadedTransferClient() override;
    LoadedTransferClient(const LoadedTransferClient&) = delete;
    LoadedTransferClient& operator=(const LoadedTransferClient&) = delete;

    TransferResult connect(const TransferRequest& request) override;
    TransferResult upload(const TransferRequest& request) override;
    TransferResult disconnect() override;
    void trust(const ServerIdentity& identity) override;

private:
    TransferResult load();

    QString m_modulePath;
    std::unique_ptr<TransferClient> m_client; // the module's component, once loaded
};

// The module's path for the program in `programDirectory`.
QString transferModulePath(const QString& programDirectory);

} // namespace quendle
