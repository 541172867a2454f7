#pragma once

#include <QString>

namespace quendle {

// Everything a connection and an upload need. Connect reads the login (host, user, password);
// Upload reads the file (remote directory, local file, remote name) and uses the login of the
// last Connect, so edits of the login reach the server only with the next Connect.
struct TransferRequest
{
    QString host; // "[scheme://]host[:port]"; IPv6 literals in brackets
    QString user;
    QString password;
    QString remoteDirectory; // "/x" absolute on the server, "x" below the login directory
    QString localFile;
    QString remoteName;
};

// What went wrong, in the component's own terms. The library's codes stay in the details.
enum class TransferError {
    None,
    InvalidHost,           // the host text is not a host name or address with an optional port
    UnknownScheme,         // the host text names a scheme other than ftp, ftpes, ftps and sftp
    InvalidLogin,          // a line break or another control character in the user or password
    NotConnected,          // an upload without a logged-in connection
    LocalFileUnreadable,   // the page file to send cannot be read
    LibraryFailure,        // the transfer library could not be started
    ConnectionFailed,      // the server could not be reached, or it broke off
    CertificateNotTrusted, // the server's TLS certificate failed the checks; see `identity`
    HostKeyUnknown,        // the server's SSH host key is not in known_hosts; see `identity`
    HostKeyChanged,        // the server's SSH host key differs from the one in known_hosts
    LoginRefused,          // the server refused the user name or the password
    TimedOut,              // the server stopped answering within the bounds
    TransferFailed,        // the server refused or broke off the upload
};

// A server whose identity the checks could not confirm: what a person needs to decide whether to
// trust it, and what the component holds on to when they do.
struct ServerIdentity
{
    enum class Kind { None, Certificate, HostKey };
    Kind kind = Kind::None;
    QString server;      // "host:port"
    QString description; // why it is not trusted, then the certificate's or the key's particulars
    QByteArray pin;      // the component's own record of exactly this certificate or key
};

struct TransferResult
{
    TransferError error = TransferError::None;
    int libraryCode = 0; // the transfer library's own code, for the details only
    QString detail;      // the server's reply or the library's message; never the password. After
                         // an upload that went well, a note on how it was made, or empty
    ServerIdentity identity{}; // for CertificateNotTrusted and HostKeyUnknown
    // After an upload that went well: the file went straight under its name, not under a
    // temporary one renamed over it.
    bool direct = false;

    bool ok() const { return error == TransferError::None; }
};

// The transfer component: blocking operations. They may run on any one thread at a time,
// a worker thread of a window or the main thread of a command-line program.
class TransferClient
{
public:
    virtual ~TransferClient() = default;

    // Opens the connection and logs in; the connection is kept for every later upload.
    virtual TransferResult connect(const TransferRequest& request) = 0;
    // Stores the local file under the remote name in the remote directory, replacing a file of
    // that name, on the connection of the last connect. The file goes to ".NAME.XXXXXXXX.tmp"
    // beside it first and is renamed over it, so that the old file is replaced only by a whole
    // new one; a server that refuses this gets the file directly, and the result's detail of
    // that one upload says so.
    virtual TransferResult upload(const TransferRequest& request) = 0;
    // Logs out and closes the connection.
    virtual TransferResult disconnect() = 0;
    // Accepts the server a connect refused as not trusted, exactly as that result described it:
    // a certificate for the rest of this run, an SSH host key also in the user's known_hosts.
    // The next connect to that server goes through.
    virtual void trust(const ServerIdentity& identity) = 0;
};

} // namespace quendle
