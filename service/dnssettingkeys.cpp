#include "service/dnssettingkeys.h"

#include "service/nameaddresses.h"
#include "service/secretfile.h"
#include "service/secretregistry.h"

#include <QDir>
#include <QUrl>

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

Result fromSecretFile(const QString& value, QString& target)
{
    if (!QDir::isAbsolutePath(value) || value.endsWith(QLatin1Char('/')))
        return Unexpected(QStringLiteral("must be the absolute path of a file"));
    const SecretRead read = readSecretFile(QDir::cleanPath(value), SecretCheck::OwnerOnly);
    if (!read.error.isEmpty())
        return Unexpected(read.error);
    registerSecret(read.secret);
    target = read.secret;
    return {};
}

Result dnsProtocol(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    if (value == QLatin1String("rfc2136"))
        dns(settings).protocol = DnsProtocol::Rfc2136;
    else if (value == QLatin1String("dyndns2"))
        dns(settings).protocol = DnsProtocol::Dyndns2;
    else
        return Unexpected(QStringLiteral("must be rfc2136 or dyndns2"));
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
    return fromSecretFile(value, dns(settings).keySecret);
}

// The secret of either protocol; the section's check keeps the one its protocol uses.
Result dnsCredential(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    const Expected<QString> secret = readCredential(value);
    if (!secret)
        return Unexpected(secret.error());
    dns(settings).keySecret = *secret;
    dns(settings).password = *secret;
    return {};
}

Result dnsUrl(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    // The password goes with every request: over TLS only.
    const QUrl url(value, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || url.scheme() != QLatin1String("https"))
        return Unexpected(QStringLiteral("must be an https:// address"));
    if (!url.userInfo().isEmpty())
        return Unexpected(QStringLiteral("must not hold a user or password: give them as user and "
                                         "password"));
    dns(settings).url = value;
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
    if (file.openToOthers)
        return Unexpected(
            QStringLiteral("%1 can be read or changed by group or others, and it holds a password; "
                           "run chmod 600 %1")
                .arg(file.path));
    if (value.isEmpty())
        return Unexpected(QStringLiteral("must not be empty"));
    registerSecret(value);
    dns(settings).password = value;
    return {};
}

Result dnsPasswordFile(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return fromSecretFile(value, dns(settings).password);
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
    const bool rfc2136 = target.protocol == DnsProtocol::Rfc2136;
    if (keysGiven.contains(QStringLiteral("credential")))
        (rfc2136 ? target.password : target.keySecret).clear();
    QList<SectionProblem> problems;
    const QStringList secretKeys =
        rfc2136 ? QStringList{QStringLiteral("key_file"), QStringLiteral("credential")}
                : QStringList{QStringLiteral("password"), QStringLiteral("password_file"),
                              QStringLiteral("credential")};
    qsizetype given = 0;
    for (const QString& key : secretKeys)
        given += keysGiven.contains(key) ? 1 : 0;
    if (given > 1)
        problems.append(
            {QStringLiteral("credential"),
             QStringLiteral("give only one of %1").arg(secretKeys.join(QStringLiteral(", ")))});
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
             {"ipv6_host"_L1, false, &dnsIpv6Host},
             {"prefix_length"_L1, false, &dnsPrefixLength},
             {"families"_L1, false, &dnsFamilies}},
            nullptr,
            &checkDns};
}

} // namespace quendle::settingkeys
