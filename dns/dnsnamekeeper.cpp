#include "dns/dnsnamekeeper.h"

#include "dns/dnsexchange.h"
#include "dns/dyndns2.h"
#include "dns/nameservers.h"

#include <QElapsedTimer>

namespace quendle {

using namespace dns;

namespace {

// A provider that reports trouble of its own is left alone this long, as the protocol asks.
constexpr int kProviderPauseSeconds = 30 * 60;

QString heldText(const QStringList& held)
{
    return held.isEmpty() ? QStringLiteral("no record") : held.join(QStringLiteral(", "));
}

QString typeName(AddressFamily family)
{
    return family == AddressFamily::Ipv4 ? QStringLiteral("A") : QStringLiteral("AAAA");
}

DnsOutcome failed(const QString& reason, const QString& details = {})
{
    DnsOutcome outcome;
    outcome.reason = reason;
    outcome.details = details;
    return outcome;
}

// The servers to ask what the name holds: the configured one, or the zone's own.
struct Servers
{
    QList<DnsServerAddress> list;
    QString error;
};

Servers serversToAsk(const DnsTargetSettings& settings, int seconds)
{
    const QString& configured =
        settings.protocol == DnsProtocol::Rfc2136 ? settings.server : settings.verify;
    if (!configured.isEmpty()) {
        if (const auto server = parseDnsServer(configured))
            return {{*server}, {}};
        return {{}, QStringLiteral("\"%1\" is not a server's host[:port]").arg(configured)};
    }
    const ServersFound found = authoritativeServers(settings.dnsName, seconds);
    return {found.servers, found.error};
}

// The key questions are signed with: the name's own (rfc2136). Without one (dyndns2), questions
// go over TCP.
std::optional<TsigKey> questionKey(const DnsTargetSettings& settings)
{
    if (settings.protocol != DnsProtocol::Rfc2136)
        return std::nullopt;
    return TsigKey{settings.keyName, settings.keyAlgorithm, settings.keySecret};
}

// Asks the servers in turn until one answers; `asked` is the one that did.
RecordsAnswer askFirst(const Servers& servers, const QString& name, AddressFamily family,
                       int seconds, const std::optional<TsigKey>& key, DnsServerAddress& asked)
{
    RecordsAnswer answer;
    answer.error = servers.error;
    for (const DnsServerAddress& server : servers.list) {
        answer = askRecords(server, name, family, seconds, key);
        asked = server;
        if (answer.ok)
            break;
    }
    return answer;
}

} // namespace

DnsNameKeeper::DnsNameKeeper(const DnsTargetSettings& settings, DnsBounds bounds)
    : m_settings(settings), m_bounds(bounds), m_zone(settings.zone)
{
}

DnsOutcome DnsNameKeeper::publish(AddressFamily family, const QString& address, bool maySend)
{
    QElapsedTimer timer;
    timer.start();
    // The server's answers are compared in canonical form.
    const Expected<QString> canonical = canonicalAddress(address, family);
    if (!canonical)
        return failed(
            QStringLiteral("\"%1\" is not an %2 address").arg(address, familyName(family)));
    DnsOutcome outcome = m_settings.protocol == DnsProtocol::Rfc2136
                             ? publishRfc2136(family, *canonical, maySend)
                             : publishDyndns2(family, *canonical, maySend);
    outcome.milliseconds = timer.elapsed();
    return outcome;
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

// The steps both protocols share: ask, send unless current, ask again. `send` returns an outcome
// whose status is final when it is not Published.
template <typename Send>
DnsOutcome keep(const QString& name, AddressFamily family, const QString& address, bool maySend,
                const Servers& servers, int seconds, const std::optional<TsigKey>& key, Send send)
{
    DnsServerAddress server;
    const RecordsAnswer before = askFirst(servers, name, family, seconds, key, server);
    if (!before.ok)
        return failed(QStringLiteral("cannot ask what %1 holds: %2").arg(name, before.error));
    const QString where = shownServer(server);
    if (before.addresses == QStringList{address}) {
        DnsOutcome outcome;
        outcome.status = DnsOutcome::Status::AlreadyCurrent;
        outcome.reason = QStringLiteral("%1 already holds %2 at %3").arg(name, address, where);
        outcome.held = before.addresses;
        return outcome;
    }
    if (!maySend) {
        DnsOutcome outcome = failed(
            QStringLiteral("%1 holds %2 at %3, but %4 went out for it less than 10 minutes ago; "
                           "it is not sent again before then")
                .arg(name, heldText(before.addresses), where, address));
        outcome.held = before.addresses;
        return outcome;
    }
    DnsOutcome outcome = send(server);
    if (outcome.status != DnsOutcome::Status::Published) {
        if (outcome.held.isEmpty())
            outcome.held = before.addresses;
        return outcome;
    }
    const RecordsAnswer after = askRecords(server, name, family, seconds, key);
    if (!after.ok) {
        outcome.status = DnsOutcome::Status::Failed;
        outcome.reason = QStringLiteral("the update was taken, but asking %1 again failed: %2")
                             .arg(where, after.error);
        return outcome;
    }
    outcome.held = after.addresses;
    if (after.addresses == QStringList{address}) {
        outcome.reason = QStringLiteral("%1 now holds %2 at %3").arg(name, address, where);
    } else {
        outcome.status = DnsOutcome::Status::Failed;
        outcome.reason = QStringLiteral("the update was taken, but %1 holds %2 at %3 (%4 record)")
                             .arg(name, heldText(after.addresses), where, typeName(family));
    }
    return outcome;
}

} // namespace

DnsOutcome DnsNameKeeper::publishRfc2136(AddressFamily family, const QString& address, bool maySend)
{
    const int seconds = m_bounds.exchangeSeconds;
    const Servers servers = serversToAsk(m_settings, seconds);
    if (servers.list.isEmpty())
        return failed(servers.error);
    if (m_zone.isEmpty()) {
        const RecordsAnswer zone =
            askZone(servers.list.first(), m_settings.dnsName, seconds, questionKey(m_settings));
        if (!zone.ok)
            return failed(QStringLiteral("cannot find the zone of %1: %2")
                              .arg(m_settings.dnsName, zone.error));
        m_zone = zone.zone;
    }
    const TsigKey key = *questionKey(m_settings);
    return keep(m_settings.dnsName, family, address, maySend, servers, seconds, key,
                [&](const DnsServerAddress& server) {
                    const UpdateAnswer update =
                        sendUpdate(server, m_zone, m_settings.dnsName, family, address,
                                   m_settings.ttl, key, seconds);
                    DnsOutcome outcome = failed(update.reason, update.details);
                    outcome.sent = update.sent;
                    if (update.ok)
                        outcome.status = DnsOutcome::Status::Published;
                    return outcome;
                });
}

DnsOutcome DnsNameKeeper::publishDyndns2(AddressFamily family, const QString& address, bool maySend)
{
    const int seconds = m_bounds.exchangeSeconds;
    const Servers servers = serversToAsk(m_settings, seconds);
    return keep(m_settings.dnsName, family, address, maySend, servers, seconds, std::nullopt,
                [&](const DnsServerAddress&) {
                    const Dyndns2Answer answer = sendDyndns2(m_settings, address, seconds);
                    DnsOutcome outcome = failed(answer.reason, answer.details);
                    outcome.sent = true;
                    switch (answer.kind) {
                    case Dyndns2Answer::Kind::Success:
                        outcome.status = DnsOutcome::Status::Published;
                        break;
                    case Dyndns2Answer::Kind::HoldUntilReload:
                        outcome.status = DnsOutcome::Status::HeldUntilReload;
                        break;
                    case Dyndns2Answer::Kind::RetryLater:
                        outcome.status = DnsOutcome::Status::RetryLater;
                        outcome.retryNotBefore = kProviderPauseSeconds;
                        break;
                    case Dyndns2Answer::Kind::Failed:
                        break;
                    }
                    return outcome;
                });
}

} // namespace quendle
