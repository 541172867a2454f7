#pragma once

#include <QString>

namespace quendle {

// Everything a connection and an upload need. Connect reads the login (host, user, password);
// Upload reads the file (remote directory, local file, remote name) and uses the login of the
// last Connect, so edits of the login reach the server only with the next Connect.
struct TransferRequest
{
    QString host; // "host" or "host:port"; IPv6 literals in brackets
    QString user;
    QString password;
    QString remoteDirectory; // "/x" absolute on the server, "x" below the login directory
    QString localFile;
    QString remoteName;
};

// What went wrong, in the component's own terms. The library's codes stay in the details.
enum class TransferError {
    None,
    InvalidHost,         // the host text is not a host name or address with an optional port
    InvalidLogin,        // a line break or another control character in the user or password
    NotConnected,        // an upload without a logged-in connection
    LocalFileUnreadable, // the page file to send cannot be read
    LibraryFailure,      // the transfer library could not be started
    ConnectionFailed,    // the server could not be reached, or it broke off
    LoginRefused,        // the server refused the user name or the password
    TimedOut,            // the server stopped answering within the bounds
    TransferFailed,      // the server refused or broke off the upload
};

struct TransferResult
{
    TransferError error = TransferError::None;
    int libraryCode = 0; // the transfer library's own code, for the details only
    QString detail;      // the server's reply or the library's message; never the password

    bool ok() const { return error == TransferError::None; }
};

// The transfer component: three blocking operations. They may run on any one thread at a time,
// a worker thread of a window or the main thread of a command-line program.
class TransferClient
{
public:
    virtual ~TransferClient() = default;

    // Opens the connection and logs in; the connection is kept for every later upload.
    virtual TransferResult connect(const TransferRequest& request) = 0;
    // Stores the local file under the remote name in the remote directory, replacing a file of
    // that name, on the connection of the last connect.
    virtual TransferResult upload(const TransferRequest& request) = 0;
    // Logs out and closes the connection.
    virtual TransferResult disconnect() = 0;
};

} // namespace quendle
