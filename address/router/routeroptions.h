#pragma once

#include <QList>
#include <QString>

#include <chrono>

namespace quendle::router {

enum class Protocol { Upnp, Natpmp };

// "UPnP IGD" or "NAT-PMP", for people.
QString protocolName(Protocol protocol);

// How the router is asked: which protocols in which order, where, and for how long.
struct RouterOptions
{
    QList<Protocol> protocols{Protocol::Upnp, Protocol::Natpmp};
    QString descriptionUrl;      // the UPnP device description; empty: found by discovery
    QList<quint16> forwardPorts; // TCP ports the router forwards to this machine (watch only)

    // A router that answers at all answers within milliseconds; these bound the wait for one
    // that does not, so that a whole attempt ends within a few seconds.
    std::chrono::milliseconds discoveryWait{2000};
    std::chrono::milliseconds natpmpWait{2000};

    bool operator==(const RouterOptions&) const = default;
};

} // namespace quendle::router
