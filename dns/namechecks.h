#pragma once

#include "dns/dnsexchange.h"
#include "dns/dnsoutcome.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The steps every protocol takes around an update: ask what the name holds, send nothing when it
// is current, ask again afterwards. Used by dns/ only.
namespace quendle::dns {

// "no record", or the addresses.
QString heldText(const QStringList& held);

// A failed outcome with its reason and the server's words.
DnsOutcome failedOutcome(const QString& reason, const QString& details = {});

// The servers to ask what the name holds: the configured one, or the zone's own.
struct Servers
{
    QList<DnsServerAddress> list;
    QString error;
};
Servers serversToAsk(const DnsTargetSettings& settings, int seconds);

// The key questions about the name are signed with: its own (rfc2136). Without one, questions go
// over TCP.
std::optional<TsigKey> questionKey(const DnsTargetSettings& settings);

// Asks the servers in turn until one answers; `asked` is the one that did.
RecordsAnswer askFirst(const Servers& servers, const QString& name, AddressFamily family,
                       int seconds, const std::optional<TsigKey>& key, DnsServerAddress& asked);

// askFirst() for many questions at once: the servers are asked in turn what none before answered.
// One answer per question, in order; `asked` gets the server of each.
QList<RecordsAnswer> askFirstOfEach(const Servers& servers, const QList<RecordsQuestion>& questions,
                                    int seconds, const std::optional<TsigKey>& key,
                                    QList<DnsServerAddress>& asked);

// What the name's records before an update mean when it should hold `address`: AlreadyCurrent,
// or Failed when an update is needed but `maySend` is false; nullopt when the update is to go
// out. `where` is the server that answered.
std::optional<DnsOutcome> outcomeBeforeUpdate(const QString& name, const QString& address,
                                              bool maySend, const RecordsAnswer& before,
                                              const QString& where);

// The update `address` needs is not sent: the same went out for the name within 10 minutes.
DnsOutcome quietTimeOutcome(const QString& name, const QString& address, const QStringList& held,
                            const QString& where);

// `outcome` (Published) once the server took the update, from what it answers afterwards: the
// name must hold exactly `address`. `byProvider`: a provider's web API took it, and the words
// say that its servers may not serve it yet.
void checkAfterUpdate(DnsOutcome& outcome, const QString& name, AddressFamily family,
                      const QString& address, const RecordsAnswer& after, const QString& where,
                      bool byProvider = false);

// A provider that asks for a pause without saying how long gets 60 s, doubled each time it asks
// again in a row, up to an hour; the reason says how long. `pausesInARow` counts them and starts
// again after any other outcome.
void lengthenPause(DnsOutcome& outcome, int& pausesInARow);

} // namespace quendle::dns
