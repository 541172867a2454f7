#pragma once

#include "address/ipaddresstext.h"
#include "dns/namebatch.h"

#include <QHash>
#include <QList>
#include <QString>

namespace quendle {

// What rfc2136 names must share to go in one signed UPDATE: the server, the zone and the key
// (name, algorithm, secret). The secret enters only as a digest, so the key may be logged or
// compared freely. Empty for the other protocols, whose names go one by one.
QString rfc2136BatchKey(const DnsTargetSettings& settings);

// Keeps rfc2136 names of one batch key on their addresses with as few messages as the server
// allows: it asks the server what each name holds, sends ONE signed UPDATE with every RRset that
// must change (per zone, where names whose zone is found from the server turn out to lie in
// several), and asks each changed name again. Blocking, each exchange within the bounds; run it
// on a worker. Keeps the zones it finds, so one object per batch key is worth keeping.
class Rfc2136Batch : public NameBatch
{
public:
    explicit Rfc2136Batch(DnsBounds bounds = {});

    // One outcome per wanted record, in order, as DnsNameKeeper::publish gives it for one name:
    // AlreadyCurrent (nothing sent for it), Published (the server now holds exactly the address)
    // or Failed with the reason. The UPDATE is applied all or none: a refused key or a refused
    // name fails every name of the message, each with its reason. Every outcome's milliseconds
    // are the whole batch's.
    QList<DnsOutcome> publish(const QList<WantedRecord>& wanted) override;

private:
    DnsBounds m_bounds;
    QHash<QString, QString> m_zones; // zones found from the server, by name
};

} // namespace quendle
