#include "dns/dnsexchange.h"
#include "dns/ldnshandles.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

namespace quendle::dns {

namespace {

QString nameText(const ldns_rdf* rdf)
{
    QString name = text(rdf);
    if (name.size() > 1 && name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name;
}

ldns_rr_type recordType(AddressFamily family)
{
    return family == AddressFamily::Ipv4 ? LDNS_RR_TYPE_A : LDNS_RR_TYPE_AAAA;
}

// The server's addresses: the host itself when it is one, else what the system's resolver says.
QStringList serverAddresses(const QString& host, QString& error)
{
    for (const AddressFamily family : {AddressFamily::Ipv4, AddressFamily::Ipv6})
        if (const auto address = canonicalAddress(host, family))
            return {*address};
    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (const int code = getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found)) {
        error = QStringLiteral("cannot find the address of %1: %2")
                    .arg(host, QString::fromLocal8Bit(gai_strerror(code)));
        return {};
    }
    QStringList addresses;
    for (const addrinfo* each = found; each; each = each->ai_next) {
        char buffer[INET6_ADDRSTRLEN] = {};
        const void* bytes =
            each->ai_family == AF_INET
                ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(each->ai_addr)->sin_addr)
                : static_cast<const void*>(
                      &reinterpret_cast<sockaddr_in6*>(each->ai_addr)->sin6_addr);
        if (inet_ntop(each->ai_family, bytes, buffer, sizeof buffer))
            addresses << QString::fromLatin1(buffer);
    }
    freeaddrinfo(found);
    addresses.removeDuplicates();
    return addresses;
}

// A resolver that asks `server` alone, once per exchange, within `seconds`, never recursively.
Resolver resolverFor(const DnsServerAddress& server, int seconds, QString& error)
{
    const QStringList addresses = serverAddresses(server.host, error);
    if (addresses.isEmpty())
        return nullptr;
    Resolver resolver(ldns_resolver_new());
    for (const QString& address : addresses) {
        const bool v6 = address.contains(QLatin1Char(':'));
        const Rdf rdf(ldns_rdf_new_frm_str(v6 ? LDNS_RDF_TYPE_AAAA : LDNS_RDF_TYPE_A,
                                           address.toLatin1().constData()));
        if (rdf)
            ldns_resolver_push_nameserver(resolver.get(), rdf.get());
    }
    ldns_resolver_set_port(resolver.get(), server.port);
    ldns_resolver_set_timeout(resolver.get(), timeval{seconds, 0});
    ldns_resolver_set_retry(resolver.get(), 1);
    ldns_resolver_set_retrans(resolver.get(), 0);
    ldns_resolver_set_recursive(resolver.get(), false);
    ldns_resolver_set_random(resolver.get(), false);
    ldns_resolver_set_dnsrch(resolver.get(), false);
    ldns_resolver_set_defnames(resolver.get(), false);
    return resolver;
}

struct Exchanged
{
    Packet reply;
    ldns_status status = LDNS_STATUS_ERR;
    QString error; // set when there is no usable reply
};

// Sends `query` and reads the answer; a truncated answer over UDP is asked again over TCP. With
// `tcpOnly`, TCP at once.
Exchanged exchange(ldns_resolver* resolver, const ldns_pkt* query, const DnsServerAddress& server,
                   int seconds, bool tcpOnly = false)
{
    Exchanged result;
    for (const bool overTcp : {false, true}) {
        if (tcpOnly && !overTcp)
            continue;
        ldns_resolver_set_usevc(resolver, overTcp);
        ldns_pkt* reply = nullptr;
        result.status = ldns_send(&reply, resolver, query);
        result.reply.reset(reply);
        if (!result.reply || !ldns_pkt_tc(result.reply.get()))
            break;
    }
    if (!result.reply) {
        result.error = result.status == LDNS_STATUS_NETWORK_ERR || result.status == LDNS_STATUS_OK
                           ? QStringLiteral("no answer from %1 within %2 seconds")
                                 .arg(shownServer(server))
                                 .arg(seconds)
                           : QStringLiteral("cannot ask %1: %2")
                                 .arg(shownServer(server),
                                      QString::fromLatin1(ldns_get_errorstr_by_id(result.status)));
    } else if (ldns_pkt_id(result.reply.get()) != ldns_pkt_id(query)) {
        result.error = QStringLiteral("%1 answered another question (its ID does not match)")
                           .arg(shownServer(server));
        result.reply.reset();
    }
    return result;
}

QString rcodeName(ldns_pkt_rcode rcode)
{
    static const char* const names[] = {"NOERROR", "FORMERR", "SERVFAIL", "NXDOMAIN",
                                        "NOTIMP",  "REFUSED", "YXDOMAIN", "YXRRSET",
                                        "NXRRSET", "NOTAUTH", "NOTZONE"};
    const auto index = static_cast<size_t>(rcode);
    return index < std::size(names) ? QLatin1String(names[index])
                                    : QStringLiteral("RCODE %1").arg(index);
}

// The TSIG error the answer carries (BADSIG 16, BADKEY 17, BADTIME 18...), 0 for none.
uint16_t tsigError(const ldns_pkt* reply)
{
    const ldns_rr* tsig = ldns_pkt_tsig(reply);
    return tsig && ldns_rr_rd_count(tsig) > 5 ? ldns_rdf2native_int16(ldns_rr_rdf(tsig, 5)) : 0;
}

QString tsigErrorName(uint16_t error)
{
    switch (error) {
    case 16:
        return QStringLiteral("BADSIG");
    case 17:
        return QStringLiteral("BADKEY");
    case 18:
        return QStringLiteral("BADTIME");
    default:
        return QStringLiteral("TSIG error %1").arg(error);
    }
}

// What an UPDATE's refusal means, and what to do about it.
QString updateReason(ldns_pkt_rcode rcode, uint16_t tsig, const QString& zone, const QString& name,
                     const TsigKey& key)
{
    if (tsig == 16)
        return QStringLiteral("the server refused the update's signature (BADSIG): the secret in "
                              "key_file or credential is not the one the server has for key %1")
            .arg(key.name);
    if (tsig == 17)
        return QStringLiteral("the server does not know key %1 with %2 (BADKEY): check key_name "
                              "and key_algorithm")
            .arg(key.name, tsigAlgorithmName(key.algorithm));
    if (tsig == 18)
        return QStringLiteral("the server says the update's time is wrong (BADTIME): set this "
                              "machine's clock right, for example with NTP");
    switch (rcode) {
    case LDNS_RCODE_FORMERR:
        return QStringLiteral("the server could not read the update (FORMERR)");
    case LDNS_RCODE_SERVFAIL:
        return QStringLiteral("the server failed to apply the update (SERVFAIL); its log says why");
    case LDNS_RCODE_NOTIMPL:
        return QStringLiteral("the server does not take updates (NOTIMP)");
    case LDNS_RCODE_REFUSED:
        return QStringLiteral("the server refused the update (REFUSED): it does not let key %1 "
                              "change %2")
            .arg(key.name, name);
    case LDNS_RCODE_NOTAUTH:
        return QStringLiteral("the server is not the primary of zone %1 (NOTAUTH): check server "
                              "and zone")
            .arg(zone);
    case LDNS_RCODE_NOTZONE:
        return QStringLiteral("%1 is not in zone %2 (NOTZONE): check zone").arg(name, zone);
    default:
        return QStringLiteral("the server refused the update (%1)").arg(rcodeName(rcode));
    }
}

} // namespace

