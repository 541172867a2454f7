#include "service/targetoutcome.h"

#include <algorithm>

namespace quendle {

namespace {

bool holds(const DnsOutcome& record)
{
    return record.status == DnsOutcome::Status::Published ||
           record.status == DnsOutcome::Status::AlreadyCurrent;
}

} // namespace

bool UploadFailure::refused() const
{
    switch (error) {
    case TransferError::LoginRefused:
    case TransferError::CertificateNotTrusted:
    case TransferError::HostKeyUnknown:
    case TransferError::HostKeyChanged:
        return true;
    default:
        return false;
    }
}

bool NameOutcome::held() const
{
    return std::any_of(records.begin(), records.end(), [](const DnsOutcome& record) {
        return record.status == DnsOutcome::Status::HeldUntilReload;
    });
}

bool NameOutcome::updated() const
{
    return std::any_of(records.begin(), records.end(),
                       [](const DnsOutcome& record) { return record.sent; });
}

bool NameOutcome::verified() const
{
    return std::all_of(records.begin(), records.end(), holds);
}

std::chrono::seconds NameOutcome::retryNotBefore() const
{
    int longest = 0;
    for (const DnsOutcome& record : records)
        if (record.status == DnsOutcome::Status::RetryLater)
            longest = std::max(longest, record.retryNotBefore);
    return std::chrono::seconds(longest);
}

qint64 NameOutcome::milliseconds() const
{
    // Records sent together each took the whole exchange.
    qint64 total = 0;
    for (const DnsOutcome& record : records)
        total = together ? std::max(total, record.milliseconds) : total + record.milliseconds;
    return total;
}

QString NameOutcome::summary() const
{
    if (records.isEmpty())
        return QStringLiteral("nothing to publish for its families");
    QStringList said;
    for (const DnsOutcome& record : records)
        if (holds(record))
            said << record.reason;
    return said.join(QStringLiteral("; "));
}

QString NameOutcome::reason() const
{
    QStringList said;
    for (const DnsOutcome& record : records)
        if (!holds(record))
            said << record.reason;
    return said.join(QStringLiteral("; "));
}

QString NameOutcome::details() const
{
    QStringList said = notes;
    for (const DnsOutcome& record : records)
        if (!holds(record) && !record.details.isEmpty())
            said << record.details;
    return said.join(QStringLiteral("; "));
}

bool TargetOutcome::ok() const
{
    if (const PageOutcome* outcome = page())
        return outcome->uploaded();
    return name()->verified();
}

bool TargetOutcome::unseen() const
{
    const PageOutcome* outcome = page();
    return outcome && outcome->uploaded() && outcome->check == PageOutcome::Check::NotVerified;
}

bool TargetOutcome::seen() const
{
    const PageOutcome* outcome = page();
    return outcome && outcome->uploaded() && outcome->check == PageOutcome::Check::Verified;
}

bool TargetOutcome::refused() const
{
    if (const PageOutcome* outcome = page())
        return outcome->failure && outcome->failure->refused();
    return name()->held();
}

QString TargetOutcome::reason() const
{
    if (const PageOutcome* outcome = page())
        return outcome->failure ? outcome->failure->reason
               : unseen()       ? outcome->checkNote
                                : QString();
    return name()->reason();
}

std::chrono::seconds TargetOutcome::retryNotBefore() const
{
    const NameOutcome* outcome = name();
    return outcome ? outcome->retryNotBefore() : std::chrono::seconds(0);
}

} // namespace quendle
