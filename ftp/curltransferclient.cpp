#include "ftp/curltransferclient.h"

#include "base/controlcharacters.h"
#include "base/curlglobal.h"
#include "base/tlstrust.h"
#include "ftp/certificatewitness.h"
#include "ftp/knownhosts.h"
#include "ftp/transferurl.h"

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

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

bool usesTls(TransferScheme scheme)
{
    return scheme == TransferScheme::ExplicitTls || scheme == TransferScheme::ImplicitTls;
}

const QString kPrivateCaAdvice = QStringLiteral(
    "\n\nCompare the fingerprint with the one the server's administrator gives you. To trust a "
    "private certificate authority, start the program with SSL_CERT_FILE set to a PEM file "
    "holding its certificate, or SSL_CERT_DIR set to a folder of such files prepared with "
    "\"openssl rehash\".");

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

// One libcurl easy handle and the logged-in connection it keeps.
class CurlTransferClient::Session
{
public:
    explicit Session(SessionSetup setup)
        : m_handle(curl_easy_init()), m_transfers(curl_multi_init()), m_setup(std::move(setup)),
          m_certificates(m_setup.address.bareHost())
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

    // Sends the page under a temporary name in the same directory and renames it over the old
    // page, so that visitors see either the old page or the whole new one. A server that refuses
    // the rename gets the page straight under its name for the rest of the connection.
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
        const Clock::time_point deadline =
            Clock::now() + std::chrono::seconds(m_setup.timeouts.operationSeconds);
        if (m_sendDirectly)
            return result(send(file, request, request.remoteName, {}, deadline));

        const QString temporary = temporaryName(request.remoteName);
        const QString page = request.remoteName;
        CURLcode code =
            send(file, request, temporary,
                 renameCommands(request, temporary, page, m_removeBeforeRename), deadline);
        if (code == CURLE_QUOTE_ERROR && isSftp() && !m_removeBeforeRename) {
            // SFTP's rename keeps an existing file on many servers (OpenSSH's among them): the
            // old page goes first, for the moment between the two commands.
            code = command(request, renameCommands(request, temporary, page, true), deadline);
            m_removeBeforeRename = code == CURLE_OK;
        }
        if (code == CURLE_OK)
            return {};
        // Some FTP servers keep dot files out for good (a 5xx reply); a passing 4xx is a failure.
        const bool temporaryRefused = code == CURLE_UPLOAD_FAILED && m_lastReply.startsWith('5');
        const bool renameRefused =
            code == CURLE_QUOTE_ERROR && (isSftp() || m_lastReply.startsWith('5'));
        if (!renameRefused && !temporaryRefused) {
            TransferResult failedUpload = failed(code, TransferError::TransferFailed);
            removeQuietly(request, temporary, code);
            return failedUpload;
        }
        const QString refusal = lastRefusal();
        if (!temporaryRefused)
            removeQuietly(request, temporary, code);
        m_sendDirectly = true;
        TransferResult direct = result(send(file, request, page, {}, deadline));
        const QString note =
            (temporaryRefused
                 ? QStringLiteral("The server refused the temporary file %1 (%2).")
                       .arg(temporary, refusal)
                 : QStringLiteral("The server refused to rename the temporary file %1 to %2 (%3).")
                       .arg(temporary, page, refusal)) +
            QStringLiteral(" On this connection the page is sent straight under its name instead, "
                           "so an upload that breaks off can leave part of it on the server.");
        direct.detail = direct.detail.isEmpty() ? note : direct.detail + QLatin1Char('\n') + note;
        return direct;
    }

