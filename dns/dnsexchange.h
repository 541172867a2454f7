#pragma once

#include "address/ipaddresstext.h"
#include "dns/dnstargetsettings.h"

#include <QString>
#include <QStringList>

#include <optional>

// Questions and updates to one DNS server, on ldns. Used by the name keeper only.
namespace quendle::dns {

struct TsigKey
{
    QString name;
    TsigAlgorithm algorithm = TsigAlgorithm::HmacSha256;
    QString secret; // base64
};

struct RecordsAnswer
{
    bool ok = false;
    QStringList addresses; // canonical, sorted
    QString zone;          // the owner of the SOA the answer carries, if any
    QString error;
};

// Asks `server` for the A (IPv4) or AAAA (IPv6) records of `name`, without recursion. Only an
// authoritative answer counts: a server answering from a cache or for another zone fails.
// Only the answer to this question counts, from the address and port asked: with `key`, the
// question is signed over UDP (and asked again once when its answer is late) and only an answer
// carrying the key's valid signature is taken; a truncated one is asked again over TCP. Without
// a key it is asked over TCP. Anything else that arrives (another ID or question, bytes that are
// no DNS message, an answer without the signature) is dropped and the wait goes on, at most
// `seconds`.
RecordsAnswer askRecords(const DnsServerAddress& server, const QString& name, AddressFamily family,
                         int seconds, const std::optional<TsigKey>& key = std::nullopt);

struct RecordsQuestion
{
    QString name;
    AddressFamily family = AddressFamily::Ipv4;
};

// askRecords() for many questions at once, one answer per question in order, each as
// askRecords() would give it (askRecords() is this with one question). With `key`, every question
// goes out signed on one UDP socket, each with an ID of its own, at most 64 waiting at a time; the
// answers are taken as they come, each matched to its question by ID and then checked as
// askRecords() checks it; a question whose answer is late (half a second, or a quarter of
// `seconds`) is sent again once; a truncated answer is asked again over TCP. The whole ends within
// `seconds` (for each of the server's addresses, where its name has several). Without a key, the
// questions go over TCP one after another, each within `seconds`.
QList<RecordsAnswer> askManyRecords(const DnsServerAddress& server,
                                    const QList<RecordsQuestion>& questions, int seconds,
                                    const std::optional<TsigKey>& key = std::nullopt);

// The zone each name belongs to, as the SOA in `server`'s answer about it names it; asked as
// askManyRecords() asks. askZone() for one name.
QList<RecordsAnswer> askZones(const DnsServerAddress& server, const QStringList& names, int seconds,
                              const std::optional<TsigKey>& key = std::nullopt);
RecordsAnswer askZone(const DnsServerAddress& server, const QString& name, int seconds,
                      const std::optional<TsigKey>& key = std::nullopt);

// One RRset an UPDATE replaces: the name's records of the family's type become `address`.
struct RecordChange
{
    QString name;
    AddressFamily family = AddressFamily::Ipv4;
    QString address; // canonical
    int ttl = 60;
};

struct UpdateAnswer
{
    bool ok = false;
    bool sent = false;   // the message went out
    QStringList reasons; // for people, one per change, when not ok
    QString details;     // the server's RCODE and TSIG error
};

// One UPDATE message to `zone` that, for each change, deletes the name's records of that type
// and adds the address (RFC 2136 takes any number of RRsets in one message, applied all or
// none), signed with `key`; the answer's signature is verified. A message longer than a plain
// UDP answer goes over TCP.
UpdateAnswer sendUpdate(const DnsServerAddress& server, const QString& zone,
                        const QList<RecordChange>& changes, const TsigKey& key, int seconds);

// "host:port", "[v6]:port", for messages.
QString shownServer(const DnsServerAddress& server);

} // namespace quendle::dns
