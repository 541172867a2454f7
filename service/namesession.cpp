#include "service/namesession.h"

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
    for (const FamilyAddress& found : request.addresses.families) {
        if (found.address.isEmpty())
            continue; // the other family's record is left alone
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
    outcome.summary = summaries.join(QStringLiteral("; "));
    outcome.reason = reasons.join(QStringLiteral("; "));
    outcome.details = details.join(QStringLiteral("; "));
    return outcome;
}

} // namespace quendle
