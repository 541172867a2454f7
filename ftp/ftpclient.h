#pragma once

#include <QString>

namespace quendle {

// The FTP component: six text properties and three synchronous operations, each returning 0 on
// success and a non-zero error number on failure.
class FtpClient
{
public:
    virtual ~FtpClient() = default;

    QString ServerHost; // "host" or "host:port"; IPv6 literals in brackets
    QString LoginName;
    QString LoginPassword;
    QString RemoteDirectory; // "/x" absolute on the server, "x" below the login directory
    QString LocalFile;
    QString RemoteFile;

    // Opens the control connection and logs in; the connection is kept for every later Upload.
    virtual int Connect() = 0;
    // Stores LocalFile as RemoteFile in RemoteDirectory, replacing a file of that name.
    virtual int Upload() = 0;
    // Logs out and closes the connection.
    virtual int Disconnect() = 0;

    // Why the last failing operation failed (the server's reply or the library's message).
    virtual QString lastError() const = 0;
};

} // namespace quendle
