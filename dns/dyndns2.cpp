#include "dns/dyndns2.h"

#include "address/web/httpexchange.h"
#include "base/controlcharacters.h"
#include "base/reasontext.h"
#include "dns/providers/provider.h"

#include <QUrl>
#include <QUrlQuery>

namespace quendle::dns {

namespace {

// An answer is a word and an address; anything much longer is not a dyndns2 answer.
constexpr qsizetype kLongestAnswer = 4096;

// A provider that reports trouble of its own is left alone this long, as the protocol asks.
constexpr int kProviderPauseSeconds = 30 * 60;

// The first line, printable characters only, for the log.
QString firstLine(const QByteArray& body)
{
    QString line = QString::fromUtf8(body.left(body.indexOf('\n') < 0 ? 200 : body.indexOf('\n')));
    line = line.trimmed().left(200);
    for (QChar& c : line)
        if (isControlCharacter(c.unicode()))
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
    answer.details = withDetails(QStringLiteral("HTTP %1").arg(httpStatus), firstLine(body));
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
    if (httpStatus >= 200 && httpStatus <= 299) {
        answer.reason = QStringLiteral("the provider's answer is not one of the protocol's");
    } else {
        // The reason names the status already; the details keep only what the body said.
        answer.reason = QStringLiteral("the provider answered HTTP %1").arg(httpStatus);
        answer.details = firstLine(body);
    }
    return answer;
}

Dyndns2Answer sendDyndns2(const DnsTargetSettings& settings, const QString& address, int seconds)
{
    const QString hostname = settings.hostname.isEmpty() ? settings.dnsName : settings.hostname;
    QUrl url(settings.url);
    QUrlQuery query(url);
    query.addQueryItem(QStringLiteral("hostname"), hostname);
    query.addQueryItem(QStringLiteral("myip"), address);
    url.setQuery(query);

    HttpRequest request;
    request.url = QString::fromLatin1(url.toEncoded());
    request.totalSeconds = seconds;
    request.longestBody = kLongestAnswer;
    request.userAgent = "quendle-publish/" QUENDLE_VERSION;
    // The password goes over TLS only, to the host named: the exchange follows no redirect.
    request.user = settings.user;
    request.password = settings.password;
    request.httpsOnly = true;
    const HttpAnswer answer = exchange(request);
    if (answer.status == 0 && !answer.cutShort) {
        Dyndns2Answer unreachable;
        unreachable.reason = QStringLiteral("cannot reach the provider: %1").arg(answer.error);
        return unreachable;
    }
    return readDyndns2Answer(answer.status, answer.body, hostname);
}

namespace {

ProviderAnswer updateDyndns2(const ProviderUpdate& update)
{
    // dual: myip=v4,v6, the other family's address as it was last asked for, so that a provider
    // that sets both families at once keeps the one not changing.
    QString myip = update.address;
    if (update.settings.dual && !update.other.isEmpty())
        myip = update.family == AddressFamily::Ipv4 ? update.address + ',' + update.other
                                                    : update.other + ',' + update.address;
    const Dyndns2Answer answer = sendDyndns2(update.settings, myip, update.seconds);
    ProviderAnswer result = failedAnswer(answer.reason, answer.details);
    switch (answer.kind) {
    case Dyndns2Answer::Kind::Success:
        result.kind = ProviderAnswer::Kind::Accepted;
        break;
    case Dyndns2Answer::Kind::HoldUntilReload:
        result.kind = ProviderAnswer::Kind::HeldUntilReload;
        break;
    case Dyndns2Answer::Kind::RetryLater:
        result.kind = ProviderAnswer::Kind::RetryLater;
        result.retryAfter = kProviderPauseSeconds;
        break;
    case Dyndns2Answer::Kind::Failed:
        break;
    }
    return result;
}

} // namespace

// ttl is taken for the sake of older configurations; the protocol has none to send.
ProviderRow dyndns2Row()
{
    return {DnsProtocol::Dyndns2,
            "dyndns2",
            {{"ttl"},
             {"url", KeyNeed::Required},
             {"user", KeyNeed::Required},
             {"password", KeyNeed::OneSecret},
             {"password_file", KeyNeed::OneSecret},
             {"credential", KeyNeed::OneSecret},
             {"hostname"},
             {"verify"},
             {"dual"}},
            nullptr,
            &updateDyndns2};
}

} // namespace quendle::dns
