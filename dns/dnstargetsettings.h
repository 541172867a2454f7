#pragma once

#include "address/ipaddresstext.h"

#include <QList>
#include <QString>

#include <optional>

namespace quendle {

enum class DnsProtocol { Rfc2136, Dyndns2 };

enum class TsigAlgorithm { HmacSha256, HmacSha512, HmacSha1 };

// One DNS name kept pointing at this machine.
struct DnsTargetSettings
{
    QString name; // the section's name, for the log
    DnsProtocol protocol = DnsProtocol::Rfc2136;
    QString dnsName; // home.example.org, without the final dot
    int ttl = 60;

    // rfc2136
    QString server; // the zone's primary: host[:port], IPv6 in brackets
    QString zone;   // empty: the zone named by the SOA the server answers for dnsName
    QString keyName;
    TsigAlgorithm keyAlgorithm = TsigAlgorithm::HmacSha256;
    QString keySecret; // base64; never shown

    // dyndns2
    QString url; // the provider's update address, https://…/nic/update
    QString user;
    QString password; // never shown
    QString hostname; // the name the provider knows; empty: dnsName
    QString verify;   // host[:port] to check at; empty: the name's authoritative servers

    // A name for another machine of the home network: its AAAA record is the prefix of this
    // machine's published IPv6 address, its first `prefixLength` bits, followed by this interface
    // identifier (canonical, "::211:32ff:fe12:3456"). Empty: the name is this machine's.
    QString ipv6Host;
    int prefixLength = 64;
    // The families whose record the name holds; empty: every family [address] family publishes.
    QList<AddressFamily> families;

    bool operator==(const DnsTargetSettings&) const = default;
};

struct DnsServerAddress
{
    QString host; // a name or an address, without brackets
    quint16 port = 53;
};

// "ns1.example.org", "192.0.2.1:5353", "[2001:db8::1]:53" or "2001:db8::1"; nullopt when the
// text is none of these.
std::optional<DnsServerAddress> parseDnsServer(const QString& text);

// True when `text` is a domain name of letters, digits, hyphens and underscores, in labels of at
// most 63 characters, 253 in all; one final dot allowed.
bool isDomainName(const QString& text);

// "hmac-sha256" and the others as the configuration names them.
std::optional<TsigAlgorithm> tsigAlgorithmNamed(const QString& text);
QString tsigAlgorithmName(TsigAlgorithm algorithm);

struct DnsSettingProblem
{
    QString key;
    QString message;
};

// What is missing or does not fit the protocol, once every key of a section is read. Messages
// never hold a secret.
QList<DnsSettingProblem> checkDnsTarget(const DnsTargetSettings& settings);

} // namespace quendle
