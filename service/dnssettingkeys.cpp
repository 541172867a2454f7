#include "service/dnssettingkeys.h"

#include "base/controlcharacters.h"
#include "dns/providers/provider.h"
#include "service/nameaddresses.h"
#include "service/secretfile.h"

#include <QDir>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace quendle::settingkeys {

namespace {

using Result = Expected<void>;

DnsTargetSettings& dns(PublisherSettings& settings)
{
    return settings.dnsTargets.last();
}

void openDns(PublisherSettings& settings, const QString& name)
{
    DnsTargetSettings target;
    target.name = name;
    settings.dnsTargets.append(target);
}

Result domainName(const QString& value, QString& target)
{
    if (!isDomainName(value))
        return Unexpected(QStringLiteral("must be a domain name such as home.example.org"));
    target = value.endsWith(QLatin1Char('.')) ? value.chopped(1) : value;
    return {};
}

Result server(const QString& value, QString& target)
{
    if (!parseDnsServer(value))
        return Unexpected(QStringLiteral("must be host[:port], an IPv6 address in brackets"));
    target = value;
    return {};
}

Result keep(const Expected<QString>& secret, QString& target)
{
    if (!secret)
        return Unexpected(secret.error());
    target = *secret;
    return {};
}

// The protocols and the keys each takes are rows of dns/providers/provider.h's table.
Result dnsProtocol(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    const dns::ProviderRow* row = dns::providerNamed(value);
    if (!row)
        return Unexpected(QStringLiteral("must be one of %1").arg(dns::providerNames()));
    dns(settings).protocol = row->protocol;
    return {};
}

Result dnsName(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return domainName(value, dns(settings).dnsName);
}

Result dnsTtl(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    bool ok = false;
    const int ttl = value.toInt(&ok);
    if (!ok || ttl < 1 || ttl > 86400)
        return Unexpected(QStringLiteral("must be a whole number of seconds from 1 to 86400"));
    dns(settings).ttl = ttl;
    dns(settings).ttlGiven = true;
    return {};
}

Result dnsServer(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return server(value, dns(settings).server);
}

Result dnsZone(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return domainName(value, dns(settings).zone);
}

Result dnsKeyName(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return domainName(value, dns(settings).keyName);
}

Result dnsKeyAlgorithm(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    const auto algorithm = tsigAlgorithmNamed(value);
    if (!algorithm)
        return Unexpected(QStringLiteral("must be hmac-sha256, hmac-sha512 or hmac-sha1"));
    dns(settings).keyAlgorithm = *algorithm;
    return {};
}

Result dnsKeyFile(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return keep(readSecretSetting(value, QStringLiteral("a key's secret")),
                dns(settings).keySecret);
}

// The secret of any protocol; the section's check keeps the one its protocol uses.
Result dnsCredential(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    const Expected<QString> secret = readCredential(value, QStringLiteral("a secret"));
    if (!secret)
        return Unexpected(secret.error());
    dns(settings).keySecret = *secret;
    dns(settings).password = *secret;
    dns(settings).token = *secret;
    return {};
}

// A secret goes with every request: over TLS only, or to this machine itself. The http template's
// placeholders are checked as the text that replaces them would be.
Result webAddress(const QString& value, QString& target)
{
    QString filled = value;
    for (const char* placeholder : {"{name}", "{address}", "{family}", "{token}"})
        filled.replace(QLatin1String(placeholder), QLatin1String("x"));
    const QUrl url(filled, QUrl::StrictMode);
    if (!url.userInfo().isEmpty())
        return Unexpected(QStringLiteral("must not hold a user or password: give them as user and "
                                         "password"));
    if (!dns::safeApiAddress(filled))
        return Unexpected(QStringLiteral("must be an https:// address"));
    target = value;
    return {};
}

Result dnsUrl(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return webAddress(value, dns(settings).url);
}

Result dnsApi(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    if (value.contains(QLatin1Char('{')))
        return Unexpected(QStringLiteral("must be an https:// address"));
    return webAddress(value, dns(settings).api);
}

Result dnsTokenFile(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return keep(readSecretSetting(value, QStringLiteral("a token")), dns(settings).token);
}

Result dnsApiKeyFile(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return keep(readSecretSetting(value, QStringLiteral("an API key")), dns(settings).apiKey);
}

Result dnsSecretKeyFile(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return keep(readSecretSetting(value, QStringLiteral("a secret API key")),
                dns(settings).secretKey);
}

Result dnsZoneId(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    // Cloudflare's identifiers are 32 hexadecimal digits; any word of letters and digits is let
    // through for a compatible service.
    if (value.isEmpty() || value.size() > 64 ||
        !std::all_of(value.begin(), value.end(), [](QChar c) {
            return c.unicode() < 0x80 && (c.isLetterOrNumber() || c == QLatin1Char('-'));
        }))
        return Unexpected(QStringLiteral("must be the zone's identifier, letters and digits"));
    dns(settings).zoneId = value;
    return {};
}

Result trueOrFalse(const QString& value, bool& target)
{
    if (value == QLatin1String("true"))
        target = true;
    else if (value == QLatin1String("false"))
        target = false;
    else
        return Unexpected(QStringLiteral("must be true or false"));
    return {};
}

Result dnsProxied(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    bool proxied = false;
    if (const Result read = trueOrFalse(value, proxied); !read)
        return read;
    dns(settings).proxied = proxied;
    return {};
}

Result dnsDual(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return trueOrFalse(value, dns(settings).dual);
}

Result dnsMethod(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    if (!QStringList{"GET", "POST", "PUT", "PATCH"}.contains(value))
        return Unexpected(QStringLiteral("must be GET, POST, PUT or PATCH"));
    dns(settings).method = value;
    return {};
}

// "Name: value", the name a word of the characters HTTP allows in it.
Result dnsHeader(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    const qsizetype colon = value.indexOf(QLatin1Char(':'));
    const QString name = value.left(colon);
    const bool nameOk =
        colon > 0 && std::all_of(name.begin(), name.end(), [](QChar c) {
            return c.unicode() < 0x80 &&
                   (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_'));
        });
    if (!nameOk || hasControlCharacter(value))
        return Unexpected(QStringLiteral("must be a line \"Name: value\""));
    dns(settings).headers.append(value);
    return {};
}

Result dnsBody(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    dns(settings).body = value;
    return {};
}

Result dnsSuccess(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    if (value.isEmpty())
        return Unexpected(QStringLiteral("must not be empty"));
    if (value.size() > 1 && value.startsWith(QLatin1Char('/')) &&
        value.endsWith(QLatin1Char('/'))) {
        const QRegularExpression expression(value.mid(1, value.size() - 2));
        if (!expression.isValid())
            return Unexpected(
                QStringLiteral("is not a regular expression: %1").arg(expression.errorString()));
    }
    dns(settings).success = value;
    return {};
}

Result dnsUser(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    if (value.isEmpty())
        return Unexpected(QStringLiteral("must not be empty"));
    dns(settings).user = value;
    return {};
}

Result dnsPassword(PublisherSettings& settings, const QString& value, const FileFacts& file)
{
    return keep(acceptInlineSecret(value, file.path, file.openToOthers), dns(settings).password);
}

Result dnsPasswordFile(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return keep(readSecretSetting(value, QStringLiteral("a password")), dns(settings).password);
}

Result dnsHostname(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return domainName(value, dns(settings).hostname);
}

Result dnsVerify(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return server(value, dns(settings).verify);
}

Result dnsIpv6Host(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    const Expected<QString> identifier = canonicalAddress(value, AddressFamily::Ipv6);
    if (!identifier)
        return Unexpected(
            QStringLiteral("must be an IPv6 interface identifier such as ::211:32ff:fe12:3456"));
    dns(settings).ipv6Host = *identifier;
    return {};
}

Result dnsPrefixLength(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    bool ok = false;
    const int length = value.toInt(&ok);
    if (!ok || length < 48 || length > 64)
        return Unexpected(QStringLiteral("must be a whole number of bits from 48 to 64"));
    dns(settings).prefixLength = length;
    return {};
}

Result dnsFamilies(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    const Expected<QList<AddressFamily>> families = familiesNamed(value);
    if (!families)
        return Unexpected(families.error());
    dns(settings).families = *families;
    return {};
}

// A name for another machine holds its AAAA record only, built from the prefix.
void checkLanHost(const DnsTargetSettings& target, const QSet<QString>& keysGiven,
                  QList<SectionProblem>& problems)
{
    if (target.ipv6Host.isEmpty()) {
        if (keysGiven.contains(QStringLiteral("prefix_length")))
            problems.append({QStringLiteral("prefix_length"),
                             QStringLiteral("goes with ipv6_host: the length of the prefix the "
                                            "host's interface identifier follows")});
        return;
    }
    if (const auto problem = identifierProblem(target.ipv6Host, target.prefixLength))
        problems.append({QStringLiteral("ipv6_host"), *problem});
    if (target.families.contains(AddressFamily::Ipv4))
        problems.append({QStringLiteral("families"),
                         QStringLiteral("a name with ipv6_host holds an AAAA record only: give "
                                        "ipv6, or leave families out")});
}

QList<SectionProblem> checkDns(PublisherSettings& settings, const QSet<QString>& keysGiven)
{
    if (!keysGiven.contains(QStringLiteral("protocol")))
        return {}; // reported as missing
    DnsTargetSettings& target = dns(settings);
    const dns::ProviderRow* row = dns::providerRow(target.protocol);
    if (!row)
        return {};
    // A credential filled every secret; the protocol keeps the one it takes.
    const auto takes = [&](const char* key) {
        return std::any_of(row->keys.begin(), row->keys.end(),
                           [&](const dns::ProviderKey& k) { return qstrcmp(k.name, key) == 0; });
    };
    if (!takes("key_file"))
        target.keySecret.clear();
    if (!takes("password") && !takes("password_file"))
        target.password.clear();
    if (!takes("token_file"))
        target.token.clear();
    QList<SectionProblem> problems;
    for (const DnsSettingProblem& problem : dns::checkProviderKeys(*row, keysGiven))
        problems.append({problem.key, problem.message});
    for (const DnsSettingProblem& problem : checkDnsTarget(target))
        problems.append({problem.key, problem.message});
    checkLanHost(target, keysGiven, problems);
    return problems;
}

} // namespace

SectionRule dnsSectionRule()
{
    using namespace Qt::Literals::StringLiterals;
    return {"dns"_L1,
            &openDns,
            {{"protocol"_L1, true, &dnsProtocol},
             {"name"_L1, true, &dnsName},
             {"ttl"_L1, false, &dnsTtl},
             {"server"_L1, false, &dnsServer},
             {"zone"_L1, false, &dnsZone},
             {"key_name"_L1, false, &dnsKeyName},
             {"key_algorithm"_L1, false, &dnsKeyAlgorithm},
             {"key_file"_L1, false, &dnsKeyFile},
             {"credential"_L1, false, &dnsCredential},
             {"url"_L1, false, &dnsUrl},
             {"user"_L1, false, &dnsUser},
             {"password"_L1, false, &dnsPassword},
             {"password_file"_L1, false, &dnsPasswordFile},
             {"hostname"_L1, false, &dnsHostname},
             {"verify"_L1, false, &dnsVerify},
             {"dual"_L1, false, &dnsDual},
             {"api"_L1, false, &dnsApi},
             {"token_file"_L1, false, &dnsTokenFile},
             {"api_key_file"_L1, false, &dnsApiKeyFile},
             {"secret_key_file"_L1, false, &dnsSecretKeyFile},
             {"zone_id"_L1, false, &dnsZoneId},
             {"proxied"_L1, false, &dnsProxied},
             {"method"_L1, false, &dnsMethod},
             {"header"_L1, false, &dnsHeader, true},
             {"body"_L1, false, &dnsBody},
             {"success"_L1, false, &dnsSuccess},
             {"ipv6_host"_L1, false, &dnsIpv6Host},
             {"prefix_length"_L1, false, &dnsPrefixLength},
             {"families"_L1, false, &dnsFamilies}},
            nullptr,
            &checkDns};
}

} // namespace quendle::settingkeys
