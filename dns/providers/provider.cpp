#include "dns/providers/provider.h"

#include "address/web/httpexchange.h"
#include "base/controlcharacters.h"
#include "dns/namechecks.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QUrl>

namespace quendle::dns {

namespace {

// No provider's answer to one name comes near this; a longer one is not an answer.
constexpr qsizetype kLongestAnswer = 64 * 1024;

} // namespace

const ProviderRow* providerRow(DnsProtocol protocol)
{
    for (const ProviderRow& row : providerTable())
        if (row.protocol == protocol)
            return &row;
    return nullptr;
}

const ProviderRow* providerNamed(const QString& name)
{
    for (const ProviderRow& row : providerTable())
        if (name == QLatin1String(row.name))
            return &row;
    return nullptr;
}

QString providerNames()
{
    QStringList names;
    for (const ProviderRow& row : providerTable())
        names << QLatin1String(row.name);
    return names.join(QStringLiteral(", "));
}

QList<DnsSettingProblem> checkProviderKeys(const ProviderRow& row, const QSet<QString>& keysGiven)
{
    QList<DnsSettingProblem> problems;
    const QString protocol = QLatin1String(row.name);
    QStringList secrets;
    QStringList secretsGiven;
    // The keys of every protocol: what the name holds, not how it is sent.
    QSet<QString> taken{QStringLiteral("protocol"), QStringLiteral("name"),
                        QStringLiteral("families"), QStringLiteral("ipv6_host"),
                        QStringLiteral("prefix_length")};
    for (const ProviderKey& key : row.keys) {
        const QString name = QLatin1String(key.name);
        taken.insert(name);
        if (key.need == KeyNeed::OneSecret) {
            secrets << name;
            if (keysGiven.contains(name))
                secretsGiven << name;
        } else if (key.need == KeyNeed::Required && !keysGiven.contains(name)) {
            problems.append({name, QStringLiteral("required with protocol %1").arg(protocol)});
        }
    }
    if (!secrets.isEmpty() && secretsGiven.isEmpty())
        problems.append(
            {secrets.first(), secrets.size() == 1
                                  ? QStringLiteral("required with protocol %1").arg(protocol)
                                  : QStringLiteral("required with protocol %1 (or %2)")
                                        .arg(protocol, secrets.mid(1).join(QStringLiteral(", ")))});
    if (secretsGiven.size() > 1)
        problems.append(
            {secretsGiven.contains(QStringLiteral("credential")) ? QStringLiteral("credential")
                                                                 : secretsGiven.last(),
             QStringLiteral("give only one of %1").arg(secrets.join(QStringLiteral(", ")))});
    QStringList given(keysGiven.begin(), keysGiven.end());
    given.sort();
    for (const QString& key : given) {
        if (taken.contains(key))
            continue;
        QStringList owners;
        for (const ProviderRow& other : providerTable())
            for (const ProviderKey& otherKey : other.keys)
                if (key == QLatin1String(otherKey.name))
                    owners << QLatin1String(other.name);
        problems.append({key, owners.size() == 1
                                  ? QStringLiteral("belongs to protocol %1").arg(owners.first())
                                  : QStringLiteral("is not a key of protocol %1").arg(protocol)});
    }
    return problems;
}

QByteArray ApiAnswer::header(const QByteArray& name) const
{
    for (const QByteArray& line : headers) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

bool safeApiAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    // Plain HTTP only where nothing leaves the machine: a stand-in of the tests, a local relay.
    if (url.scheme() != QLatin1String("http"))
        return false;
    const Expected<QString> v4 = canonicalAddress(url.host(), AddressFamily::Ipv4);
    const Expected<QString> v6 = canonicalAddress(url.host(), AddressFamily::Ipv6);
    return (v4 && v4->startsWith(QLatin1String("127."))) || (v6 && *v6 == QLatin1String("::1"));
}

QString apiBase(const DnsTargetSettings& settings, const char* published)
{
    QString base = settings.api.isEmpty() ? QLatin1String(published) : settings.api;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base;
}

ApiAnswer callApi(const ApiRequest& request, int seconds)
{
    ApiAnswer answer;
    if (!safeApiAddress(request.url)) {
        answer.error = QStringLiteral("the address is not an https:// one"); // it may hold a secret
        return answer;
    }
    HttpRequest http;
    http.url = request.url;
    http.method = request.method;
    http.headers = request.headers;
    http.body = request.body;
    http.totalSeconds = seconds;
    http.longestBody = kLongestAnswer;
    http.userAgent = "quendle-publish/" QUENDLE_VERSION;
    http.httpsOnly = request.url.startsWith(QLatin1String("https:"));
    const HttpAnswer got = exchange(http);
    if (got.cutShort) {
        answer.tooLong = true;
        answer.error = QStringLiteral("the answer is longer than 64 KB");
        return answer;
    }
    if (got.status == 0) {
        answer.error = got.error;
        return answer;
    }
    answer.status = got.status;
    answer.body = got.body;
    answer.headers = got.headers;
    return answer;
}

std::optional<ProviderAnswer> commonTrouble(const ApiAnswer& answer, const QString& provider)
{
    if (answer.tooLong)
        return failedAnswer(QStringLiteral("%1 answered with more than 64 KB, which no answer of "
                                           "its API is: is api = the provider's API?")
                                .arg(provider));
    if (answer.status == 0) {
        ProviderAnswer unreachable =
            failedAnswer(QStringLiteral("no answer from %1: %2").arg(provider, answer.error));
        unreachable.sent = true; // it may have arrived
        return unreachable;
    }
    if (answer.status == 429 || answer.status == 503) {
        ProviderAnswer pause;
        pause.kind = ProviderAnswer::Kind::RetryLater;
        pause.sent = true;
        pause.details =
            QStringLiteral("HTTP %1: %2").arg(answer.status).arg(shortText(answer.body));
        // Retry-After is a number of seconds or an HTTP date.
        const QByteArray retryAfter = answer.header("Retry-After");
        bool ok = false;
        qint64 seconds = retryAfter.toInt(&ok);
        if (!ok) {
            // "Tue, 08 Dec 2026 00:05:00 GMT": Qt reads the zone as an offset only.
            QString date = QString::fromLatin1(retryAfter);
            if (date.endsWith(QLatin1String(" GMT")))
                date = date.chopped(4) + QLatin1String(" +0000");
            const QDateTime when = QDateTime::fromString(date, Qt::RFC2822Date);
            seconds = when.isValid() ? QDateTime::currentDateTimeUtc().secsTo(when) : 0;
        }
        pause.retryAfter = seconds > 0 ? static_cast<int>(qMin<qint64>(seconds, 24 * 3600)) : 0;
        pause.reason = pause.retryAfter > 0
                           ? QStringLiteral("%1 asks for a pause (HTTP %2): trying again in %3 s")
                                 .arg(provider)
                                 .arg(answer.status)
                                 .arg(pause.retryAfter)
                           : QStringLiteral("%1 asks for a pause (HTTP %2) without saying how "
                                            "long")
                                 .arg(provider)
                                 .arg(answer.status);
        return pause;
    }
    return std::nullopt;
}

Expected<QJsonObject> jsonObject(const ApiAnswer& answer, const QString& provider)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(answer.body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return Unexpected(QStringLiteral("%1 answered HTTP %2 with something other than its JSON: "
                                         "\"%3\"")
                              .arg(provider)
                              .arg(answer.status)
                              .arg(shortText(answer.body, 80)));
    return document.object();
}

QString shortText(const QByteArray& body, qsizetype longest)
{
    QString text = QString::fromUtf8(body.left(longest * 4)).simplified().left(longest);
    for (QChar& c : text)
        if (isControlCharacter(c.unicode()))
            c = QLatin1Char('?');
    return text;
}

DnsOutcome providerOutcome(const ProviderAnswer& answer)
{
    DnsOutcome outcome = failedOutcome(answer.reason, answer.details);
    outcome.sent = answer.sent;
    switch (answer.kind) {
    case ProviderAnswer::Kind::Accepted:
        outcome.status = DnsOutcome::Status::Published;
        break;
    case ProviderAnswer::Kind::HeldUntilReload:
        outcome.status = DnsOutcome::Status::HeldUntilReload;
        break;
    case ProviderAnswer::Kind::RetryLater:
        outcome.status = DnsOutcome::Status::RetryLater;
        outcome.retryNotBefore = answer.retryAfter;
        break;
    case ProviderAnswer::Kind::Failed:
        break;
    }
    return outcome;
}

std::optional<QString> nameInZone(const QString& name, const QString& zone)
{
    if (name.compare(zone, Qt::CaseInsensitive) == 0)
        return QString();
    if (zone.isEmpty() || !name.endsWith(QLatin1Char('.') + zone, Qt::CaseInsensitive))
        return std::nullopt;
    return name.chopped(zone.size() + 1);
}

ProviderAnswer notInZone(const QString& name, const QString& zone)
{
    return heldUntilReload(
        QStringLiteral("%1 is not in the zone %2: correct name or zone, then reload")
            .arg(name, zone));
}

ProviderAnswer accepted(const QString& reason, const QString& details)
{
    return {ProviderAnswer::Kind::Accepted, true, reason, details, 0, false, false};
}

ProviderAnswer heldUntilReload(const QString& reason, const QString& details)
{
    return {ProviderAnswer::Kind::HeldUntilReload, true, reason, details, 0, false, false};
}

ProviderAnswer failedAnswer(const QString& reason, const QString& details)
{
    return {ProviderAnswer::Kind::Failed, true, reason, details, 0, false, false};
}

QString recordType(AddressFamily family)
{
    return family == AddressFamily::Ipv4 ? QStringLiteral("A") : QStringLiteral("AAAA");
}

} // namespace quendle::dns
