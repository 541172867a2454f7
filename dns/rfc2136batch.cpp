#include "dns/rfc2136batch.h"

#include "dns/dnsexchange.h"
#include "dns/namechecks.h"

#include <QCryptographicHash>
#include <QElapsedTimer>

#include <optional>

namespace quendle {

using namespace dns;

QString rfc2136BatchKey(const DnsTargetSettings& settings)
{
    if (settings.protocol != DnsProtocol::Rfc2136)
        return {};
    const QByteArray secret =
        QCryptographicHash::hash(settings.keySecret.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringList{settings.server, settings.zone, settings.keyName,
                       tsigAlgorithmName(settings.keyAlgorithm), QString::fromLatin1(secret)}
        .join(QLatin1Char(' '));
}

Rfc2136Batch::Rfc2136Batch(DnsBounds bounds) : m_bounds(bounds) {}

namespace {

// A name whose update is to go out, and where it goes.
struct Pending
{
    qsizetype index = 0; // in the wanted records
    QString zone;
    DnsServerAddress server; // the one that answered what the name holds
    RecordsAnswer before;
};

} // namespace

QList<DnsOutcome> Rfc2136Batch::publish(const QList<WantedRecord>& wanted)
{
    QElapsedTimer timer;
    timer.start();
    QList<DnsOutcome> outcomes(wanted.size());
    const auto finished = [&] {
        for (DnsOutcome& outcome : outcomes)
            outcome.milliseconds = timer.elapsed();
        return outcomes;
    };
    if (wanted.isEmpty())
        return outcomes;
    const int seconds = m_bounds.exchangeSeconds;
    const DnsTargetSettings& shared = wanted.first().settings;
    const Servers servers = serversToAsk(shared, seconds);
    if (servers.list.isEmpty()) {
        for (DnsOutcome& outcome : outcomes)
            outcome = failedOutcome(servers.error);
        return finished();
    }

    // What each name holds, and which must change.
    QList<Pending> pending;
    for (qsizetype i = 0; i < wanted.size(); ++i) {
        const WantedRecord& record = wanted[i];
        const QString& name = record.settings.dnsName;
        if (!canonicalAddress(record.address, record.family)) {
            outcomes[i] = failedOutcome(QStringLiteral("\"%1\" is not an %2 address")
                                            .arg(record.address, familyName(record.family)));
            continue;
        }
        QString zone = record.settings.zone.isEmpty() ? m_zones.value(name) : record.settings.zone;
        if (zone.isEmpty()) {
            const RecordsAnswer found =
                askZone(servers.list.first(), name, seconds, questionKey(shared));
            if (!found.ok) {
                outcomes[i] = failedOutcome(
                    QStringLiteral("cannot find the zone of %1: %2").arg(name, found.error));
                continue;
            }
            zone = m_zones[name] = found.zone;
        }
        Pending change{i, zone, {}, {}};
        change.before =
            askFirst(servers, name, record.family, seconds, questionKey(shared), change.server);
        if (!change.before.ok) {
            outcomes[i] = failedOutcome(
                QStringLiteral("cannot ask what %1 holds: %2").arg(name, change.before.error));
            continue;
        }
        if (const auto settled = outcomeBeforeUpdate(name, record.address, record.maySend,
                                                     change.before, shownServer(change.server)))
            outcomes[i] = *settled;
        else
            pending << change;
    }

    // One UPDATE per zone and server; nearly always one in all.
    const TsigKey key{shared.keyName, shared.keyAlgorithm, shared.keySecret};
    while (!pending.isEmpty()) {
        const QString zone = pending.first().zone;
        const DnsServerAddress server = pending.first().server;
        QList<Pending> message;
        QList<RecordChange> changes;
        for (auto each = pending.begin(); each != pending.end();) {
            if (each->zone != zone || each->server.host != server.host ||
                each->server.port != server.port) {
                ++each;
                continue;
            }
            const WantedRecord& record = wanted[each->index];
            changes << RecordChange{record.settings.dnsName, record.family, record.address,
                                    record.settings.ttl};
            message << *each;
            each = pending.erase(each);
        }
        const UpdateAnswer update = sendUpdate(server, zone, changes, key, seconds);
        const QString where = shownServer(server);
        for (qsizetype j = 0; j < message.size(); ++j) {
            const WantedRecord& record = wanted[message[j].index];
            DnsOutcome& outcome = outcomes[message[j].index];
            outcome =
                failedOutcome(update.ok ? QString() : update.reasons.value(j), update.details);
            outcome.sent = update.sent;
            if (!update.ok) {
                outcome.held = message[j].before.addresses;
                continue;
            }
            outcome.status = DnsOutcome::Status::Published;
            const QString& name = record.settings.dnsName;
            checkAfterUpdate(outcome, name, record.family, record.address,
                             askRecords(server, name, record.family, seconds, questionKey(shared)),
                             where);
        }
    }
    return finished();
}

} // namespace quendle
