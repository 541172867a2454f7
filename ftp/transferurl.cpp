#include "ftp/transferurl.h"

#include <QStringList>
#include <QUrl>

namespace quendle {

namespace {

bool validPort(const QString& text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    return ok && port > 0 && port <= 65535 && !text.startsWith(QLatin1Char('+'));
}

bool validHostName(const QString& name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u'_')
            continue;
        return false;
    }
    return true;
}

bool validIpv6(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c.isDigit() || c == u':' || c == u'.' || (c >= u'a' && c <= u'f') ||
            (c >= u'A' && c <= u'F'))
            continue;
        return false;
    }
    return true;
}

} // namespace

std::optional<QString> ftpAuthority(const QString& host)
{
    QString name = host;
    QString port = QStringLiteral("21");
    if (host.startsWith(QLatin1Char('['))) {
        const qsizetype close = host.indexOf(QLatin1Char(']'));
        if (close < 0 || !validIpv6(host.mid(1, close - 1)))
            return std::nullopt;
        name = host.left(close + 1);
        const QString rest = host.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return std::nullopt;
            port = rest.mid(1);
        }
    } else {
        const qsizetype colon = host.indexOf(QLatin1Char(':'));
        if (colon >= 0) {
            name = host.left(colon);
            port = host.mid(colon + 1);
        }
        if (!validHostName(name))
            return std::nullopt;
    }
    if (!validPort(port))
        return std::nullopt;
    return name + QLatin1Char(':') + port;
}

QString ftpPath(const QString& directory, const QString& file)
{
    QStringList names;
    for (const QString& name : directory.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        names << QString::fromLatin1(QUrl::toPercentEncoding(name));
    QString path = names.join(QLatin1Char('/'));
    // An encoded leading slash makes the first change of directory absolute on the server.
    if (directory.startsWith(QLatin1Char('/')))
        path.prepend(QStringLiteral("%2F"));
    if (!path.isEmpty())
        path += QLatin1Char('/');
    return path + QString::fromLatin1(QUrl::toPercentEncoding(file));
}

} // namespace quendle
