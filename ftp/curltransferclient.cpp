#include "ftp/curltransferclient.h"

#include "base/controlcharacters.h"
#include "base/curlglobal.h"
#include "ftp/curlfailure.h"
#include "ftp/curlsecurity.h"
#include "ftp/renamestrategy.h"
#include "ftp/transferurl.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace quendle {

namespace {

using Clock = std::chrono::steady_clock;

size_t readFromFile(char* buffer, size_t size, size_t count, void* file)
{
    const qint64 read = static_cast<QFile*>(file)->read(buffer, static_cast<qint64>(size * count));
    return read < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(read);
}

TransferResult failure(TransferError error, const QString& detail)
{
    return {error, 0, detail, {}};
}

// A list of commands for libcurl, which keeps only a pointer to it.
class CommandList
{
public:
    explicit CommandList(const QStringList& commands)
    {
        for (const QString& command : commands)
            m_list = curl_slist_append(m_list, command.toUtf8().constData());
    }
    ~CommandList() { curl_slist_free_all(m_list); }
    CommandList(const CommandList&) = delete;
    CommandList& operator=(const CommandList&) = delete;

    curl_slist* list() const { return m_list; }

private:
    curl_slist* m_list = nullptr;
};

// Everything one connection is set up with.
struct SessionSetup
{
    ServerAddress address;
    TransferTimeouts timeouts;
    QString knownHostsFile;
    QByteArray trustedCertificate; // the public-key pin the user accepted, or empty
    QByteArray trustedHostKey;     // the SSH host key the user accepted, or empty
};

} // namespace

// One libcurl easy handle and the logged-in connection it keeps: its set-up and the transfer
// loop. How a page goes up is the rename strategy's (renamestrategy.h), how the server is
// checked curlsecurity.h's, and what a failure means curlfailure.h's.
class CurlTransferClient::Session
{
public:
    explicit Session(SessionSetup setup)
        : m_handle(curl_easy_init()), m_transfers(curl_multi_init()), m_setup(std::move(setup)),
          m_certificates(m_setup.address.bareHost()), m_rename(isSftp())
    {
    }
    ~Session()
    {
        // The connection stays in the multi handle's cache between transfers: cleaning that up
        // logs out: QUIT over FTP, then the TLS close; SSH's disconnect.
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
        setUpHandle(user, password);
        // Asking for the login directory without a transfer logs in and leaves the connection
        // open.
        const QByteArray address = loginUrl(m_setup.address).toUtf8();
        curl_easy_setopt(m_handle, CURLOPT_URL, address.constData());
        curl_easy_setopt(m_handle, CURLOPT_NOBODY, 1L);
        boundWithin(Clock::now() + std::chrono::seconds(m_setup.timeouts.operationSeconds));
        const CURLcode code = perform();
        return code == CURLE_OK ? TransferResult{} : failed(code, TransferError::ConnectionFailed);
    }

    TransferResult upload(const TransferRequest& request)
    {
        if (hasControlCharacter(request.remoteDirectory) || hasControlCharacter(request.remoteName))
            return failure(TransferError::TransferFailed,
                           QStringLiteral("The remote directory or file name holds a line break "
                                          "or another control character."));
        QFile file(request.localFile);
        if (!file.open(QIODevice::ReadOnly))
            return failure(TransferError::LocalFileUnreadable,
                           QStringLiteral("The file %1 cannot be read: %2")
                               .arg(request.localFile, file.errorString()));
        UploadSteps steps(*this, file, request,
                          Clock::now() + std::chrono::seconds(m_setup.timeouts.operationSeconds));
        return m_rename.upload(steps, request.remoteDirectory, request.remoteName);
    }

private:
    // The steps of one upload as the rename strategy asks for them, within the upload's bound.
    class UploadSteps : public RenameStrategy::Connection
    {
    public:
        UploadSteps(Session& session, QFile& file, const TransferRequest& request,
                    Clock::time_point deadline)
            : m_session(session), m_file(file), m_request(request), m_deadline(deadline)
        {
        }

        RenameStrategy::Step send(const QString& name, const QStringList& afterwards) override
        {
            return m_session.step(m_session.send(m_file, m_request, name, afterwards, m_deadline));
        }
        RenameStrategy::Step run(const QStringList& commands) override
        {
            return m_session.step(m_session.command(m_request, commands, m_deadline));
        }
        void tidy(const QStringList& commands) override
        {
            m_session.command(m_request, commands,
                              Clock::now() +
                                  std::chrono::seconds(m_session.m_setup.timeouts.connectSeconds));
        }

    private:
        Session& m_session;
        QFile& m_file;
        const TransferRequest& m_request;
        Clock::time_point m_deadline;
    };

