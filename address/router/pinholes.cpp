#include "address/router/pinholes.h"

#include "address/router/upnpgateway.h"

namespace quendle::router {

namespace {

constexpr int kNoSuchEntry = 704; // WANIPv6FirewallControl: no pinhole with this id

MappingNote note(MappingNote::Level level, quint16 port, const QString& text)
{
    return {level, QStringLiteral("port %1: %2").arg(port).arg(text)};
}

} // namespace

Pinholes::Pinholes(const QList<quint16>& ports, std::chrono::seconds lease) : m_lease(lease)
{
    for (const quint16 port : ports)
        m_holes.append(Hole{port});
}

Pinholes::~Pinholes() = default;

bool Pinholes::anyOpen() const
{
    for (const Hole& hole : m_holes)
        if (!hole.id.isEmpty())
            return true;
    return false;
}

void Pinholes::noteOnce(QList<MappingNote>& notes, const QString& trouble)
{
    if (trouble != m_lastTrouble)
        notes << MappingNote{MappingNote::Level::Warning, trouble};
    m_lastTrouble = trouble;
}

bool Pinholes::findGateway(const RouterOptions& options, QList<MappingNote>& notes)
{
    if (m_gateway)
        return true;
    if (!m_withoutFirewall.isEmpty())
        return false;
    if (!options.protocols.contains(Protocol::Upnp)) {
        noteOnce(notes, QStringLiteral("no IPv6 port is opened: only UPnP IGD v2 opens the "
                                       "router's IPv6 firewall, and [router] protocols leaves it "
                                       "out"));
        return false;
    }
    auto gateway = UpnpGateway::find(options, true);
    if (!gateway) {
        noteOnce(notes, QStringLiteral("no IPv6 port is opened: no UPnP gateway answered over "
                                       "IPv6 (%1); trying again at the next check")
                            .arg(gateway.error()));
        return false;
    }
    if (!(*gateway)->hasIpv6Firewall()) {
        m_withoutFirewall = (*gateway)->where();
        noteOnce(notes,
                 QStringLiteral("no IPv6 port is opened: the router (%1) does not offer UPnP "
                                "IGD v2's IPv6 firewall control (pinholes)")
                     .arg((*gateway)->where()));
        return false;
    }
    m_gateway = std::move(gateway).value();
    return true;
}

void Pinholes::keep(const RouterOptions& options, QList<MappingNote>& notes)
{
    if (m_address.isEmpty()) {
        for (Hole& hole : m_holes)
            if (!hole.id.isEmpty() && m_gateway && !close(hole, notes))
                m_gateway.reset();
        return;
    }
    if (m_holes.isEmpty() || !findGateway(options, notes))
        return;
    if (!keepOpen(notes)) {
        noteOnce(notes, QStringLiteral("the router stopped answering over IPv6: looking for it "
                                       "again at the next check"));
        m_gateway.reset();
    }
}

bool Pinholes::keepOpen(QList<MappingNote>& notes)
{
    const UpnpReply status = m_gateway->inboundPinholesAllowed();
    if (status.unreachable())
        return false;
    if (status.ok() && status.value == QLatin1String("0")) {
        noteOnce(notes, QStringLiteral("no IPv6 port is opened: the router's IPv6 firewall lets "
                                       "no pinhole in (%1)")
                            .arg(m_gateway->where()));
        return true;
    }
    m_lastTrouble.clear();
    for (Hole& hole : m_holes) {
        if (!hole.id.isEmpty() && hole.address != m_address && !close(hole, notes))
            return false;
        if (!hole.id.isEmpty()) {
            // Asked each time: a router that restarted has forgotten it, and it is opened again.
            const UpnpReply check = m_gateway->checkPinhole(hole.id);
            if (check.unreachable())
                return false;
            if (!check.ok()) {
                hole.id.clear();
                hole.refusal = QStringLiteral("forgotten");
            }
        }
        if ((hole.id.isEmpty() || Clock::now() >= hole.renewAt) && !open(hole, notes))
            return false;
    }
    return true;
}

bool Pinholes::open(Hole& hole, QList<MappingNote>& notes)
{
    if (!hole.id.isEmpty()) {
        const UpnpReply renewal = m_gateway->updatePinhole(hole.id, m_lease);
        if (renewal.unreachable())
            return false;
        if (renewal.ok()) {
            notes << note(MappingNote::Level::Debug, hole.port,
                          QStringLiteral("IPv6 pinhole lease renewed"));
            hole.renewAt = Clock::now() + m_lease / 2;
            return true;
        }
        hole.id.clear(); // gone meanwhile: opened anew below
    }
    const UpnpReply reply = m_gateway->addTcpPinhole(m_address, hole.port, m_lease);
    if (reply.unreachable())
        return false;
    if (!reply.ok()) {
        if (reply.text != hole.refusal)
            notes << note(MappingNote::Level::Warning, hole.port,
                          QStringLiteral("no IPv6 pinhole: the router refused it (%1): %2")
                              .arg(m_gateway->where(), reply.text));
        hole.refusal = reply.text;
        return true;
    }
    notes << note(MappingNote::Level::Info, hole.port,
                  hole.refusal == QLatin1String("forgotten")
                      ? QStringLiteral("the router had forgotten the IPv6 pinhole: opened again")
                      : QStringLiteral("IPv6 pinhole opened to [%1]:%2 (%3, lease %4 s)")
                            .arg(m_address)
                            .arg(hole.port)
                            .arg(m_gateway->where())
                            .arg(m_lease.count()));
    hole.id = reply.value;
    hole.address = m_address;
    hole.refusal.clear();
    hole.renewAt = Clock::now() + m_lease / 2;
    return true;
}

bool Pinholes::close(Hole& hole, QList<MappingNote>& notes)
{
    const UpnpReply reply = m_gateway->deletePinhole(hole.id);
    if (reply.unreachable())
        return false;
    if (reply.ok() || reply.code == kNoSuchEntry)
        notes << note(MappingNote::Level::Info, hole.port,
                      QStringLiteral("IPv6 pinhole to [%1] closed").arg(hole.address));
    else
        notes << note(MappingNote::Level::Warning, hole.port,
                      QStringLiteral("the IPv6 pinhole could not be closed (%1); the router drops "
                                     "it when its lease ends")
                          .arg(reply.text));
    hole.id.clear();
    return true;
}

void Pinholes::removeAll(const RouterOptions& options, QList<MappingNote>& notes)
{
    if (!anyOpen())
        return;
    QList<MappingNote> searchNotes; // a router that went away may be back
    const bool reachable = findGateway(options, searchNotes);
    for (Hole& hole : m_holes) {
        if (hole.id.isEmpty())
            continue;
        if (!reachable || !close(hole, notes)) {
            notes << note(MappingNote::Level::Warning, hole.port,
                          QStringLiteral("the IPv6 pinhole could not be closed (the router does "
                                         "not answer); the router drops it when its lease ends"));
            hole.id.clear();
        }
    }
}

} // namespace quendle::router
