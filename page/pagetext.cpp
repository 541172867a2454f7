#include "page/pagetext.h"

#include "page/productsettings.h"

#include <QStringList>

namespace quendle {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString footerLine()
{
    return QStringLiteral(" I am using Quendle IP Poster for my site! Get your copy at: "
                          "<a href=\"%1\">Tarrowby Site</a>")
        .arg(kProductPageAddress);
}

QString emailLine(const QString& email)
{
    return QStringLiteral("You can email me at this address: <a href=\"mailto:%1\"></a>")
        .arg(attributeText(email));
}

QString linkLine(const QString& address)
{
    return QStringLiteral("<a href=\"http://%1\">").arg(attributeText(address));
}

// The fixed lines of the page forms.
const QString kHead1 = QStringLiteral("<html>");
const QString kHead2 = QStringLiteral("<head>");
const QString kTitle = QStringLiteral("<title>Quendle</title>");
const QString kGenerator = QStringLiteral("<meta name=\"GENERATOR\" content=\"Quendle\">");
const QString kHeadEnd = QStringLiteral("</head>");
const QString kBody = QStringLiteral("<body><center>");
const QString kEnter = QStringLiteral("<p>Click HERE to Enter my Home Site</a></p>");
const QString kEnterIpv6 = QStringLiteral("<p>Click HERE to Enter my Home Site over IPv6</a></p>");
const QString kRule = QStringLiteral("<hr>");
const QString kBodyEnd = QStringLiteral("</body>");
const QString kHtmlEnd = QStringLiteral("</html>");

QByteArray fileBytes(const QStringList& lines)
{
    return toPageBytes(lines.join(kCrLf) + kCrLf);
}

} // namespace

QByteArray toPageBytes(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const char32_t codePoint : text.toUcs4()) {
        if (codePoint <= 0xFF)
            bytes.append(static_cast<char>(codePoint));
        else
            bytes.append("&#" + QByteArray::number(static_cast<uint>(codePoint)) + ';');
    }
    return bytes;
}

QString withCrLf(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue; // the LF that follows writes the line end
        if (c == u'\r' || c == u'\n')
            result += QStringLiteral("\r\n");
        else
            result += c;
    }
    return result;
}

QString attributeText(const QString& text)
{
    QString escaped = withCrLf(text);
    return escaped.replace(QLatin1Char('"'), QStringLiteral("&quot;"));
}

QByteArray onlinePage(const QString& address, const QString& email, const QString& banner)
{
    return fileBytes({kHead1, kHead2, kTitle + QStringLiteral("<center>"), kGenerator, kHeadEnd,
                      banner, kBody, linkLine(address), kEnter, kRule, emailLine(email), QString(),
                      kRule, footerLine(), kBodyEnd, kHtmlEnd});
}

QByteArray onlinePageBothFamilies(const QString& ipv4Address, const QString& ipv6Host,
                                  const QString& email, const QString& banner)
{
    return fileBytes({kHead1, kHead2, kTitle + QStringLiteral("<center>"), kGenerator, kHeadEnd,
                      banner, kBody, linkLine(ipv4Address), kEnter, linkLine(ipv6Host), kEnterIpv6,
                      kRule, emailLine(email), QString(), kRule, footerLine(), kBodyEnd, kHtmlEnd});
}

QByteArray offlinePage(const QString& email)
{
    return fileBytes({kHead1, kHead2, kTitle, kGenerator, kHeadEnd, kBody,
                      QStringLiteral("SORRY, not on line right now!"),
                      QStringLiteral("<p>Check in again later on!!</a></p>"), kRule,
                      emailLine(email), QString(), kRule, footerLine(), kBodyEnd, kHtmlEnd});
}

QString pagePreview(const QString& address, const QString& email)
{
    return QStringList{
        kHead1, kHead2, kTitle,           kGenerator, kHeadEnd,     kBody,    linkLine(address),
        kEnter, kRule,  emailLine(email), kRule,      footerLine(), kBodyEnd, kHtmlEnd}
        .join(kCrLf);
}

} // namespace quendle
