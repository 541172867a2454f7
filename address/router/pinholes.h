#pragma once

#include "address/router/portmapper.h"

#include <QList>
#include <QString>

#include <chrono>
#include <memory>

namespace quendle::router {

class UpnpGateway;

// Keeps the IPv6 firewall of a UPnP IGD v2 router open for TCP ports to one address of this
// machine: pinholes, where IPv4 has mappings. Part of PortMapper. The router is asked over IPv6,
// found by discovery over IPv6 unless the configured description URL is an IPv6 one: a router
// opens a pinhole only to the address the request comes from.
class Pinholes
{
public:
    Pinholes(const QList<quint16>& ports, std::chrono::seconds lease);
    ~Pinholes();

    // The address the pinholes lead to; empty: none is wanted (those open are closed).
    void setAddress(const QString& ipv6) { m_address = ipv6; }
    const QString& address() const { return m_address; }
    bool anyOpen() const;

    // Opens those not yet open, renews those past half their lease, opens again those the router
    // has forgotten, and moves them when the address changed. A router without IPv6 firewall
    // control is noted once.
    void keep(const RouterOptions& options, QList<MappingNote>& notes);
    // Closes every pinhole this object opened.
    void removeAll(const RouterOptions& options, QList<MappingNote>& notes);

private:
    using Clock = std::chrono::steady_clock;
    struct Hole
    {
        quint16 port;
        QString id = {};      // the router's; empty: not open
        QString address = {}; // where it leads
        Clock::time_point renewAt = {};
        QString refusal = {};
    };

    bool findGateway(const RouterOptions& options, QList<MappingNote>& notes);
    bool keepOpen(QList<MappingNote>& notes);
    bool open(Hole& hole, QList<MappingNote>& notes);
    bool close(Hole& hole, QList<MappingNote>& notes);
    void noteOnce(QList<MappingNote>& notes, const QString& trouble);

    std::unique_ptr<UpnpGateway> m_gateway;
    QString m_withoutFirewall; // a router found without pinholes is not looked for again
    QList<Hole> m_holes;
    std::chrono::seconds m_lease;
    QString m_address;
    QString m_lastTrouble;
};

} // namespace quendle::router