private:
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
            setUpTls();
            break;
        case TransferScheme::ImplicitTls:
            curl_easy_setopt(m_handle, CURLOPT_PROTOCOLS_STR, "ftps");
            setUpTls();
            break;
        case TransferScheme::Sftp:
            curl_easy_setopt(m_handle, CURLOPT_PROTOCOLS_STR, "sftp");
            setUpSsh();
            break;
        }
    }

    void setUpTls()
    {
        // TLS on the control and every data connection, or no login at all.
        curl_easy_setopt(m_handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        curl_easy_setopt(m_handle, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
        curl_easy_setopt(m_handle, CURLOPT_SSL_CTX_FUNCTION, &Session::onSslContext);
        curl_easy_setopt(m_handle, CURLOPT_SSL_CTX_DATA, this);
        const TrustStore trusted = trustStore();
        if (!trusted.file.isEmpty())
            curl_easy_setopt(m_handle, CURLOPT_CAINFO, trusted.file.constData());
        if (!trusted.folder.isEmpty())
            curl_easy_setopt(m_handle, CURLOPT_CAPATH, trusted.folder.constData());
        if (!m_setup.trustedCertificate.isEmpty()) {
            // The user accepted exactly this server key; the library checks it before anything
            // is sent.
            curl_easy_setopt(m_handle, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(m_handle, CURLOPT_SSL_VERIFYHOST, 0L);
            curl_easy_setopt(m_handle, CURLOPT_PINNEDPUBLICKEY,
                             m_setup.trustedCertificate.constData());
        }
    }

    void setUpSsh()
    {
        curl_easy_setopt(m_handle, CURLOPT_SSH_AUTH_TYPES,
                         static_cast<long>(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
        // The library accepts any key when neither a known_hosts file nor a key is given, so the
        // file is always named, even when it does not exist yet.
        const QByteArray knownHosts = QFile::encodeName(m_setup.knownHostsFile);
        curl_easy_setopt(m_handle, CURLOPT_SSH_KNOWNHOSTS, knownHosts.constData());
        curl_easy_setopt(m_handle, CURLOPT_SSH_KEYFUNCTION, &Session::onHostKey);
        curl_easy_setopt(m_handle, CURLOPT_SSH_KEYDATA, this);
        if (!m_setup.trustedHostKey.isEmpty()) {
            const QByteArray digest = sshKeySha256Base64(m_setup.trustedHostKey);
            curl_easy_setopt(m_handle, CURLOPT_SSH_HOST_PUBLIC_KEY_SHA256, digest.constData());
        }
    }

    bool isSftp() const { return m_setup.address.scheme == TransferScheme::Sftp; }

    // The page's temporary name: hidden from most listings, not served as a page, and one of
    // this connection's own, so that two programs sending the same page do not mix their bytes.
    QString temporaryName(const QString& page) const
    {
        return QLatin1Char('.') + page + QLatin1Char('.') + m_temporaryTag + QStringLiteral(".tmp");
    }

    // The commands that put `from` in the place of `to` in the upload's directory. FTP's run in
    // that directory; SFTP's name the whole path, relative paths from the login directory.
    QStringList renameCommands(const TransferRequest& request, const QString& from,
                               const QString& to, bool removeFirst) const
    {
        if (!isSftp())
            return {QStringLiteral("RNFR ") + from, QStringLiteral("RNTO ") + to};
        const QString source = sftpCommandPath(request.remoteDirectory, from);
        const QString target = sftpCommandPath(request.remoteDirectory, to);
        QStringList commands;
        // The asterisk lets the first upload, with no old page to remove, go on.
        if (removeFirst)
            commands << QStringLiteral("*rm ") + target;
        return commands << QStringLiteral("rename %1 %2").arg(source, target);
    }

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
        if (code != CURLE_OK && connectionDropped(code) && file.seek(0)) {
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

    // Removes what is left of a temporary file after a failure, unless the server stopped
    // answering; the upload's own result is what counts.
    void removeQuietly(const TransferRequest& request, const QString& temporary, CURLcode cause)
    {
        if (cause == CURLE_OPERATION_TIMEDOUT)
            return;
        const QString remove =
            isSftp() ? QStringLiteral("rm ") + sftpCommandPath(request.remoteDirectory, temporary)
                     : QStringLiteral("DELE ") + temporary;
        command(request, {remove},
                Clock::now() + std::chrono::seconds(m_setup.timeouts.connectSeconds));
    }

    TransferResult result(CURLcode code) const
    {
        return code == CURLE_OK ? TransferResult{} : failed(code, TransferError::TransferFailed);
    }

    // Why the server refused the last command: its reply, or the library's message for SFTP.
    QString lastRefusal() const
    {
        const char first = m_lastReply.isEmpty() ? '\0' : m_lastReply.front();
        return first == '4' || first == '5' ? QString::fromUtf8(m_lastReply)
                                            : QString::fromUtf8(m_errorBuffer);
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

    static CURLcode onSslContext(CURL*, void* sslContext, void* self)
    {
        static_cast<Session*>(self)->m_certificates.watch(sslContext);
        return CURLE_OK;
    }

    static int onHostKey(CURL*, const curl_khkey* known, const curl_khkey* found,
                         curl_khmatch match, void* self)
    {
        // A key comes either raw with its length or base64 with a length of 0.
        const auto raw = [](const curl_khkey* key) {
            if (!key || !key->key)
                return QByteArray();
            if (key->len == 0)
                return QByteArray::fromBase64(QByteArray(key->key));
            return QByteArray(key->key, static_cast<qsizetype>(key->len));
        };
        const HostKeyWitness::Match seen = match == CURLKHMATCH_OK ? HostKeyWitness::Match::Known
                                           : match == CURLKHMATCH_MISMATCH
                                               ? HostKeyWitness::Match::Changed
                                               : HostKeyWitness::Match::Unknown;
        static_cast<Session*>(self)->m_hostKeys.record(seen, raw(found), raw(known).toBase64());
        // Never CURLKHSTAT_FINE_ADD_TO_FILE: the library would rewrite the whole file from what
        // it could read of it.
        return match == CURLKHMATCH_OK ? CURLKHSTAT_FINE : CURLKHSTAT_REJECT;
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
        const QString message =
            QString::fromUtf8(m_errorBuffer[0] ? m_errorBuffer : curl_easy_strerror(code));
        if (const auto untrusted = identityFailure(code, message))
            return *untrusted;
        QString why = message;
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
        case CURLE_USE_SSL_FAILED:
            why += QStringLiteral("\nThe server does not offer FTP over TLS.");
            error = TransferError::ConnectionFailed;
            break;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
            error = TransferError::ConnectionFailed;
            break;
        default:
            break;
        }
        return {error, static_cast<int>(code), why, {}};
    }

    // A certificate or host key the checks refused, as the component tells it.
    std::optional<TransferResult> identityFailure(CURLcode code, const QString& message) const
    {
        const ServerAddress& address = m_setup.address;
        const int number = static_cast<int>(code);
        if (usesTls(address.scheme) && m_certificates.sawCertificate() &&
            (code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_PINNEDPUBKEYNOTMATCH)) {
            const ServerIdentity identity = m_certificates.identity(
                address.authority(), !m_setup.trustedCertificate.isEmpty(), message);
            return TransferResult{TransferError::CertificateNotTrusted, number,
                                  identity.description + kPrivateCaAdvice, identity};
        }
        if (address.scheme != TransferScheme::Sftp || code != CURLE_PEER_FAILED_VERIFICATION)
            return std::nullopt;
        const QString& file = m_setup.knownHostsFile;
        switch (m_hostKeys.match()) {
        case HostKeyWitness::Match::Unknown:
            return TransferResult{TransferError::HostKeyUnknown, number,
                                  m_hostKeys.unknownDetail(address, file),
                                  m_hostKeys.identity(address, file)};
        case HostKeyWitness::Match::Changed:
            return TransferResult{TransferError::HostKeyChanged,
                                  number,
                                  m_hostKeys.changedDetail(address, file, false, message),
                                  {}};
        case HostKeyWitness::Match::NotSeen:
        case HostKeyWitness::Match::Known:
            if (m_setup.trustedHostKey.isEmpty())
                return std::nullopt;
            return TransferResult{TransferError::HostKeyChanged,
                                  number,
                                  m_hostKeys.changedDetail(address, file, true, message),
                                  {}};
        }
        return std::nullopt;
    }

    CURL* m_handle;
    CURLM* m_transfers; // drives the handle's transfers and keeps its connection between them
    SessionSetup m_setup;
    QByteArray m_lastReply; // last reply line the server sent
    char m_errorBuffer[CURL_ERROR_SIZE] = {};
    CertificateWitness m_certificates;
    HostKeyWitness m_hostKeys;
    QString m_temporaryTag =
        QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, u'0');
    bool m_removeBeforeRename = false; // the server's SFTP rename keeps an existing file
    bool m_sendDirectly = false;       // the server refused to rename a temporary file
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
