#pragma once

#include "ftp/transferclient.h"
#include "publish/uploadpage.h"

#include <QString>

#include <optional>

namespace quendle {

class TransferClient;

struct ServerLogin
{
    QString host;
    QString user;
    QString password;
};

struct ConnectResult
{
    // Untrusted: the server's certificate or SSH host key needs the user's word; `text` is the
    // question, `details` why the connect fails if the answer is no.
    enum class Status { MissingField, Failed, Untrusted, Connected };
    Status status = Status::Connected;
    QString text;              // the message for the user
    QString details;           // why the login failed
    ServerIdentity identity{}; // what to trust when the user accepts an Untrusted server
    TransferError error = TransferError::None; // the transfer component's word for a failure
};

// The first of host, user name and password that is empty, as the message that asks for it.
// Blanks count as filled in.
std::optional<ConnectResult> missingLoginField(const ServerLogin& login);

// Logs in with the login as it stands; a failed login leaves no connection open.
ConnectResult logIn(TransferClient& ftp, const ServerLogin& login);

// Accepts the server as `untrusted` described it, then logs in again. A server that is still not
// trusted fails, so the user is never asked twice for one Connect.
ConnectResult logInTrusting(TransferClient& ftp, const ServerLogin& login,
                            const ConnectResult& untrusted);

// The failure the user chose by not trusting the server.
ConnectResult refuseServer(const ConnectResult& untrusted);

// The failure of an untrusted server where no one can be asked, as in the headless publisher:
// why the server is not trusted, once, and how to make it trusted for good or have it fixed.
ConnectResult refuseWithoutAsking(const ConnectResult& untrusted);

// Checks the login fields, then logs in; `wait` runs the login, the step that waits for the
// server, and returns its result (a window runs it on a worker under the wait cursor). A missing
// field is reported without it.
template <class Wait>
ConnectResult connectToServer(TransferClient& ftp, const ServerLogin& login, Wait wait)
{
    if (auto missing = missingLoginField(login))
        return *missing;
    return wait([&] { return logIn(ftp, login); });
}

// The same, logging in right here.
ConnectResult connectToServer(TransferClient& ftp, const ServerLogin& login);

struct OfflinePageResult
{
    enum class Status { Uploaded, UploadFailed, PageNotWritten };
    Status status = Status::Uploaded;
    QString text;    // the upload's message, or why the page could not be written
    QString details; // why the upload failed
};

// Writes the offline page and uploads it. When the page cannot be written nothing is uploaded,
// so the server never gets the previous page in its place.
OfflinePageResult publishOfflinePage(TransferClient& ftp, const QString& remoteDirectory,
                                     const QString& pagePath, const QString& email);

} // namespace quendle
