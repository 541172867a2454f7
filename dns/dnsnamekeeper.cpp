#include "dns/dnsnamekeeper.h"

#include "dns/dnsexchange.h"
#include "dns/dyndns2.h"
#include "dns/namechecks.h"
#include "dns/providers/provider.h"

#include <QElapsedTimer>

namespace quendle {

using namespace dns;

DnsNameKeeper::DnsNameKeeper(const DnsTargetSettings& settings, DnsBounds bounds)
    : m_settings(settings), m_bounds(bounds), m_rfc2136(bounds), m_zone(settings.zone)
{
}

DnsOutcome DnsNameKeeper::publish(AddressFamily family, const QString& address, bool maySend)
{
    QElapsedTimer timer;
    timer.start();
    // The server's answers are compared in canonical form.
    const Expected<QString> canonical = canonicalAddress(address, family);
    if (!canonical)
        return failedOutcome(
            QStringLiteral("\"%1\" is not an %2 address").arg(address, familyName(family)));
    DnsOutcome outcome = m_settings.protocol == DnsProtocol::Rfc2136
                             ? publishRfc2136(family, *canonical, maySend)
                             : publishThroughProvider(family, *canonical, maySend);
    outcome.milliseconds = timer.elapsed();
    return outcome;
}

void DnsNameKeeper::expect(AddressFamily family, const QString& address)
{
    if (const Expected<QString> canonical = canonicalAddress(address, family))
        m_asked[family == AddressFamily::Ipv4 ? 0 : 1] = *canonical;
}

DnsLookup DnsNameKeeper::holds(AddressFamily family)
{
    DnsLookup lookup;
    DnsServerAddress asked;
    const RecordsAnswer answer =
        askFirst(serversToAsk(m_settings, m_bounds.exchangeSeconds), m_settings.dnsName, family,
                 m_bounds.exchangeSeconds, questionKey(m_settings), asked);
    lookup.ok = answer.ok;
    lookup.held = answer.addresses;
    lookup.server = asked.host.isEmpty() ? QString() : shownServer(asked);
    lookup.error = answer.error;
    return lookup;
}

namespace {

// The steps of a protocol that sends one name at a time: ask, send unless current, ask again.
// `send` gets the server that answered and what it held, and returns an outcome whose status is
// final when it is not Published.
// `asksFirst`: `send` is called within the quiet time too (`maySend` false), and sends nothing.
template <typename Send>
DnsOutcome keep(const QString& name, AddressFamily family, const QString& address, bool maySend,
                bool asksFirst, const Servers& servers, int seconds, Send send,
                const bool* readBackElsewhere = nullptr)
{
    DnsServerAddress server;
    const RecordsAnswer before = askFirst(servers, name, family, seconds, std::nullopt, server);
    if (!before.ok)
        return failedOutcome(
            QStringLiteral("cannot ask what %1 holds: %2").arg(name, before.error));
    const QString where = shownServer(server);
    if (auto settled = outcomeBeforeUpdate(name, address, maySend || asksFirst, before, where))
        return *settled;
    DnsOutcome outcome = send(server, before.addresses);
    if (outcome.status != DnsOutcome::Status::Published) {
        if (outcome.held.isEmpty())
            outcome.held = before.addresses;
        return outcome;
    }
    // The provider read its record back itself: its servers answer with other addresses.
    if (readBackElsewhere && *readBackElsewhere) {
        outcome.held = before.addresses;
        return outcome;
    }
    checkAfterUpdate(outcome, name, family, address, askRecords(server, name, family, seconds),
                     where, true);
    return outcome;
}

} // namespace

// A batch of one: the same path as the names the engine sends together.
DnsOutcome DnsNameKeeper::publishRfc2136(AddressFamily family, const QString& address, bool maySend)
{
    return m_rfc2136.publish({WantedRecord{m_settings, family, address, maySend}}).first();
}

DnsOutcome DnsNameKeeper::publishThroughProvider(AddressFamily family, const QString& address,
                                                 bool maySend)
{
    const ProviderRow* row = providerRow(m_settings.protocol);
    if (!row || !row->update)
        return failedOutcome(QStringLiteral("protocol %1 is not built into this program")
                                 .arg(dnsProtocolName(m_settings.protocol)));
    const int seconds = m_bounds.exchangeSeconds;
    const Servers servers = serversToAsk(m_settings, seconds);
    const int self = family == AddressFamily::Ipv4 ? 0 : 1;
    m_asked[self] = address;
    bool servedElsewhere = false;
    bool alreadyHeld = false;
    DnsOutcome outcome = keep(
        m_settings.dnsName, family, address, maySend, row->asksFirst, servers, seconds,
        [&](const DnsServerAddress& server, const QStringList& held) {
            // The zone, where the provider needs it: as configured, or as the server names it.
            if (row->needsZone && m_zone.isEmpty()) {
                const RecordsAnswer zone = askZone(server, m_settings.dnsName, seconds);
                if (!zone.ok)
                    return failedOutcome(QStringLiteral("cannot find the zone of %1: %2")
                                             .arg(m_settings.dnsName, zone.error));
                m_zone = zone.zone;
            }
            const ProviderAnswer answer = row->update(ProviderUpdate{
                m_settings, family, address, seconds, m_zone, m_asked[1 - self], maySend});
            if (answer.heldBack)
                return quietTimeOutcome(m_settings.dnsName, address, held, shownServer(server));
            servedElsewhere = answer.servedElsewhere;
            alreadyHeld = answer.alreadyHeld;
            return providerOutcome(answer);
        },
        &servedElsewhere);
    if (servedElsewhere && alreadyHeld && outcome.status == DnsOutcome::Status::Published) {
        outcome.status = DnsOutcome::Status::AlreadyCurrent;
        outcome.sent = false;
    }
    // A pause without a length grows while the provider keeps asking for one.
    lengthenPause(outcome, m_pauses);
    return outcome;
}

} // namespace quendle
