#include "dns/nameservers.h"
#include "dns/ldnshandles.h"

namespace quendle::dns {

ServersFound authoritativeServers(const QString& name, int seconds)
{
    ServersFound found;
    ldns_resolver* raw = nullptr;
    if (ldns_resolver_new_frm_file(&raw, nullptr) != LDNS_STATUS_OK || !raw) {
        found.error = QStringLiteral("cannot read the system's resolver settings "
                                     "(/etc/resolv.conf); set verify");
        return found;
    }
    const Resolver resolver(raw);
    ldns_resolver_set_timeout(raw, timeval{seconds, 0});
    ldns_resolver_set_retry(raw, 1);
    ldns_resolver_set_dnsrch(raw, false);
    ldns_resolver_set_defnames(raw, false);

    // The zone is the closest enclosing name that has NS records of its own.
    QStringList labels = name.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    QStringList hosts;
    QString zone;
    while (labels.size() > 1 && hosts.isEmpty()) {
        zone = labels.join(QLatin1Char('.'));
        labels.removeFirst();
        const Rdf owner(dname(zone));
        const Packet reply(
            ldns_resolver_query(raw, owner.get(), LDNS_RR_TYPE_NS, LDNS_RR_CLASS_IN, LDNS_RD));
        if (!reply)
            continue;
        const ldns_rr_list* answer = ldns_pkt_answer(reply.get());
        for (size_t i = 0; i < ldns_rr_list_rr_count(answer); ++i) {
            const ldns_rr* rr = ldns_rr_list_rr(answer, i);
            if (ldns_rr_get_type(rr) == LDNS_RR_TYPE_NS &&
                ldns_dname_compare(ldns_rr_owner(rr), owner.get()) == 0)
                hosts << text(ldns_rr_rdf(rr, 0));
        }
    }
    if (hosts.isEmpty()) {
        found.error = QStringLiteral("the system's resolver finds no name servers for %1; "
                                     "set verify")
                          .arg(name);
        return found;
    }
    for (const QString& host : hosts) {
        const Rdf hostName(dname(host));
        const RrList addresses(
            ldns_get_rr_list_addr_by_name(raw, hostName.get(), LDNS_RR_CLASS_IN, LDNS_RD));
        for (size_t i = 0; addresses && i < ldns_rr_list_rr_count(addresses.get()); ++i)
            found.servers.append({text(ldns_rr_rdf(ldns_rr_list_rr(addresses.get(), i), 0)), 53});
    }
    if (found.servers.isEmpty())
        found.error = QStringLiteral("the system's resolver finds no address for the name "
                                     "servers of %1 (%2); set verify")
                          .arg(zone, hosts.join(QStringLiteral(", ")));
    return found;
}

} // namespace quendle::dns
