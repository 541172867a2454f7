#pragma once

#include <QString>

#include <ldns/ldns.h>

#include <cstdlib>
#include <memory>

// ldns objects owned the C++ way, and names as ldns takes them. Included by dns/*.cpp only.
namespace quendle::dns {

struct LdnsFree
{
    void operator()(ldns_resolver* resolver) const { ldns_resolver_deep_free(resolver); }
    void operator()(ldns_pkt* packet) const { ldns_pkt_free(packet); }
    void operator()(ldns_rdf* rdf) const { ldns_rdf_deep_free(rdf); }
    void operator()(ldns_rr_list* list) const { ldns_rr_list_deep_free(list); }
    void operator()(char* text) const { std::free(text); }
};
using Resolver = std::unique_ptr<ldns_resolver, LdnsFree>;
using Packet = std::unique_ptr<ldns_pkt, LdnsFree>;
using Rdf = std::unique_ptr<ldns_rdf, LdnsFree>;
using RrList = std::unique_ptr<ldns_rr_list, LdnsFree>;

// An absolute name: ldns reads a name without the final dot as relative.
inline ldns_rdf* dname(const QString& name)
{
    const QString absolute = name.endsWith(QLatin1Char('.')) ? name : name + QLatin1Char('.');
    return ldns_dname_new_frm_str(absolute.toLatin1().constData());
}

// An address or a name as text ("192.0.2.1", "ns1.example.org.").
inline QString text(const ldns_rdf* rdf)
{
    const std::unique_ptr<char, LdnsFree> shown(ldns_rdf2str(rdf));
    return shown ? QString::fromLatin1(shown.get()) : QString();
}

} // namespace quendle::dns
