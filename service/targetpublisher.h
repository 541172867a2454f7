#pragma once

#include "ftp/curltransferclient.h"
#include "service/publishersettings.h"
#include "service/targetoutcome.h"

#include <memory>

namespace quendle {

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
    PageOutcome publish(const QString& pagePath);
    void logOut();

private:
    TargetSettings m_settings;
    TransferTimeouts m_timeouts;
    std::unique_ptr<CurlTransferClient> m_ftp; // made at the first publish
    bool m_connected = false;
};

} // namespace quendle
