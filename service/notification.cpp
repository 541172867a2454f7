#include "service/notification.h"

#include "address/web/httpexchange.h"

namespace quendle {

namespace {

using namespace Qt::Literals::StringLiterals;

// Enough of a server's answer to show what it said; ntfy and Gotify answer a short JSON object.
constexpr qsizetype kLongestShownAnswer = 1024;

QString printable(const QByteArray& bytes)
{
    QString text;
    for (const QChar c : QString::fromUtf8(bytes)) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            text += u"\\x%1"_s.arg(int(c.unicode()), 2, 16, QLatin1Char('0'));
        else
            text += c;
    }
    return text;
}

} // namespace

NotifyResult sendNotification(const NotifySettings& settings, const QString& line,
                              long totalSeconds)
{
    HttpRequest request;
    request.url = settings.url;
    request.method = "POST";
    request.headers = {"Content-Type: text/plain; charset=utf-8"};
    if (!settings.token.isEmpty())
        request.headers << "Authorization: Bearer " + settings.token.toUtf8();
    request.body = line.toUtf8();
    request.totalSeconds = totalSeconds;
    request.longestBody = kLongestShownAnswer;
    const HttpAnswer answer = exchange(request);

    NotifyResult result;
    result.status = answer.status;
    QByteArray body = answer.body.trimmed();
    // A server that repeats the request back must not make the program show the token.
    if (!settings.token.isEmpty())
        body.replace(settings.token.toUtf8(), "(token)");
    result.answer = printable(body);
    result.ok = answer.status >= 200 && answer.status <= 299;
    if (answer.status == 0)
        result.error = answer.error;
    else if (!result.ok)
        result.error = u"the server answered HTTP %1"_s.arg(answer.status);
    return result;
}

QString addressChangedMessage(AddressFamily family, const QString& oldAddress,
                              const QString& newAddress)
{
    if (oldAddress.isEmpty())
        return u"%1 address is %2"_s.arg(familyName(family), newAddress);
    return u"%1 address changed from %2 to %3"_s.arg(familyName(family), oldAddress, newAddress);
}

QString targetFailingMessage(const QString& target, int failures, const QString& reason)
{
    return u"%1 failed %2 times in a row: %3"_s.arg(target).arg(failures).arg(reason);
}

QString targetWorksAgainMessage(const QString& target)
{
    return u"%1 works again"_s.arg(target);
}

} // namespace quendle
