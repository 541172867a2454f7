// Cloudflare's API v4, with an API token (Authorization: Bearer):
// https://developers.cloudflare.com/api/resources/dns/subresources/records/ (list, create, edit,
// delete, batch) and https://developers.cloudflare.com/api/resources/zones/methods/list/.
// Every answer is {"success", "errors": [{"code", "message", "error_chain"}], "messages",
// "result"}. The zone is found by name (GET /zones?name=) unless zone_id is given; the name's
// record of the family by type and name (GET /zones/{id}/dns_records?type=&name=); its content is
// changed with PATCH, which leaves every other field (TTL, proxied, comment, tags) as it is unless
// the section sets ttl or proxied; a name without one gets POST with ttl 60 (or ttl =) and
// proxied false (or proxied =). Records of the same type beyond the first are deleted, so that
// the name holds exactly the address.
#include "dns/providers/cloudflare.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

namespace quendle::dns {

namespace {

const QString kCloudflare = QStringLiteral("Cloudflare");

// "9109 Invalid access token", with the codes of its chain after it.
QString errorWords(const QJsonObject& answer)
{
    QStringList words;
    for (const QJsonValue& error : answer.value(QLatin1String("errors")).toArray()) {
        QString word =
            QStringLiteral("%1 %2")
                .arg(error[QLatin1String("code")].toInt())
                .arg(shortText(error[QLatin1String("message")].toString().toUtf8(), 120));
        for (const QJsonValue& link : error[QLatin1String("error_chain")].toArray())
            word += QStringLiteral(": %1 %2")
                        .arg(link[QLatin1String("code")].toInt())
                        .arg(shortText(link[QLatin1String("message")].toString().toUtf8(), 120));
        words << word;
    }
    return words.isEmpty() ? QStringLiteral("no reason given") : words.join(QStringLiteral("; "));
}

bool hasCode(const QJsonObject& answer, int code)
{
    for (const QJsonValue& error : answer.value(QLatin1String("errors")).toArray()) {
        if (error[QLatin1String("code")].toInt() == code)
            return true;
        for (const QJsonValue& link : error[QLatin1String("error_chain")].toArray())
            if (link[QLatin1String("code")].toInt() == code)
                return true;
    }
    return false;
}

struct Call
{
    std::optional<ProviderAnswer> trouble; // set: give this back
    QJsonObject answer;                    // else: a successful answer
};

class Cloudflare
{
public:
    explicit Cloudflare(const ProviderUpdate& update)
        : m_update(update), m_base(apiBase(update.settings, "https://api.cloudflare.com/client/v4"))
    {
    }

    Call call(const QByteArray& method, const QString& path, const QJsonObject& body = {}) const
    {
        ApiRequest request;
        request.method = method;
        request.url = m_base + path;
        request.headers << "Authorization: Bearer " + m_update.settings.token.toUtf8();
        if (method != "GET" && method != "DELETE") {
            request.headers << "Content-Type: application/json";
            request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
        }
        const ApiAnswer answer = callApi(request, m_update.seconds);
        if (auto trouble = commonTrouble(answer, kCloudflare))
            return {trouble, {}};
        const Expected<QJsonObject> json = jsonObject(answer, kCloudflare);
        if (!json)
            return {failedAnswer(json.error()), {}};
        const QString details =
            QStringLiteral("HTTP %1: %2").arg(answer.status).arg(errorWords(*json));
        if (json->value(QLatin1String("success")).toBool() && answer.status >= 200 &&
            answer.status <= 299)
            return {std::nullopt, *json};
        return {refusal(answer.status, *json, details), {}};
    }

    // What a refusal means for the name.
    ProviderAnswer refusal(long status, const QJsonObject& json, const QString& details) const
    {
        const QString words = errorWords(json);
        if (hasCode(json, 6003) || hasCode(json, 6111))
            return heldUntilReload(
                QStringLiteral("Cloudflare cannot read the token (%1): token_file must hold the "
                               "API token alone on one line, then reload")
                    .arg(words),
                details);
        if (hasCode(json, 9109) || status == 401)
            return heldUntilReload(
                QStringLiteral("Cloudflare refused the token (%1): make an API token with "
                               "Zone DNS Edit permission, put it in token_file, then reload")
                    .arg(words),
                details);
        if (status == 403)
            return heldUntilReload(
                QStringLiteral("Cloudflare refused the token for this zone (%1): give the token "
                               "Zone DNS Edit permission on the zone, then reload")
                    .arg(words),
                details);
        if (hasCode(json, 81044))
            return failedAnswer(
                QStringLiteral("Cloudflare has no such record any more (%1): it is looked up "
                               "again next time")
                    .arg(words),
                details);
        if (hasCode(json, 81057))
            return failedAnswer(
                QStringLiteral("Cloudflare already has that record (%1): it is looked up again "
                               "next time")
                    .arg(words),
                details);
        return failedAnswer(
            QStringLiteral("Cloudflare refused the request (HTTP %1: %2)").arg(status).arg(words),
            details);
    }

