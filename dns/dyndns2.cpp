#include "dns/dyndns2.h"

#include <QUrl>
#include <QUrlQuery>

#include <curl/curl.h>

#include <mutex>

namespace quendle::dns {

namespace {

// An answer is a word and an address; anything much longer is not a dyndns2 answer.
constexpr qsizetype kLongestAnswer = 4096;

size_t keepBody(char* data, size_t size, size_t count, void* target)
{
    auto* body = static_cast<QByteArray*>(target);
    const size_t bytes = size * count;
    if (body->size() + static_cast<qsizetype>(bytes) > kLongestAnswer)
        return 0;
    body->append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The first line, printable characters only, for the log.
QString firstLine(const QByteArray& body)
{
    QString line = QString::fromUtf8(body.left(body.indexOf('\n') < 0 ? 200 : body.indexOf('\n')));
    line = line.trimmed().left(200);
    for (QChar& c : line)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    return line;
}

struct Code
{
    const char* word;
    Dyndns2Answer::Kind kind;
    const char* reason; // %1: the host name
};

const Code kCodes[] = {
    {"good", Dyndns2Answer::Kind::Success, "the provider took the address"},
    {"nochg", Dyndns2Answer::Kind::Success, "the provider already had the address"},
    {"badauth", Dyndns2Answer::Kind::HoldUntilReload,
     "the provider refused the user name or password (badauth): correct user and password, then "
     "reload"},
    {"nohost", Dyndns2Answer::Kind::HoldUntilReload,
     "the provider has no host name %1 in this account (nohost): correct hostname or create it "
     "at the provider, then reload"},
    {"notfqdn", Dyndns2Answer::Kind::HoldUntilReload,
     "%1 is not a fully qualified domain name (notfqdn): set hostname to the whole name, then "
     "reload"},
    {"badagent", Dyndns2Answer::Kind::HoldUntilReload,
     "the provider blocks this program (badagent): ask the provider, then reload"},
    {"abuse", Dyndns2Answer::Kind::HoldUntilReload,
     "the provider blocked %1 for too many updates (abuse): unblock it at the provider, then "
     "reload"},
    {"!donator", Dyndns2Answer::Kind::HoldUntilReload,
     "the provider offers this update to paying accounts only (!donator): change the account "
     "or the settings, then reload"},
    {"numhost", Dyndns2Answer::Kind::HoldUntilReload,
     "the provider counted too many host names (numhost): give one name in hostname, then "
     "reload"},
    {"911", Dyndns2Answer::Kind::RetryLater,
     "the provider has trouble of its own (911): trying again in 30 minutes"},
    {"dnserr", Dyndns2Answer::Kind::RetryLater,
     "the provider's DNS failed (dnserr): trying again in 30 minutes"},
};

} // namespace

Dyndns2Answer readDyndns2Answer(long httpStatus, const QByteArray& body, const QString& hostname)
{
    Dyndns2Answer answer;
    answer.details = QStringLiteral("HTTP %1: %2").arg(httpStatus).arg(firstLine(body));
    const QByteArray word = body.trimmed().split('\n').value(0).trimmed().split(' ').value(0);
    for (const Code& code : kCodes) {
        if (word == code.word) {
            answer.kind = code.kind;
            answer.reason = QString::fromLatin1(code.reason);
            if (answer.reason.contains(QLatin1String("%1")))
                answer.reason = answer.reason.arg(hostname);
            return answer;
        }
    }
    // Some providers answer a wrong password with 401 and a page of their own.
    if (httpStatus == 401) {
        Dyndns2Answer refused = readDyndns2Answer(200, "badauth", hostname);
        refused.details = answer.details;
        return refused;
    }
    answer.reason = httpStatus >= 200 && httpStatus <= 299
                        ? QStringLiteral("the provider's answer is not one of the protocol's")
                        : QStringLiteral("the provider answered HTTP %1").arg(httpStatus);
    return answer;
}

Dyndns2Answer sendDyndns2(const DnsTargetSettings& settings, const QString& address, int seconds)
{
    initialiseCurlOnce();
    const QString hostname = settings.hostname.isEmpty() ? settings.dnsName : settings.hostname;
    QUrl url(settings.url);
    QUrlQuery query(url);
    query.addQueryItem(QStringLiteral("hostname"), hostname);
    query.addQueryItem(QStringLiteral("myip"), address);
    url.setQuery(query);

    Dyndns2Answer answer;
    CURL* handle = curl_easy_init();
    if (!handle) {
        answer.reason = QStringLiteral("the web library could not be started");
        return answer;
    }
    QByteArray body;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const QByteArray urlBytes = url.toEncoded();
    const QByteArray user = settings.user.toUtf8();
    const QByteArray password = settings.password.toUtf8();
    const QByteArray agent = "quendle-publish/" QUENDLE_VERSION;
    curl_easy_setopt(handle, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    // The password goes over TLS only, to the host named, never along a redirect.
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(handle, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, password.constData());
    curl_easy_setopt(handle, CURLOPT_USERAGENT, agent.constData());
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, static_cast<long>(seconds));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, static_cast<long>(seconds));
    // OpenSSL's convention, as the transfer component keeps it: each variable replaces its own
    // part of the system's store.
    const QByteArray caFile = qgetenv("SSL_CERT_FILE");
    const QByteArray caFolder = qgetenv("SSL_CERT_DIR");
    if (!caFile.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAINFO, caFile.constData());
    if (!caFolder.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAPATH, caFolder.constData());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &keepBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
    const CURLcode code = curl_easy_perform(handle);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(handle);
    if (code != CURLE_OK) {
        answer.reason =
            QStringLiteral("cannot reach the provider: %1")
                .arg(QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code)));
        return answer;
    }
    return readDyndns2Answer(status, body, hostname);
}

} // namespace quendle::dns
