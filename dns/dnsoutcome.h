#pragma once

#include <QString>
#include <QStringList>

namespace quendle {

// What one attempt to make a name hold an address came to.
struct DnsOutcome
{
    enum class Status {
        Published,       // the update went out and the server now holds exactly the address
        AlreadyCurrent,  // the server already held exactly the address; nothing was sent
        Failed,          // try again later, as with a page target
        HeldUntilReload, // the provider refused the account or name: stop until reloaded
        RetryLater,      // the provider asked for a pause: not before retryNotBefore seconds
    };
    Status status = Status::Failed;
    bool sent = false;      // an update went out
    QString reason;         // for people
    QString details;        // the server's answer; never a secret
    int retryNotBefore = 0; // seconds, for RetryLater
    QStringList held;       // what the server holds now, as far as it was asked
    qint64 milliseconds = 0;
};

// What a name holds now at its authoritative server, or why that is not known.
struct DnsLookup
{
    bool ok = false;
    QStringList held; // canonical addresses; empty: no record of that type
    QString server;   // the server asked, host:port
    QString error;
};

} // namespace quendle
