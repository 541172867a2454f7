#pragma once

#include "address/router/routeroptions.h"

#include <QList>
#include <QString>

#include <chrono>
#include <memory>

namespace quendle::router {

class NatpmpGateway;
class Pinholes;
class UpnpGateway;

// Something that happened to the mappings, for the log.
struct MappingNote
{
    enum class Level { Debug, Info, Warning };
    Level level;
    QString text;
    // For a mapping made or renewed: its port, protocol ("upnp", "natpmp") and lease.
    quint16 port = 0;
    QString protocol = {};
    std::chrono::seconds lease{0};
};

// Keeps the TCP ports of `options.forwardPorts` forwarded from the router's outside to the same
// ports on this machine, over the first protocol whose gateway answers; once told this machine's
// IPv6 address, also opens the router's IPv6 firewall for them (UPnP IGD v2 pinholes). Every call
// blocks while it talks to the router: meant for a worker thread.
class PortMapper
{
public:
    // Routers give leases of their own choice up to this; each is renewed at half its length.
    static constexpr std::chrono::seconds kLease{3600};

    // `lease` is asked of the router for each mapping and pinhole.
    explicit PortMapper(const RouterOptions& options, std::chrono::seconds lease = kLease);
    ~PortMapper();
    PortMapper(const PortMapper&) = delete;
    PortMapper& operator=(const PortMapper&) = delete;

    // Makes the mappings not yet made (a refused one is tried again each time, reported once),
    // renews those past half their lease, and makes again those the router has forgotten, as
    // after its restart. Meant to be called every few seconds to minutes.
    QList<MappingNote> keep();
    // Removes every mapping and pinhole this object made.
    QList<MappingNote> removeAll();
    // The IPv6 address the pinholes lead to, from the next keep() on; empty: no pinhole (those
    // open are closed at the next keep()). A new address moves them.
    void setIpv6Address(const QString& ipv6);

private:
    using Clock = std::chrono::steady_clock;
    struct Port
    {
        quint16 number;
        bool held = false;
        bool madeOnce = false;
        Clock::time_point renewAt{};
        QString refusal = {}; // the last one reported, so that a refusal is not reported every time
    };

    bool findGateway(QList<MappingNote>& notes);
    void forgetGateway(QList<MappingNote>& notes, const QString& why);
    bool stillHeld(Port& port);
    void checkNatpmpEpoch(QList<MappingNote>& notes);
    bool make(Port& port, QList<MappingNote>& notes);

    RouterOptions m_options;
    std::chrono::seconds m_lease;
    QList<Port> m_ports;
    std::unique_ptr<Pinholes> m_pinholes;
    std::unique_ptr<UpnpGateway> m_upnp;
    std::unique_ptr<NatpmpGateway> m_natpmp;
    quint32 m_epoch = 0; // the NAT-PMP gateway's epoch at m_epochAt
    Clock::time_point m_epochAt;
    QString m_lastTrouble;
};

} // namespace quendle::router
