#pragma once

#include "address/ipaddresstext.h"
#include "dns/dnsoutcome.h"
#include "dns/dnstargetsettings.h"

#include <QList>
#include <QString>

#include <memory>

namespace quendle {

// One name's wanted address in a batch of names.
struct WantedRecord
{
    DnsTargetSettings settings;
    AddressFamily family = AddressFamily::Ipv4;
    QString address;     // canonical
    bool maySend = true; // false: an update that would be needed is not sent (see DnsNameKeeper)
};

// Names kept together in as few exchanges as their protocol allows: rfc2136 names in one signed
// UPDATE, Cloudflare names of a zone in one batch request. Each name is asked at its
// authoritative servers before and after, as DnsNameKeeper does for one. Blocking; run it on a
// worker. Keeps what it finds (zones), so one object per batch key is worth keeping.
class NameBatch
{
public:
    virtual ~NameBatch() = default;
    // One outcome per wanted record, in order, as DnsNameKeeper::publish gives it for one name.
    virtual QList<DnsOutcome> publish(const QList<WantedRecord>& wanted) = 0;
};

// What names must share to go together; empty for a name whose protocol sends one at a time.
// Secrets enter only as digests, so a key may be logged or compared freely.
QString nameBatchKey(const DnsTargetSettings& settings);
// A secret as it enters a batch key: its SHA-256, in hex.
QString secretDigest(const QString& secret);
// The batch for names of `settings`'s key; null where nameBatchKey() is empty.
std::unique_ptr<NameBatch> makeNameBatch(const DnsTargetSettings& settings, DnsBounds bounds = {});

} // namespace quendle
