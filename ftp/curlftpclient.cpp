#include "ftp/curlftpclient.h"

#include "ftp/ftpurl.h"

#include <QFile>

#include <algorithm>
#include <mutex>

namespace quendle {

namespace {

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A line break in the user name or password would end the login command and start another.
bool hasControlCharacter(const QString& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

size_t readFromFile(char* buffer, size_t size, size_t count, void* file)
{
    const qint64 read = static_cast<QFile*>(file)->read(buffer, static_cast<qint64>(size * count));
    return read < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(read);
}

} // namespace

CurlFtpClient::CurlFtpClient(FtpTimeouts timeouts) : m_timeouts(timeouts)
{
    initialiseCurlOnce();
}

CurlFtpClient::~CurlFtpClient()
{
    closeConnection();
}

int CurlFtpClient::onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self)
{
    // Only what the server says is kept: outgoing lines would hold the password.
    if (type == CURLINFO_HEADER_IN) {
        QByteArray reply(data, static_cast<qsizetype>(size));
        static_cast<CurlFtpClient*>(self)->m_lastReply = reply.trimmed();
    }
    return 0;
}

int CurlFtpClient::fail(int code, const QString& why)
{
    m_lastError = why;
    return code;
}

int CurlFtpClient::failFromCurl(CURLcode code)
{
    QString why = QString::fromUtf8(m_errorBuffer[0] ? m_errorBuffer : curl_easy_strerror(code));
    const char first = m_lastReply.isEmpty() ? '\0' : m_lastReply.front();
    if (first == '4' || first == '5')
        why += QStringLiteral("\nThe server replied: %1").arg(QString::fromUtf8(m_lastReply));
    return fail(static_cast<int>(code), why);
}

CURLcode CurlFtpClient::perform()
{
    m_errorBuffer[0] = '\0';
    m_lastReply.clear();
    return curl_easy_perform(m_handle);
}

void CurlFtpClient::closeConnection()
{
    // Cleaning up the handle closes its connection with QUIT.
    if (m_handle)
        curl_easy_cleanup(m_handle);
    m_handle = nullptr;
}

int CurlFtpClient::Connect()
{
    closeConnection();
    const auto authority = ftpAuthority(ServerHost);
    if (!authority)
        return fail(
            kInvalidHost,
            QStringLiteral("\"%1\" is not a valid host name or host:port.").arg(ServerHost));
    m_authority = *authority;
    if (hasControlCharacter(LoginName) || hasControlCharacter(LoginPassword))
        return fail(kInvalidLogin, QStringLiteral("The user name or the password holds a line "
                                                  "break or another control character."));

    m_handle = curl_easy_init();
    if (!m_handle)
        return fail(CURLE_FAILED_INIT, QStringLiteral("The FTP library could not be started."));
    const QByteArray user = LoginName.toUtf8();
    const QByteArray password = LoginPassword.toUtf8();
    curl_easy_setopt(m_handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_handle, CURLOPT_ERRORBUFFER, m_errorBuffer);
    curl_easy_setopt(m_handle, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(m_handle, CURLOPT_DEBUGFUNCTION, &CurlFtpClient::onDebug);
    curl_easy_setopt(m_handle, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(m_handle, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(m_handle, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(m_handle, CURLOPT_PASSWORD, password.constData());
    curl_easy_setopt(m_handle, CURLOPT_CONNECTTIMEOUT, m_timeouts.connectSeconds);
    curl_easy_setopt(m_handle, CURLOPT_SERVER_RESPONSE_TIMEOUT, m_timeouts.connectSeconds);
    curl_easy_setopt(m_handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(m_handle, CURLOPT_LOW_SPEED_TIME, m_timeouts.stallSeconds);
    curl_easy_setopt(m_handle, CURLOPT_TRANSFERTEXT, 0L);

    // Asking for the login directory without a transfer logs in and leaves the connection open.
    const QByteArray url = "ftp://" + m_authority.toUtf8() + '/';
    curl_easy_setopt(m_handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(m_handle, CURLOPT_NOBODY, 1L);
    const CURLcode code = perform();
    if (code == CURLE_OK)
        return 0;
    const int error = failFromCurl(code);
    closeConnection();
    return error;
}

bool CurlFtpClient::connectionDropped(CURLcode code) const
{
    if (m_lastReply.startsWith("421"))
        return true;
    switch (code) {
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_FTP_WEIRD_SERVER_REPLY:
    case CURLE_PARTIAL_FILE:
        return true;
    default:
        return false;
    }
}

int CurlFtpClient::Upload()
{
    if (!m_handle)
        return fail(kNotConnected, QStringLiteral("Not connected to an FTP server."));
    QFile file(LocalFile);
    if (!file.open(QIODevice::ReadOnly))
        return fail(
            kLocalFileUnreadable,
            QStringLiteral("The file %1 cannot be read: %2").arg(LocalFile, file.errorString()));

    const QByteArray url =
        "ftp://" + m_authority.toUtf8() + '/' + ftpPath(RemoteDirectory, RemoteFile).toUtf8();
    curl_easy_setopt(m_handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(m_handle, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(m_handle, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(m_handle, CURLOPT_READFUNCTION, &readFromFile);
    curl_easy_setopt(m_handle, CURLOPT_READDATA, &file);
    curl_easy_setopt(m_handle, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(file.size()));

    CURLcode code = perform();
    if (code != CURLE_OK && connectionDropped(code) && file.seek(0)) {
        // The server closed the idle connection: log in again once with the same login.
        curl_easy_setopt(m_handle, CURLOPT_FRESH_CONNECT, 1L);
        code = perform();
        curl_easy_setopt(m_handle, CURLOPT_FRESH_CONNECT, 0L);
    }
    curl_easy_setopt(m_handle, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(m_handle, CURLOPT_READDATA, nullptr);
    return code == CURLE_OK ? 0 : failFromCurl(code);
}

int CurlFtpClient::Disconnect()
{
    closeConnection();
    return 0;
}

} // namespace quendle
