#include "ftp/transferurl.h"

#include "base/controlcharacters.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <array>

namespace quendle {

namespace {

struct SchemeName
{
    const char* prefix;
    TransferScheme scheme;
    int defaultPort;
};

constexpr std::array kSchemes = {
    SchemeName{"ftp", TransferScheme::Ftp, 21},
    SchemeName{"ftpes", TransferScheme::ExplicitTls, 21},
    SchemeName{"ftps", TransferScheme::ImplicitTls, 990},
    SchemeName{"sftp", TransferScheme::Sftp, 22},
};

// The text with a user name and password written into its host part replaced by ***.
QString withoutLogin(const QString& text)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    const qsizetype at = text.lastIndexOf(QLatin1Char('@'));
    if (at < 0)
        return text;
    const QRegularExpressionMatch prefix = scheme.match(text);
    const qsizetype start = prefix.hasMatch() ? prefix.capturedEnd() : 0;
    return text.left(start) + QStringLiteral("***") + text.mid(at);
}

// The text in quotes, control characters shown as \xNN so that a NUL or a line break that came
// with it is seen in the message. A user name and password written into it are never shown.
QString quoted(const QString& text)
{
    QString shown;
    for (const QChar c : withoutLogin(text)) {
        if (isControlCharacter(c.unicode()))
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return QLatin1Char('"') + shown + QLatin1Char('"');
}

bool isAsciiDigits(const QString& text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

bool validHostName(const QString& name)
{
    return !name.isEmpty() && std::all_of(name.begin(), name.end(), [](QChar c) {
        return c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u'_';
    });
}

// A label that an address parser would read as a number: decimal, octal or 0x hex. The text is
// compared as the name lookup will see it, so full-width digits count as digits.
bool looksNumeric(const QString& label)
{
    static const QRegularExpression number(QStringLiteral("^(?:[0-9]+|0x[0-9a-f]*)$"));
    return number.match(label.normalized(QString::NormalizationForm_KC).toLower()).hasMatch();
}

// Four decimal numbers 0-255 without leading zeros, the only IPv4 form a person means
// unambiguously: the C library would read "010.0.0.1" as 8.0.0.1 and "2130706433" as 127.0.0.1.
bool isDottedQuad(const QString& name)
{
    const QStringList parts = name.split(QLatin1Char('.'));
    return parts.size() == 4 && std::all_of(parts.begin(), parts.end(), [](const QString& part) {
               return isAsciiDigits(part) && part.size() <= 3 &&
                      (part.size() == 1 || part.front() != u'0') && part.toInt() <= 255;
           });
}

bool validIpv6(const QString& text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || c == u':' || c == u'.' || (c >= u'a' && c <= u'f') ||
               (c >= u'A' && c <= u'F');
    });
}

ServerAddressResult refused(const QString& text, const QString& why)
{
    return {std::nullopt, false,
            QStringLiteral("%1 is not a valid host: %2").arg(quoted(text), why)};
}

} // namespace

QString ServerAddress::bareHost() const
{
    return host.startsWith(QLatin1Char('[')) ? host.mid(1, host.size() - 2) : host;
}

QString acceptedSchemes()
{
    return QStringLiteral("ftp:// (or no scheme), ftpes://, ftps:// and sftp://");
}

