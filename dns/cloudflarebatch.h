#pragma once

#include "dns/namebatch.h"

#include <QHash>

namespace quendle {

// What Cloudflare names must share to go in one batch: the API, the token (as a digest), the
// zone where it is set, and the ttl and proxied they ask for. Empty for the other protocols.
QString cloudflareBatchKey(const DnsTargetSettings& settings);

// Keeps Cloudflare names of one batch key with one batch request per zone: each name is asked at
// its authoritative servers, the names that must change go in one POST …/dns_records/batch of
// their zone, and each changed name is asked again (a proxied one is read back through the API
// instead, as its servers answer with Cloudflare's addresses). Keeps the zones it finds.
class CloudflareBatch : public NameBatch
{
public:
    explicit CloudflareBatch(DnsBounds bounds = {});

    QList<DnsOutcome> publish(const QList<WantedRecord>& wanted) override;

private:
    DnsBounds m_bounds;
    QHash<QString, QString> m_zones; // zones found from the servers, by name
    int m_pauses = 0; // pauses asked for in a row without saying how long: the back-off grows
};

} // namespace quendle
