#pragma once

#include "ftp/ftpclient.h"

#include <QByteArray>

#include <curl/curl.h>

namespace quendle {

struct FtpTimeouts
{
    long connectSeconds = 20; // connecting and logging in, and each reply of the server
    long stallSeconds = 30;   // a transfer that moves no byte for this long fails
};

// The FTP component on libcurl's easy interface. One easy handle holds the logged-in control
// connection from Connect to Disconnect; every Upload reuses it.
class CurlFtpClient : public FtpClient
{
public:
    // Errors of the component's own, beside libcurl's codes.
    static constexpr int kNotConnected = 1000;
    static constexpr int kInvalidHost = 1001;
    static constexpr int kLocalFileUnreadable = 1002;
    static constexpr int kInvalidLogin = 1003;

    explicit CurlFtpClient(FtpTimeouts timeouts = {});
    ~CurlFtpClient() override;
    CurlFtpClient(const CurlFtpClient&) = delete;
    CurlFtpClient& operator=(const CurlFtpClient&) = delete;

    int Connect() override;
    int Upload() override;
    int Disconnect() override;
    QString lastError() const override { return m_lastError; }

private:
    int fail(int code, const QString& why);
    int failFromCurl(CURLcode code);
    CURLcode perform();
    bool connectionDropped(CURLcode code) const;
    void closeConnection();
    static int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self);

    FtpTimeouts m_timeouts;
    CURL* m_handle = nullptr; // non-null while logged in
    QString m_authority;      // of the last login
    QByteArray m_lastReply;   // last reply line the server sent
    char m_errorBuffer[CURL_ERROR_SIZE] = {};
    QString m_lastError;
};

} // namespace quendle
