#pragma once

#include "base/expected.h"
#include "dns/dnstargetsettings.h"
#include "service/addresslookup.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace quendle {

// One record a DNS name is to hold.
struct NameAddress
{
    AddressFamily family = AddressFamily::Ipv4;
    QString address; // canonical
    QString prefix;  // a LAN host's: the prefix its address was built from, "2001:db8:1:2::/64"

    bool operator==(const NameAddress&) const = default;
};

// What a DNS name is to hold after a round, and what is worth saying about it once.
struct NameAddresses
{
    QList<NameAddress> records; // in the order of the round's families
    // A family the name asks for that the round does not have at all ([address] family does not
    // publish it): its record is left as it is.
    QStringList notes;
};

// The records the name of `settings` is to hold once `published` is the published round:
// - its families (`families`; when empty, every family of the round), each the round found an
//   address for this time; a family the round found nothing for is left out without a note (the
//   engine says why), one the round does not have at all gets a note;
// - a LAN host (`ipv6Host` set) holds an AAAA record only: the first `prefixLength` bits of the
//   published IPv6 address, then the identifier's bits.
// Records of the families left out are not to be touched.
NameAddresses nameAddresses(const DnsTargetSettings& settings, const AddressRound& published);

// The address of the host whose interface identifier is `identifier` under the first
// `prefixLength` bits of `address`, and that prefix. Fails, saying why, when either is not an
// IPv6 address or identifierProblem() finds one.
Expected<NameAddress> hostAddress(const QString& address, const QString& identifier,
                                  int prefixLength);

// Why `identifier` cannot follow a prefix of `prefixLength` bits: a length outside 48 to 64, an
// identifier that is not an IPv6 address, has bits set inside the prefix, or is all zero.
// nullopt when it can.
std::optional<QString> identifierProblem(const QString& identifier, int prefixLength);

} // namespace quendle
