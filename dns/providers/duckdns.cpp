// DuckDNS: the HTTP API page of https://www.duckdns.org/
// GET /update?domains=SUB&token=TOKEN&ip=V4 (or &ipv6=V6)&verbose=true. The answer is OK (with
// verbose, the addresses and UPDATED or NOCHANGE on the next lines) or KO, which carries no
// reason. A request without ip would have DuckDNS take the address it came from, so each request
// names the one address it sets; the other family's record is left as it is. The records' TTL is
// DuckDNS's own (60 s): the protocol takes no ttl.
#include "dns/providers/provider.h"

#include <QUrlQuery>

namespace quendle::dns {

namespace {

const QString kProvider = QStringLiteral("DuckDNS");

// The zone DuckDNS names are in; `zone =` replaces it for a compatible service.
QString duckdnsZone(const DnsTargetSettings& settings)
{
    return settings.zone.isEmpty() ? QStringLiteral("duckdns.org") : settings.zone;
}

// The label just before the zone: DuckDNS updates home for home.duckdns.org and for any name
// under it, which it serves alike.
QString subdomain(const DnsTargetSettings& settings)
{
    const QString zone = duckdnsZone(settings);
    if (!settings.dnsName.endsWith(QLatin1Char('.') + zone, Qt::CaseInsensitive))
        return {};
    return settings.dnsName.chopped(zone.size() + 1).section(QLatin1Char('.'), -1).toLower();
}

QList<DnsSettingProblem> checkDuckdns(const DnsTargetSettings& settings)
{
    if (subdomain(settings).isEmpty())
        return {{QStringLiteral("name"), QStringLiteral("must be a name under %1, such as home.%1")
                                             .arg(duckdnsZone(settings))}};
    return {};
}

ProviderAnswer updateDuckdns(const ProviderUpdate& update)
{
    const QString domain = subdomain(update.settings);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("domains"), domain);
    query.addQueryItem(QStringLiteral("token"), update.settings.token);
    query.addQueryItem(update.family == AddressFamily::Ipv4 ? QStringLiteral("ip")
                                                            : QStringLiteral("ipv6"),
                       update.address);
    query.addQueryItem(QStringLiteral("verbose"), QStringLiteral("true"));
    ApiRequest request;
    request.url = apiBase(update.settings, "https://www.duckdns.org") + "/update?" +
                  query.toString(QUrl::FullyEncoded);
    const ApiAnswer answer = callApi(request, update.seconds);
    if (const auto trouble = commonTrouble(answer, kProvider))
        return *trouble;
    const QString details =
        QStringLiteral("HTTP %1: %2").arg(answer.status).arg(shortText(answer.body));
    const QByteArray word = answer.body.trimmed().split('\n').value(0).trimmed();
    if (answer.status == 200 && word == "OK")
        return accepted(QStringLiteral("DuckDNS took %1 for %2").arg(update.address, domain),
                        details);
    if (answer.status == 200 && word == "KO")
        return heldUntilReload(
            QStringLiteral("DuckDNS refused the update (KO, which it answers without a reason: "
                           "most often the token is not the account's, or %1 is not one of the "
                           "account's domains): check token_file and the name at duckdns.org, "
                           "then reload")
                .arg(domain),
            details);
    return failedAnswer(QStringLiteral("DuckDNS answered HTTP %1 with neither OK nor KO: \"%2\"")
                            .arg(answer.status)
                            .arg(shortText(answer.body, 80)),
                        details);
}

} // namespace

ProviderRow duckdnsRow()
{
    return {DnsProtocol::Duckdns,
            "duckdns",
            {{"zone"},
             {"verify"},
             {"api"},
             {"token_file", KeyNeed::OneSecret},
             {"credential", KeyNeed::OneSecret}},
            &checkDuckdns,
            &updateDuckdns};
}

} // namespace quendle::dns