QString shownServer(const DnsServerAddress& server)
{
    const QString host = server.host.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + server.host + QLatin1Char(']')
                             : server.host;
    return host + QLatin1Char(':') + QString::number(server.port);
}

namespace {

RecordsAnswer ask(const DnsServerAddress& server, const QString& name, ldns_rr_type type,
                  int seconds)
{
    RecordsAnswer result;
    const Resolver resolver = resolverFor(server, seconds, result.error);
    if (!resolver)
        return result;
    // No recursion wanted: only the server's own data counts.
    const Packet query(ldns_pkt_query_new(dname(name), type, LDNS_RR_CLASS_IN, 0));
    ldns_pkt_set_random_id(query.get());
    const Exchanged answer = exchange(resolver.get(), query.get(), server, seconds);
    if (!answer.reply) {
        result.error = answer.error;
        return result;
    }
    const ldns_pkt* reply = answer.reply.get();
    const ldns_pkt_rcode rcode = ldns_pkt_get_rcode(reply);
    if (rcode != LDNS_RCODE_NOERROR && rcode != LDNS_RCODE_NXDOMAIN) {
        result.error = QStringLiteral("%1 answered %2 for %3")
                           .arg(shownServer(server), rcodeName(rcode), name);
        return result;
    }
    if (!ldns_pkt_aa(reply)) {
        result.error = QStringLiteral("%1 is not authoritative for %2 (its answer is not "
                                      "the zone's own)")
                           .arg(shownServer(server), name);
        return result;
    }
    const Rdf owner(dname(name));
    for (const ldns_rr_list* section : {ldns_pkt_answer(reply), ldns_pkt_authority(reply)}) {
        for (size_t i = 0; i < ldns_rr_list_rr_count(section); ++i) {
            const ldns_rr* rr = ldns_rr_list_rr(section, i);
            const ldns_rr_type found = ldns_rr_get_type(rr);
            if (found == LDNS_RR_TYPE_SOA && result.zone.isEmpty())
                result.zone = nameText(ldns_rr_owner(rr));
            if (section != ldns_pkt_answer(reply) ||
                ldns_dname_compare(ldns_rr_owner(rr), owner.get()) != 0)
                continue;
            if (found == LDNS_RR_TYPE_CNAME && type != LDNS_RR_TYPE_SOA) {
                result.error = QStringLiteral("%1 is an alias (CNAME) of %2 at %3")
                                   .arg(name, nameText(ldns_rr_rdf(rr, 0)), shownServer(server));
                return result;
            }
            if (found == type && (type == LDNS_RR_TYPE_A || type == LDNS_RR_TYPE_AAAA)) {
                const AddressFamily family =
                    type == LDNS_RR_TYPE_A ? AddressFamily::Ipv4 : AddressFamily::Ipv6;
                if (const auto address = canonicalAddress(text(ldns_rr_rdf(rr, 0)), family))
                    result.addresses << *address;
            }
        }
    }
    result.addresses.sort();
    result.addresses.removeDuplicates();
    result.ok = true;
    return result;
}

} // namespace

