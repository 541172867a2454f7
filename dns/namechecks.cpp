#include "dns/namechecks.h"

#include "dns/nameservers.h"

namespace quendle::dns {

QString heldText(const QStringList& held)
{
    return held.isEmpty() ? QStringLiteral("no record") : held.join(QStringLiteral(", "));
}

DnsOutcome failedOutcome(const QString& reason, const QString& details)
{
    DnsOutcome outcome;
    outcome.reason = reason;
    outcome.details = details;
    return outcome;
}

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

std::optional<TsigKey> questionKey(const DnsTargetSettings& settings)
{
    if (settings.protocol != DnsProtocol::Rfc2136)
        return std::nullopt;
    return TsigKey{settings.keyName, settings.keyAlgorithm, settings.keySecret};
}

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

std::optional<DnsOutcome> outcomeBeforeUpdate(const QString& name, const QString& address,
                                              bool maySend, const RecordsAnswer& before,
                                              const QString& where)
{
    if (before.addresses == QStringList{address}) {
        DnsOutcome outcome;
        outcome.status = DnsOutcome::Status::AlreadyCurrent;
        outcome.reason = QStringLiteral("%1 already holds %2 at %3").arg(name, address, where);
        outcome.held = before.addresses;
        return outcome;
    }
    if (!maySend) {
        DnsOutcome outcome = failedOutcome(
            QStringLiteral("%1 holds %2 at %3, but %4 went out for it less than 10 minutes ago; "
                           "it is not sent again before then")
                .arg(name, heldText(before.addresses), where, address));
        outcome.held = before.addresses;
        return outcome;
    }
    return std::nullopt;
}

void checkAfterUpdate(DnsOutcome& outcome, const QString& name, AddressFamily family,
                      const QString& address, const RecordsAnswer& after, const QString& where)
{
    if (!after.ok) {
        outcome.status = DnsOutcome::Status::Failed;
        outcome.reason = QStringLiteral("the update was taken, but asking %1 again failed: %2")
                             .arg(where, after.error);
        return;
    }
    outcome.held = after.addresses;
    if (after.addresses == QStringList{address}) {
        outcome.reason = QStringLiteral("%1 now holds %2 at %3").arg(name, address, where);
    } else {
        outcome.status = DnsOutcome::Status::Failed;
        outcome.reason = QStringLiteral("the update was taken, but %1 holds %2 at %3 (%4 record)")
                             .arg(name, heldText(after.addresses), where, recordTypeName(family));
    }
}

} // namespace quendle::dns
