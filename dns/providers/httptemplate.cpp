// The http protocol: a template for a provider without a file of its own. The section writes the
// request out: `method`, `url`, `header` lines and `body`, in which {name}, {address}, {family}
// (ipv4 or ipv6) and {token} (token_file or credential) are filled in, escaped for a URL in
// `url`; `success` is a text the answer must hold, or /a regular expression/ it must match. An
// answer of HTTP 401 or 403 is a refused credential; 429 and 503 ask for a pause.
#include "dns/providers/provider.h"

#include <QRegularExpression>
#include <QUrl>

namespace quendle::dns {

namespace {

QString filled(QString text, const ProviderUpdate& update, bool forUrl)
{
    const auto value = [&](const QString& raw) {
        return forUrl ? QString::fromLatin1(QUrl::toPercentEncoding(raw)) : raw;
    };
    const QString family =
        update.family == AddressFamily::Ipv4 ? QStringLiteral("ipv4") : QStringLiteral("ipv6");
    // One pass, so that a value holding "{…}" is never filled in again.
    QString out;
    static const QRegularExpression placeholder(
        QStringLiteral("\\{(name|address|family|token)\\}"));
    qsizetype at = 0;
    for (const QRegularExpressionMatch& match : placeholder.globalMatch(text)) {
        out += text.mid(at, match.capturedStart() - at);
        const QString word = match.captured(1);
        out += value(word == QLatin1String("name")      ? update.settings.dnsName
                     : word == QLatin1String("address") ? update.address
                     : word == QLatin1String("family")  ? family
                                                        : update.settings.token);
        at = match.capturedEnd();
    }
    return out + text.mid(at);
}

bool holdsSuccess(const QString& success, const QByteArray& body)
{
    const QString text = QString::fromUtf8(body);
    if (success.size() > 1 && success.startsWith(QLatin1Char('/')) &&
        success.endsWith(QLatin1Char('/')))
        return QRegularExpression(success.mid(1, success.size() - 2)).match(text).hasMatch();
    return text.contains(success);
}

ProviderAnswer updateHttpTemplate(const ProviderUpdate& update)
{
    const DnsTargetSettings& settings = update.settings;
    ApiRequest request;
    request.method = settings.method.toLatin1();
    request.url = filled(settings.url, update, true);
    for (const QString& header : settings.headers)
        request.headers << filled(header, update, false).toUtf8();
    if (request.method != "GET")
        request.body = filled(settings.body, update, false).toUtf8();
    const ApiAnswer answer = callApi(request, update.seconds);
    if (auto trouble = commonTrouble(answer, QStringLiteral("the provider")))
        return *trouble;
    const QString details =
        QStringLiteral("HTTP %1: %2").arg(answer.status).arg(shortText(answer.body));
    if (answer.status == 401 || answer.status == 403)
        return heldUntilReload(QStringLiteral("the provider refused the request (HTTP %1: %2): "
                                              "check the token and the section, then reload")
                                   .arg(answer.status)
                                   .arg(shortText(answer.body, 80)),
                               details);
    if (answer.status < 200 || answer.status > 299)
        return failedAnswer(QStringLiteral("the provider answered HTTP %1: %2")
                                .arg(answer.status)
                                .arg(shortText(answer.body, 80)),
                            details);
    if (!holdsSuccess(settings.success, answer.body))
        return failedAnswer(QStringLiteral("the provider's answer does not hold \"%1\": %2")
                                .arg(settings.success, shortText(answer.body, 80)),
                            details);
    return accepted(QStringLiteral("the provider took %1").arg(update.address), details);
}

} // namespace

ProviderRow httpTemplateRow()
{
    return {DnsProtocol::Http,
            "http",
            {{"url", KeyNeed::Required},
             {"method"},
             {"header"},
             {"body"},
             {"success", KeyNeed::Required},
             {"verify"},
             {"token_file"},
             {"credential"}},
            nullptr,
            &updateHttpTemplate};
}

} // namespace quendle::dns
