#include "service/readback.h"

#include "address/ipaddresstext.h"
#include "address/web/httpexchange.h"

#include <QRegularExpression>

namespace quendle {

namespace {

Expected<QString> anyFamily(const QString& text)
{
    if (auto v4 = canonicalAddress(text, AddressFamily::Ipv4))
        return v4;
    return canonicalAddress(text, AddressFamily::Ipv6);
}

} // namespace

QStringList linkedAddresses(const QByteArray& page)
{
    // The page is ISO-8859-1 and its links are written as href="http://HOST".
    static const QRegularExpression link(
        QStringLiteral("href\\s*=\\s*[\"']?http://(\\[[^\\]\"'<>\\s]*\\]|[^/\"'<>\\s:]*)"),
        QRegularExpression::CaseInsensitiveOption);
    QStringList found;
    auto matches = link.globalMatch(QString::fromLatin1(page));
    while (matches.hasNext()) {
        QString host = matches.next().captured(1);
        if (host.startsWith(QLatin1Char('[')))
            host = host.mid(1, host.size() - 2);
        const Expected<QString> address = anyFamily(host);
        if (address && !found.contains(*address))
            found << *address;
    }
    return found;
}

ReadBack readBack(const QString& url, const QStringList& expectedAddresses, ReadBackBounds bounds)
{
    HttpRequest request;
    request.url = url;
    request.headers = {"Cache-Control: no-cache", "Pragma: no-cache"};
    request.totalSeconds = bounds.totalSeconds;
    request.longestBody = bounds.longestPage;
    const HttpAnswer answer = exchange(request);

    ReadBack result;
    if (answer.status == 0) {
        result.reason = answer.error;
        return result;
    }
    if (answer.status < 200 || answer.status > 299) {
        result.reason = QStringLiteral("the web server answered HTTP %1").arg(answer.status);
        return result;
    }
    result.answered = true;
    result.linked = linkedAddresses(answer.body);
    QStringList missing;
    for (const QString& expected : expectedAddresses)
        if (!result.linked.contains(anyFamily(expected).value_or(expected)))
            missing << expected;
    result.verified = missing.isEmpty();
    if (result.verified)
        return result;
    if (result.linked.isEmpty())
        result.reason = QStringLiteral("the page links to no address");
    else
        result.reason =
            QStringLiteral("the page links to %1, not %2")
                .arg(result.linked.join(QStringLiteral(", ")), missing.join(QStringLiteral(", ")));
    return result;
}

QString uploadedPath(const TargetSettings& target)
{
    if (target.directory.isEmpty())
        return target.remoteName;
    return target.directory +
           (target.directory.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) +
           target.remoteName;
}

QString readBackWarning(const QString& uploadedTo, const QString& url, const ReadBack& result)
{
    if (!result.answered)
        return QStringLiteral("uploaded to %1, but %2 could not be read back: %3")
            .arg(uploadedTo, url, result.reason);
    if (result.linked.isEmpty())
        return QStringLiteral("uploaded to %1, but %2 links to no address: another folder, or a "
                              "cache?")
            .arg(uploadedTo, url);
    return QStringLiteral("uploaded to %1, but %2 still links to %3: another folder, or a cache?")
        .arg(uploadedTo, url, result.linked.join(QStringLiteral(", ")));
}

} // namespace quendle
