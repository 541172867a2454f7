// The Hetzner Cloud API's DNS (Zones, Zone RRSets, Actions):
// https://docs.hetzner.cloud/reference/cloud (the older API of dns.hetzner.com was shut down in May
// 2026). "Authorization: Bearer TOKEN", the zone named by its name:
//   GET  /v1/zones/{zone}/rrsets/{name}/{type}   the RRSet, or 404 not_found
//   POST /v1/zones/{zone}/rrsets/{name}/{type}/actions/set_records  {"records": [{"value", …}]}
//   POST /v1/zones/{zone}/rrsets/{name}/{type}/actions/change_ttl   {"ttl": N}, when ttl = asks
//   POST /v1/zones/{zone}/rrsets   {"name", "type", "ttl", "records"} where there is none
// Each change answers an action, asked after with GET /v1/actions/{id} until it is "success" or
// "error". {name} is relative to the zone, "@" for the zone itself. Errors are {"error": {"code",
// "message"}}: 401 unauthorized, 403 forbidden, 404 not_found, 422 incorrect_zone_mode, 429
// rate_limit_exceeded (RateLimit-Reset: when, in Unix time). A record's comment and the RRSet's TTL
// are kept unless ttl = is given; a new RRSet without it takes the zone's default TTL. Hetzner
// takes TTLs from 60 s.
#include "dns/providers/provider.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

namespace quendle::dns {

namespace {

const QString kProvider = QStringLiteral("Hetzner");

struct Hetzner
{
    const ProviderUpdate& update;
    QString base;  // …/v1
    QString rrset; // …/v1/zones/{zone}/rrsets/{name}/{type}
    QString name;  // relative to the zone
    QString type;

