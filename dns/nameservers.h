#pragma once

#include "dns/dnstargetsettings.h"

#include <QList>
#include <QString>

namespace quendle::dns {

struct ServersFound
{
    QList<DnsServerAddress> servers; // addresses, port 53
    QString error;
};

// The authoritative servers of the zone `name` is in: its NS records and their addresses, as the
// system's resolver finds them. Only where to ask comes from the resolver; what a name holds is
// then asked of those servers directly.
ServersFound authoritativeServers(const QString& name, int seconds);

} // namespace quendle::dns
