#include "dns/dnsnamekeeper.h"

#include "dns/dnsexchange.h"
#include "dns/dyndns2.h"
#include "dns/namechecks.h"

#include <QElapsedTimer>

namespace quendle {

using namespace dns;

namespace {

// A provider that reports trouble of its own is left alone this long, as the protocol asks.
constexpr int kProviderPauseSeconds = 30 * 60;

} // namespace

DnsNameKeeper::DnsNameKeeper(const DnsTargetSettings& settings, DnsBounds bounds)
    : m_settings(settings), m_bounds(bounds), m_rfc2136(bounds)
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

// The steps of a protocol that sends one name at a time: ask, send unless current, ask again.
// `send` returns an outcome whose status is final when it is not Published.
template <typename Send>
DnsOutcome keep(const QString& name, AddressFamily family, const QString& address, bool maySend,
                const Servers& servers, int seconds, const std::optional<TsigKey>& key, Send send)
{
    DnsServerAddress server;
    const RecordsAnswer before = askFirst(servers, name, family, seconds, key, server);
    if (!before.ok)
        return failedOutcome(
            QStringLiteral("cannot ask what %1 holds: %2").arg(name, before.error));
    const QString where = shownServer(server);
    if (auto settled = outcomeBeforeUpdate(name, address, maySend, before, where))
        return *settled;
    DnsOutcome outcome = send(server);
    if (outcome.status != DnsOutcome::Status::Published) {
        if (outcome.held.isEmpty())
            outcome.held = before.addresses;
        return outcome;
    }
    checkAfterUpdate(outcome, name, family, address,
                     askRecords(server, name, family, seconds, key), where);
    return outcome;
}

} // namespace

// A batch of one: the same path as the names the engine sends together.
DnsOutcome DnsNameKeeper::publishRfc2136(AddressFamily family, const QString& address, bool maySend)
{
    return m_rfc2136.publish({WantedRecord{m_settings, family, address, maySend}}).first();
}

DnsOutcome DnsNameKeeper::publishDyndns2(AddressFamily family, const QString& address, bool maySend)
{
    const int seconds = m_bounds.exchangeSeconds;
    const Servers servers = serversToAsk(m_settings, seconds);
    return keep(m_settings.dnsName, family, address, maySend, servers, seconds, std::nullopt,
                [&](const DnsServerAddress&) {
                    const Dyndns2Answer answer = sendDyndns2(m_settings, address, seconds);
                    DnsOutcome outcome = failedOutcome(answer.reason, answer.details);
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