    // The zone's identifier: zone_id, or the zone found by its name.
    Call zoneId() const
    {
        if (!m_update.settings.zoneId.isEmpty())
            return {std::nullopt, {{QStringLiteral("id"), m_update.settings.zoneId}}};
        Call found = call("GET", QStringLiteral("/zones?name=") + encoded(m_update.zone));
        if (found.trouble)
            return found;
        const QJsonArray zones = found.answer.value(QLatin1String("result")).toArray();
        for (const QJsonValue& zone : zones)
            if (zone[QLatin1String("name")].toString() == m_update.zone &&
                !zone[QLatin1String("id")].toString().isEmpty())
                return {std::nullopt, zone.toObject()};
        return {heldUntilReload(
                    QStringLiteral("Cloudflare shows this token no zone %1: set zone (or zone_id) "
                                   "to the zone at Cloudflare, or give the token Zone Read "
                                   "permission on it, then reload")
                        .arg(m_update.zone)),
                {}};
    }

    static QString encoded(const QString& text)
    {
        return QString::fromLatin1(QUrl::toPercentEncoding(text));
    }

private:
    const ProviderUpdate& m_update;
    QString m_base;
};

// The body of a PATCH, or of a POST when `existing` is null, for one name.
QJsonObject recordChange(const DnsTargetSettings& settings, const QString& name,
                         const QString& type, const QString& address, const QJsonObject* existing)
{
    if (!existing)
        return {{QStringLiteral("type"), type},
                {QStringLiteral("name"), name},
                {QStringLiteral("content"), address},
                {QStringLiteral("ttl"), settings.ttl},
                {QStringLiteral("proxied"), settings.proxied.value_or(false)}};
    QJsonObject body{{QStringLiteral("content"), address}};
    if (settings.ttlGiven)
        body.insert(QStringLiteral("ttl"), settings.ttl);
    if (settings.proxied)
        body.insert(QStringLiteral("proxied"), *settings.proxied);
    return body;
}

// What a proxied record holding the address means.
QString proxiedReason(const QString& name, const QString& address)
{
    return QStringLiteral("Cloudflare's record of %1 holds %2; it is proxied, so Cloudflare's "
                          "servers answer with addresses of their own")
        .arg(name, address);
}

// A change that is needed but not to be sent yet.
ProviderAnswer heldBackAnswer()
{
    ProviderAnswer answer;
    answer.heldBack = true;
    return answer;
}

// Whether `record` must be changed to hold `address` as the section wants it.
bool mustChange(const DnsTargetSettings& settings, const QJsonObject& record,
                const QString& address)
{
    const bool proxiedChanges =
        settings.proxied && record.value(QLatin1String("proxied")).toBool() != *settings.proxied;
    const bool ttlChanges =
        settings.ttlGiven && record.value(QLatin1String("ttl")).toInt() != settings.ttl;
    return record.value(QLatin1String("content")).toString() != address || proxiedChanges ||
           ttlChanges;
}

ProviderAnswer updateCloudflare(const ProviderUpdate& update)
{
    const Cloudflare cloudflare(update);
    const DnsTargetSettings& settings = update.settings;
    const QString type = recordType(update.family);
    const Call zone = cloudflare.zoneId();
    if (zone.trouble)
        return *zone.trouble;
    const QString records =
        QStringLiteral("/zones/%1/dns_records")
            .arg(Cloudflare::encoded(zone.answer.value(QLatin1String("id")).toString()));
    const Call listed = cloudflare.call(
        "GET",
        records +
            QStringLiteral("?type=%1&name=%2").arg(type, Cloudflare::encoded(settings.dnsName)));
    if (listed.trouble)
        return *listed.trouble;
    QJsonArray found;
    for (const QJsonValue& record : listed.answer.value(QLatin1String("result")).toArray())
        if (record[QLatin1String("type")].toString() == type &&
            record[QLatin1String("name")].toString() == settings.dnsName)
            found.append(record);
    if (!update.maySend &&
        (found.size() != 1 || mustChange(settings, found.first().toObject(), update.address)))
        return heldBackAnswer();

    QJsonObject result;
    if (found.isEmpty()) {
        const QJsonObject body =
            recordChange(settings, settings.dnsName, type, update.address, nullptr);
        const Call made = cloudflare.call("POST", records, body);
        if (made.trouble)
            return *made.trouble;
        result = made.answer.value(QLatin1String("result")).toObject();
    } else {
        const QJsonObject first = found.first().toObject();
        result = first;
        if (mustChange(settings, first, update.address)) {
            const QJsonObject body =
                recordChange(settings, settings.dnsName, type, update.address, &first);
            const Call changed = cloudflare.call(
                "PATCH",
                records + QLatin1Char('/') +
                    Cloudflare::encoded(first.value(QLatin1String("id")).toString()),
                body);
            if (changed.trouble)
                return *changed.trouble;
            result = changed.answer.value(QLatin1String("result")).toObject();
        }
        // The name holds one address of the family: the other records go.
        for (qsizetype i = 1; i < found.size(); ++i) {
            const Call gone = cloudflare.call(
                "DELETE", records + QLatin1Char('/') +
                              Cloudflare::encoded(found[i][QLatin1String("id")].toString()));
            if (gone.trouble)
                return *gone.trouble;
        }
    }
    if (result.value(QLatin1String("content")).toString() != update.address)
        return failedAnswer(
            QStringLiteral("Cloudflare answered success, but its record of %1 "
                           "holds \"%2\"")
                .arg(settings.dnsName,
                     shortText(result.value(QLatin1String("content")).toString().toUtf8(), 80)));
    ProviderAnswer answer = accepted(
        QStringLiteral("Cloudflare's record of %1 holds %2").arg(settings.dnsName, update.address));
    // A proxied name is served with Cloudflare's own addresses: the record read back is the check.
    if (result.value(QLatin1String("proxied")).toBool()) {
        answer.servedElsewhere = true;
        answer.alreadyHeld = found.size() == 1 &&
                             found.first()[QLatin1String("content")].toString() == update.address;
        answer.reason = proxiedReason(settings.dnsName, update.address);
    }
    return answer;
}

QList<DnsSettingProblem> checkCloudflare(const DnsTargetSettings& settings)
{
    // 1 is Cloudflare's "automatic"; otherwise 60 to 86400 (30 for Enterprise zones).
    if (settings.ttlGiven && settings.ttl != 1 && settings.ttl < 30)
        return {{QStringLiteral("ttl"),
                 QStringLiteral("Cloudflare takes 1 (automatic) or 60 to 86400 seconds (30 on "
                                "Enterprise zones)")}};
    return {};
}

} // namespace

QList<ProviderAnswer> updateCloudflareBatch(const DnsTargetSettings& settings, const QString& zone,
                                            const QList<CloudflareChange>& changes, int seconds)
{
    if (changes.isEmpty())
        return {};
    const auto everyChange = [&](ProviderAnswer answer) {
        return QList<ProviderAnswer>(changes.size(), answer);
    };
    const ProviderUpdate update{
        settings, changes.first().family, changes.first().address, seconds, zone, {}};
    const Cloudflare cloudflare(update);
    const Call zoneFound = cloudflare.zoneId();
    if (zoneFound.trouble)
        return everyChange(*zoneFound.trouble);
    const QString records =
        QStringLiteral("/zones/%1/dns_records")
            .arg(Cloudflare::encoded(zoneFound.answer.value(QLatin1String("id")).toString()));
    // The zone's records, 50 a page: a record with its comment and tags takes up to about 600
    // bytes, and an answer is read to 64 KB.
    QList<QJsonObject> held;
    constexpr int kMostPages = 200;
    for (int page = 1; page <= kMostPages; ++page) {
        const Call listed =
            cloudflare.call("GET", records + QStringLiteral("?page=%1&per_page=50").arg(page));
        if (listed.trouble)
            return everyChange(*listed.trouble);
        for (const QJsonValue& record : listed.answer.value(QLatin1String("result")).toArray())
            held << record.toObject();
        const int pages = listed.answer.value(QLatin1String("result_info"))
                              .toObject()
                              .value(QLatin1String("total_pages"))
                              .toInt(1);
        if (page >= pages)
            break;
    }

    // Each change as a patch or a post, or nothing where the record holds the address already (a
    // proxied one, whose servers answer with Cloudflare's addresses). Where its answer is found:
    // the list of the batch's result, and the place in it.
    QList<ProviderAnswer> answers;
    QList<std::pair<QString, qsizetype>> resultOf;
    QJsonArray deletes;
    QJsonArray patches;
    QJsonArray posts;
    for (const CloudflareChange& change : changes) {
        const QString type = recordType(change.family);
        QList<QJsonObject> found;
        for (const QJsonObject& record : held)
            if (record.value(QLatin1String("type")).toString() == type &&
                record.value(QLatin1String("name")).toString() == change.dnsName)
                found << record;
        ProviderAnswer answer = accepted(QStringLiteral("Cloudflare's record of %1 holds %2")
                                             .arg(change.dnsName, change.address));
        if (!change.maySend &&
            (found.size() != 1 || mustChange(settings, found.first(), change.address))) {
            answer = heldBackAnswer();
            resultOf.push_back({});
        } else if (found.isEmpty()) {
            resultOf.push_back({QStringLiteral("posts"), posts.size()});
            posts.append(recordChange(settings, change.dnsName, type, change.address, nullptr));
        } else if (found.size() == 1 && !mustChange(settings, found.first(), change.address)) {
            answer.alreadyHeld = true;
            answer.servedElsewhere = found.first().value(QLatin1String("proxied")).toBool();
            resultOf.push_back({});
        } else {
            QJsonObject patch =
                recordChange(settings, change.dnsName, type, change.address, &found.first());
            patch.insert(QStringLiteral("id"), found.first().value(QLatin1String("id")));
            resultOf.push_back({QStringLiteral("patches"), patches.size()});
            patches.append(patch);
            // The name holds one address of the family: the other records go.
            for (qsizetype i = 1; i < found.size(); ++i)
                deletes.append(
                    QJsonObject{{QStringLiteral("id"), found[i].value(QLatin1String("id"))}});
        }
        answers << answer;
    }
    if (patches.isEmpty() && posts.isEmpty() && deletes.isEmpty())
        return answers;
    QJsonObject batch;
    if (!deletes.isEmpty())
        batch.insert(QStringLiteral("deletes"), deletes);
    if (!patches.isEmpty())
        batch.insert(QStringLiteral("patches"), patches);
    if (!posts.isEmpty())
        batch.insert(QStringLiteral("posts"), posts);
    const Call done = cloudflare.call("POST", records + QStringLiteral("/batch"), batch);
    // Cloudflare applies a batch all or none: its refusal is every sent change's.
    for (qsizetype i = 0; i < changes.size(); ++i) {
        if (resultOf[i].first.isEmpty())
            continue;
        if (done.trouble) {
            answers[i] = *done.trouble;
            answers[i].sent = true;
            continue;
        }
        answers[i].sent = true;
        const QJsonObject record = done.answer.value(QLatin1String("result"))
                                       .toObject()
                                       .value(resultOf[i].first)
                                       .toArray()
                                       .at(resultOf[i].second)
                                       .toObject();
        if (record.value(QLatin1String("content")).toString() != changes[i].address) {
            answers[i] = failedAnswer(
                QStringLiteral("Cloudflare answered success, but its record of %1 holds \"%2\"")
                    .arg(
                        changes[i].dnsName,
                        shortText(record.value(QLatin1String("content")).toString().toUtf8(), 80)));
            answers[i].sent = true;
        }
        answers[i].servedElsewhere = record.value(QLatin1String("proxied")).toBool();
    }
    for (qsizetype i = 0; i < changes.size(); ++i)
        if (answers[i].kind == ProviderAnswer::Kind::Accepted && answers[i].servedElsewhere)
            answers[i].reason = proxiedReason(changes[i].dnsName, changes[i].address);
    return answers;
}

ProviderRow cloudflareRow()
{
    return {DnsProtocol::Cloudflare,
            "cloudflare",
            {{"ttl"},
             {"zone"},
             {"zone_id"},
             {"proxied"},
             {"verify"},
             {"api"},
             {"token_file", KeyNeed::OneSecret},
             {"credential", KeyNeed::OneSecret}},
            &checkCloudflare,
            &updateCloudflare,
            true,
            true};
}

} // namespace quendle::dns
