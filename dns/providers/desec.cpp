// deSEC's IP update API: https://desec.readthedocs.io/en/latest/dyndns/update-api.html
// GET https://update.dedyn.io/update?hostname=NAME&myipv4=…&myipv6=… with "Authorization:
// Token TOKEN". deSEC deletes the records of a family the request leaves out (or gives empty),
// so the family not published this time is sent as "preserve", which keeps it. Answers: 200
// "good"; 401 for a token it does not know; 404 for a name not in the account; 403 for a name
// it does not update dynamically; 429 with Retry-After when throttled. Its records' TTL is 60 s:
// the protocol takes no ttl.
#include "dns/providers/provider.h"

#include <QJsonObject>
#include <QUrlQuery>

namespace quendle::dns {

namespace {

const QString kProvider = QStringLiteral("deSEC");

ProviderAnswer updateDesec(const ProviderUpdate& update)
{
    const QString& name = update.settings.dnsName;
    const bool v4 = update.family == AddressFamily::Ipv4;
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("hostname"), name);
    query.addQueryItem(QStringLiteral("myipv4"), v4 ? update.address : QStringLiteral("preserve"));
    query.addQueryItem(QStringLiteral("myipv6"), v4 ? QStringLiteral("preserve") : update.address);
    ApiRequest request;
    request.url = apiBase(update.settings, "https://update.dedyn.io") + "/update?" +
                  query.toString(QUrl::FullyEncoded);
    request.headers << "Authorization: Token " + update.settings.token.toUtf8();
    const ApiAnswer answer = callApi(request, update.seconds);
    if (const auto trouble = commonTrouble(answer, kProvider))
        return *trouble;
    const QString details =
        QStringLiteral("HTTP %1: %2").arg(answer.status).arg(shortText(answer.body));
    if (answer.status == 200 && answer.body.trimmed() == "good")
        return accepted(QStringLiteral("deSEC took %1 for %2").arg(update.address, name), details);
    // Its refusals say a word more in {"detail": …}.
    const QString words = QStringLiteral("HTTP %1: %2")
                              .arg(answer.status)
                              .arg(jsonObject(answer, kProvider)
                                       .value_or(QJsonObject())
                                       .value(QLatin1String("detail"))
                                       .toString(shortText(answer.body, 80)));
    switch (answer.status) {
    case 401:
        return heldUntilReload(QStringLiteral("deSEC refused the token (%1): put a token of the "
                                              "account that holds %2 in token_file, then reload")
                                   .arg(words, name),
                               details);
    case 404:
        return heldUntilReload(QStringLiteral("deSEC has no name %1 in this token's account (%2): "
                                              "correct name or add it at deSEC, then reload")
                                   .arg(name, words),
                               details);
    case 403:
        return heldUntilReload(QStringLiteral("deSEC does not update %1 dynamically (%2): ask "
                                              "deSEC's support, then reload")
                                   .arg(name, words),
                               details);
    default:
        break;
    }
    return failedAnswer(QStringLiteral("deSEC answered HTTP %1, not \"good\": \"%2\"")
                            .arg(answer.status)
                            .arg(shortText(answer.body, 80)),
                        details);
}

} // namespace

ProviderRow desecRow()
{
    return {DnsProtocol::Desec,
            "desec",
            {{"verify"},
             {"api"},
             {"token_file", KeyNeed::OneSecret},
             {"credential", KeyNeed::OneSecret}},
            nullptr,
            &updateDesec};
}

} // namespace quendle::dns
