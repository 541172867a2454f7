#include "dns/cloudflarebatch.h"

#include "dns/dnsexchange.h"
#include "dns/namechecks.h"
#include "dns/providers/cloudflare.h"

#include <QElapsedTimer>

namespace quendle {

using namespace dns;

QString cloudflareBatchKey(const DnsTargetSettings& settings)
{
    if (settings.protocol != DnsProtocol::Cloudflare)
        return {};
    return QStringList{QStringLiteral("cloudflare"),
                       settings.api,
                       secretDigest(settings.token),
                       settings.zone,
                       settings.zoneId,
                       settings.ttlGiven ? QString::number(settings.ttl) : QString(),
                       settings.proxied ? QString::number(*settings.proxied) : QString()}
        .join(QLatin1Char(' '));
}

CloudflareBatch::CloudflareBatch(DnsBounds bounds) : m_bounds(bounds) {}

namespace {

// A name whose change is to go out, and where it was asked.
struct Pending
{
    qsizetype index = 0; // in the wanted records
    QString zone;
    DnsServerAddress server;
    QStringList before;
};

} // namespace

QList<DnsOutcome> CloudflareBatch::publish(const QList<WantedRecord>& wanted)
{
    QElapsedTimer timer;
    timer.start();
    QList<DnsOutcome> outcomes(wanted.size());
    const int seconds = m_bounds.exchangeSeconds;
    QList<Pending> pending;
    for (qsizetype i = 0; i < wanted.size(); ++i) {
        const WantedRecord& record = wanted[i];
        const QString& name = record.settings.dnsName;
        if (!canonicalAddress(record.address, record.family)) {
            outcomes[i] = failedOutcome(QStringLiteral("\"%1\" is not an %2 address")
                                            .arg(record.address, familyName(record.family)));
            continue;
        }
        DnsServerAddress server;
        const RecordsAnswer before = askFirst(serversToAsk(record.settings, seconds), name,
                                              record.family, seconds, std::nullopt, server);
        if (!before.ok) {
            outcomes[i] = failedOutcome(
                QStringLiteral("cannot ask what %1 holds: %2").arg(name, before.error));
            continue;
        }
        // Cloudflare's record is looked at within the quiet time too: a proxied one holds the
        // address while the servers answer with Cloudflare's.
        if (const auto settled =
                outcomeBeforeUpdate(name, record.address, true, before, shownServer(server))) {
            outcomes[i] = *settled;
            continue;
        }
        // The zone: as configured, or as the name's server names it (not needed with zone_id).
        QString zone = record.settings.zone;
        if (zone.isEmpty() && record.settings.zoneId.isEmpty()) {
            if (!m_zones.contains(name)) {
                const RecordsAnswer found = askZone(server, name, seconds);
                if (!found.ok) {
                    outcomes[i] = failedOutcome(
                        QStringLiteral("cannot find the zone of %1: %2").arg(name, found.error));
                    outcomes[i].held = before.addresses;
                    continue;
                }
                m_zones[name] = found.zone;
            }
            zone = m_zones.value(name);
        }
        pending << Pending{i, zone, server, before.addresses};
    }

    // One batch per zone; nearly always one in all.
    while (!pending.isEmpty()) {
        const QString zone = pending.first().zone;
        QList<Pending> batch;
        QList<CloudflareChange> changes;
        for (auto each = pending.begin(); each != pending.end();) {
            if (each->zone != zone) {
                ++each;
                continue;
            }
            const WantedRecord& record = wanted[each->index];
            changes << CloudflareChange{record.settings.dnsName, record.family, record.address,
                                        record.maySend};
            batch << *each;
            each = pending.erase(each);
        }
        const QList<ProviderAnswer> answers =
            updateCloudflareBatch(wanted[batch.first().index].settings, zone, changes, seconds);
        for (qsizetype j = 0; j < batch.size(); ++j) {
            const WantedRecord& record = wanted[batch[j].index];
            DnsOutcome& outcome = outcomes[batch[j].index];
            if (answers[j].heldBack) {
                outcome = quietTimeOutcome(record.settings.dnsName, record.address, batch[j].before,
                                           shownServer(batch[j].server));
                continue;
            }
            outcome = providerOutcome(answers[j]);
            if (outcome.status != DnsOutcome::Status::Published || answers[j].servedElsewhere) {
                // Not taken, or proxied: Cloudflare's record is the check, read back by the batch.
                outcome.held = batch[j].before;
                if (answers[j].alreadyHeld) {
                    outcome.status = DnsOutcome::Status::AlreadyCurrent;
                    outcome.sent = false;
                }
                continue;
            }
            checkAfterUpdate(
                outcome, record.settings.dnsName, record.family, record.address,
                askRecords(batch[j].server, record.settings.dnsName, record.family, seconds),
                shownServer(batch[j].server), true);
        }
    }
    // A pause asked for without its length is the same for every name of the batch, and grows
    // while the batches go on being asked for one.
    bool paused = false;
    bool lengthened = false;
    for (DnsOutcome& outcome : outcomes) {
        outcome.milliseconds = timer.elapsed();
        int pauses = m_pauses;
        lengthenPause(outcome, pauses);
        paused = paused || outcome.status == DnsOutcome::Status::RetryLater;
        lengthened = lengthened || pauses > m_pauses;
    }
    m_pauses = lengthened ? m_pauses + 1 : paused ? m_pauses : 0;
    return outcomes;
}

} // namespace quendle
