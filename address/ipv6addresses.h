#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace quendle {

// One IPv6 address the kernel holds, with what its flags and lifetimes say about it.
struct Ipv6Address
{
    QString interfaceName;
    QString address; // canonical text
    int prefixLength = 64;
    bool global = true;         // scope universe (not link-local, not host)
    bool temporary = false;     // a privacy address the kernel made and will replace
    bool deprecated = false;    // on its way out (preferred lifetime over)
    bool unusable = false;      // tentative or failed duplicate address detection
    bool permanent = false;     // configured by hand, not from router advertisements
    quint32 preferredSeconds{}; // 0xffffffff: forever
};

// The IPv6 addresses of every interface, from the kernel's routing socket (RTM_GETADDR): the flags
// and lifetimes that decide which address is stable are not to be had from getifaddrs(). Empty
// when the kernel could not be asked.
QList<Ipv6Address> kernelIpv6Addresses();

// Whether visitors can be sent to `address`: global unicast that stays, neither temporary,
// deprecated, tentative, duplicate, unique-local (fc00::/7) nor link-local.
bool isPublishable(const Ipv6Address& address);

// The publishable address of `interfaceName` (any interface when empty) that stays longest: one
// configured by hand first, then the longest preferred lifetime; the kernel's order breaks ties.
std::optional<Ipv6Address> stableIpv6Address(const QList<Ipv6Address>& addresses,
                                             const QString& interfaceName);

// When `address` is a temporary address of this machine, the stable address of the same interface
// and /64 prefix that visitors should be sent to instead.
std::optional<Ipv6Address> stableInsteadOfTemporary(const QList<Ipv6Address>& addresses,
                                                    const QString& address);

} // namespace quendle
