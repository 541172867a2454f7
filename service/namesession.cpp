#include "service/namesession.h"

#include "service/nameaddresses.h"

namespace quendle {

bool ResendGuard::maySend(AddressFamily family, const QString& address, TimePoint now) const
{
    const auto last = m_sent.find(family);
    return last == m_sent.end() || last->second.address != address ||
           now - last->second.at >= kQuietTime;
}

void ResendGuard::sent(AddressFamily family, const QString& address, TimePoint now)
{
    m_sent[family] = {address, now};
}

TargetOutcome NameSession::publish(const PublishRequest& request)
{
    TargetOutcome outcome;
    outcome.ok = true;
    QStringList summaries;
    QStringList reasons;
    QStringList details;
    // Each family this name holds; the records of the others are left alone.
    const NameAddresses chosen = nameAddresses(m_keeper.settings(), request.addresses);
    for (const QString& note : chosen.notes)
        if (!m_said.contains(note)) {
            m_said.insert(note);
            details << note;
        }
    for (const NameAddress& found : chosen.records) {
        const bool maySend = m_guard.maySend(found.family, found.address, request.now);
        const DnsOutcome done = m_keeper.publish(found.family, found.address, maySend);
        if (done.sent)
            m_guard.sent(found.family, found.address, request.now);
        outcome.milliseconds += done.milliseconds;
        switch (done.status) {
        case DnsOutcome::Status::Published:
        case DnsOutcome::Status::AlreadyCurrent:
            summaries << done.reason;
            continue;
        case DnsOutcome::Status::HeldUntilReload:
            outcome.heldUntilReload = true;
            break;
        case DnsOutcome::Status::RetryLater:
            outcome.retryNotBefore =
                std::max(outcome.retryNotBefore, std::chrono::seconds(done.retryNotBefore));
            break;
        case DnsOutcome::Status::Failed:
            break;
        }
        outcome.ok = false;
        reasons << done.reason;
        if (!done.details.isEmpty())
            details << done.details;
    }
    outcome.summary = chosen.records.isEmpty()
                          ? QStringLiteral("nothing to publish for its families")
                          : summaries.join(QStringLiteral("; "));
    outcome.reason = reasons.join(QStringLiteral("; "));
    outcome.details = details.join(QStringLiteral("; "));
    return outcome;
}

} // namespace quendle
