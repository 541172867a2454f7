#include "dns/rfc2136batch.h"

#include "dns/dnsexchange.h"
#include "dns/namechecks.h"

#include <QElapsedTimer>

#include <optional>

namespace quendle {

using namespace dns;

QString rfc2136BatchKey(const DnsTargetSettings& settings)
{
    if (settings.protocol != DnsProtocol::Rfc2136)
        return {};
    return QStringList{settings.server, settings.zone, settings.keyName,
                       tsigAlgorithmName(settings.keyAlgorithm), secretDigest(settings.keySecret)}
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

    // The zones of names that have none set and none found before, asked together.
    const std::optional<TsigKey> key = questionKey(shared);
    QList<qsizetype> valid;
    QStringList zoneless;
    for (qsizetype i = 0; i < wanted.size(); ++i) {
        const WantedRecord& record = wanted[i];
        if (!canonicalAddress(record.address, record.family)) {
            outcomes[i] = failedOutcome(QStringLiteral("\"%1\" is not an %2 address")
                                            .arg(record.address, familyName(record.family)));
            continue;
        }
        valid << i;
        const QString& name = record.settings.dnsName;
        if (record.settings.zone.isEmpty() && !m_zones.contains(name) && !zoneless.contains(name))
            zoneless << name;
    }
    QHash<QString, QString> zoneErrors;
    const QList<RecordsAnswer> zones = askZones(servers.list.first(), zoneless, seconds, key);
    for (qsizetype j = 0; j < zoneless.size(); ++j) {
        if (zones[j].ok)
            m_zones[zoneless[j]] = zones[j].zone;
        else
            zoneErrors[zoneless[j]] = zones[j].error;
    }

    // What each name holds, asked together, and which must change.
    QList<qsizetype> asking;
    QList<RecordsQuestion> questions;
    for (const qsizetype i : valid) {
        const QString& name = wanted[i].settings.dnsName;
        if (const auto error = zoneErrors.constFind(name); error != zoneErrors.cend()) {
            outcomes[i] =
                failedOutcome(QStringLiteral("cannot find the zone of %1: %2").arg(name, *error));
            continue;
        }
        asking << i;
        questions << RecordsQuestion{name, wanted[i].family};
    }
    QList<DnsServerAddress> asked;
    const QList<RecordsAnswer> before = askFirstOfEach(servers, questions, seconds, key, asked);
    QList<Pending> pending;
    for (qsizetype j = 0; j < asking.size(); ++j) {
        const qsizetype i = asking[j];
        const WantedRecord& record = wanted[i];
        const QString& name = record.settings.dnsName;
        if (!before[j].ok) {
            outcomes[i] = failedOutcome(
                QStringLiteral("cannot ask what %1 holds: %2").arg(name, before[j].error));
            continue;
        }
        if (const auto settled = outcomeBeforeUpdate(name, record.address, record.maySend,
                                                     before[j], shownServer(asked[j])))
            outcomes[i] = *settled;
        else
            pending << Pending{
                i, record.settings.zone.isEmpty() ? m_zones.value(name) : record.settings.zone,
                asked[j], before[j]};
    }

    // One UPDATE per zone and server; nearly always one in all. The changed names are then asked
    // again together.
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
        const UpdateAnswer update = sendUpdate(server, zone, changes, *key, seconds);
        QList<RecordsQuestion> again;
        for (qsizetype j = 0; j < message.size(); ++j) {
            DnsOutcome& outcome = outcomes[message[j].index];
            outcome =
                failedOutcome(update.ok ? QString() : update.reasons.value(j), update.details);
            outcome.sent = update.sent;
            if (!update.ok)
                outcome.held = message[j].before.addresses;
            else
                again << RecordsQuestion{changes[j].name, changes[j].family};
        }
        if (!update.ok)
            continue;
        const QList<RecordsAnswer> after = askManyRecords(server, again, seconds, key);
        for (qsizetype j = 0; j < message.size(); ++j) {
            DnsOutcome& outcome = outcomes[message[j].index];
            outcome.status = DnsOutcome::Status::Published;
            checkAfterUpdate(outcome, changes[j].name, changes[j].family, changes[j].address,
                             after[j], shownServer(server));
        }
    }
    return finished();
}

} // namespace quendle
