#pragma once

#include "ftp/transferclient.h"

#include <memory>

namespace quendle {

struct TransferTimeouts
{
    long connectSeconds = 20; // connecting and logging in, and each reply of the server
    long stallSeconds = 30;   // a transfer that moves no byte for this long fails
};

// The transfer component on libcurl. One connection holds the logged-in session from connect to
// disconnect; every upload reuses it.
class CurlTransferClient : public TransferClient
{
public:
    explicit CurlTransferClient(TransferTimeouts timeouts = {});
    ~CurlTransferClient() override;
    CurlTransferClient(const CurlTransferClient&) = delete;
    CurlTransferClient& operator=(const CurlTransferClient&) = delete;

    TransferResult connect(const TransferRequest& request) override;
    TransferResult upload(const TransferRequest& request) override;
    TransferResult disconnect() override;

private:
    class Session;
    TransferTimeouts m_timeouts;
    std::unique_ptr<Session> m_session; // set while logged in
};

} // namespace quendle
