#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace quendle {

struct InterfaceAddress
{
    QString interfaceName;
    QString ipv4; // dotted decimal
    bool up = false;
    bool loopback = false;
};

// The route flag "up" (RTF_UP) in /proc/net/route and /proc/net/ipv6_route.
constexpr unsigned kRouteUp = 0x0001;

// The interface of the first usable default route in the text of the kernel's IPv4 routing
// table (/proc/net/route); empty when there is none.
QString defaultRouteInterface(const QString& routeTable);

// The IPv4 addresses of the machine's interfaces as the platform reports them now.
QList<InterfaceAddress> systemInterfaces();

// The interface carrying the default route (from the text of the kernel's IPv4 routing table) if
// it is up, else the first interface that is up and not loopback; none when only loopback is up.
std::optional<InterfaceAddress> routedInterface(const QString& routeTable,
                                                const QList<InterfaceAddress>& interfaces);

// Picks the address to publish: that of the interface carrying the default route (from the text
// of the kernel's IPv4 routing table), else the first up, non-loopback one, else "127.0.0.1".
QString chooseLocalAddress(const QString& routeTable, const QList<InterfaceAddress>& interfaces);

// The machine's address as the platform reports it right now; sends nothing on the network.
QString localAddress();

} // namespace quendle
