#pragma once

#include "dns/providers/provider.h"

// Cloudflare's batch endpoint, for names of one zone kept with one token. Used by whoever groups
// the names of a zone; a single name goes through the table's row like every other protocol.
namespace quendle::dns {

struct CloudflareChange
{
    QString dnsName;
    AddressFamily family = AddressFamily::Ipv4;
    QString address;     // canonical
    bool maySend = true; // false: look, but send nothing (the answer says heldBack)
};

// Makes each name hold its address in one POST /zones/{zone_id}/dns_records/batch (after the
// zone's records are listed, page by page), which Cloudflare applies all or none: a PATCH of the
// content of a record that exists (its TTL, proxied flag and comment kept unless `settings` sets
// ttl or proxied), a POST where the name has none, a DELETE of further records of the type; a
// record that holds the address already is left out (alreadyHeld). `settings` gives the token,
// api, zone_id, ttl and proxied; `zone` is the zone's name. One answer per change, in order; a
// refusal of the zone, the listing or the batch is every change's. Each name is then to be
// checked at its authoritative servers as usual, unless its answer says servedElsewhere.
QList<ProviderAnswer> updateCloudflareBatch(const DnsTargetSettings& settings, const QString& zone,
                                            const QList<CloudflareChange>& changes, int seconds);

} // namespace quendle::dns
