#pragma once

#include "address/ipaddresstext.h"
#include "dns/dnsoutcome.h"
#include "dns/dnstargetsettings.h"
#include "dns/rfc2136batch.h"

namespace quendle {

// Keeps one name's A or AAAA record on one address, whatever its protocol. Blocking: every call
// waits for the servers, each exchange within the bounds; run it on a worker. Asks the name's
// authoritative server, never a cache, before and after an update, and counts the name current
// only once that server holds the address. Records of the other family are never touched.
class DnsNameKeeper
{
public:
    explicit DnsNameKeeper(const DnsTargetSettings& settings, DnsBounds bounds = {});

    const DnsTargetSettings& settings() const { return m_settings; }

    // Makes the name hold exactly `address` (canonical, of `family`). Sends nothing when the
    // server already holds it. With `maySend` false, an update that would be needed is not sent
    // and the outcome fails saying so (the caller keeps providers from seeing the same address
    // twice within minutes).
    DnsOutcome publish(AddressFamily family, const QString& address, bool maySend);

    // The address a round is about to publish for `family`, told before publish() of either
    // family: a request that carries both families (dyndns2's dual) then carries the new one.
    void expect(AddressFamily family, const QString& address);

    // What the name holds now at its authoritative server.
    DnsLookup holds(AddressFamily family);

private:
    DnsOutcome publishRfc2136(AddressFamily family, const QString& address, bool maySend);
    // dyndns2 and every provider's web API, through its row of dns/providers/provider.h.
    DnsOutcome publishThroughProvider(AddressFamily family, const QString& address, bool maySend);

    DnsTargetSettings m_settings;
    DnsBounds m_bounds;
    Rfc2136Batch m_rfc2136; // keeps the zone once found, when not configured
    QString m_zone;         // a provider's zone, found once when not configured
    int m_pauses = 0;       // pauses asked for in a row without saying how long: the back-off grows
    QString m_asked[2]; // the address last asked for, IPv4 and IPv6, for dyndns2's dual requests
};

} // namespace quendle
