#include "address/ipaddresstext.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace quendle {

namespace {

constexpr qsizetype kShownAnswerLength = 40;

// A short, printable excerpt of an answer, so a log line shows what came back without letting a
// page of HTML or control characters through.
QString excerpt(const QByteArray& body)
{
    QString shown;
    for (const char c : body.left(kShownAnswerLength)) {
        const auto byte = static_cast<unsigned char>(c);
        shown += (byte >= 0x20 && byte < 0x7f) ? QChar(byte) : QChar(u'?');
    }
    if (body.size() > kShownAnswerLength)
        shown += QStringLiteral("...");
    return shown;
}

} // namespace

QString familyName(AddressFamily family)
{
    return family == AddressFamily::Ipv4 ? QStringLiteral("IPv4") : QStringLiteral("IPv6");
}

QString familyPrefix(AddressFamily family, qsizetype families)
{
    return families > 1 ? familyName(family) + QLatin1Char(' ') : QString();
}

QString recordTypeName(AddressFamily family)
{
    return family == AddressFamily::Ipv4 ? QStringLiteral("A") : QStringLiteral("AAAA");
}

Expected<QString> canonicalAddress(const QString& text, AddressFamily family)
{
    const Unexpected notOne(QStringLiteral("not one %1 address").arg(familyName(family)));
    const QByteArray bytes = text.toLatin1();
    if (bytes.size() != text.size() || bytes.contains('\0'))
        return notOne;
    if (family == AddressFamily::Ipv4) {
        in_addr address{};
        char shown[INET_ADDRSTRLEN] = {};
        if (inet_pton(AF_INET, bytes.constData(), &address) != 1 ||
            !inet_ntop(AF_INET, &address, shown, sizeof shown))
            return notOne;
        return QString::fromLatin1(shown);
    }
    in6_addr address{};
    char shown[INET6_ADDRSTRLEN] = {};
    if (inet_pton(AF_INET6, bytes.constData(), &address) != 1 || IN6_IS_ADDR_V4MAPPED(&address) ||
        !inet_ntop(AF_INET6, &address, shown, sizeof shown))
        return notOne;
    return QString::fromLatin1(shown);
}

Expected<QString> addressFromBody(const QByteArray& body, AddressFamily family)
{
    const QByteArray trimmed = body.trimmed();
    if (trimmed.isEmpty())
        return Unexpected(QStringLiteral("the answer is empty"));
    if (auto address = canonicalAddress(QString::fromLatin1(trimmed), family))
        return address;
    return Unexpected(QStringLiteral("the answer is not one %1 address: \"%2\"")
                          .arg(familyName(family), excerpt(trimmed)));
}

QString linkHost(const QString& address, AddressFamily family)
{
    return family == AddressFamily::Ipv6 ? QLatin1Char('[') + address + QLatin1Char(']') : address;
}

} // namespace quendle