RecordsAnswer askRecords(const DnsServerAddress& server, const QString& name, AddressFamily family,
                         int seconds)
{
    return ask(server, name, recordType(family), seconds);
}

RecordsAnswer askZone(const DnsServerAddress& server, const QString& name, int seconds)
{
    RecordsAnswer result = ask(server, name, LDNS_RR_TYPE_SOA, seconds);
    if (result.ok && result.zone.isEmpty()) {
        result.ok = false;
        result.error =
            QStringLiteral("%1 names no zone for %2; set zone").arg(shownServer(server), name);
    }
    return result;
}

UpdateAnswer sendUpdate(const DnsServerAddress& server, const QString& zone,
                        const QList<RecordChange>& changes, const TsigKey& key, int seconds)
{
    UpdateAnswer result;
    // The same words for every change, or each its own.
    const auto refused = [&](const auto& reason) {
        result.reasons.clear();
        for (const RecordChange& change : changes)
            result.reasons << reason(change);
        return result;
    };
    const auto refusedAll = [&](const QString& reason) {
        return refused([&](const RecordChange&) { return reason; });
    };
    QString error;
    const Resolver resolver = resolverFor(server, seconds, error);
    if (!resolver)
        return refusedAll(error);
    const QString keyName =
        key.name.endsWith(QLatin1Char('.')) ? key.name : key.name + QLatin1Char('.');
    const QByteArray keyNameBytes = keyName.toLatin1();
    const QByteArray secret = key.secret.toLatin1();
    const QByteArray algorithm = tsigAlgorithmName(key.algorithm).toLatin1() + '.';
    // The answer is verified with the same key.
    ldns_resolver_set_tsig_keyname(resolver.get(), keyNameBytes.constData());
    ldns_resolver_set_tsig_keydata(resolver.get(), secret.constData());
    ldns_resolver_set_tsig_algorithm(resolver.get(), algorithm.constData());

    const RrList updates(ldns_rr_list_new());
    for (const RecordChange& change : changes) {
        // Delete the RRset: class ANY, no data (RFC 2136 2.5.2).
        ldns_rr* removal = ldns_rr_new();
        ldns_rr_set_owner(removal, dname(change.name));
        ldns_rr_set_type(removal, recordType(change.family));
        ldns_rr_set_class(removal, LDNS_RR_CLASS_ANY);
        ldns_rr_set_ttl(removal, 0);
        ldns_rr_list_push_rr(updates.get(), removal);
        ldns_rr* addition = nullptr;
        const QByteArray record = QStringLiteral("%1. %2 IN %3 %4")
                                      .arg(change.name)
                                      .arg(change.ttl)
                                      .arg(recordTypeName(change.family), change.address)
                                      .toLatin1();
        if (ldns_rr_new_frm_str(&addition, record.constData(), 0, nullptr, nullptr) !=
            LDNS_STATUS_OK)
            return refusedAll(
                QStringLiteral("cannot make the record %1").arg(QLatin1String(record)));
        ldns_rr_list_push_rr(updates.get(), addition);
    }
    const Packet update(
        ldns_update_pkt_new(dname(zone), LDNS_RR_CLASS_IN, nullptr, updates.get(), nullptr));
    ldns_pkt_set_rd(update.get(), false);
    ldns_pkt_set_random_id(update.get());
    const ldns_status signing =
        ldns_pkt_tsig_sign(update.get(), keyNameBytes.constData(), secret.constData(), 300,
                           algorithm.constData(), nullptr);
    if (signing != LDNS_STATUS_OK)
        return refusedAll(
            QStringLiteral("cannot sign the update with key %1: %2")
                .arg(key.name, QString::fromLatin1(ldns_get_errorstr_by_id(signing))));
    // Over UDP a message longer than 512 bytes may be cut or dropped on the way.
    uint8_t* wire = nullptr;
    size_t size = 0;
    const bool tooLongForUdp =
        ldns_pkt2wire(&wire, update.get(), &size) != LDNS_STATUS_OK || size > 512;
    std::free(wire);
    result.sent = true;
    const Exchanged answer = exchange(resolver.get(), update.get(), server, seconds, tooLongForUdp);
    if (!answer.reply)
        return refusedAll(answer.error);
    const ldns_pkt_rcode rcode = ldns_pkt_get_rcode(answer.reply.get());
    const uint16_t tsig = tsigError(answer.reply.get());
    result.details = QStringLiteral("%1 answered %2").arg(shownServer(server), rcodeName(rcode));
    if (tsig != 0)
        result.details += QStringLiteral(", ") + tsigErrorName(tsig);
    if (rcode != LDNS_RCODE_NOERROR || tsig != 0)
        return refused([&](const RecordChange& change) {
            return updateReason(rcode, tsig, zone, change.name, key);
        });
    if (answer.status == LDNS_STATUS_CRYPTO_TSIG_BOGUS)
        return refusedAll(QStringLiteral("the server's answer does not carry a valid signature of "
                                         "key %1: it may not come from the server")
                              .arg(key.name));
    if (answer.status != LDNS_STATUS_OK)
        return refusedAll(QString::fromLatin1(ldns_get_errorstr_by_id(answer.status)));
    result.ok = true;
    return result;
}

} // namespace quendle::dns