    ApiAnswer call(const QByteArray& method, const QString& url, const QJsonObject& body = {}) const
    {
        ApiRequest request;
        request.method = method;
        request.url = url;
        request.headers << "Authorization: Bearer " + update.settings.token.toUtf8();
        if (method != "GET") {
            request.headers << "Content-Type: application/json";
            request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
        }
        return callApi(request, update.seconds);
    }
};

QString errorText(const QJsonObject& answer)
{
    const QJsonObject error = answer.value(QLatin1String("error")).toObject();
    return QStringLiteral("%1: %2").arg(error.value(QLatin1String("code")).toString(),
                                        error.value(QLatin1String("message")).toString());
}

// What an answer other than the one hoped for means; `what` says what was asked.
ProviderAnswer trouble(const ApiAnswer& answer, const QString& zone, const QString& what)
{
    if (auto common = commonTrouble(answer, kProvider)) {
        // Hetzner says when the limit resets rather than how long to wait.
        const qint64 reset = answer.header("RateLimit-Reset").toLongLong();
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        if (common->kind == ProviderAnswer::Kind::RetryLater && common->retryAfter == 0 &&
            reset > now) {
            common->retryAfter = int(qMin<qint64>(reset - now, 3600));
            common->reason = QStringLiteral("Hetzner's rate limit is reached (HTTP 429): trying "
                                            "again in %1 s")
                                 .arg(common->retryAfter);
        }
        return *common;
    }
    const QString details =
        QStringLiteral("HTTP %1: %2").arg(answer.status).arg(shortText(answer.body));
    const Expected<QJsonObject> json = jsonObject(answer, kProvider);
    if (!json)
        return failedAnswer(json.error(), details);
    const QString words = errorText(*json);
    switch (answer.status) {
    case 401:
        return heldUntilReload(QStringLiteral("Hetzner refused the API token (%1): put a token "
                                              "of the Cloud project that holds %2 in token_file, "
                                              "then reload")
                                   .arg(words, zone),
                               details);
    case 403:
        return heldUntilReload(QStringLiteral("Hetzner does not let this token change %1 (%2): "
                                              "give it Read & Write permission, then reload")
                                   .arg(zone, words),
                               details);
    case 422:
        return heldUntilReload(QStringLiteral("Hetzner does not change %1 this way (%2): the zone "
                                              "must be in primary mode, then reload")
                                   .arg(zone, words),
                               details);
    default:
        break;
    }
    return failedAnswer(
        QStringLiteral("%1: Hetzner answered HTTP %2 (%3)").arg(what).arg(answer.status).arg(words),
        details);
}

// Waits for the action a change answered with, within the bound of one exchange.
ProviderAnswer finish(const Hetzner& hetzner, const ApiAnswer& answer, const QString& done)
{
    const Expected<QJsonObject> json = jsonObject(answer, kProvider);
    if (!json)
        return failedAnswer(json.error());
    QJsonObject action = json->value(QLatin1String("action")).toObject();
    const qint64 id = action.value(QLatin1String("id")).toInteger();
    QElapsedTimer waited;
    waited.start();
    while (action.value(QLatin1String("status")).toString() == QLatin1String("running")) {
        if (waited.elapsed() > hetzner.update.seconds * 1000)
            return failedAnswer(QStringLiteral("Hetzner's action %1 was still running after %2 s")
                                    .arg(id)
                                    .arg(hetzner.update.seconds));
        QThread::msleep(500);
        const ApiAnswer asked =
            hetzner.call("GET", QStringLiteral("%1/actions/%2").arg(hetzner.base).arg(id));
        if (asked.status != 200)
            return trouble(asked, hetzner.update.zone, QStringLiteral("asking for the action"));
        const Expected<QJsonObject> state = jsonObject(asked, kProvider);
        if (!state)
            return failedAnswer(state.error());
        action = state->value(QLatin1String("action")).toObject();
    }
    const QString status = action.value(QLatin1String("status")).toString();
    if (status == QLatin1String("success"))
        return accepted(done);
    const QJsonObject error = action.value(QLatin1String("error")).toObject();
    return failedAnswer(QStringLiteral("Hetzner's action %1 ended in %2 (%3: %4)")
                            .arg(id)
                            .arg(status, error.value(QLatin1String("code")).toString(),
                                 error.value(QLatin1String("message")).toString()));
}

QJsonArray records(const QString& address, const QString& comment)
{
    QJsonObject record{{QStringLiteral("value"), address}};
    if (!comment.isEmpty())
        record.insert(QStringLiteral("comment"), comment);
    return QJsonArray{record};
}

ProviderAnswer updateHetzner(const ProviderUpdate& update)
{
    const QString& zone = update.zone;
    const QString& fqdn = update.settings.dnsName;
    const std::optional<QString> inZone = nameInZone(fqdn, zone);
    if (!inZone)
        return notInZone(fqdn, zone);
    Hetzner hetzner{update,
                    apiBase(update.settings, "https://api.hetzner.cloud/v1"),
                    {},
                    inZone->isEmpty() ? QStringLiteral("@") : inZone->toLower(),
                    recordType(update.family)};
    const QString zoneUrl =
        hetzner.base + "/zones/" + QString::fromLatin1(QUrl::toPercentEncoding(zone));
    hetzner.rrset = zoneUrl + "/rrsets/" +
                    QString::fromLatin1(QUrl::toPercentEncoding(hetzner.name)) + '/' + hetzner.type;
    const QString done =
        QStringLiteral("Hetzner set %1 %2 to %3").arg(fqdn, hetzner.type, update.address);

    const ApiAnswer found = hetzner.call("GET", hetzner.rrset);
    const Expected<QJsonObject> json =
        found.status == 200 ? jsonObject(found, kProvider) : Expected<QJsonObject>(QJsonObject());
    if (found.status == 404 && errorText(jsonObject(found, kProvider).value_or(QJsonObject()))
                                   .startsWith(QLatin1String("not_found"))) {
        // Without ttl = the new RRSet takes the zone's default TTL.
        QJsonObject rrset{{QStringLiteral("name"), hetzner.name},
                          {QStringLiteral("type"), hetzner.type},
                          {QStringLiteral("records"), records(update.address, {})}};
        if (update.settings.ttlGiven)
            rrset.insert(QStringLiteral("ttl"), update.settings.ttl);
        const ApiAnswer created = hetzner.call("POST", zoneUrl + "/rrsets", rrset);
        if (created.status == 404)
            return heldUntilReload(QStringLiteral("Hetzner has no zone %1 this token may see "
                                                  "(%2): correct zone, then reload")
                                       .arg(zone, shortText(created.body, 120)));
        if (created.status != 201)
            return trouble(created, zone, QStringLiteral("creating %1").arg(hetzner.rrset));
        return finish(hetzner, created, done);
    }
    if (found.status != 200)
        return trouble(found, zone, QStringLiteral("asking for the record"));
    if (!json)
        return failedAnswer(json.error());

    // The first record's comment goes with the new address; the TTL stays the RRSet's own.
    const QJsonObject rrset = json->value(QLatin1String("rrset")).toObject();
    const QString comment = rrset.value(QLatin1String("records"))
                                .toArray()
                                .at(0)
                                .toObject()
                                .value(QLatin1String("comment"))
                                .toString();
    const ApiAnswer set =
        hetzner.call("POST", hetzner.rrset + "/actions/set_records",
                     {{QStringLiteral("records"), records(update.address, comment)}});
    if (set.status != 201 && set.status != 200)
        return trouble(set, zone, QStringLiteral("setting the records"));
    ProviderAnswer result = finish(hetzner, set, done);
    const QJsonValue ttl = rrset.value(QLatin1String("ttl"));
    if (result.kind != ProviderAnswer::Kind::Accepted || !update.settings.ttlGiven ||
        ttl.toInt() == update.settings.ttl)
        return result;
    const ApiAnswer changed = hetzner.call("POST", hetzner.rrset + "/actions/change_ttl",
                                           {{QStringLiteral("ttl"), update.settings.ttl}});
    if (changed.status != 201 && changed.status != 200)
        return trouble(changed, zone, QStringLiteral("changing the TTL"));
    return finish(hetzner, changed, done + QStringLiteral(", TTL %1").arg(update.settings.ttl));
}

QList<DnsSettingProblem> checkHetzner(const DnsTargetSettings& settings)
{
    if (settings.ttlGiven && settings.ttl < 60)
        return {{QStringLiteral("ttl"), QStringLiteral("must be 60 seconds or more with Hetzner")}};
    return {};
}

} // namespace

ProviderRow hetznerRow()
{
    return {DnsProtocol::Hetzner,
            "hetzner",
            {{"ttl"},
             {"zone"},
             {"verify"},
             {"api"},
             {"token_file", KeyNeed::OneSecret},
             {"credential", KeyNeed::OneSecret}},
            &checkHetzner,
            &updateHetzner,
            true}; // the zone is part of every address
}

} // namespace quendle::dns
