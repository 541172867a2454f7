#include "ftp/curltransferclient.h"

#include "ftp/transferurl.h"

#include <QByteArray>
#include <QFile>

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
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

TransferResult failure(TransferError error, const QString& detail)
{
    return {error, 0, detail};
}

} // namespace

// One libcurl easy handle and the logged-in connection it keeps.
class CurlTransferClient::Session
{
public:
    Session(const QString& authority, const TransferTimeouts& timeouts)
        : m_handle(curl_easy_init()), m_transfers(curl_multi_init()),
          m_authority(authority.toUtf8()), m_timeouts(timeouts)
    {
    }
    ~Session()
    {
        // The connection stays in the multi handle's cache between transfers: cleaning that up
        // closes it with QUIT.
        if (m_handle)
            curl_easy_cleanup(m_handle);
        if (m_transfers)
            curl_multi_cleanup(m_transfers);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool started() const { return m_handle && m_transfers; }

    TransferResult logIn(const QString& user, const QString& password)
    {
        const QByteArray userBytes = user.toUtf8();
        const QByteArray passwordBytes = password.toUtf8();
        curl_easy_setopt(m_handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(m_handle, CURLOPT_ERRORBUFFER, m_errorBuffer);
        curl_easy_setopt(m_handle, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(m_handle, CURLOPT_DEBUGFUNCTION, &Session::onDebug);
        curl_easy_setopt(m_handle, CURLOPT_DEBUGDATA, this);
        curl_easy_setopt(m_handle, CURLOPT_PROTOCOLS_STR, "ftp");
        curl_easy_setopt(m_handle, CURLOPT_USERNAME, userBytes.constData());
        curl_easy_setopt(m_handle, CURLOPT_PASSWORD, passwordBytes.constData());
        curl_easy_setopt(m_handle, CURLOPT_CONNECTTIMEOUT, m_timeouts.connectSeconds);
        curl_easy_setopt(m_handle, CURLOPT_SERVER_RESPONSE_TIMEOUT, m_timeouts.connectSeconds);
        curl_easy_setopt(m_handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(m_handle, CURLOPT_LOW_SPEED_TIME, m_timeouts.stallSeconds);
        curl_easy_setopt(m_handle, CURLOPT_TRANSFERTEXT, 0L);

        // Asking for the login directory without a transfer logs in and leaves the connection
        // open.
        const QByteArray url = "ftp://" + m_authority + '/';
        curl_easy_setopt(m_handle, CURLOPT_URL, url.constData());
        curl_easy_setopt(m_handle, CURLOPT_NOBODY, 1L);
        const CURLcode code = perform();
        return code == CURLE_OK ? TransferResult{} : failed(code, TransferError::ConnectionFailed);
    }

    TransferResult upload(const TransferRequest& request)
    {
        QFile file(request.localFile);
        if (!file.open(QIODevice::ReadOnly))
            return failure(TransferError::LocalFileUnreadable,
                           QStringLiteral("The file %1 cannot be read: %2")
                               .arg(request.localFile, file.errorString()));

        const QByteArray url = "ftp://" + m_authority + '/' +
                               ftpPath(request.remoteDirectory, request.remoteName).toUtf8();
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
        return code == CURLE_OK ? TransferResult{} : failed(code, TransferError::TransferFailed);
    }

private:
    static int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self)
    {
        // Only what the server says is kept: outgoing lines would hold the password.
        if (type == CURLINFO_HEADER_IN)
            static_cast<Session*>(self)->m_lastReply =
                QByteArray(data, static_cast<qsizetype>(size)).trimmed();
        return 0;
    }

    // Runs one transfer on the session's connection. curl_easy_perform would do the same, but
    // libcurl 7.88 can leave an FTP transfer with nothing to wait for: when the server answers
    // EPSV or PASV at once, the data connection is set up without being started, and libcurl
    // offers neither a socket nor a timer. curl_easy_perform then sleeps its full poll of one
    // second before it opens the data connection. Here such a wait is cut short.
    CURLcode perform()
    {
        m_errorBuffer[0] = '\0';
        m_lastReply.clear();
        CURLMcode state = curl_multi_add_handle(m_transfers, m_handle);
        int running = 1;
        while (state == CURLM_OK) {
            state = curl_multi_perform(m_transfers, &running);
            if (state != CURLM_OK || running == 0)
                break;
            state = curl_multi_poll(m_transfers, nullptr, 0, waitMilliseconds(), nullptr);
        }
        CURLcode code = state == CURLM_OK ? CURLE_OK : CURLE_FAILED_INIT;
        int queued = 0;
        while (const CURLMsg* message = curl_multi_info_read(m_transfers, &queued))
            if (message->msg == CURLMSG_DONE && message->easy_handle == m_handle)
                code = message->data.result;
        curl_multi_remove_handle(m_transfers, m_handle);
        if (state != CURLM_OK)
            std::snprintf(m_errorBuffer, sizeof m_errorBuffer, "%s", curl_multi_strerror(state));
        return code;
    }

    // How long to wait for the transfer's sockets; libcurl's own timers shorten it.
    int waitMilliseconds()
    {
        fd_set read, write, except;
        FD_ZERO(&read);
        FD_ZERO(&write);
        FD_ZERO(&except);
        int highest = -1;
        curl_multi_fdset(m_transfers, &read, &write, &except, &highest);
        // No socket to wait on: libcurl can go on at once (the stalled data connection above).
        // A millisecond keeps a transfer that truly waits on a timer alone from spinning; a
        // socket numbered past FD_SETSIZE, which libcurl leaves out of the set, only shortens
        // the waits.
        return highest < 0 ? 1 : 1000;
    }

    bool connectionDropped(CURLcode code) const
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

    // The component's error for a libcurl failure, with the library's message and the server's
    // last refusal as the details.
    TransferResult failed(CURLcode code, TransferError otherwise) const
    {
        QString why =
            QString::fromUtf8(m_errorBuffer[0] ? m_errorBuffer : curl_easy_strerror(code));
        const char first = m_lastReply.isEmpty() ? '\0' : m_lastReply.front();
        if (first == '4' || first == '5')
            why += QStringLiteral("\nThe server replied: %1").arg(QString::fromUtf8(m_lastReply));
        TransferError error = otherwise;
        switch (code) {
        case CURLE_LOGIN_DENIED:
            error = TransferError::LoginRefused;
            break;
        case CURLE_OPERATION_TIMEDOUT:
            error = TransferError::TimedOut;
            break;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
            error = TransferError::ConnectionFailed;
            break;
        default:
            break;
        }
        return {error, static_cast<int>(code), why};
    }

    CURL* m_handle;
    CURLM* m_transfers; // drives the handle's transfers and keeps its connection between them
    QByteArray m_authority;
    TransferTimeouts m_timeouts;
    QByteArray m_lastReply; // last reply line the server sent
    char m_errorBuffer[CURL_ERROR_SIZE] = {};
};

CurlTransferClient::CurlTransferClient(TransferTimeouts timeouts) : m_timeouts(timeouts) {}

CurlTransferClient::~CurlTransferClient() = default;

TransferResult CurlTransferClient::connect(const TransferRequest& request)
{
    m_session.reset();
    const auto authority = ftpAuthority(request.host);
    if (!authority)
        return failure(
            TransferError::InvalidHost,
            QStringLiteral("\"%1\" is not a valid host name or host:port.").arg(request.host));
    if (hasControlCharacter(request.user) || hasControlCharacter(request.password))
        return failure(TransferError::InvalidLogin,
                       QStringLiteral("The user name or the password holds a line break or "
                                      "another control character."));

    // libcurl and its TLS libraries are set up only when a connection is first needed.
    initialiseCurlOnce();
    auto session = std::make_unique<Session>(*authority, m_timeouts);
    if (!session->started())
        return failure(TransferError::LibraryFailure,
                       QStringLiteral("The FTP library could not be started."));
    const TransferResult result = session->logIn(request.user, request.password);
    if (result.ok())
        m_session = std::move(session);
    return result;
}

TransferResult CurlTransferClient::upload(const TransferRequest& request)
{
    if (!m_session)
        return failure(TransferError::NotConnected,
                       QStringLiteral("Not connected to an FTP server."));
    return m_session->upload(request);
}

TransferResult CurlTransferClient::disconnect()
{
    m_session.reset();
    return {};
}

} // namespace quendle
