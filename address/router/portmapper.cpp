#include "address/router/portmapper.h"

#include "address/router/natpmpgateway.h"
#include "address/router/pinholes.h"
#include "address/router/upnpgateway.h"

#include <algorithm>

namespace quendle::router {

namespace {

constexpr int kNoSuchEntry = 714; // UPnP: the router has no such mapping

// RFC 6886, 3.6: a gateway whose epoch grew less than 7/8 of the time that passed (give or take
// two seconds) has lost its mappings.
bool epochShowsRestart(quint32 before, quint32 now, std::chrono::steady_clock::duration elapsed)
{
    const auto elapsedSeconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    return static_cast<long long>(now) + 2 <
           static_cast<long long>(before) + elapsedSeconds * 7 / 8;
}

MappingNote note(MappingNote::Level level, quint16 port, const QString& text)
{
    return {level, QStringLiteral("port %1: %2").arg(port).arg(text)};
}

} // namespace

PortMapper::PortMapper(const RouterOptions& options, std::chrono::seconds lease)
    : m_options(options), m_lease(lease),
      m_pinholes(std::make_unique<Pinholes>(options.forwardPorts, lease))
{
    for (const quint16 port : options.forwardPorts)
        m_ports.append(Port{port});
}

PortMapper::~PortMapper() = default;

void PortMapper::setIpv6Address(const QString& ipv6)
{
    m_pinholes->setAddress(ipv6);
}

QList<MappingNote> PortMapper::keep()
{
    QList<MappingNote> notes;
    if (m_ports.isEmpty())
        return notes;
    m_pinholes->keep(m_options, notes);
    if (!findGateway(notes))
        return notes;
    if (m_natpmp)
        checkNatpmpEpoch(notes);
    for (Port& port : m_ports) {
        // Asked before a renewal too: a router that was away (restarted) may have forgotten the
        // mapping, which is then made again, not renewed.
        if (port.held && stillHeld(port) && Clock::now() < port.renewAt)
            continue;
        if (!m_upnp && !m_natpmp)
            break; // the gateway stopped answering; the next call looks for it again
        if (!make(port, notes))
            break;
    }
    return notes;
}

QList<MappingNote> PortMapper::removeAll()
{
    QList<MappingNote> notes;
    m_pinholes->removeAll(m_options, notes);
    const bool anyHeld =
        std::any_of(m_ports.begin(), m_ports.end(), [](const Port& port) { return port.held; });
    // A router that stopped answering may be back; without it nothing can be removed.
    QList<MappingNote> searchNotes;
    const bool reachable = !anyHeld || findGateway(searchNotes);
    for (Port& port : m_ports) {
        if (!port.held)
            continue;
        port.held = false;
        QString problem = reachable ? QString() : QStringLiteral("the router does not answer");
        if (m_upnp) {
            const UpnpReply reply = m_upnp->deleteTcpMapping(port.number);
            if (!reply.ok() && reply.code != kNoSuchEntry)
                problem = reply.text;
        } else if (m_natpmp) {
            const NatpmpReply reply = m_natpmp->mapTcp(port.number, std::chrono::seconds(0));
            if (!reply.ok())
                problem = reply.text;
        }
        if (problem.isEmpty())
            notes << note(MappingNote::Level::Info, port.number,
                          QStringLiteral("forwarding removed"));
        else
            notes << note(MappingNote::Level::Warning, port.number,
                          QStringLiteral("the mapping could not be removed (%1); the router drops "
                                         "it when its lease ends, within an hour")
                              .arg(problem));
    }
    return notes;
}

bool PortMapper::findGateway(QList<MappingNote>& notes)
{
    if (m_upnp || m_natpmp)
        return true;
    QStringList problems;
    for (const Protocol protocol : m_options.protocols) {
        if (protocol == Protocol::Upnp) {
            auto found = UpnpGateway::find(m_options);
            if (found) {
                m_upnp = std::move(found).value();
                break;
            }
            problems << QStringLiteral("%1: %2").arg(protocolName(protocol), found.error());
        } else {
            auto opened = NatpmpGateway::open(m_options.natpmpWait);
            // The gateway must answer before mappings are asked of it; its epoch comes along.
            const NatpmpReply reply = opened ? (*opened)->publicAddress() : NatpmpReply{};
            if (opened && reply.answered) {
                m_natpmp = std::move(opened).value();
                // Back after it stopped answering: its epoch tells whether it restarted.
                const auto now = Clock::now();
                if (m_epochAt != Clock::time_point{} &&
                    epochShowsRestart(m_epoch, reply.epochSeconds, now - m_epochAt))
                    for (Port& port : m_ports)
                        port.held = false;
                m_epoch = reply.epochSeconds;
                m_epochAt = now;
                break;
            }
            problems << QStringLiteral("%1: %2").arg(protocolName(protocol),
                                                     opened ? reply.text : opened.error());
        }
    }
    if (m_upnp || m_natpmp) {
        m_lastTrouble.clear();
        return true;
    }
    const QString trouble = QStringLiteral("no port is forwarded: the router was not found (%1); "
                                           "trying again at the next check")
                                .arg(problems.join(QStringLiteral("; ")));
    if (trouble != m_lastTrouble)
        notes << MappingNote{MappingNote::Level::Warning, trouble};
    m_lastTrouble = trouble;
    return false;
}

void PortMapper::forgetGateway(QList<MappingNote>& notes, const QString& why)
{
    notes << MappingNote{MappingNote::Level::Warning,
                         QStringLiteral("the router stopped answering (%1): looking for it again "
                                        "at the next check")
                             .arg(why)};
    m_upnp.reset();
    m_natpmp.reset();
    m_lastTrouble.clear();
    // Renewed as soon as the router answers again: it may have restarted meanwhile.
    for (Port& port : m_ports)
        port.renewAt = {};
}

// Over UPnP the router can be asked whether it still has the mapping; over NAT-PMP its epoch
// tells (checkNatpmpEpoch).
bool PortMapper::stillHeld(Port& port)
{
    if (!m_upnp)
        return true;
    const UpnpReply reply = m_upnp->tcpMappingClient(port.number);
    if (reply.unreachable())
        return true; // make() finds out whether the router is gone
    if (reply.ok() &&
        reply.value == QStringLiteral("%1:%2").arg(m_upnp->lanAddress()).arg(port.number))
        return true;
    port.held = false;
    return false;
}

void PortMapper::checkNatpmpEpoch(QList<MappingNote>& notes)
{
    if (std::none_of(m_ports.begin(), m_ports.end(), [](const Port& port) { return port.held; }))
        return;
    const NatpmpReply reply = m_natpmp->publicAddress();
    if (!reply.answered)
        return forgetGateway(notes, reply.text);
    const auto now = Clock::now();
    if (epochShowsRestart(m_epoch, reply.epochSeconds, now - m_epochAt))
        for (Port& port : m_ports)
            port.held = false;
    m_epoch = reply.epochSeconds;
    m_epochAt = now;
}

bool PortMapper::make(Port& port, QList<MappingNote>& notes)
{
    const bool renewal = port.held;
    auto lease = m_lease;
    QString refusal;
    QString where;
    if (m_upnp) {
        where = m_upnp->where();
        const UpnpReply reply = m_upnp->addTcpMapping(port.number, m_lease);
        if (reply.unreachable()) {
            forgetGateway(notes, reply.text);
            return false;
        }
        if (!reply.ok())
            refusal = reply.text;
    } else {
        where = m_natpmp->where();
        const NatpmpReply reply = m_natpmp->mapTcp(port.number, m_lease);
        // Some gateways refuse a mapping by not answering it; one that still tells its
        // address is there.
        if (!reply.answered && !m_natpmp->publicAddress().answered) {
            forgetGateway(notes, reply.text);
            return false;
        }
        if (!reply.answered) {
            refusal = QStringLiteral("it did not answer the request (%1)").arg(reply.text);
        } else if (!reply.ok()) {
            refusal = reply.text;
        } else if (reply.publicPort != port.number) {
            // Another machine has the port: the gateway offers another, which is no use to
            // visitors who come to this one.
            m_natpmp->mapTcp(port.number, std::chrono::seconds(0));
            refusal = QStringLiteral("it offered outside port %1 instead").arg(reply.publicPort);
        } else if (reply.lifetimeSeconds > 0) {
            lease = std::min(lease, std::chrono::seconds(reply.lifetimeSeconds));
        }
    }

    if (!refusal.isEmpty()) {
        port.held = false;
        if (refusal != port.refusal)
            notes << note(MappingNote::Level::Warning, port.number,
                          QStringLiteral("not forwarded: the router refused it (%1): %2")
                              .arg(where, refusal));
        port.refusal = refusal;
        return true;
    }
    if (renewal)
        notes << note(MappingNote::Level::Debug, port.number, QStringLiteral("lease renewed"));
    else if (port.madeOnce && port.refusal.isEmpty())
        notes << note(MappingNote::Level::Info, port.number,
                      QStringLiteral("the router had forgotten the mapping: made again"));
    else
        notes << note(MappingNote::Level::Info, port.number,
                      QStringLiteral("forwarded from the router's outside to this machine (%1, "
                                     "lease %2 s)")
                          .arg(where)
                          .arg(lease.count()));
    notes.last().port = port.number;
    notes.last().protocol = m_upnp ? QStringLiteral("upnp") : QStringLiteral("natpmp");
    notes.last().lease = lease;
    port.held = true;
    port.madeOnce = true;
    port.refusal.clear();
    port.renewAt = Clock::now() + lease / 2;
    return true;
}

} // namespace quendle::router
