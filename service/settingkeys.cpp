#include "service/settingkeys.h"

#include "base/controlcharacters.h"
#include "service/addresslookup.h"
#include "service/configreader.h"
#include "service/dnssettingkeys.h"
#include "service/secretfile.h"

#include "ftp/transferurl.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cmath>

namespace quendle::settingkeys {

Expected<QList<AddressFamily>> familiesNamed(const QString& value)
{
    QList<AddressFamily> families;
    for (const QString& part : value.split(QLatin1Char(','))) {
        const QString name = part.trimmed();
        AddressFamily family = AddressFamily::Ipv4;
        if (name == QLatin1String("ipv6"))
            family = AddressFamily::Ipv6;
        else if (name != QLatin1String("ipv4"))
            return Unexpected(QStringLiteral("must be ipv4, ipv6 or both, separated by a comma"));
        if (families.contains(family))
            return Unexpected(QStringLiteral("family \"%1\" is named twice").arg(name));
        families << family;
    }
    return families;
}

namespace {

using Result = Expected<void>;

const QStringList kPasswordKeys{QStringLiteral("password"), QStringLiteral("password_file"),
                                QStringLiteral("credential")};

Result number(const QString& value, double lowest, double highest, double& target, const char* unit)
{
    bool ok = false;
    const double parsed = value.toDouble(&ok);
    if (!ok || !std::isfinite(parsed) || parsed < lowest || parsed > highest)
        return Unexpected(QStringLiteral("must be a number of %1 from %2 to %3")
                              .arg(QLatin1String(unit))
                              .arg(lowest)
                              .arg(highest));
    target = parsed;
    return {};
}

Result absolutePath(const QString& value, QString& target)
{
    if (!QDir::isAbsolutePath(value) || value.endsWith(QLatin1Char('/')))
        return Unexpected(QStringLiteral("must be the absolute path of a file"));
    target = QDir::cleanPath(value);
    return {};
}

Result keep(const Expected<QString>& secret, QString& target)
{
    if (!secret)
        return Unexpected(secret.error());
    target = *secret;
    return {};
}

Result notEmpty(const QString& value, QString& target)
{
    if (value.isEmpty())
        return Unexpected(QStringLiteral("must not be empty"));
    target = value;
    return {};
}

TargetSettings& target(PublisherSettings& settings)
{
    return settings.targets.last();
}

// [page]

Result pageEmail(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    settings.page.email = value;
    return {};
}

Result pageFile(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return absolutePath(value, settings.page.file);
}

// [address]

Result addressSources(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    QStringList sources;
    for (const QString& part : value.split(QLatin1Char(','))) {
        const QString source = part.trimmed();
        if (!addressSourceNames().contains(source))
            return Unexpected(QStringLiteral("unknown source \"%1\"; known sources: %2")
                                  .arg(source, addressSourceNames().join(QStringLiteral(", "))));
        if (sources.contains(source))
            return Unexpected(QStringLiteral("source \"%1\" is named twice").arg(source));
        sources << source;
    }
    settings.address.sources = sources;
    return {};
}

Result addressFamily(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    const Expected<QList<AddressFamily>> families = familiesNamed(value);
    if (!families)
        return Unexpected(families.error());
    settings.address.families = *families;
    return {};
}

Result addressInterface(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    constexpr int kLongestInterfaceName = 15; // IFNAMSIZ less the terminating zero
    if (value.isEmpty() || value.size() > kLongestInterfaceName ||
        value.contains(QLatin1Char('/')) || value.contains(QLatin1Char(' ')) ||
        hasControlCharacter(value))
        return Unexpected(QStringLiteral("must be an interface name such as eth0"));
    settings.address.interfaceName = value;
    return {};
}

Result webAddress(const QString& value, QString& target)
{
    const QUrl url(value, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return Unexpected(QStringLiteral("must be an http:// or https:// address"));
    target = value;
    return {};
}

Result addressWeb(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return webAddress(value, settings.address.webUrl);
}

Result addressCheck(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return number(value, 0.1, 86400, settings.address.checkSeconds, "seconds");
}

// [router]

// "a, b, c" as its parts, each checked by `take`; none empty, none twice.
template <typename Part>
Result listOf(const QString& value, QList<Part>& target,
              std::optional<Part> (*take)(const QString&), const char* expected)
{
    QList<Part> parts;
    for (const QString& text : value.split(QLatin1Char(','))) {
        const std::optional<Part> part = take(text.trimmed());
        if (!part)
            return Unexpected(
                QStringLiteral("\"%1\" is not %2").arg(text.trimmed(), QLatin1String(expected)));
        if (parts.contains(*part))
            return Unexpected(QStringLiteral("\"%1\" is named twice").arg(text.trimmed()));
        parts << *part;
    }
    target = parts;
    return {};
}

std::optional<router::Protocol> protocolNamed(const QString& text)
{
    if (text == QLatin1String("upnp"))
        return router::Protocol::Upnp;
    if (text == QLatin1String("natpmp"))
        return router::Protocol::Natpmp;
    return std::nullopt;
}

std::optional<quint16> portNumber(const QString& text)
{
    const std::optional<int> port = strictPort(text);
    return port ? std::optional<quint16>(static_cast<quint16>(*port)) : std::nullopt;
}

Result routerProtocols(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return listOf(value, settings.router.protocols, &protocolNamed, "upnp or natpmp");
}

Result routerUrl(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    // The UPnP library fetches plain http:// only, as UPnP devices serve it.
    const QUrl url(value, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || url.scheme() != QLatin1String("http"))
        return Unexpected(
            QStringLiteral("must be the http:// address of the router's device description"));
    settings.router.descriptionUrl = value;
    return {};
}

Result routerForward(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return listOf(value, settings.router.forwardPorts, &portNumber, "a port from 1 to 65535");
}

// [publish]

Result publishRefresh(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return number(value, 0, 1440, settings.refreshMinutes, "minutes");
}

// [target NAME]

void openTarget(PublisherSettings& settings, const QString& name)
{
    TargetSettings target;
    target.name = name;
    settings.targets.append(target);
}

Result targetHost(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    // The transfer component's own reading, so that the file accepts exactly what it speaks.
    const ServerAddressResult parsed = parseServerAddress(value);
    if (!parsed.address)
        return Unexpected(parsed.problem);
    target(settings).host = value;
    return {};
}

Result targetUser(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return notEmpty(value, target(settings).user);
}

Result targetPassword(PublisherSettings& settings, const QString& value, const FileFacts& file)
{
    return keep(acceptInlineSecret(value, file.path, file.openToOthers), target(settings).password);
}

Result targetPasswordFile(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return keep(readSecretSetting(value), target(settings).password);
}

Result targetCredential(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return keep(readCredential(value), target(settings).password);
}

Result targetDirectory(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    if (hasControlCharacter(value))
        return Unexpected(QStringLiteral("must not hold control characters"));
    target(settings).directory = value;
    return {};
}

Result targetName(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    if (value.isEmpty() || value.contains(QLatin1Char('/')) || hasControlCharacter(value) ||
        value == QLatin1String(".") || value == QLatin1String(".."))
        return Unexpected(QStringLiteral("must be a file name without a /"));
    target(settings).remoteName = value;
    return {};
}

Result targetUrl(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return webAddress(value, target(settings).readBackUrl);
}

std::optional<SectionProblem> finishTarget(const QSet<QString>& keysGiven)
{
    qsizetype given = 0;
    for (const QString& key : kPasswordKeys)
        given += keysGiven.contains(key) ? 1 : 0;
    if (given == 1)
        return std::nullopt;
    return SectionProblem{QStringLiteral("password"),
                          given == 0
                              ? QStringLiteral("one of password, password_file or credential is "
                                               "required")
                              : QStringLiteral("give only one of password, password_file and "
                                               "credential")};
}

// [hooks]

// The program is named by its absolute path: a service's PATH is not the user's shell's.
Result commandLine(const QString& value, QString& target)
{
    const QStringList words = QProcess::splitCommand(value);
    if (words.isEmpty() || !QDir::isAbsolutePath(words.first()))
        return Unexpected(
            QStringLiteral("must be the absolute path of a program, then its arguments"));
    const QFileInfo program(words.first());
    if (!program.isFile() || !program.isExecutable())
        return Unexpected(QStringLiteral("%1 is not a program that can be run").arg(words.first()));
    target = value;
    return {};
}

Result hooksOnChange(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return commandLine(value, settings.hooks.onChange);
}

Result hooksOnFailure(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return commandLine(value, settings.hooks.onFailure);
}

// [notify]

Result notifyUrl(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return webAddress(value, settings.notify.url);
}

Result notifyTokenFile(PublisherSettings& settings, const QString& value, const FileFacts&)
{
    return keep(readSecretSetting(value, QStringLiteral("a token")), settings.notify.token);
}

QList<SectionProblem> checkNotify(PublisherSettings& settings, const QSet<QString>&)
{
    const QUrl url(settings.notify.url, QUrl::StrictMode);
    // Without an accepted url, the url itself was reported.
    if (settings.notify.token.isEmpty() || settings.notify.url.isEmpty() ||
        keepsSecretPrivate(url, true))
        return {};
    settings.notify.token.clear();
    return {{QStringLiteral("token_file"),
             QStringLiteral("the token would go in clear to %1 over http://: make url https:// "
                            "(plain http:// only to this machine: 127.0.0.0/8, ::1, localhost)")
                 .arg(url.host())}};
}

} // namespace

const QList<SectionRule>& sectionRules()
{
    using namespace Qt::Literals::StringLiterals;
    static const QList<SectionRule> rules{
        {"page"_L1,
         nullptr,
         {{"email"_L1, false, &pageEmail}, {"file"_L1, false, &pageFile}},
         nullptr},
        {"address"_L1,
         nullptr,
         {{"sources"_L1, false, &addressSources},
          {"family"_L1, false, &addressFamily},
          {"interface"_L1, false, &addressInterface},
          {"web"_L1, false, &addressWeb},
          {"check"_L1, false, &addressCheck}},
         nullptr},
        {"router"_L1,
         nullptr,
         {{"protocols"_L1, false, &routerProtocols},
          {"url"_L1, false, &routerUrl},
          {"forward"_L1, false, &routerForward}},
         nullptr},
        {"publish"_L1, nullptr, {{"refresh"_L1, false, &publishRefresh}}, nullptr},
        {"target"_L1,
         &openTarget,
         {{"host"_L1, true, &targetHost},
          {"user"_L1, true, &targetUser},
          {"password"_L1, false, &targetPassword},
          {"password_file"_L1, false, &targetPasswordFile},
          {"credential"_L1, false, &targetCredential},
          {"directory"_L1, false, &targetDirectory},
          {"name"_L1, false, &targetName},
          {"url"_L1, false, &targetUrl}},
         &finishTarget},
        {"hooks"_L1,
         nullptr,
         {{"on_change"_L1, false, &hooksOnChange}, {"on_failure"_L1, false, &hooksOnFailure}},
         nullptr},
        {"notify"_L1,
         nullptr,
         {{"url"_L1, true, &notifyUrl}, {"token_file"_L1, false, &notifyTokenFile}},
         nullptr,
         &checkNotify},
        dnsSectionRule(),
    };
    return rules;
}

bool keepsSecretPrivate(const QUrl& url, bool loopbackToo)
{
    if (url.scheme() == QLatin1String("https"))
        return true;
    if (!loopbackToo || url.scheme() != QLatin1String("http"))
        return false;
    // QUrl gives the host in lower case, an IPv6 address without its brackets.
    const QByteArray host = url.host().toLatin1();
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, host.constData(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    if (inet_pton(AF_INET6, host.constData(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6);
    return host == "localhost";
}

QList<FileProblem> checkWholeFile(PublisherSettings& settings, const QHash<QString, int>& keyLines)
{
    QList<FileProblem> problems;
    if (settings.targets.isEmpty() && settings.dnsTargets.isEmpty())
        problems.append({0,
                         {},
                         {},
                         QStringLiteral("no [target NAME] or [dns NAME] section: at least one "
                                        "target is needed")});
    if (settings.address.sources.contains(QLatin1String("web")) &&
        settings.address.webUrl.isEmpty())
        problems.append({keyLines.value(QStringLiteral("address.sources")),
                         QStringLiteral("address"), QStringLiteral("web"),
                         QStringLiteral("the source web needs web = URL")});
    if (settings.address.sources.contains(QLatin1String("router")) &&
        !settings.address.families.contains(AddressFamily::Ipv4))
        problems.append({keyLines.value(QStringLiteral("address.family")),
                         QStringLiteral("address"), QStringLiteral("family"),
                         QStringLiteral("the source router finds IPv4 addresses only")});
    if (settings.page.file.isEmpty())
        settings.page.file = defaultPageFile();
    return problems;
}

} // namespace quendle::settingkeys
