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
    QList<DnsServerAddress> askedEach;
    const RecordsAnswer answer =
        askFirstOfEach(servers, {{name, family}}, seconds, key, askedEach).first();
    if (!servers.list.isEmpty())
        asked = askedEach.first();
    return answer;
}

QList<RecordsAnswer> askFirstOfEach(const Servers& servers, const QList<RecordsQuestion>& questions,
                                    int seconds, const std::optional<TsigKey>& key,
                                    QList<DnsServerAddress>& asked)
{
    QList<RecordsAnswer> answers(questions.size(), RecordsAnswer{false, {}, {}, servers.error});
    asked.resize(questions.size());
    QList<qsizetype> open;
    for (qsizetype i = 0; i < questions.size(); ++i)
        open << i;
    for (const DnsServerAddress& server : servers.list) {
        QList<RecordsQuestion> asking;
        for (const qsizetype i : open)
            asking << questions[i];
        const QList<RecordsAnswer> answered = askManyRecords(server, asking, seconds, key);
        QList<qsizetype> stillOpen;
        for (qsizetype j = 0; j < open.size(); ++j) {
            answers[open[j]] = answered[j];
            asked[open[j]] = server;
            if (!answered[j].ok)
                stillOpen << open[j];
        }
        open = stillOpen;
        if (open.isEmpty())
            break;
    }
    return answers;
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
    if (!maySend)
        return quietTimeOutcome(name, address, before.addresses, where);
    return std::nullopt;
}

DnsOutcome quietTimeOutcome(const QString& name, const QString& address, const QStringList& held,
                            const QString& where)
{
    DnsOutcome outcome = failedOutcome(
        QStringLiteral("%1 holds %2 at %3, but %4 went out for it less than 10 minutes ago; it is "
                       "not sent again before then")
            .arg(name, heldText(held), where, address));
    outcome.held = held;
    return outcome;
}

void checkAfterUpdate(DnsOutcome& outcome, const QString& name, AddressFamily family,
                      const QString& address, const RecordsAnswer& after, const QString& where,
                      bool byProvider)
{
    const QString taken = byProvider ? QStringLiteral("the provider accepted the update")
                                     : QStringLiteral("the update was taken");
    if (!after.ok) {
        outcome.status = DnsOutcome::Status::Failed;
        outcome.reason =
            QStringLiteral("%1, but asking %2 again failed: %3").arg(taken, where, after.error);
        return;
    }
    outcome.held = after.addresses;
    if (after.addresses == QStringList{address}) {
        outcome.reason = QStringLiteral("%1 now holds %2 at %3").arg(name, address, where);
    } else {
        outcome.status = DnsOutcome::Status::Failed;
        outcome.reason =
            QStringLiteral("%1, but %2%3 holds %4 at %5 (%6 record)")
                .arg(taken,
                     byProvider ? QStringLiteral("its servers do not serve it yet: ") : QString(),
                     name, heldText(after.addresses), where, recordTypeName(family));
    }
}

void lengthenPause(DnsOutcome& outcome, int& pausesInARow)
{
    constexpr int kFirstPauseSeconds = 60;
    constexpr int kLongestPauseSeconds = 3600;
    if (outcome.status != DnsOutcome::Status::RetryLater) {
        pausesInARow = 0;
        return;
    }
    if (outcome.retryNotBefore > 0)
        return;
    outcome.retryNotBefore =
        qMin(kLongestPauseSeconds, kFirstPauseSeconds << qMin(pausesInARow, 6));
    outcome.reason += QStringLiteral(": trying again in %1 s").arg(outcome.retryNotBefore);
    ++pausesInARow;
}

} // namespace quendle::dns
