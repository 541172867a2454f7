#include "dns/dnstargetsettings.h"

#include "address/ipaddresstext.h"

#include <QUrl>

namespace quendle {

namespace {

std::optional<quint16> port(const QString& text)
{
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    const int value = text.toInt();
    if (value < 1 || value > 65535)
        return std::nullopt;
    return static_cast<quint16>(value);
}

} // namespace

std::optional<DnsServerAddress> parseDnsServer(const QString& text)
{
    DnsServerAddress server;
    QString portText;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        server.host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return std::nullopt;
        portText = rest.mid(1);
        if (!canonicalAddress(server.host, AddressFamily::Ipv6) ||
            (rest.startsWith(QLatin1Char(':')) && portText.isEmpty()))
            return std::nullopt;
    } else if (text.count(QLatin1Char(':')) > 1) {
        server.host = text; // a bare IPv6 address, no port
        if (!canonicalAddress(text, AddressFamily::Ipv6))
            return std::nullopt;
    } else {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        server.host = colon < 0 ? text : text.left(colon);
        if (colon >= 0) {
            portText = text.mid(colon + 1);
            if (portText.isEmpty())
                return std::nullopt;
        }
        if (!isDomainName(server.host) && !canonicalAddress(server.host, AddressFamily::Ipv4))
            return std::nullopt;
    }
    if (!portText.isEmpty()) {
        const auto number = port(portText);
        if (!number)
            return std::nullopt;
        server.port = *number;
    }
    return server;
}

bool isDomainName(const QString& text)
{
    QString name = text;
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name.isEmpty() || name.size() > 253)
        return false;
    for (const QString& label : name.split(QLatin1Char('.'))) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(QLatin1Char('-')) ||
            label.endsWith(QLatin1Char('-')))
            return false;
        for (const QChar c : label)
            if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('-') &&
                c != QLatin1Char('_'))
                return false;
    }
    return true;
}

std::optional<TsigAlgorithm> tsigAlgorithmNamed(const QString& text)
{
    for (const TsigAlgorithm algorithm :
         {TsigAlgorithm::HmacSha256, TsigAlgorithm::HmacSha512, TsigAlgorithm::HmacSha1})
        if (text == tsigAlgorithmName(algorithm))
            return algorithm;
    return std::nullopt;
}

QString tsigAlgorithmName(TsigAlgorithm algorithm)
{
    switch (algorithm) {
    case TsigAlgorithm::HmacSha512:
        return QStringLiteral("hmac-sha512");
    case TsigAlgorithm::HmacSha1:
        return QStringLiteral("hmac-sha1");
    case TsigAlgorithm::HmacSha256:
        break;
    }
    return QStringLiteral("hmac-sha256");
}

QList<DnsSettingProblem> checkDnsTarget(const DnsTargetSettings& settings)
{
    QList<DnsSettingProblem> problems;
    const auto need = [&](const QString& value, const char* key, const char* protocol) {
        if (value.isEmpty())
            problems.append(
                {QLatin1String(key),
                 QStringLiteral("required with protocol %1").arg(QLatin1String(protocol)), true});
    };
    const auto refuse = [&](const QString& value, const char* key, const char* protocol) {
        if (!value.isEmpty())
            problems.append(
                {QLatin1String(key),
                 QStringLiteral("belongs to protocol %1").arg(QLatin1String(protocol))});
    };
    if (settings.protocol == DnsProtocol::Rfc2136) {
        need(settings.server, "server", "rfc2136");
        need(settings.keyName, "key_name", "rfc2136");
        need(settings.keySecret, "key_file", "rfc2136 (or credential)");
        refuse(settings.url, "url", "dyndns2");
        refuse(settings.user, "user", "dyndns2");
        refuse(settings.password, "password", "dyndns2");
        refuse(settings.hostname, "hostname", "dyndns2");
        refuse(settings.verify, "verify", "dyndns2");
        if (!settings.keySecret.isEmpty() &&
            !QByteArray::fromBase64Encoding(settings.keySecret.toLatin1(),
                                            QByteArray::AbortOnBase64DecodingErrors))
            problems.append({QStringLiteral("key_file"),
                             QStringLiteral("the key's secret is not base64 text")});
    } else {
        need(settings.url, "url", "dyndns2");
        need(settings.user, "user", "dyndns2");
        need(settings.password, "password", "dyndns2 (or password_file, credential)");
        refuse(settings.server, "server", "rfc2136");
        refuse(settings.zone, "zone", "rfc2136");
        refuse(settings.keyName, "key_name", "rfc2136");
        refuse(settings.keySecret, "key_file", "rfc2136");
    }
    return problems;
}

} // namespace quendle
