#pragma once

#include "ftp/curltransferclient.h"
#include "service/publishersettings.h"

#include <chrono>
#include <memory>

namespace quendle {

struct TargetOutcome
{
    bool ok = false;
    bool loggedIn = false; // this publish made a new login
    qint64 bytes = 0;
    qint64 milliseconds = 0;
    QString reason;  // what failed, for people
    QString details; // the library's message and the server's reply; never the password. After
                     // an upload, a note to log as a warning (a server that refused the rename)
    TransferError error = TransferError::None; // the transfer component's own word for it
    // Whether what visitors see was checked after the upload, and what was found.
    enum class Check { None, Verified, NotVerified };
    Check check = Check::None;
    QString checkNote; // for NotVerified: what the address holds instead, for people
    // A failure after which the server asks not to be tried again sooner than this.
    std::chrono::seconds retryNotBefore{0};
    // The server will refuse the same again until the configuration changes (a DNS provider's
    // "badauth"): not retried until a reload.
    bool heldUntilReload = false;
    // What a success did, for targets other than a page ("home.example.org now holds ...").
    QString summary;

    // The server refused this login or its identity failed the checks: trying again unchanged
    // cannot help, and may get the account locked.
    bool refused() const;
};

// One server that receives the page, and the login kept with it between uploads.
class TargetPublisher
{
public:
    explicit TargetPublisher(const TargetSettings& settings, TransferTimeouts timeouts = {});
    ~TargetPublisher();
    TargetPublisher(const TargetPublisher&) = delete;
    TargetPublisher& operator=(const TargetPublisher&) = delete;

    const TargetSettings& settings() const { return m_settings; }

    // Sends the page file, logging in first when no connection is kept. A failed upload drops the
    // connection, so that the next try starts with a fresh login.
    TargetOutcome publish(const QString& pagePath);
    void logOut();

private:
    TargetSettings m_settings;
    TransferTimeouts m_timeouts;
    std::unique_ptr<CurlTransferClient> m_ftp; // made at the first publish
    bool m_connected = false;
};

} // namespace quendle
