// Porkbun's API v3 at api.porkbun.com: https://porkbun.com/api/json/v3/documentation (and its
// topic page https://porkbun.com/llms/dns). Every command is a POST of JSON that carries
// "apikey" and "secretapikey"; every answer holds "status": "SUCCESS" or "ERROR" with a
// "message", an error with HTTP 400. The record is read with retrieveByNameType/DOMAIN/TYPE/
// [SUBDOMAIN] and changed with editByNameType (content, and the TTL it had unless ttl = says
// otherwise), or made with create/DOMAIN (name, type, content, ttl: 600 at least, Porkbun's
// minimum and default). Porkbun limits a key to about one request a second and answers more with
// an HTML 503 page: requests with one key are kept a second apart here.
#include "dns/providers/provider.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

#include <mutex>

namespace quendle::dns {

namespace {

const QString kPorkbun = QStringLiteral("Porkbun");
constexpr int kPorkbunLeastTtl = 600;
constexpr qint64 kSpacingMilliseconds = 1000;

// Waits until a second has passed since the last request with `key`, from any thread.
void waitTurn(const QString& key)
{
    static std::mutex mutex;
    static QHash<QString, QElapsedTimer> last;
    std::unique_lock lock(mutex);
    QElapsedTimer& timer = last[key];
    if (timer.isValid() && timer.elapsed() < kSpacingMilliseconds)
        QThread::msleep(static_cast<unsigned long>(kSpacingMilliseconds - timer.elapsed()));
    timer.start();
}

struct Call
{
    std::optional<ProviderAnswer> trouble;
    QJsonObject answer;
};

Call command(const ProviderUpdate& update, const QString& path, QJsonObject body)
{
    const DnsTargetSettings& settings = update.settings;
    body.insert(QStringLiteral("secretapikey"), settings.secretKey);
    body.insert(QStringLiteral("apikey"), settings.apiKey);
    ApiRequest request;
    request.method = "POST";
    request.url = apiBase(settings, "https://api.porkbun.com/api/json/v3") + path;
    request.headers << "Content-Type: application/json";
    request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    waitTurn(settings.apiKey);
    const ApiAnswer answer = callApi(request, update.seconds);
    if (auto trouble = commonTrouble(answer, kPorkbun))
        return {trouble, {}};
    const Expected<QJsonObject> json = jsonObject(answer, kPorkbun);
    if (!json)
        return {failedAnswer(json.error()), {}};
    const QString status = json->value(QLatin1String("status")).toString();
    if (status == QLatin1String("SUCCESS") && answer.status >= 200 && answer.status <= 299)
        return {std::nullopt, *json};
    const QString message =
        shortText(json->value(QLatin1String("message")).toString().toUtf8(), 160);
    const QString details = QStringLiteral("HTTP %1: %2").arg(answer.status).arg(message);
    if (message.contains(QLatin1String("Invalid API key"), Qt::CaseInsensitive))
        return {heldUntilReload(QStringLiteral("Porkbun refused the API key (%1): check "
                                               "api_key_file and secret_key_file, then reload")
                                    .arg(message),
                                details),
                {}};
    if (message.contains(QLatin1String("opted in"), Qt::CaseInsensitive))
        return {heldUntilReload(
                    QStringLiteral("Porkbun refused the domain %1 (%2): turn on API ACCESS for it "
                                   "in Porkbun's domain management, then reload")
                        .arg(update.zone, message),
                    details),
                {}};
    if (message.contains(QLatin1String("Invalid domain"), Qt::CaseInsensitive))
        return {heldUntilReload(QStringLiteral("Porkbun has no domain %1 for this key (%2): set "
                                               "zone to the domain at Porkbun, then reload")
                                    .arg(update.zone, message),
                                details),
                {}};
    return {failedAnswer(QStringLiteral("Porkbun refused the command (%1)")
                             .arg(message.isEmpty() ? details : message),
                         details),
            {}};
}

ProviderAnswer updatePorkbun(const ProviderUpdate& update)
{
    const DnsTargetSettings& settings = update.settings;
    const QString type = recordType(update.family);
    const QString& domain = update.zone;
    const std::optional<QString> inZone = nameInZone(settings.dnsName, domain);
    if (!inZone)
        return notInZone(settings.dnsName, domain);
    const QString subdomain = *inZone;
    const QString where = QStringLiteral("%1/%2%3").arg(
        domain, type, subdomain.isEmpty() ? QString() : QLatin1Char('/') + subdomain);

    const Call retrieved = command(update, QStringLiteral("/dns/retrieveByNameType/") + where, {});
    if (retrieved.trouble)
        return *retrieved.trouble;
    const QJsonArray records = retrieved.answer.value(QLatin1String("records")).toArray();
    Call changed;
    if (records.isEmpty()) {
        const int ttl = qMax(kPorkbunLeastTtl, settings.ttl);
        changed = command(update, QStringLiteral("/dns/create/") + domain,
                          {{QStringLiteral("name"), subdomain},
                           {QStringLiteral("type"), type},
                           {QStringLiteral("content"), update.address},
                           {QStringLiteral("ttl"), QString::number(ttl)}});
    } else {
        // Porkbun gives the TTL as text; the record keeps its own unless ttl = is set.
        const QString held = records.first()[QLatin1String("ttl")].toVariant().toString();
        const QString ttl = settings.ttlGiven || held.isEmpty()
                                ? QString::number(qMax(kPorkbunLeastTtl, settings.ttl))
                                : held;
        changed =
            command(update, QStringLiteral("/dns/editByNameType/") + where,
                    {{QStringLiteral("content"), update.address}, {QStringLiteral("ttl"), ttl}});
    }
    if (changed.trouble)
        return *changed.trouble;
    return accepted(QStringLiteral("Porkbun took %1 for %2").arg(update.address, settings.dnsName));
}

QList<DnsSettingProblem> checkPorkbun(const DnsTargetSettings& settings)
{
    if (settings.ttlGiven && settings.ttl < kPorkbunLeastTtl)
        return {{QStringLiteral("ttl"), QStringLiteral("Porkbun takes 600 seconds at least")}};
    return {};
}

} // namespace

ProviderRow porkbunRow()
{
    return {DnsProtocol::Porkbun,
            "porkbun",
            {{"ttl"},
             {"zone"},
             {"verify"},
             {"api"},
             {"api_key_file", KeyNeed::Required},
             {"secret_key_file", KeyNeed::Required}},
            &checkPorkbun,
            &updatePorkbun,
            true};
}

} // namespace quendle::dns