    void setUpHandle(const QString& user, const QString& password)
    {
        const QByteArray userBytes = user.toUtf8();
        const QByteArray passwordBytes = password.toUtf8();
        curl_easy_setopt(m_handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(m_handle, CURLOPT_ERRORBUFFER, m_errorBuffer);
        curl_easy_setopt(m_handle, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(m_handle, CURLOPT_DEBUGFUNCTION, &Session::onDebug);
        curl_easy_setopt(m_handle, CURLOPT_DEBUGDATA, this);
        curl_easy_setopt(m_handle, CURLOPT_USERNAME, userBytes.constData());
        curl_easy_setopt(m_handle, CURLOPT_PASSWORD, passwordBytes.constData());
        curl_easy_setopt(m_handle, CURLOPT_CONNECTTIMEOUT, m_setup.timeouts.connectSeconds);
        curl_easy_setopt(m_handle, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                         m_setup.timeouts.connectSeconds);
        curl_easy_setopt(m_handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(m_handle, CURLOPT_LOW_SPEED_TIME, m_setup.timeouts.stallSeconds);
        curl_easy_setopt(m_handle, CURLOPT_TRANSFERTEXT, 0L);
        // "." and ".." go to the server as typed: the library would otherwise drop them from the
        // path and the page would land in another directory.
        curl_easy_setopt(m_handle, CURLOPT_PATH_AS_IS, 1L);
        switch (m_setup.address.scheme) {
        case TransferScheme::Ftp:
            curl_easy_setopt(m_handle, CURLOPT_PROTOCOLS_STR, "ftp");
            break;
        case TransferScheme::ExplicitTls:
            curl_easy_setopt(m_handle, CURLOPT_PROTOCOLS_STR, "ftp");
            setUpTls(m_handle, m_setup.trustedCertificate, m_certificates);
            break;
        case TransferScheme::ImplicitTls:
            curl_easy_setopt(m_handle, CURLOPT_PROTOCOLS_STR, "ftps");
            setUpTls(m_handle, m_setup.trustedCertificate, m_certificates);
            break;
        case TransferScheme::Sftp:
            curl_easy_setopt(m_handle, CURLOPT_PROTOCOLS_STR, "sftp");
            setUpSsh(m_handle, m_setup.knownHostsFile, m_setup.trustedHostKey, m_hostKeys);
            break;
        }
    }

    bool isSftp() const { return m_setup.address.scheme == TransferScheme::Sftp; }

    // Sends the file as `name` into the request's directory, then runs `afterwards` there.
    CURLcode send(QFile& file, const TransferRequest& request, const QString& name,
                  const QStringList& afterwards, Clock::time_point deadline)
    {
        const QByteArray address =
            uploadUrl(m_setup.address, request.remoteDirectory, name).toUtf8();
        const CommandList commands(afterwards);
        file.seek(0);
        curl_easy_setopt(m_handle, CURLOPT_URL, address.constData());
        curl_easy_setopt(m_handle, CURLOPT_NOBODY, 0L);
        curl_easy_setopt(m_handle, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(m_handle, CURLOPT_READFUNCTION, &readFromFile);
        curl_easy_setopt(m_handle, CURLOPT_READDATA, &file);
        curl_easy_setopt(m_handle, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(file.size()));
        curl_easy_setopt(m_handle, CURLOPT_POSTQUOTE, commands.list());
        boundWithin(deadline);
        CURLcode code = perform();
        if (code != CURLE_OK && connectionDropped(lastFailure(code)) && file.seek(0)) {
            // The server closed the idle connection: log in again once with the same login.
            curl_easy_setopt(m_handle, CURLOPT_FRESH_CONNECT, 1L);
            boundWithin(deadline);
            code = perform();
            curl_easy_setopt(m_handle, CURLOPT_FRESH_CONNECT, 0L);
        }
        curl_easy_setopt(m_handle, CURLOPT_UPLOAD, 0L);
        curl_easy_setopt(m_handle, CURLOPT_READDATA, nullptr);
        curl_easy_setopt(m_handle, CURLOPT_POSTQUOTE, nullptr);
        return code;
    }

    // Runs `commands` without a transfer: FTP's in the request's directory.
    CURLcode command(const TransferRequest& request, const QStringList& commands,
                     Clock::time_point deadline)
    {
        // A listing that is asked for without its body changes into the directory and stops.
        const QByteArray address =
            (isSftp() ? loginUrl(m_setup.address)
                      : uploadUrl(m_setup.address, request.remoteDirectory, QString()))
                .toUtf8();
        const CommandList list(commands);
        curl_easy_setopt(m_handle, CURLOPT_URL, address.constData());
        curl_easy_setopt(m_handle, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(m_handle, CURLOPT_POSTQUOTE, list.list());
        boundWithin(deadline);
        const CURLcode code = perform();
        curl_easy_setopt(m_handle, CURLOPT_POSTQUOTE, nullptr);
        curl_easy_setopt(m_handle, CURLOPT_NOBODY, 0L);
        return code;
    }

    // What the last transfer came to, as the rename strategy reads it.
    RenameStrategy::Step step(CURLcode code) const
    {
        RenameStrategy::Step result;
        result.ok = code == CURLE_OK;
        result.uploadFailed = code == CURLE_UPLOAD_FAILED;
        result.commandFailed = code == CURLE_QUOTE_ERROR;
        result.timedOut = code == CURLE_OPERATION_TIMEDOUT;
        result.refusedForGood = m_lastReply.startsWith('5');
        if (!result.ok) {
            result.failure = failed(code, TransferError::TransferFailed);
            result.refusal = lastRefusal(lastFailure(code));
        }
        return result;
    }

    // Bounds the next transfer so that the operation ends by `deadline`.
    void boundWithin(Clock::time_point deadline)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        curl_easy_setopt(m_handle, CURLOPT_TIMEOUT_MS, std::max<long>(1, left.count()));
    }

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
        m_certificates.reset();
        m_hostKeys.reset();
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

    CurlFailure lastFailure(CURLcode code) const
    {
        return {static_cast<int>(code), QString::fromUtf8(m_errorBuffer), m_lastReply};
    }

    TransferResult failed(CURLcode code, TransferError otherwise) const
    {
        const IdentityChecks checks{m_setup.address,
                                    m_certificates,
                                    m_hostKeys,
                                    m_setup.knownHostsFile,
                                    !m_setup.trustedCertificate.isEmpty(),
                                    !m_setup.trustedHostKey.isEmpty()};
        return classifyFailure(lastFailure(code), otherwise, checks);
    }

    CURL* m_handle;
    CURLM* m_transfers; // drives the handle's transfers and keeps its connection between them
    SessionSetup m_setup;
    QByteArray m_lastReply; // last reply line the server sent
    char m_errorBuffer[CURL_ERROR_SIZE] = {};
    CertificateWitness m_certificates;
    HostKeyWitness m_hostKeys;
    RenameStrategy m_rename;
};

CurlTransferClient::CurlTransferClient(TransferTimeouts timeouts, QString knownHostsFile)
    : m_timeouts(timeouts), m_knownHostsFile(std::move(knownHostsFile))
{
}

CurlTransferClient::~CurlTransferClient() = default;

TransferResult CurlTransferClient::connect(const TransferRequest& request)
{
    m_session.reset();
    const ServerAddressResult parsed = parseServerAddress(request.host);
    if (!parsed.address)
        return failure(parsed.unknownScheme ? TransferError::UnknownScheme
                                            : TransferError::InvalidHost,
                       parsed.problem);
    // A line break in the user name or password would end the login command and start another.
    if (hasControlCharacter(request.user) || hasControlCharacter(request.password))
        return failure(TransferError::InvalidLogin,
                       QStringLiteral("The user name or the password holds a line break or "
                                      "another control character."));

    // libcurl and its TLS libraries are set up only when a connection is first needed.
    initialiseCurlOnce();
    const ServerAddress& address = *parsed.address;
    const auto trusted = [&](const std::map<QString, QByteArray>& pins) {
        const auto found = pins.find(address.authority());
        return found == pins.end() ? QByteArray() : found->second;
    };
    auto session = std::make_unique<Session>(
        SessionSetup{address, m_timeouts,
                     m_knownHostsFile.isEmpty() ? defaultKnownHostsFile() : m_knownHostsFile,
                     trusted(m_trustedCertificates), trusted(m_trustedHostKeys)});
    if (!session->started())
        return failure(TransferError::LibraryFailure,
                       QStringLiteral("The transfer library could not be started."));
    const TransferResult result = session->logIn(request.user, request.password);
    if (result.ok())
        m_session = std::move(session);
    return result;
}

TransferResult CurlTransferClient::upload(const TransferRequest& request)
{
    if (!m_session)
        return failure(TransferError::NotConnected, QStringLiteral("Not connected to a server."));
    return m_session->upload(request);
}

TransferResult CurlTransferClient::disconnect()
{
    m_session.reset();
    return {};
}

void CurlTransferClient::trust(const ServerIdentity& identity)
{
    switch (identity.kind) {
    case ServerIdentity::Kind::None:
        return;
    case ServerIdentity::Kind::Certificate:
        m_trustedCertificates[identity.server] = identity.pin;
        return;
    case ServerIdentity::Kind::HostKey:
        m_trustedHostKeys[identity.server] = identity.pin;
        if (const auto address = parseServerAddress(identity.server).address) {
            // Kept for later runs as ssh would keep it; this run holds the key in memory as well,
            // so a file that cannot be written or read back does not stop it.
            const QString file =
                m_knownHostsFile.isEmpty() ? defaultKnownHostsFile() : m_knownHostsFile;
            static_cast<void>(appendKnownHost(
                file,
                knownHostsLine(knownHostsName(address->bareHost(), address->port), identity.pin)));
        }
        return;
    }
}

} // namespace quendle
