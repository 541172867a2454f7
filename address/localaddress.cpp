#include "address/localaddress.h"

#include <QFile>
#include <QStringList>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace quendle {

QString defaultRouteInterface(const QString& routeTable)
{
    const QStringList lines = routeTable.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList fields = lines[i].simplified().split(QLatin1Char(' '));
        if (fields.size() < 8)
            continue;
        bool ok = false;
        const unsigned flags = fields[3].toUInt(&ok, 16);
        if (ok && fields[1] == QLatin1String("00000000") &&
            fields[7] == QLatin1String("00000000") && (flags & kRouteUp))
            return fields[0];
    }
    return {};
}

QList<InterfaceAddress> systemInterfaces()
{
    QList<InterfaceAddress> result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return result;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (!inet_ntop(AF_INET, &address->sin_addr, text, sizeof text))
            continue;
        result.append({QString::fromLocal8Bit(entry->ifa_name), QString::fromLatin1(text),
                       (entry->ifa_flags & IFF_UP) != 0, (entry->ifa_flags & IFF_LOOPBACK) != 0});
    }
    freeifaddrs(list);
    return result;
}

std::optional<InterfaceAddress> routedInterface(const QString& routeTable,
                                                const QList<InterfaceAddress>& interfaces)
{
    const QString routed = defaultRouteInterface(routeTable);
    if (!routed.isEmpty()) {
        for (const auto& candidate : interfaces)
            if (candidate.interfaceName == routed && candidate.up)
                return candidate;
    }
    for (const auto& candidate : interfaces)
        if (candidate.up && !candidate.loopback)
            return candidate;
    return std::nullopt;
}

QString chooseLocalAddress(const QString& routeTable, const QList<InterfaceAddress>& interfaces)
{
    const auto chosen = routedInterface(routeTable, interfaces);
    return chosen ? chosen->ipv4 : QStringLiteral("127.0.0.1");
}

QString localAddress()
{
    QFile routes(QStringLiteral("/proc/net/route"));
    const QString table =
        routes.open(QIODevice::ReadOnly) ? QString::fromLatin1(routes.readAll()) : QString();
    return chooseLocalAddress(table, systemInterfaces());
}

} // namespace quendle
