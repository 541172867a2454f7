#pragma once

#include "address/ipaddresstext.h"
#include "address/ipv6addresses.h"
#include "address/localaddress.h"
#include "address/sourceanswer.h"

namespace quendle {

// The IPv4 address of the interface `wanted`, or, when no interface is named, of the interface of
// the default route, else of the first interface that is up and not loopback. Loopback alone is
// no answer: a page that links to 127.0.0.1 leads every visitor to their own machine.
SourceAnswer chooseInterfaceIpv4(const QString& routeTable,
                                 const QList<InterfaceAddress>& interfaces, const QString& wanted);

// The interface of the first usable IPv6 default route in the text of /proc/net/ipv6_route.
QString defaultIpv6RouteInterface(const QString& routeTable);

// The stable global IPv6 address of `wanted` or of the default route's interface (see
// stableIpv6Address). Temporary (privacy) addresses change by design, deprecated ones are on their
// way out, and tentative or duplicate ones cannot be used yet: none of them is published.
SourceAnswer chooseInterfaceIpv6(const QString& routeTable, const QList<Ipv6Address>& addresses,
                                 const QString& wanted);

// The interface of the default route of `family` now; empty when there is none.
QString defaultInterface(AddressFamily family);

// Asks the kernel now; sends nothing on the network.
SourceAnswer interfaceAddress(AddressFamily family, const QString& wanted);

} // namespace quendle
