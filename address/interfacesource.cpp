#include "address/interfacesource.h"

#include <QFile>
#include <QStringList>

namespace quendle {

namespace {

// Flags of /proc/net/ipv6_route (linux/route.h); kRouteUp is with the IPv4 routes.
constexpr unsigned kRouteReject = 0x0200;

QString readProcFile(const char* path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
}

QList<QStringList> tableRows(const QString& table)
{
    QList<QStringList> rows;
    for (const QString& line : table.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        rows.append(line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts));
    return rows;
}

SourceAnswer answer(const QString& address, const QString& interfaceName)
{
    return {address, interfaceName, {}, QStringLiteral("interface %1").arg(interfaceName)};
}

SourceAnswer noAnswer(const QString& error, const QString& interfaceName = {})
{
    return {{}, interfaceName, error, {}};
}

} // namespace

SourceAnswer chooseInterfaceIpv4(const QString& routeTable,
                                 const QList<InterfaceAddress>& interfaces, const QString& wanted)
{
    if (!wanted.isEmpty()) {
        bool seenDown = false;
        for (const auto& candidate : interfaces) {
            if (candidate.interfaceName != wanted)
                continue;
            if (candidate.up)
                return answer(candidate.ipv4, wanted);
            seenDown = true;
        }
        return noAnswer(seenDown ? QStringLiteral("interface %1 is down").arg(wanted)
                                 : QStringLiteral("interface %1 has no IPv4 address").arg(wanted),
                        wanted);
    }
    if (const auto chosen = routedInterface(routeTable, interfaces))
        return answer(chosen->ipv4, chosen->interfaceName);
    return noAnswer(QStringLiteral("no interface but loopback has an IPv4 address"));
}

QString defaultIpv6RouteInterface(const QString& routeTable)
{
    // dest, dest length, source, source length, next hop, metric, use, references, flags, device
    for (const QStringList& fields : tableRows(routeTable)) {
        if (fields.size() < 10)
            continue;
        bool ok = false;
        const unsigned flags = fields[8].toUInt(&ok, 16);
        if (ok && fields[0] == QString(32, QLatin1Char('0')) && fields[1] == QLatin1String("00") &&
            (flags & kRouteUp) && !(flags & kRouteReject) && fields[9] != QLatin1String("lo"))
            return fields[9];
    }
    return {};
}

SourceAnswer chooseInterfaceIpv6(const QString& routeTable, const QList<Ipv6Address>& addresses,
                                 const QString& wanted)
{
    const QString chosen = wanted.isEmpty() ? defaultIpv6RouteInterface(routeTable) : wanted;
    if (const auto stable = stableIpv6Address(addresses, chosen))
        return answer(stable->address, stable->interfaceName);
    if (chosen.isEmpty())
        return noAnswer(QStringLiteral("no interface has a global IPv6 address"));
    return noAnswer(QStringLiteral("interface %1 has no usable global IPv6 address").arg(chosen),
                    chosen);
}

QString defaultInterface(AddressFamily family)
{
    return family == AddressFamily::Ipv4
               ? defaultRouteInterface(readProcFile("/proc/net/route"))
               : defaultIpv6RouteInterface(readProcFile("/proc/net/ipv6_route"));
}

SourceAnswer interfaceAddress(AddressFamily family, const QString& wanted)
{
    if (family == AddressFamily::Ipv4)
        return chooseInterfaceIpv4(readProcFile("/proc/net/route"), systemInterfaces(), wanted);
    return chooseInterfaceIpv6(readProcFile("/proc/net/ipv6_route"), kernelIpv6Addresses(), wanted);
}

} // namespace quendle