std::optional<int> strictPort(const QString& text)
{
    if (!isAsciiDigits(text) || text.size() > 5)
        return std::nullopt;
    const int port = text.toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

ServerAddressResult parseServerAddress(const QString& text)
{
    if (text.contains(QLatin1Char('@')))
        return refused(text, QStringLiteral("the user name and the password go in settings of "
                                            "their own, not in the host."));
    ServerAddress address;
    QString rest = text;
    const qsizetype separator = text.indexOf(QStringLiteral("://"));
    if (separator >= 0) {
        const QString scheme = text.left(separator).toLower();
        const auto known = std::find_if(kSchemes.begin(), kSchemes.end(), [&](const auto& s) {
            return scheme == QLatin1String(s.prefix);
        });
        if (known == kSchemes.end())
            return {std::nullopt, true,
                    QStringLiteral("%1 is not a scheme this program publishes with. The accepted "
                                   "schemes are %2.")
                        .arg(quoted(text.left(separator + 3)), acceptedSchemes())};
        address.scheme = known->scheme;
        address.port = known->defaultPort;
        rest = text.mid(separator + 3);
        // Pasted addresses often end in the root's slash; anything after it is a path.
        if (rest.endsWith(QLatin1Char('/')))
            rest.chop(1);
    }

    QString portText;
    bool hasPort = false;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0 || !validIpv6(rest.mid(1, close - 1)))
            return refused(text, QStringLiteral("an IPv6 address in brackets holds only hex "
                                                "digits, colons and dots."));
        address.host = rest.left(close + 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(QLatin1Char(':')))
            return refused(text, QStringLiteral("only \":port\" may follow the address."));
        hasPort = !after.isEmpty();
        portText = after.mid(1);
    } else {
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        address.host = colon < 0 ? rest : rest.left(colon);
        hasPort = colon >= 0;
        portText = rest.mid(colon + 1);
        if (!validHostName(address.host))
            return refused(text, QStringLiteral("a host name holds only letters, digits, dots, "
                                                "hyphens and underscores."));
        // A name ending in a number is read as an address, a final dot or not.
        const QString lastLabel = address.host.endsWith(QLatin1Char('.'))
                                      ? address.host.chopped(1).section(QLatin1Char('.'), -1)
                                      : address.host.section(QLatin1Char('.'), -1);
        if (looksNumeric(lastLabel) && !isDottedQuad(address.host))
            return refused(text, QStringLiteral("write an IPv4 address as four numbers from 0 to "
                                                "255 without leading zeros, such as 192.168.1.8."));
    }
    if (hasPort) {
        const auto port = strictPort(portText);
        if (!port)
            return refused(text, QStringLiteral("the port is a number from 1 to 65535 written in "
                                                "digits only."));
        address.port = *port;
    }
    return {address, false, {}};
}

namespace {

QStringList encodedNames(const QString& directory)
{
    QStringList names;
    for (const QString& name : directory.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        names << QString::fromLatin1(QUrl::toPercentEncoding(name));
    return names;
}

} // namespace

QString ftpPath(const QString& directory, const QString& file)
{
    QString path = encodedNames(directory).join(QLatin1Char('/'));
    // An encoded leading slash makes the first change of directory absolute on the server.
    if (directory.startsWith(QLatin1Char('/')))
        path.prepend(QStringLiteral("%2F"));
    if (!path.isEmpty())
        path += QLatin1Char('/');
    return path + QString::fromLatin1(QUrl::toPercentEncoding(file));
}

QString sftpPath(const QString& directory, const QString& file)
{
    QStringList names = encodedNames(directory);
    names << QString::fromLatin1(QUrl::toPercentEncoding(file));
    if (!directory.startsWith(QLatin1Char('/')))
        names.prepend(QStringLiteral("~"));
    // The library reads a first name "~" as the login directory; a second slash keeps a
    // directory of that name at the root what it is.
    else if (names.front() == u'~')
        names.prepend(QString());
    names.prepend(QString());
    return names.join(QLatin1Char('/'));
}

QString sftpCommandPath(const QString& directory, const QString& file)
{
    QStringList names = directory.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    names << file;
    QString path = names.join(QLatin1Char('/'));
    if (directory.startsWith(QLatin1Char('/')))
        path.prepend(QLatin1Char('/'));
    path.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + path + QLatin1Char('"');
}

namespace {

// The address of `path`, which begins with "/".
QString urlOf(const ServerAddress& server, const QString& path)
{
    const QLatin1String scheme(server.scheme == TransferScheme::Sftp          ? "sftp://"
                               : server.scheme == TransferScheme::ImplicitTls ? "ftps://"
                                                                              : "ftp://");
    return scheme + server.authority() + path;
}

} // namespace

QString loginUrl(const ServerAddress& server)
{
    return urlOf(server, server.scheme == TransferScheme::Sftp ? QStringLiteral("/~/")
                                                               : QStringLiteral("/"));
}

QString uploadUrl(const ServerAddress& server, const QString& directory, const QString& file)
{
    return urlOf(server, server.scheme == TransferScheme::Sftp
                             ? sftpPath(directory, file)
                             : QLatin1Char('/') + ftpPath(directory, file));
}

} // namespace quendle
