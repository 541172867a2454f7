#pragma once

#include "dns/dnstargetsettings.h"

#include <QByteArray>
#include <QString>

// The dyndns2 update protocol over HTTPS. Used by the name keeper only.
namespace quendle::dns {

struct Dyndns2Answer
{
    enum class Kind {
        Success,         // good, nochg
        HoldUntilReload, // the account or name needs a person
        RetryLater,      // the provider's trouble: not before 30 minutes
        Failed,          // no answer, or one the protocol does not know
    };
    Kind kind = Kind::Failed;
    QString reason;  // for people
    QString details; // the provider's answer, its first line; never the password
};

// GET url?hostname=…&myip=… with basic authentication, the certificate verified.
Dyndns2Answer sendDyndns2(const DnsTargetSettings& settings, const QString& address, int seconds);

// Reads a provider's answer to one host name.
Dyndns2Answer readDyndns2Answer(long httpStatus, const QByteArray& body, const QString& hostname);

} // namespace quendle::dns
