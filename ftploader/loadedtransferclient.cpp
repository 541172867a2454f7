#include "ftploader/loadedtransferclient.h"

#include "ftpmodule/transfermodule.h"

#include <QDir>
#include <QLibrary>

namespace quendle {

LoadedTransferClient::LoadedTransferClient(QString modulePath) : m_modulePath(std::move(modulePath))
{
}

// The module itself stays loaded until the process ends: libcurl and OpenSSL register their own
// clean-up for the exit.
LoadedTransferClient::~LoadedTransferClient() = default;

TransferResult LoadedTransferClient::load()
{
    QLibrary module(m_modulePath);
    const auto create =
        module.load()
            ? reinterpret_cast<CreateTransferClient>(module.resolve(kCreateTransferClient))
            : nullptr;
    if (create) {
        m_client.reset(create());
        return {};
    }
    // Loaded without the entry point: a module of another build, or another library.
    const QString why =
        module.isLoaded()
            ? QStringLiteral("%1 has no entry point %2").arg(m_modulePath, kCreateTransferClient)
            : module.errorString();
    return {TransferError::LibraryFailure, 0,
            QStringLiteral("The FTP component could not be loaded: %1").arg(why)};
}

TransferResult LoadedTransferClient::connect(const TransferRequest& request)
{
    if (!m_client) {
        const TransferResult loaded = load();
        if (!loaded.ok())
            return loaded;
    }
    return m_client->connect(request);
}

TransferResult LoadedTransferClient::upload(const TransferRequest& request)
{
    if (!m_client)
        return {TransferError::NotConnected, 0, QStringLiteral("Not connected to an FTP server.")};
    return m_client->upload(request);
}

TransferResult LoadedTransferClient::disconnect()
{
    return m_client ? m_client->disconnect() : TransferResult{};
}

void LoadedTransferClient::trust(const ServerIdentity& identity)
{
    // Only a loaded component can have refused a server.
    if (m_client)
        m_client->trust(identity);
}

QString transferModulePath(const QString& programDirectory)
{
    return QDir::cleanPath(programDirectory + QLatin1Char('/') +
                           QLatin1String(kTransferModuleFromProgram));
}

} // namespace quendle
